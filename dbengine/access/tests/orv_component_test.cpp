#include "dbengine/access/orv_component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

// A component that writes down what it is told and when it goes.
class Recorder : public TORVComponent {
 public:
  Recorder(TORVComponent* owner, std::string name, std::vector<std::string>& log) : TORVComponent(owner), log_(log) {
    SetName(std::move(name));
    NotifyInserted();
  }
  ~Recorder() override { log_.push_back("free " + Name()); }
  void Notification(TORVComponent* component, TOperation operation) override {
    TORVComponent::Notification(component, operation);
    // A component being freed is only compared, never asked for its name.
    log_.push_back(Name() + (operation == opInsert ? " sees insert of " + component->Name() : " sees a removal"));
  }

 private:
  std::vector<std::string>& log_;
};

TEST(Component, AnOwnerFreesWhatItOwnsLastFirstAndHearsOfItsComponents) {
  std::vector<std::string> log;
  {
    Recorder form(nullptr, "form", log);
    auto* a = new Recorder(&form, "a", log);
    new Recorder(&form, "b", log);
    EXPECT_EQ(log, (std::vector<std::string>{"form sees insert of a", "a sees insert of b", "form sees insert of b"}));
    log.clear();
    // Deleted early, a component leaves its owner, which tells the others.
    delete a;
    EXPECT_EQ(form.ComponentCount(), 1);
    EXPECT_EQ(log, (std::vector<std::string>{"free a", "b sees a removal", "form sees a removal"}));
    log.clear();
    auto* c = new Recorder(&form, "c", log);
    EXPECT_EQ(form.Components(1), c);
    log.clear();
  }
  EXPECT_EQ(log.front(), "free form");
  EXPECT_EQ(std::vector<std::string>(log.begin() + 1, log.end()),
            (std::vector<std::string>{"free c", "b sees a removal", "free b"}));
}

TEST(Component, AFreeNotificationLinksBothWaysAndWhicheverGoesFirstIsReported) {
  std::vector<std::string> log;
  auto* watcher = new Recorder(nullptr, "watcher", log);
  {
    Recorder watched(nullptr, "watched", log);
    watched.FreeNotification(watcher);
    watched.FreeNotification(watcher);  // once is enough
  }
  EXPECT_EQ(log, (std::vector<std::string>{"free watched", "watcher sees a removal"}));
  log.clear();
  // The other way round: the watcher goes first and is no longer told anything.
  {
    Recorder watched(nullptr, "watched", log);
    watched.FreeNotification(watcher);
    delete watcher;
  }
  EXPECT_EQ(log, (std::vector<std::string>{"free watcher", "watched sees a removal", "free watched"}));
}

}  // namespace
}  // namespace orv
