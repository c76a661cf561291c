// Two processes opening one brand-new archive file at the same instant: FILM and BACKUP are
// made once, and BACKUP ends with exactly one row, whichever process gets there first.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "archive/hr_db_data.h"
#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "platform/data/field.h"
#include "platform/ui/scripted_ui.h"

namespace archive {
namespace {

using orv::testing::Peer;
using orv::testing::ScratchDir;

// The real clock throughout: the engine's lock retries between the processes take real time.
// Each side dawdles between finding BACKUP empty and adding its row, so that the other one
// finds it empty too.
TEST(ArchiveFirstOpen, TwoProcessesOpeningANewFileAtOnceLeaveOneBackupRow) {
  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped_ui{ui};
  ScratchDir dir;
  for (int round = 0; round < 2; ++round) {
    const std::string path = dir.Path() + "/fresh" + std::to_string(round) + ".orv";
    {
      orv::TORVEngine engine;
      engine.Startup();
      CreateArchiveTemplate(path);
      engine.Shutdown();
    }
    // Both sides get everything ready, then open on the same signal.
    auto open = [&](const std::string& home, const std::function<void()>& ready) {
      orv::TORVEngine engine;
      engine.Startup();
      auto data = std::make_unique<THRDBData>();
      data->HomeDir = home;
      data->SetDatabaseFileName(path);
      data->BeforeFirstBackupRow = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
      ready();
      data->OpenHRDB();
      data.reset();
      engine.Shutdown();
    };
    Peer other([&](Peer& self) {
      open("/home/other", [&] {
        self.Send(1);
        self.Receive();
      });
      return 0;
    });
    open("/home/this", [&] {
      ASSERT_EQ(other.Receive(), 1);
      other.Send(1);
    });
    ASSERT_EQ(other.Wait(), 0) << "round " << round;

    orv::TORVEngine engine;
    engine.Startup();
    {
      THRDBData data;
      data.SetDatabaseFileName(path);
      data.OpenHRDB();
      EXPECT_EQ(data.ORVBackupTable().RecordCount(), 1) << "round " << round;
      const std::string dir_value = data.ORVBackupTable().FieldByName("DIR")->AsString();
      EXPECT_TRUE(dir_value == "/home/this" || dir_value == "/home/other") << dir_value;
      EXPECT_EQ(data.FILMTAB().RecordCount(), 0);
      EXPECT_EQ(data.FILMTAB().FieldCount(), data.PLATETAB().FieldCount());
    }
    engine.Shutdown();
  }
}

}  // namespace
}  // namespace archive
