#pragma once
// The measurement archive window: the page control with the four tables MASK, PLATE,
// STRUCTURE and FILM (grid and navigator each), the filter panel (dates, job, plate, operator,
// two measurement types) with the history chart, the record actions (upload the stored image,
// open the stored report, close), the text and spreadsheet export, the history report and the
// compact command. Its database side, which the main window and the report builder store rows
// through also while the window is hidden, is Data.
//
// History reports read the window through History(): the six filter lines as shown, the chart
// as a bitmap and the active tab's filtered rows (archive/report_context.h, HistorySource).
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "archive/hr_db_data.h"
#include "archive/hr_db_plot.h"
#include "archive/report_context.h"
#include "platform/xls/data_to_xls.h"

class QTabWidget;
class QToolButton;
class QPushButton;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;

namespace platform::data {
class TDataSource;
}

namespace archive {

class TDBGrid;
class TDBChart;
class TCalRepFrm;

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

  // ---- filters and history charts ----
  // Every activation: the language texts, then the algorithm lists of the active tab.
  void FormActivate();
  // Texts from the language file (Data.LanguageLine); mmodes too.
  void SetLanguage();
  // The algorithm lists for the active tab: its measurement types, the first chosen in the
  // first list, none in the second.
  void DBPagesChange();
  void AlgListChange();
  void ByDateClick() { DataPlotbtnClick(); }
  // Ticked: the four tables unfiltered; unticked: filtered again (the filter texts stay).
  void ShowAllbxClick();
  // The four tables' filters emptied and off, the chart's series cleared.
  void ClearFiltersClick();
  // Builds the filter from the edits, filters the active table and plots the chosen types.
  void DataPlotbtnClick();
  // A point of the chart: its date-time is looked up in the active table, which moves there.
  void MyChartClickSeries(int series, int valueIndex);
  // The history report of the active tab (report kind 10), shown when done.
  void CreateStatPDFClick();
  // Text or spreadsheet export of the active tab's table, as the chosen file's extension says.
  void StatSavebtnClick();
  // The text export (see archive/hr_db_export.h); failures reach the caller.
  void SaveToTxT(const std::string& Filename, orv::TORVTable& mytable);

  // The filter text of the last plot, and the plot routines.
  std::string FilterText() const { return filter_text_; }
  void PlotMaskWSIData(const std::string& aFilter, const std::string& alg, int v, bool d);
  void PlotMaskMGData(const std::string& aFilter, const std::string& alg, int v, bool d);
  void PlotMaskData(const std::string& aFilter, const std::string& alg, int v, bool d);
  void PlotMaskLineData(const std::string& aFilter, const std::string& alg, int v, bool d);
  void PlotPlateData(const std::string& aFilter, const std::string& alg, int v, bool d);
  void PlotPlateLine(const std::string& aFilter, const std::string& alg, int v, bool d);
  void PlotStructData(const std::string& aFilter, const std::string& alg, int v, bool d);
  void PlotStructMG(const std::string& aFilter, const std::string& alg, int v, bool d);
  void PlotFilmData(const std::string& aFilter, const std::string& alg, int v, bool d);

  // What a history report reads of the window (valid as long as the window).
  HistorySource& History();

  // The measurement-type names in the operator's language, indexed like MType.
  std::array<std::string, 19> mmodes{};
  // The report builder for the history button (borrowed); set by the program.
  TCalRepFrm* CalRepFrm = nullptr;
  // The workbook writers of the four tabs.
  platform::xls::TDataToXLS LAMSDataToXLS, PlateDataToXLS, StructureDataToXLS, FILMDataToXLS;

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
  QPushButton* ClearFilters = nullptr;
  QPushButton* DataPlotbtn = nullptr;
  QPushButton* CreateStatPDF = nullptr;
  QPushButton* StatSavebtn = nullptr;
  QCheckBox* ShowAllbx = nullptr;
  QCheckBox* ByDate = nullptr;
  QDateEdit* FromDT = nullptr;
  QDateEdit* ToDT = nullptr;
  QLabel* FromLabel = nullptr;
  QLabel* Tolabel = nullptr;
  QLabel* JobIDLAbel = nullptr;
  QLabel* PlateLabel = nullptr;
  QLabel* UserLabel = nullptr;
  QLabel* AlgLabel = nullptr;
  QLabel* AlgLabel2 = nullptr;
  QLineEdit* JobIDEdit = nullptr;
  QLineEdit* PlateEdit = nullptr;
  QLineEdit* UserEdit = nullptr;
  QComboBox* AlgList = nullptr;
  QComboBox* AlgList2 = nullptr;
  TDBChart* MyChart = nullptr;

 protected:
  bool event(QEvent* e) override;

 private:
  class HistoryView;
  void Plot(PlotRoutine routine, const std::string& aFilter, const std::string& alg, int v, bool d);
  void CallPlot(int item, const std::string& aFilter, const std::string& alg, int v, bool d);
  orv::TORVTable& TableFor(HistoryTab tab) const;
  std::string Lang(const char* section, int offset) const;
  void BuildFilterPanel(QWidget* panel);
  void ConnectFilterPanel();
  void FormCreate();

  std::string filter_text_;
  std::unique_ptr<HistoryView> history_;

  // Runs a handler of the window; its error is shown rather than thrown into the event loop.
  void Guarded(const std::function<void()>& handler);
  void BindGrids();

  std::unique_ptr<platform::data::TDataSource> sources_[4];
};

// The administrator's code of the compact command.
inline constexpr const char* kCompressAccessCode = "mopu7kzaw";

}  // namespace archive
