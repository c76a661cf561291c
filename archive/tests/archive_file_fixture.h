#pragma once
// The archive opened by this process on a fresh copy of the template in a scratch folder, with
// scripted answers for every box and the language's DBERROR lines as "DBERROR+n".
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "archive/hr_db_data.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "platform/ui/scripted_ui.h"

namespace archive::testing {

class ArchiveFileTest : public ::testing::Test {
 protected:
  void TearDown() override { Stop(); }
  // The engine of this process, and the archive opened on a fresh copy of the template.
  void Start(bool fresh = true) {
    engine.Startup();
    if (fresh) CreateArchiveTemplate(path);
    Open();
  }
  // Closes the archive and stops the engine (before a fork, or to touch the closed file).
  void Stop() {
    data.reset();
    if (engine.Started()) engine.Shutdown();
  }
  void Open() {
    if (!engine.Started()) engine.Startup();
    data = std::make_unique<THRDBData>();
    data->HomeDir = "/home/qc/QUIRVEL";
    data->JobSource = [this] { return job; };
    data->LanguageLine = [](std::string_view section, int offset) {
      return std::string(section) + "+" + std::to_string(offset);
    };
    data->SetDatabaseFileName(path);
    data->OpenHRDB();
  }

  // The real clock: the engine's lock retries between the processes take real time.
  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped_ui{ui};
  orv::testing::ScratchDir dir;
  std::string path = dir.Path() + "/archive.orv";
  orv::TORVEngine engine;
  std::unique_ptr<THRDBData> data;
  TJobDesc job{"J-17", "Plate 4", "Anna", "first run"};
};

}  // namespace archive::testing
