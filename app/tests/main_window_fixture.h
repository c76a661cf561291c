#pragma once
// The main window with its neighbour windows, a scripted UI and a home folder of its own,
// for the tests of the main window's commands.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/analyze.h"
#include "app/about.h"
#include "app/archive_access.h"
#include "app/frm_connect.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/language.h"
#include "app/settings.h"
#include "app/tests/app_test_support.h"
#include "capture/preview.h"
#include "platform/net/tcp_server.h"
#include "platform/ini/profile.h"
#include "platform/ui/scripted_ui.h"

namespace app::test {

class FakeArchive : public ArchiveAccess {
 public:
  void Disconnect() override { log.push_back("disconnect"); }
  void SetDatabaseFileName(const std::string& path) override {
    log.push_back("file " + path);
    file = path;
  }
  std::string DatabaseFileName() const override { return file; }
  void OpenHRDB() override {
    log.push_back("open");
    if (!fail_with.empty()) throw std::runtime_error(fail_with);
  }
  void ShowArchiveWindow(ArchiveTab tab) override {
    static const char* const names[] = {"MASK", "PLATE", "STRUCTURE", "keep"};
    log.push_back(std::string("show ") + names[static_cast<int>(tab)]);
  }
  std::vector<std::string> log;
  std::string file;
  std::string fail_with;
};

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    analysis::Analysis().Reset();
    HRMain().Reset();
    CreateLanguage();
    // The result server of a test listens on loopback on any free port: tests run side by side.
    settings.Server().DefaultPort = 0;
    settings.Server().BindAddress = "127.0.0.1";
  }

  void Create() {
    frm.reset();
    folder.reset();
    folder = std::make_unique<ScopedProgramFolder>(home.Path());
    frm = std::make_unique<THRMainFrm>();
    MainWindowLinks links;
    links.FrmConnect = &connect;
    links.FrmSettings = &settings;
    links.AboutFrm = &about;
    links.FrmPreview = &preview;
    links.Archive = &archive;
    frm->SetLinks(links);
  }
  void Activate() {
    frm->Guarded([this] { frm->FormActivate(); });
  }
  void SetIni(const char* section, const std::string& key, const std::string& value,
              const std::string& file = "QUIRVEL.INI") {
    ASSERT_TRUE(platform::WritePrivateProfileString(section, key, value, home / file));
  }
  std::string IniValue(const char* section, const std::string& key, const std::string& file = "QUIRVEL.INI") {
    return platform::GetPrivateProfileString(section, key, "<none>", 256, home / file);
  }
  std::string Text(const char* name) {
    QObject* o = frm->findChild<QObject*>(name);
    EXPECT_NE(o, nullptr) << name;
    return Caption(o).toStdString();
  }
  std::string HintOf(const char* name) {
    QObject* o = frm->findChild<QObject*>(name);
    EXPECT_NE(o, nullptr) << name;
    return Hint(o).toStdString();
  }

  QApplication& qapp = App();  // before the first widget
  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped{ui};
  TempHome home;
  std::unique_ptr<ScopedProgramFolder> folder;
  TFrmConnect connect;
  TFrmSettings settings;
  TAboutFrm about;
  capture::TFrmPreview preview;
  FakeArchive archive;
  std::unique_ptr<THRMainFrm> frm;
  ScopedLauncher no_programs{[](const std::vector<std::string>&) { return true; }};
};

}  // namespace app::test
