#include "archive/hr_db.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "archive/db_chart.h"
#include "archive/db_grid.h"
#include "archive/hr_db_history.h"
#include "dbengine/access/orv_main_table.h"
#include "platform/data/data_source.h"
#include "platform/data/database_error.h"
#include "platform/data/field.h"
#include "platform/image/png_codec.h"
#include "platform/ui/ui_services.h"

namespace archive {

namespace {

// The navigator of a grid: first, prior, next, last, delete, post, cancel, refresh.
QWidget* Navigator(QWidget* parent, TDBGrid* grid, const std::function<void(const std::function<void()>&)>& guarded) {
  auto* bar = new QWidget(parent);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(0, 0, 0, 0);
  auto add = [&](const char* text, std::function<void(platform::data::TDataSet&)> action) {
    auto* b = new QToolButton(bar);
    b->setText(text);
    row->addWidget(b);
    QObject::connect(b, &QToolButton::clicked, bar, [grid, action, guarded] {
      guarded([&] {
        platform::data::TDataSource* s = grid->Model().Grid().DataSource();
        if (s && s->DataSet() && s->DataSet()->Active()) action(*s->DataSet());
      });
    });
  };
  add("|<", [](auto& d) { d.First(); });
  add("<", [](auto& d) { d.Prior(); });
  add(">", [](auto& d) { d.Next(); });
  add(">|", [](auto& d) { d.Last(); });
  add("-", [](auto& d) {
    if (platform::ui::Services().MessageBox("Delete record?", "QUIRVEL", platform::ui::MsgButtons::OkCancel,
                                            platform::ui::MsgKind::Question) == platform::ui::ModalResult::Ok)
      d.Delete();
  });
  add("\u2713", [](auto& d) { d.Post(); });
  add("x", [](auto& d) { d.Cancel(); });
  add("\u21BB", [](auto& d) { d.Refresh(); });
  row->addStretch();
  return bar;
}

}  // namespace

THRDBFrm::THRDBFrm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("HRDBFrm");
  setWindowTitle("QUIRVEL Database");
  resize(1200, 800);
  auto* layout = new QVBoxLayout(this);
  auto guarded = [this](const std::function<void()>& h) { Guarded(h); };

  // The button row, from the left.
  auto* buttons = new QHBoxLayout;
  auto button = [&](QPushButton*& b, const char* name, const char* text) {
    b = new QPushButton(text, this);
    b->setObjectName(name);
    buttons->addWidget(b);
  };
  button(ClearFilters, "ClearFilters", "Clear filters");
  button(DataPlotbtn, "DataPlotbtn", "Plot");
  button(UploadImg, "UploadImg", "Upload image");
  button(Reportbtn, "Reportbtn", "Report");
  button(CreateStatPDF, "CreateStatPDF", "History report");
  button(StatSavebtn, "StatSavebtn", "Export");
  button(Cancelbtn, "Cancelbtn", "Close");
  buttons->addStretch();
  layout->addLayout(buttons);

  // The filter panel with the chart beside it.
  auto* middle = new QHBoxLayout;
  auto* panel = new QWidget(this);
  panel->setObjectName("FilterPanel");
  BuildFilterPanel(panel);
  middle->addWidget(panel);
  MyChart = new TDBChart(this);
  MyChart->setMinimumHeight(300);
  middle->addWidget(MyChart, 1);
  layout->addLayout(middle, 3);

  DBPages = new QTabWidget(this);
  DBPages->setObjectName("DBPages");
  layout->addWidget(DBPages, 2);
  struct PageSpec {
    QWidget** page;
    TDBGrid** grid;
    const char* name;
    const char* gridName;
  };
  for (const PageSpec& p : {PageSpec{&MASK, &DBMASKGrid, "MASK", "DBMASKGrid"},
                            PageSpec{&PLATE, &DBPlateGrid, "PLATE", "DBPlateGrid"},
                            PageSpec{&STRUCTURE, &DBSTRUCTGrid, "STRUCTURE", "DBSTRUCTGrid"},
                            PageSpec{&FILM, &DBFilmGrid, "FILM", "DBFilmGrid"}}) {
    *p.page = new QWidget;
    (*p.page)->setObjectName(p.name);
    auto* v = new QVBoxLayout(*p.page);
    *p.grid = new TDBGrid(*p.page);
    (*p.grid)->setObjectName(p.gridName);
    v->addWidget(Navigator(*p.page, *p.grid, guarded));
    v->addWidget(*p.grid);
    DBPages->addTab(*p.page, p.name);
  }
  connect(DBMASKGrid, &TDBGrid::TitleClick, this,
          [this](const QString& f) { Guarded([&] { DBMASKGridTitleClick(f.toStdString()); }); });
  connect(DBPages, &QTabWidget::currentChanged, this, [this] { Guarded([this] { DBPagesChange(); }); });

