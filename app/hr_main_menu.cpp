// The menu commands that reach the archive, the manual and the camera window: opening and
// creating an archive database, the archive window on the tab of the open page, the manual in
// the desktop's viewer and the camera settings window. Also the wiring of the menu, the report
// button and the calibration page.
#include <QAction>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QToolButton>
#include <stdexcept>

#include "app/about.h"
#include "app/archive_access.h"
#include "app/file_write.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "capture/preview.h"

namespace app {

namespace {

ArchiveAccess& ArchiveOf(const MainWindowLinks& links) {
  if (!links.Archive) throw std::runtime_error("The measurement archive is not available.");
  return *links.Archive;
}

void ShowError(const std::string& text) {
  platform::ui::Services().MessageBox(text, "QUIRVEL", platform::ui::MsgButtons::Ok, platform::ui::MsgKind::Error);
}

}  // namespace

void THRMainFrm::OpenDatabase1Click() {
  ArchiveAccess& archive = ArchiveOf(links_);
  archive.Disconnect();
  platform::ui::FileDialogOptions options = dBOpenDlg;
  options.title = S(Caption(OpenDatabase1));
  const std::string current = Ini().ReadString(ini::DATABASE);
  options.file_name = ExtractFileName(current);
  options.initial_dir = ExtractFilePath(current);
  if (options.initial_dir.empty()) options.initial_dir = ResolveInFolder(st.HomeDir, "DATABASE");
  if (const std::optional<std::string> file = platform::ui::Services().OpenFileDialog(options)) {
    archive.SetDatabaseFileName(*file);
    WriteIni(ini::kMain, ini::DATABASE.key, *file);
    StatusBar1->SetPanelText(6, Q(ExtractFileName(*file)));
  }
  // After a cancelled dialog the database open before comes back.
  archive.OpenHRDB();
}

void THRMainFrm::CreateDatabase1Click() {
  ArchiveAccess& archive = ArchiveOf(links_);
  archive.Disconnect();
  platform::ui::FileDialogOptions options = DBSaveDlg;
  options.title = S(Caption(CreateDatabase1));
  options.initial_dir = ResolveInFolder(st.HomeDir, "DATABASE");
  const std::optional<std::string> file = platform::ui::Services().SaveFileDialog(options);
  if (file) {
    const std::string templ = ResolveInFolder(st.HomeDir, "DATABASE/QUIRVEL.GEN");
    // A new database is never written over an existing file, whatever the dialog asked.
    std::string error;
    if (FileExists(*file) || DirectoryExists(*file)) {
      error = "the file exists already and is not replaced";
    } else {
      error = CopyToNewFile(templ, *file);
    }
    if (error.empty()) {
      archive.SetDatabaseFileName(*file);
      WriteIni(ini::kMain, ini::DATABASE.key, *file);
      StatusBar1->SetPanelText(6, Q(ExtractFileName(*file)));
      archive.OpenHRDB();
      return;
    }
    ShowError("The database " + *file + " was not created: " + error);
  }
  // Nothing new: the archive goes on with the database it had rather than staying closed.
  archive.OpenHRDB();
}

void THRMainFrm::OpenDBbtnClick() {
  // The film page (and every other) leaves the archive window on the tab it has.
  ArchiveTab tab = ArchiveTab::Keep;
  if (ini::Page page{}; ActiveAnalysisPage(page)) {
    switch (page) {
      case ini::Page::LAMS: tab = ArchiveTab::MASK; break;
      case ini::Page::PLATE: tab = ArchiveTab::PLATE; break;
      case ini::Page::STRUCT: tab = ArchiveTab::STRUCTURE; break;
      case ini::Page::FILM: break;
    }
  }
  ArchiveOf(links_).ShowArchiveWindow(tab);
}

void THRMainFrm::Help2Click() {
  std::string manual = ResolveInFolder(st.HomeDir, "QUIRVEL Manual " + st.Sprache + ".pdf");
  if (!FileExists(manual)) manual = ResolveInFolder(st.HomeDir, "QUIRVEL Manual English.pdf");
  if (!FileExists(manual)) {
    ShowError("The manual " + manual + " is missing.");
    return;
  }
  if (!ShellOpen(manual)) ShowError("The manual " + manual + " could not be opened: no viewer could be started.");
}

void THRMainFrm::Video1Click() {
  if (!links_.FrmPreview) return;
  links_.FrmPreview->show();
  links_.FrmPreview->raise();
}

void THRMainFrm::ConnectMenuCommands() {
  OnEvent(OpenDatabase1, &QAction::triggered, &THRMainFrm::OpenDatabase1Click);
  OnEvent(CreateDatabase1, &QAction::triggered, &THRMainFrm::CreateDatabase1Click);
  OnEvent(Help2, &QAction::triggered, &THRMainFrm::Help2Click);
  OnEvent(Video1, &QAction::triggered, &THRMainFrm::Video1Click);
  // The camera window's menu item stays hidden, and a hidden item's key does nothing: the key
  // is the window's own.
  OnEvent(new QShortcut(Video1->shortcut(), this), &QShortcut::activated, &THRMainFrm::Video1Click);
  OnEvent(Calibrate1, &QAction::triggered, &THRMainFrm::Calibrate1Click);
  OnEvent(OpenDBbtn, &QToolButton::clicked, &THRMainFrm::OpenDBbtnClick);
  OnEvent(Reportbtn, &QToolButton::clicked, &THRMainFrm::ReportbtnClick);
  OnEvent(CalTargetbtn, &QPushButton::clicked, &THRMainFrm::CalTargetbtnClick);
  OnEvent(Calibbtn, &QPushButton::clicked, &THRMainFrm::CalibbtnClick);
  OnEvent(CALPDFbtn, &QPushButton::clicked, &THRMainFrm::CALPDFbtnClick);
  OnEvent(Cancelbtn, &QPushButton::clicked, &THRMainFrm::CancelbtnClick);
}

}  // namespace app
