#pragma once
// The measurement archive window: the page control with the four tables MASK, PLATE,
// STRUCTURE and FILM (grid and navigator each), the record actions (upload the stored image,
// open the stored report, close) and the compact command. Its database side, which the main
// window and the report builder store rows through also while the window is hidden, is Data.
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "archive/hr_db_data.h"
#include "archive/report_context.h"

class QTabWidget;
class QToolButton;
class QPushButton;

namespace platform::data {
class TDataSource;
}

namespace archive {

class TDBGrid;

// What the upload button hands the main window: the stored picture of the current row, the
// row's report path and the tab it came from.
struct UploadedImage {
  platform::Bitmap Image;
  std::string PDF;
  HistoryTab Tab = HistoryTab::Other;
};

class THRDBFrm : public QWidget {
  Q_OBJECT
 public:
  explicit THRDBFrm(QWidget* parent = nullptr);
  ~THRDBFrm() override;

  THRDBData Data;

  // The database component's file name and connection (HRDatabase).
  void SetDatabaseFileName(const std::string& path) { Data.SetDatabaseFileName(path); }
  const std::string& DatabaseFileName() const { return Data.DatabaseFileName(); }
  void SetConnected(bool connected);
  bool Connected() const { return Data.Connected(); }
  // Closes and reopens the archive and shows its tables; the engine's errors reach the caller.
  void OpenHRDB();

  // The table of the active tab.
  HistoryTab ActiveTab() const;
  orv::TORVTable& ActiveTable() const;

  // ---- record actions ----
  // The stored picture of the active table's current row goes to the main window (UploadImage).
  void UploadImgClick();
  // Opens the current row's report (OpenDocument); nothing for an empty path.
  void ReportbtnClick();
  void CancelbtnClick() { hide(); }
  // After the administrator's code and the number of connections: rewrites and compacts the
  // file, then opens the archive again.
  void CompressDBClick();
  void DBMASKGridTitleClick(const std::string& fieldName);

  // Set by the program: the main window's side of the upload, and the desktop's viewer.
  std::function<void(const UploadedImage&)> UploadImage;
  std::function<void(const std::string&)> OpenDocument;

  QTabWidget* DBPages = nullptr;
  QWidget* MASK = nullptr;
  QWidget* PLATE = nullptr;
  QWidget* STRUCTURE = nullptr;
  QWidget* FILM = nullptr;
  TDBGrid* DBMASKGrid = nullptr;
  TDBGrid* DBPlateGrid = nullptr;
  TDBGrid* DBSTRUCTGrid = nullptr;
  TDBGrid* DBFilmGrid = nullptr;
  QPushButton* UploadImg = nullptr;
  QPushButton* Reportbtn = nullptr;
  QPushButton* Cancelbtn = nullptr;
  QToolButton* CompressDB = nullptr;

 private:
  // Runs a handler of the window; its error is shown rather than thrown into the event loop.
  void Guarded(const std::function<void()>& handler);
  void BindGrids();

  std::unique_ptr<platform::data::TDataSource> sources_[4];
};

// The administrator's code of the compact command.
inline constexpr const char* kCompressAccessCode = "mopu7kzaw";

}  // namespace archive
