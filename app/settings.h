#pragma once
// The settings window and the file search routines of its module.
//
// The window lives for the whole run. The main window's settings command fills it, shows it
// modally and takes its values back; the window itself handles the language choice, the report
// logo and text, the protected image-sequence panel with its two service switches, and hosts
// the TCP result server (settings_tcp.cpp), which keeps serving while the window is hidden.
//
// The result server runs one thread per connection. What its handlers read or change of the
// windows (the log, the client grid, the status panel, the measurement line and the pictures)
// is handed to the GUI thread through the connection; the client table is changed only under
// ContextLock. Encoding pictures, writing files and the socket traffic stay on the
// connection's thread.
#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/controls.h"
#include "platform/base/datetime.h"
#include "platform/image/bitmap.h"
#include "platform/ui/ui_services.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;
class QTimeEdit;

namespace platform::net {
class Connection;
class TcpServer;
}  // namespace platform::net

namespace archive {
class THRDBData;
}

namespace app {

class THRMainFrm;
class TMyMessageFrm;

// ---- the scheduled export's arithmetic ----
// When the export of the time list's item `index` (1 = midnight, each item 30 minutes later,
// 48 = 23:30) runs next, seen at `now`: today at that time of day, or 24 hours later when the
// current time of day has reached it. Index 0 (never) and indexes outside the list give nothing.
struct ExportSchedule {
  platform::TDateTime Next = 0;
  uint32_t IntervalMs = 0;
};
std::optional<ExportSchedule> NextExportTime(int index, platform::TDateTime now);
// The next export's text: the date-time text, with the time 00:00:00 written out for midnight
// (the date-time text leaves it out there).
std::string NextExportText(int index, platform::TDateTime next);
// "YYYYMMDDhhnn" of the export's start.
std::string ExportStamp(platform::TDateTime start);
// folder/prefix + stamp + ".txt", or with "_2", "_3", ... before ".txt" when that name is taken:
// an earlier export of the same minute is never overwritten.
std::string FreeExportFileName(const std::string& folder, const std::string& prefix, const std::string& stamp);
// The filter of the rows newer than the mark, written so that the engine reads the mark back to
// the same instant (milliseconds and a midnight time included).
std::string NewerThanFilter(platform::TDateTime mark);

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

// The size of the report logo for a picture of w x h pixels (both above 0): the box keeps
// the proportions 200 : 78 and holds the whole picture. `x` is where the picture goes: 0 for
// a wide picture (drawn at the top), else one pixel short of the box's right edge.
struct LogoBox {
  int width, height, x;
};
LogoBox LogoBoxFor(int w, int h);

// The report text's file in the home folder, read by the report builder alike: lines as UTF-8
// with a byte-order mark and CR LF; a file without the mark reads as Windows-1252.
std::string ReportTextPath();

// One client slot of the result server: its connection (none for an empty slot) and what the
// client told about itself.
struct TMyContext {
  std::shared_ptr<platform::net::Connection> aContext;
  std::string aIP;
  std::string aNetworkname;
  std::string aUser;
  std::string aLocalUser;
};

// Slots 0 .. NUMCON - 1 are served; the fourth slot is listed but its lines are not answered.
constexpr int NUMCON = 3;

class TFrmSettings : public QDialog, public platform::ui::ModalWindow {
  Q_OBJECT
 public:
  explicit TFrmSettings(QWidget* parent = nullptr);
  ~TFrmSettings() override;

  // The main window whose result, pictures, status bar, language and ini the window works
  // with. Set by the main window when it is linked; nullptr (when the main window goes) stops
  // the result server first.
  void SetMainWindow(THRMainFrm* main);
  THRMainFrm* MainWindow() const { return main_; }

  platform::ui::ModalResult ExecModal() override;
  std::string ModalName() const override { return "TFrmSettings"; }

  // ---- the window's handlers ----
  // Each time the window is shown: the installed languages, the current one selected.
  void FormActivate();
  void LangFilesClick();
  // Captions from the language's FRMSETTINGS section.
  void SetLanguage();
  // The digit texts follow the unit system.
  void ScreenrulinggrpClick();
  // Opens the image-sequence panel after the system password, or closes it.
  void ShowImgSeqbtnDblClick();
  void ShowStructPageClick();
  void EnableBRGamaSharpbxClick();
  void OpenLogobtnClick();
  // Saves the report text and closes the window with OK.
  void OKbtnClick();

  // ---- the scheduled export (settings_export.cpp) ----
  // The archive whose BACKUP row holds the schedule and whose tables are exported; the
  // message window shown during an export. Set by the program; without an archive the
  // export's handlers say so.
  archive::THRDBData* Archive = nullptr;
  TMyMessageFrm* MyMessageFrm = nullptr;
  // Shows the BACKUP row and arms the timer.
  void UpdateExportConfig();
  // One export run of the four tables into the folder.
  void PerformBackup();
  void BackUpTimerTimer();
  void ApplybtnClick();
  void ResetbtnClick();
  void ImmediateBackupbtnClick();
  void OpenDestPathClick();
  // The armed export timer, 0 when none.
  platform::ui::TimerId BackUpTimer() const { return backup_timer_; }
  // The interval the timer was last armed with.
  uint32_t BackUpInterval() const { return backup_interval_; }

