// The archive window's filter panel, history chart, export and history report.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "analysis/analyze.h"
#include "archive/cal_rep.h"
#include "archive/db_chart.h"
#include "archive/hr_db.h"
#include "archive/hr_db_export.h"
#include "archive/hr_db_history.h"
#include "dbengine/access/orv_main_table.h"
#include "platform/data/date_time_text.h"
#include "platform/data/field.h"
#include "platform/data/variant.h"
#include "platform/ui/ui_services.h"

namespace archive {

namespace {

platform::TDateTime DateOf(const QDateEdit* e) {
  const QDate d = e->date();
  return platform::EncodeDate(d.year(), d.month(), d.day());
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

void THRDBFrm::BuildFilterPanel(QWidget* panel) {
  auto* form = new QFormLayout(panel);
  auto label = [&](QLabel*& l, const char* name, const char* text) {
    l = new QLabel(text, panel);
    l->setObjectName(name);
  };
  auto edit = [&](QLineEdit*& e, const char* name, const char* text) {
    e = new QLineEdit(text, panel);
    e->setObjectName(name);
  };
  ShowAllbx = new QCheckBox("Show all records", panel);
  ShowAllbx->setObjectName("ShowAllbx");
  form->addRow(ShowAllbx);
  label(FromLabel, "FromLabel", "From");
  FromDT = new QDateEdit(QDate(2017, 1, 1), panel);
  FromDT->setObjectName("FromDT");
  FromDT->setCalendarPopup(true);
  FromDT->setDisplayFormat("yyyy-MM-dd");
  form->addRow(FromLabel, FromDT);
  label(Tolabel, "Tolabel", "To");
  ToDT = new QDateEdit(panel);
  ToDT->setObjectName("ToDT");
  ToDT->setCalendarPopup(true);
  ToDT->setDisplayFormat("yyyy-MM-dd");
  form->addRow(Tolabel, ToDT);
  label(JobIDLAbel, "JobIDLAbel", "Job ID");
  edit(JobIDEdit, "JobIDEdit", "%");
  form->addRow(JobIDLAbel, JobIDEdit);
  label(PlateLabel, "PlateLabel", "Plate");
  edit(PlateEdit, "PlateEdit", "%");
  form->addRow(PlateLabel, PlateEdit);
  label(UserLabel, "UserLabel", "Operator");
  edit(UserEdit, "UserEdit", "");
  form->addRow(UserLabel, UserEdit);
  label(AlgLabel, "AlgLabel", "Algorithm");
  AlgList = new QComboBox(panel);
  AlgList->setObjectName("AlgList");
  form->addRow(AlgLabel, AlgList);
  label(AlgLabel2, "AlgLabel2", "Algorithm 2");
  AlgList2 = new QComboBox(panel);
  AlgList2->setObjectName("AlgList2");
  form->addRow(AlgLabel2, AlgList2);
  auto* last = new QHBoxLayout;
  ByDate = new QCheckBox("by date", panel);
  ByDate->setObjectName("ByDate");
  ByDate->setChecked(true);
  CompressDB = new QToolButton(panel);
  CompressDB->setObjectName("CompressDB");
  CompressDB->setText("...");
  CompressDB->setToolTip("Compact and repair database. Configure connections");
  last->addWidget(ByDate);
  last->addStretch();
  last->addWidget(CompressDB);
  form->addRow(last);
}

void THRDBFrm::ConnectFilterPanel() {
  auto on = [this](auto* sender, auto signal, void (THRDBFrm::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  on(ClearFilters, &QPushButton::clicked, &THRDBFrm::ClearFiltersClick);
  on(DataPlotbtn, &QPushButton::clicked, &THRDBFrm::DataPlotbtnClick);
  on(CreateStatPDF, &QPushButton::clicked, &THRDBFrm::CreateStatPDFClick);
  on(StatSavebtn, &QPushButton::clicked, &THRDBFrm::StatSavebtnClick);
  on(ShowAllbx, &QCheckBox::clicked, &THRDBFrm::ShowAllbxClick);
  on(ByDate, &QCheckBox::clicked, &THRDBFrm::ByDateClick);
  connect(AlgList, &QComboBox::activated, this, [this] { Guarded([this] { AlgListChange(); }); });
  connect(MyChart, &TDBChart::ClickSeries, this,
          [this](int s, int i) { Guarded([this, s, i] { MyChartClickSeries(s, i); }); });
}

void THRDBFrm::FormCreate() {
  ToDT->setDate(QDate::currentDate());
  MyChart->ClearSeries();
  ConfigureArchiveXLS(LAMSDataToXLS, nullptr, "LAMS");
  ConfigureArchiveXLS(PlateDataToXLS, nullptr, "PLATE");
  ConfigureArchiveXLS(StructureDataToXLS, nullptr, "STRUCTURE");
  ConfigureArchiveXLS(FILMDataToXLS, nullptr, "FILM");
  for (size_t i = 0; i < mmodes.size(); ++i) mmodes[i] = std::string(analysis::MTYPENAMES[i]);
  history_ = std::make_unique<HistoryView>(*this);
}

bool THRDBFrm::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) {
    // After the window system is done with the activation, as a queued call.
    QTimer::singleShot(0, this, [this] { Guarded([this] { FormActivate(); }); });
  }
  return QWidget::event(e);
}

void THRDBFrm::FormActivate() {
  SetLanguage();
  DBPagesChange();
}

std::string THRDBFrm::Lang(const char* section, int offset) const {
  if (Data.LanguageLine) return Data.LanguageLine(section, offset);
  return std::string(section) + " + " + std::to_string(offset) + " not found";
}

void THRDBFrm::SetLanguage() {
  if (!Data.LanguageLine) return;  // the built-in English texts stay
  JobIDLAbel->setText(Q(Lang("FRMREPORT", 1)));
  PlateLabel->setText(Q(Lang("FRMREPORT", 2)));
  UserLabel->setText(Q(Lang("FRMREPORT", 3)));
  AlgLabel->setText(Q(Lang("FRMREPORT", 4)));
  AlgLabel2->setText(Q(Lang("FRMREPORT", 4) + " 2"));
  FromLabel->setText(Q(Lang("FRMREPORT", 5)));
  Tolabel->setText(Q(Lang("FRMREPORT", 6)));
  ByDate->setText(Q(Lang("FRMREPORT", 9)));
  StatSavebtn->setToolTip(Q(Lang("HINT", 6)));
  ClearFilters->setToolTip(Q(Lang("FRMDB", 1)));
  DataPlotbtn->setToolTip(Q(Lang("FRMDB", 2)));
  UploadImg->setToolTip(Q(Lang("FRMDB", 3)));
  Reportbtn->setToolTip(Q(Lang("FRMDB", 4)));
  CreateStatPDF->setToolTip(Q(Lang("FRMDB", 5)));
  ShowAllbx->setText(Q(Lang("FRMDB", 6)));
  Cancelbtn->setToolTip(Q(Lang("MAINMENU", 5)));
  for (size_t i = 0; i < mmodes.size(); ++i) mmodes[i] = Lang("MMODES", 1 + static_cast<int>(i));
}

void THRDBFrm::DBPagesChange() {
  const TabTypes types = TypesOfTab(ActiveTab());
  AlgList->clear();
  for (int t = types.first; t <= types.last; ++t) AlgList->addItem(Q(mmodes[static_cast<size_t>(t)]));
  AlgList->setCurrentIndex(types.Count() > 0 ? 0 : -1);
  AlgList2->clear();
  for (int i = 0; i < AlgList->count(); ++i) AlgList2->addItem(AlgList->itemText(i));
  AlgList2->setCurrentIndex(-1);
}

void THRDBFrm::AlgListChange() { AlgList2->setCurrentIndex(-1); }

orv::TORVTable& THRDBFrm::TableFor(HistoryTab tab) const {
  switch (tab) {
    case HistoryTab::PLATE: return Data.PLATETAB();
    case HistoryTab::STRUCTURE: return Data.SPLATETAB();
    case HistoryTab::FILM: return Data.FILMTAB();
    default: return Data.LAMSTAB();
  }
}

void THRDBFrm::ShowAllbxClick() {
  if (!Data.Connected()) return;
  for (HistoryTab t : {HistoryTab::MASK, HistoryTab::PLATE, HistoryTab::STRUCTURE, HistoryTab::FILM})
    TableFor(t).SetFiltered(!ShowAllbx->isChecked());
}

void THRDBFrm::ClearFiltersClick() {
  if (Data.Connected()) {
    for (HistoryTab t : {HistoryTab::MASK, HistoryTab::PLATE, HistoryTab::STRUCTURE, HistoryTab::FILM}) {
      orv::TORVTable& table = TableFor(t);
      table.SetFilterText("");
      table.SetFiltered(false);
    }
  }
  MyChart->ClearSeries();
}

void THRDBFrm::DataPlotbtnClick() {
  ClearFiltersClick();
  const bool d = ByDate->isChecked();
  MyChart->SetByDate(d);
  for (QLineEdit* e : {JobIDEdit, PlateEdit, UserEdit})
    if (e->text().isEmpty()) e->setText("%");
  const HistoryTab tab = ActiveTab();
  const TabTypes types = TypesOfTab(tab);
  const int item1 = AlgList->currentIndex();
  const int item2 = AlgList2->currentIndex();
  if (item1 < 0 || item1 >= types.Count()) return;  // nothing to plot on this tab
  std::string alg1, alg2;
  filter_text_.clear();
  if (!ShowAllbx->isChecked()) {
    ArchiveFilterInput in;
    in.From = DateOf(FromDT);
    in.To = DateOf(ToDT);
    in.JobID = JobIDEdit->text().toStdString();
    in.Plate = PlateEdit->text().toStdString();
    in.User = UserEdit->text().toStdString();
    alg1 = std::string(analysis::MTYPENAMES[static_cast<size_t>(types.first + item1)]);
    in.Alg1 = alg1;
    if (item2 >= 0) {
      alg2 = std::string(analysis::MTYPENAMES[static_cast<size_t>(types.first + item2)]);
      in.Alg2 = alg2;
    }
    filter_text_ = ArchiveFilterText(in);
  }
  MyChart->SetTitle(DBPages->tabText(DBPages->currentIndex()).toStdString());
  CallPlot(item1, filter_text_, alg1, 0, d);
  if (item2 >= 0) CallPlot(item2, filter_text_, alg2, 4, d);
}

void THRDBFrm::CallPlot(int item, const std::string& aFilter, const std::string& alg, int v, bool d) {
  switch (RoutineFor(ActiveTab(), item)) {
    case PlotRoutine::MaskWSI: return PlotMaskWSIData(aFilter, alg, v, d);
    case PlotRoutine::MaskMG: return PlotMaskMGData(aFilter, alg, v, d);
    case PlotRoutine::Mask: return PlotMaskData(aFilter, alg, v, d);
    case PlotRoutine::MaskLine: return PlotMaskLineData(aFilter, alg, v, d);
    case PlotRoutine::Plate: return PlotPlateData(aFilter, alg, v, d);
    case PlotRoutine::PlateLine: return PlotPlateLine(aFilter, alg, v, d);
    case PlotRoutine::Struct: return PlotStructData(aFilter, alg, v, d);
    case PlotRoutine::StructMG: return PlotStructMG(aFilter, alg, v, d);
    case PlotRoutine::Film: return PlotFilmData(aFilter, alg, v, d);
  }
}

void THRDBFrm::Plot(PlotRoutine routine, const std::string& aFilter, const std::string& alg, int v, bool d) {
  Data.HRDatabase();  // "not open" before anything else
  const auto series = PlotRows(routine, TableFor(TableOf(routine)), aFilter, alg, v, d, analysis::Analysis().SUnits,
                               [this](int k) { return Lang("MEASRESULT", k); });
  for (const PlotSeries& s : series) MyChart->SetSeries(s);
}

void THRDBFrm::PlotMaskWSIData(const std::string& f, const std::string& a, int v, bool d) { Plot(PlotRoutine::MaskWSI, f, a, v, d); }
void THRDBFrm::PlotMaskMGData(const std::string& f, const std::string& a, int v, bool d) { Plot(PlotRoutine::MaskMG, f, a, v, d); }
void THRDBFrm::PlotMaskData(const std::string& f, const std::string& a, int v, bool d) { Plot(PlotRoutine::Mask, f, a, v, d); }
void THRDBFrm::PlotMaskLineData(const std::string& f, const std::string& a, int v, bool d) { Plot(PlotRoutine::MaskLine, f, a, v, d); }
void THRDBFrm::PlotPlateData(const std::string& f, const std::string& a, int v, bool d) { Plot(PlotRoutine::Plate, f, a, v, d); }
void THRDBFrm::PlotPlateLine(const std::string& f, const std::string& a, int v, bool d) { Plot(PlotRoutine::PlateLine, f, a, v, d); }
void THRDBFrm::PlotStructData(const std::string& f, const std::string& a, int v, bool d) { Plot(PlotRoutine::Struct, f, a, v, d); }
void THRDBFrm::PlotStructMG(const std::string& f, const std::string& a, int v, bool d) { Plot(PlotRoutine::StructMG, f, a, v, d); }
void THRDBFrm::PlotFilmData(const std::string& f, const std::string& a, int v, bool d) { Plot(PlotRoutine::Film, f, a, v, d); }

void THRDBFrm::MyChartClickSeries(int series, int valueIndex) {
  // Running numbers (a plot not by date) are no stored date-times: the row stays.
  if (!MyChart->ByDate() || !Data.Connected()) return;
  if (series < 0 || series >= TDBChart::kSeries || valueIndex < 0 || valueIndex >= MyChart->PointCount(series)) return;
  ActiveTable().Locate("DateTime", platform::data::Variant::FromDate(MyChart->XValue(series, valueIndex)), {});
}

void THRDBFrm::CreateStatPDFClick() {
  if (!CalRepFrm) throw std::runtime_error("The report builder is not connected to the archive window: no history report was made.");
  CalRepFrm->CreatePDF(10, true);
}

void THRDBFrm::SaveToTxT(const std::string& Filename, orv::TORVTable& mytable) { archive::SaveToTxT(Filename, mytable); }

void THRDBFrm::StatSavebtnClick() {
  platform::ui::FileDialogOptions o;
  o.filter = "Text file (*.txt)|*.txt|Excel Sheet (*.xls)|*.xls";
  o.default_ext = ".xls";
  const std::optional<std::string> file = platform::ui::Services().SaveFileDialog(o);
  if (!file) return;
  const size_t slash = file->find_last_of('/');
  const size_t dot = file->find_last_of('.');
  const std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : file->substr(dot);
  orv::TORVTable& table = ActiveTable();
  if (ext == ".txt") {
    SaveToTxT(*file, table);
  } else if (ext == ".xls") {
    platform::xls::TDataToXLS* writers[4] = {&LAMSDataToXLS, &PlateDataToXLS, &StructureDataToXLS, &FILMDataToXLS};
    const HistoryTab tab = ActiveTab();
    platform::xls::TDataToXLS& w = *writers[tab == HistoryTab::Other ? 0 : static_cast<int>(tab)];
    w.DataSet = &table;
    w.SaveDatasetAs(*file);
  }
}

HistorySource& THRDBFrm::History() { return *history_; }

// ---- what the history report reads ----

std::vector<HistorySource::FilterLine> THRDBFrm::HistoryView::FilterLines() {
  THRDBFrm& f = frm_;
  using platform::data::DateToStr;
  return {{f.FromLabel->text().toStdString(), DateToStr(DateOf(f.FromDT))},
          {f.Tolabel->text().toStdString(), DateToStr(DateOf(f.ToDT))},
          {f.JobIDLAbel->text().toStdString(), f.JobIDEdit->text().toStdString()},
          {f.PlateLabel->text().toStdString(), f.PlateEdit->text().toStdString()},
          {f.UserLabel->text().toStdString(), f.UserEdit->text().toStdString()},
          {f.AlgLabel->text().toStdString(), f.AlgList->currentText().toStdString()}};
}

int THRDBFrm::HistoryView::ChartWidth() { return std::max(1, frm_.MyChart->width()); }
int THRDBFrm::HistoryView::ChartHeight() { return std::max(1, frm_.MyChart->height()); }

void THRDBFrm::HistoryView::PaintChart(platform::Bitmap& target) {
  QImage img = frm_.MyChart->Render(target.Width(), target.Height());
  // A black frame around the white field, as the report prints it.
  QPainter frame(&img);
  frame.setPen(Qt::black);
  frame.drawRect(0, 0, img.width() - 1, img.height() - 1);
  frame.end();
  for (int y = 0; y < target.Height(); ++y) {
    const uchar* s = img.constScanLine(y);
    uint8_t* d = target.ScanLine(y);
    for (int x = 0; x < target.Width(); ++x) {
      // RGB to the bitmap's BGR.
      d[3 * x] = s[3 * x + 2];
      d[3 * x + 1] = s[3 * x + 1];
      d[3 * x + 2] = s[3 * x];
    }
  }
}

int THRDBFrm::HistoryView::AlgItemIndex() { return frm_.AlgList->currentIndex(); }

void THRDBFrm::HistoryView::BeginRows() {
  SetRows(frm_.Data.Connected() ? &frm_.ActiveTable() : nullptr);
  DataSetHistory::BeginRows();
}

void THRDBFrm::HistoryView::First() {
  SetRows(frm_.Data.Connected() ? &frm_.ActiveTable() : nullptr);
  DataSetHistory::First();
}

}  // namespace archive