  connect(CompressDB, &QToolButton::clicked, this, [this] { Guarded([this] { CompressDBClick(); }); });
  connect(UploadImg, &QPushButton::clicked, this, [this] { Guarded([this] { UploadImgClick(); }); });
  connect(Reportbtn, &QPushButton::clicked, this, [this] { Guarded([this] { ReportbtnClick(); }); });
  connect(Cancelbtn, &QPushButton::clicked, this, [this] { CancelbtnClick(); });
  ConnectFilterPanel();
  FormCreate();
}

THRDBFrm::~THRDBFrm() {
  // The grids let go of their sources before the tables go (FormDestroy disconnects).
  for (TDBGrid* g : {DBMASKGrid, DBPlateGrid, DBSTRUCTGrid, DBFilmGrid}) g->SetDataSource(nullptr);
  for (auto& s : sources_) s.reset();
}

void THRDBFrm::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const platform::data::EAbort&) {
    // Already reported by the table's error event.
  } catch (const std::exception& e) {
    platform::ui::Services().MessageBox(e.what(), "QUIRVEL", platform::ui::MsgButtons::Ok,
                                        platform::ui::MsgKind::Error);
  }
}

void THRDBFrm::SetConnected(bool connected) {
  if (!connected) Data.Disconnect();
  else OpenHRDB();
}

void THRDBFrm::BindGrids() {
  TDBGrid* grids[4] = {DBMASKGrid, DBPlateGrid, DBSTRUCTGrid, DBFilmGrid};
  for (int i = 0; i < 4; ++i) {
    if (!sources_[i]) sources_[i] = std::make_unique<platform::data::TDataSource>();
    orv::TORVTable* tables[4] = {&Data.LAMSTAB(), &Data.PLATETAB(), &Data.SPLATETAB(), &Data.FILMTAB()};
    sources_[i]->SetDataSet(tables[i]);
    if (grids[i]->Model().Grid().DataSource() != sources_[i].get()) grids[i]->SetDataSource(sources_[i].get());
  }
}

void THRDBFrm::OpenHRDB() {
  Data.OpenHRDB();
  BindGrids();
}

HistoryTab THRDBFrm::ActiveTab() const {
  QWidget* w = DBPages->currentWidget();
  if (w == MASK) return HistoryTab::MASK;
  if (w == PLATE) return HistoryTab::PLATE;
  if (w == STRUCTURE) return HistoryTab::STRUCTURE;
  if (w == FILM) return HistoryTab::FILM;
  return HistoryTab::Other;
}

orv::TORVTable& THRDBFrm::ActiveTable() const {
  switch (ActiveTab()) {
    case HistoryTab::PLATE: return Data.PLATETAB();
    case HistoryTab::STRUCTURE: return Data.SPLATETAB();
    case HistoryTab::FILM: return Data.FILMTAB();
    default: return Data.LAMSTAB();
  }
}

void THRDBFrm::UploadImgClick() {
  if (!UploadImage) throw std::runtime_error("The main window does not take uploaded images: nothing was loaded.");
  orv::TORVTable& t = ActiveTable();
  if (!Data.Connected() || !t.Active() || t.RecordCount() == 0) return;
  UploadedImage up;
  up.Tab = ActiveTab();
  up.PDF = t.FieldByName("PDF")->AsString();
  up.Image = platform::DecodePng(t.FieldByName("Image")->AsBytes());
  UploadImage(up);
}

void THRDBFrm::ReportbtnClick() {
  orv::TORVTable& t = ActiveTable();
  if (!Data.Connected() || !t.Active() || t.RecordCount() == 0) return;
  const std::string pdf = t.FieldByName("PDF")->AsString();
  if (pdf.empty() || !OpenDocument) return;
  OpenDocument(pdf);
}

void THRDBFrm::CompressDBClick() {
  platform::ui::UiServices& ui = platform::ui::Services();
  std::string code;
  if (!ui.InputQuery("Password: ", "Insert Password: ", code, true) || code != kCompressAccessCode) return;
  std::string count = "10";
  if (!ui.InputQuery("Number of Connections: ", "Insert number of users (1..500): ", count) || count.empty()) return;
  std::string log;
  {
    // The wait cursor goes when the command ends, also when it fails.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct Restore {
      ~Restore() { QApplication::restoreOverrideCursor(); }
    } restore;
    try {
      log = Data.CompactAndRepair(THRDBData::ParseConnectionCount(count));
    } catch (...) {
      // The archive was opened again; the grids show it before the error does.
      if (Data.Connected()) BindGrids();
      throw;
    }
  }
  BindGrids();
  if (!log.empty()) ui.ShowMessage(log);
}

void THRDBFrm::DBMASKGridTitleClick(const std::string& fieldName) {
  Data.CreateIndex(Data.LAMSTAB(), fieldName, {});
}

}  // namespace archive