  // ---- the TCP result server (settings_tcp.cpp) ----
  // Ticked: the server listens; unticked: every client is disconnected and it stops.
  void TCPIPActivateClick();
  void TCPIPTestClick();
  // Ends every connection and stops listening; returns when every connection's thread is done.
  void DisconnectAllClients();
  void IdTCPServer1Connect(platform::net::Connection& AContext);
  void IdTCPServer1Disconnect(platform::net::Connection& AContext);
  void IdTCPServer1Execute(platform::net::Connection& AContext);
  // Sends one picture reply: "IMAGE:[" + s + "]" + n, then the n bytes of bmp (a bitmap file).
  // An empty picture is n = 0 and no bytes.
  void TCPIPCopyImage(platform::net::Connection& AContext, const std::string& s, const std::vector<uint8_t>& bmp);
  // The grid, its selected row and the main window's status panel from the client table (GUI
  // thread).
  void RedrawTable();

  // A copy of the client table, taken under its lock.
  struct ClientTable {
    std::array<TMyContext, 4> MyContext;
    int32_t ContextIndex = 0;
    int32_t LastContext = -1;
  };
  ClientTable Clients() const;
  platform::net::TcpServer& Server() { return *IdTCPServer1; }

  // The report logo (200 x 78 at creation).
  std::unique_ptr<platform::Bitmap> LogoBmp;
  platform::ui::FileDialogOptions OpenPictureDialog1;

  QTabWidget* Settingspages = nullptr;
  QWidget* LanguageTab = nullptr;
  QListWidget* LangFiles = nullptr;

  QWidget* Additionaltab = nullptr;
  TRadioGroup* Screenrulinggrp = nullptr;
  TRadioGroup* Digitsgrp = nullptr;
  QLabel* GravureWidthLabel = nullptr;
  QLineEdit* GravurewidthEdit = nullptr;
  QCheckBox* Sharpbx = nullptr;
  QLabel* ShowImgSeqbtn = nullptr;
  QWidget* ImgPanel = nullptr;
  QTableWidget* ImgSeqGrid = nullptr;
  QLabel* WaitLabel = nullptr;
  QSpinBox* ImgWait = nullptr;
  QCheckBox* ShowStructPage = nullptr;
  QCheckBox* EnableBRGamaSharpbx = nullptr;

  QWidget* Reports = nullptr;
  QLabel* LoadLogoLabel = nullptr;
  TImage* PrivateLogo = nullptr;
  QPushButton* OpenLogobtn = nullptr;
  QLabel* EnterTextLabel = nullptr;
  QPlainTextEdit* Memo1 = nullptr;

  QWidget* TANDORIX = nullptr;
  QCheckBox* TCPIPActivate = nullptr;
  QPushButton* TCPIPTest = nullptr;
  QLabel* IPAddressLabel = nullptr;
  QPlainTextEdit* TCPIPMemo = nullptr;
  QTableWidget* ConnectionsGrid = nullptr;

  QWidget* ExportData = nullptr;
  QLabel* DatabaseLabel = nullptr;
  QLineEdit* DatabaseEdit = nullptr;
  QLabel* DestPathLabel = nullptr;
  QLineEdit* DestPathEdit = nullptr;
  QPushButton* OpenDestPath = nullptr;
  QLabel* Backuptimelabel = nullptr;
  QComboBox* BackUpTimeList = nullptr;
  QLabel* LastBackupLabel = nullptr;
  QLineEdit* MaskEdit = nullptr;
  QLineEdit* PlateEdit = nullptr;
  QLineEdit* StructureEdit = nullptr;
  QLineEdit* FilmEdit = nullptr;
  QLabel* NextUpdateLabel = nullptr;
  QLabel* NextBAckUp = nullptr;
  QCheckBox* Suspendbx = nullptr;
  QPushButton* Applybtn = nullptr;
  QLabel* RestartLabel = nullptr;
  QDateEdit* ResetDate = nullptr;
  QTimeEdit* TimePicker = nullptr;
  QPushButton* Resetbtn = nullptr;
  QPushButton* ImmediateBackupbtn = nullptr;

  QPushButton* OKbtn = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void ConnectHandlers();
  // Runs a handler: an exception is shown, never passed on.
  void Guarded(const std::function<void()>& handler);
  void LoadReportText();

  // ---- result server helpers (settings_tcp.cpp) ----
  void CreateServer();
  // Slot i takes the connection and four empty texts (caller holds ContextLock).
  void ClearContext(int i, std::shared_ptr<platform::net::Connection> Context);
  // The slot of a connection among the first `count`, -1 when it is not there (caller holds
  // ContextLock).
  int FindContext(const platform::net::Connection& c, int count) const;
  // Appends a line to the log (GUI thread).
  void Log(const std::string& line);
  void Command(platform::net::Connection& c, const std::string& line);
  void SetClientText(platform::net::Connection& c, std::string TMyContext::*field, const std::string& text);
  // Writes bytes as QUIRVELSTREAM.bmp into the folder a client named. False (logged, nothing
  // written) when the folder is refused.
  bool SaveStream(platform::net::Connection& c, const std::string& folder, const std::vector<uint8_t>& bmp);

  void StopBackUpTimer();

  THRMainFrm* main_ = nullptr;
  platform::ui::TimerId backup_timer_ = 0;
  uint32_t backup_interval_ = 0;
  bool report_text_loaded_ = false;
  bool activation_queued_ = false;

  std::unique_ptr<platform::net::TcpServer> IdTCPServer1;
  mutable std::mutex ContextLock;
  std::array<TMyContext, 4> MyContext;
  int32_t ContextIndex = 0;
  int32_t LastContext = -1;
};

}  // namespace app
