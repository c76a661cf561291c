#pragma once
// The settings window and the file search routines of its module.
//
// The window's controls exist under their names so that the main window can reach the ones
// it uses at start-up (the TCP server switch, the display-bar lock box, the report logo).
// Its own handlers, the TCP result server and the scheduled export are built with the
// settings window itself; until then the window only holds its controls.
#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "app/controls.h"
#include "platform/image/bitmap.h"
#include "platform/ui/ui_services.h"

class QCheckBox;
class QTabWidget;

namespace app {

// Wildcards: "*" matches any run of characters (none included), "?" exactly one character,
// every other character only itself (case-sensitive). The whole text must be used.
bool Like(const std::string& AString, const std::string& APattern);

// Appends the names under RootFolder that match Mask (compared in lower case) to FileList,
// entries of one folder in name order. "." , ".." and "STATISTICS" are skipped. Folders
// are added when AddFolderNames is set (IsFolder then marks them); with Recurse the walk
// descends into them. AddPathName gives folder + name; otherwise DelExtension drops the
// last four characters of a file name.
void FindAllFiles(std::vector<std::string>& FileList, const std::string& RootFolder, const std::string& Mask,
                  bool Recurse, bool AddFolderNames, bool IgnoreMaskAtFolderNames, bool AddPathName,
                  bool DelExtension, std::vector<bool>* IsFolder = nullptr);

// Lower case of ASCII and the Latin letters of Windows-1252 written as UTF-8.
std::string LowerCaseName(const std::string& name);

class TFrmSettings : public QDialog, public platform::ui::ModalWindow {
  Q_OBJECT
 public:
  explicit TFrmSettings(QWidget* parent = nullptr);
  ~TFrmSettings() override;

  // Run by the main window when the TCP server switch is ticked at start-up.
  void TCPIPActivateClick();

  platform::ui::ModalResult ExecModal() override;
  std::string ModalName() const override { return "TFrmSettings"; }

  // The report logo (200 x 78 at creation).
  std::unique_ptr<platform::Bitmap> LogoBmp;

  QTabWidget* Settingspages = nullptr;
  QWidget* LanguageTab = nullptr;
  QWidget* Additionaltab = nullptr;
  QWidget* Reports = nullptr;
  QWidget* TANDORIX = nullptr;
  QWidget* ExportData = nullptr;
  QCheckBox* TCPIPActivate = nullptr;
  QCheckBox* EnableBRGamaSharpbx = nullptr;
  QCheckBox* ShowStructPage = nullptr;
  QCheckBox* Sharpbx = nullptr;
  TImage* PrivateLogo = nullptr;
};

}  // namespace app
