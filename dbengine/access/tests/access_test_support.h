#pragma once
// What the access tests share: a running engine for each test (started in SetUp, shut down in
// TearDown), scripted UI services that answer the dialogs, a scratch folder, a clock whose
// pauses take no time, and small helpers for the errors the components raise.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/access/orv_local_engine_session.h"
#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/orv_main_session.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "platform/base/clock.h"
#include "platform/data/database_error.h"
#include "platform/ui/scripted_ui.h"

namespace orv::testing {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { engine.Startup(); }
  void TearDown() override { engine.Shutdown(); }

  // A database component of the default session (unowned: the test frees it) for a file of
  // the scratch folder.
  std::unique_ptr<TORVDatabase> NewDatabase(const std::string& DatabaseName, const std::string& FileName,
                                            TORVComponent* Owner = nullptr) {
    auto db = std::make_unique<TORVDatabase>(Owner);
    db->SetDatabaseName(DatabaseName);
    db->SetDatabaseFileName(FileName);
    return db;
  }
  // A new database file made through a component.
  void CreateFile(const std::string& FileName, const std::string& Password = {}) {
    TORVDatabase maker(nullptr);
    maker.SetDatabaseName("Maker");
    maker.SetDatabaseFileName(FileName);
    maker.SetPassword(Password);
    maker.CreateDatabase();
  }
  // The database data object a component's storage session is connected to.
  static TORVDatabaseData* DataOf(const TORVDatabase& Database) {
    auto* local = dynamic_cast<TORVLocalSession*>(Database.Handle());
    return local ? local->FDatabaseData : nullptr;
  }
  int32_t ListCount() { return engine.DBDataList().Count(); }

  platform::ManualClock clock;
  platform::ScopedClock scoped_clock{clock};
  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped_ui{ui};
  ScratchDir dir;
  TORVEngine engine;
};

// A clock whose pauses take no time and are noted, so that a test can count a wait's tries (a
// pause of 0 ms is only a yield and is not noted).
struct PauseLogClock : platform::ManualClock {
  void Sleep(uint32_t Ms) override {
    if (Ms > 0) pauses.push_back(Ms);
    ManualClock::Sleep(Ms);
  }
  std::vector<uint32_t> pauses;
};

// Processes sharing one database file. Each process starts its own engine: a peer is forked
// before this process's engine runs, so that no process inherits another's open files. The
// clock's pauses take no time in every process.
class SharedFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (engine.Started()) engine.Shutdown();
  }
  void Start() {
    engine.Startup();
    db = OpenDatabase();
  }
  // The database component "Archive" of the file, multi-user, open.
  std::unique_ptr<TORVDatabase> OpenDatabase() {
    auto d = std::make_unique<TORVDatabase>(nullptr);
    d->SetDatabaseName("Archive");
    d->SetDatabaseFileName(path);
    d->SetMultiUser(true);
    d->SetSilentMode(true);
    d->Open();
    return d;
  }
  // Makes the file in a child process, so that every side opens it fresh: Fill gets the open
  // database and answers whether it filled it.
  template <class F>
  void MakeFile(F&& Fill) {
    ASSERT_EQ(InChild([&] {
                engine.Startup();
                {
                  TORVDatabase maker(nullptr);
                  maker.SetDatabaseName("Maker");
                  maker.SetDatabaseFileName(path);
                  maker.CreateDatabase();
                }
                bool filled = false;
                {
                  auto d = OpenDatabase();
                  filled = Fill(*d);
                }
                engine.Shutdown();
                return filled ? 0 : 1;
              }),
              0);
  }
  // The pauses the waits of Body took, in milliseconds.
  template <class F>
  std::vector<uint32_t> PausesDuring(F&& Body) {
    clock.pauses.clear();
    Body();
    return clock.pauses;
  }

  PauseLogClock clock;
  platform::ScopedClock scoped_clock{clock};
  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped_ui{ui};
  ScratchDir dir;
  std::string path = dir.Path() + "/archive.orv";
  TORVEngine engine;
  std::unique_ptr<TORVDatabase> db;
};

// The message of the platform database error that Body raises; "" when it raises none, "?" for
// any other exception.
template <class F>
std::string DatabaseErrorOf(F&& Body) {
  try {
    Body();
  } catch (const platform::data::EDatabaseError& e) {
    return e.what();
  } catch (...) {
    return "?";
  }
  return {};
}

}  // namespace orv::testing
