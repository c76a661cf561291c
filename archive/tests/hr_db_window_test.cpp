// The archive window with a real archive file: the algorithm lists per tab, the filter and the
// chart a plot makes, a chart click locating its row, the export button, what the history report
// reads, and a picture of the window with a chart over a few hundred rows.
#include "archive/hr_db.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <fstream>

#include "analysis/analyze.h"
#include "archive/db_chart.h"
#include "archive/tests/archive_rows.h"
#include "cmake/xvfb_display.h"
#include "dbengine/access/orv_main_table.h"
#include "platform/base/text_file.h"
#include "platform/data/field.h"

// Font and X libraries keep their caches to the end of the process by design.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libxcb\nleak:libX11.so\nleak:libdbus-1.so\n";
}

namespace archive {
namespace {

using testing::ParseDateTime;

QApplication& App() {
  static int argc = 1;
  static char name[] = "quirvel";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class ArchiveWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The picture is taken on a virtual X display when one can be started; the display is
    // chosen before the toolkit starts (ctest runs each test in a process of its own).
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    if (!QApplication::instance() && name == "Screenshot") {
      static auto* xvfb = new testing_support::Xvfb;  // stopped with the process
      if (!xvfb->Display().empty()) {
        setenv("DISPLAY", xvfb->Display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
      }
    }
    App();
    engine.Startup();
    CreateArchiveTemplate(path);
    frm = std::make_unique<THRDBFrm>();
    frm->Data.HomeDir = dir.Path();
    frm->Data.LanguageLine = [](std::string_view section, int offset) {
      return std::string(section) + "+" + std::to_string(offset);
    };
    frm->SetDatabaseFileName(path);
    frm->OpenHRDB();
    rows = testing::MixedRows(HistoryTab::PLATE, 300);
    testing::AddRows(frm->Data.PLATETAB(), rows);
    frm->DBPages->setCurrentWidget(frm->PLATE);
    frm->FormActivate();
    analysis::Analysis().SUnits = 0;
  }
  void TearDown() override {
    analysis::Analysis().SUnits = 0;
    frm.reset();
    engine.Shutdown();
  }
  int Count(const char* alg) const {
    int n = 0;
    for (const auto& r : rows) n += r.Texts.at("Algorithm") == alg;
    return n;
  }

  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped{ui};
  orv::testing::ScratchDir dir;
  std::string path = dir.File("archive.orv");
  orv::TORVEngine engine;
  orv::TORVScopedExpressionEngine expressions;
  std::unique_ptr<THRDBFrm> frm;
  std::vector<testing::Row> rows;
};

TEST_F(ArchiveWindowTest, ListsFilterPlotAndClick) {
  // The lists of the PLATE tab: its five types in the operator's language, none in the second.
  ASSERT_EQ(frm->AlgList->count(), 5);
  EXPECT_EQ(frm->AlgList->itemText(0).toStdString(), "MMODES+6");  // PLATE DOT AREA, type 5
  EXPECT_EQ(frm->AlgList->currentIndex(), 0);
  EXPECT_EQ(frm->AlgList2->count(), 5);
  EXPECT_EQ(frm->AlgList2->currentIndex(), -1);
  EXPECT_EQ(frm->JobIDLAbel->text().toStdString(), "FRMREPORT+1");

  analysis::Analysis().SUnits = 1;
  frm->AlgList->setCurrentIndex(4);   // PLATE LINE WIDTH
  frm->AlgList2->setCurrentIndex(3);  // PLATE BURL
  frm->UserEdit->setText("");
  frm->DataPlotbtnClick();
  EXPECT_EQ(frm->UserEdit->text().toStdString(), "%");
  const std::string to = frm->ToDT->date().toString("yyyy-MM-dd").toStdString();
  EXPECT_EQ(frm->FilterText(), "DateTime >= \"2017-01-01 00:00:00\" AND DateTime <= \"" + to +
                                   " 23:59:59\" AND JOBID LIKE \"%\" AND Plate LIKE \"%\" AND Operator LIKE \"%\" AND "
                                   "(Algorithm = \"PLATE LINE WIDTH\" OR Algorithm = \"PLATE BURL\")");
  TDBChart& chart = *frm->MyChart;
  EXPECT_EQ(chart.Title(), "PLATE");
  EXPECT_EQ(chart.PointCount(0), Count("PLATE LINE WIDTH"));
  EXPECT_EQ(chart.SeriesTitle(0), "MEASRESULT+7 mil");
  EXPECT_TRUE(chart.SeriesActive(0) && chart.SeriesInLegend(0));
  // PLATE BURL is drawn by the plate routine: dot area, ruling, edge factor in series 4 to 6.
  for (int s : {1, 2, 3, 7}) EXPECT_FALSE(chart.SeriesActive(s) || chart.SeriesInLegend(s)) << s;
  EXPECT_EQ(chart.PointCount(4), Count("PLATE BURL"));
  EXPECT_EQ(chart.PointCount(5), Count("PLATE BURL"));
  EXPECT_EQ(chart.SeriesTitle(5), "LPI");
  // The first line-width row is row 4: 20 + 4 * 1.27 µm, in mil.
  EXPECT_NEAR(chart.YValue(0, 0), 25.08 / 25.4, 1e-12);
  EXPECT_EQ(chart.XValue(0, 0), ParseDateTime(rows[4].DateTime));

  // The table stays filtered: the grid and the exports see the plotted rows.
  orv::TORVTable& plate = frm->Data.PLATETAB();
  EXPECT_TRUE(plate.Filtered());
  int filtered = 0;
  for (plate.First(); !plate.Eof(); plate.Next()) ++filtered;
  EXPECT_EQ(filtered, Count("PLATE LINE WIDTH") + Count("PLATE BURL"));

  // A click on a point makes its row the current one.
  plate.First();
  const int k = chart.PointCount(4) / 2;
  frm->MyChartClickSeries(4, k);
  EXPECT_EQ(plate.FieldByName("DateTime")->AsDateTime(), chart.XValue(4, k));
  EXPECT_EQ(plate.FieldByName("Algorithm")->AsString(), "PLATE BURL");

  // No report builder attached: the history button says so rather than doing nothing.
  EXPECT_THROW(frm->CreateStatPDFClick(), std::runtime_error);

  // What a history report reads: the filter lines, the filtered rows, the chart as a bitmap.
  HistorySource& h = frm->History();
  const auto lines = h.FilterLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].Value, "2017-01-01");
  EXPECT_EQ(lines[2].Caption, "FRMREPORT+1");
  EXPECT_EQ(lines[5].Value, "MMODES+10");
  EXPECT_EQ(h.ActiveTab(), HistoryTab::PLATE);
  EXPECT_EQ(h.AlgItemIndex(), 4);
  int n = 0;
  h.BeginRows();
  for (h.First(); !h.Eof(); h.Next()) {
    const std::string alg = h.FieldText("Algorithm");
    EXPECT_TRUE(alg == "PLATE LINE WIDTH" || alg == "PLATE BURL") << alg;
    ++n;
  }
  h.EndRows();
  EXPECT_EQ(n, filtered);
  platform::Bitmap chartImage(400, 200);
  h.PaintChart(chartImage);
  int colored = 0;  // series 0 is drawn in 128, 64, 64
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 400; ++x) {
      const uint8_t* p = chartImage.ScanLine(y) + 3 * x;
      colored += std::abs(p[2] - 128) < 40 && std::abs(p[1] - 64) < 40 && std::abs(p[0] - 64) < 40;
    }
  EXPECT_GT(colored, 20);
  const uint8_t* corner = chartImage.ScanLine(0);
  EXPECT_EQ(corner[0] + corner[1] + corner[2], 0);  // the frame

  // Not by date: the points are numbered, and a click finds no row.
  frm->ByDate->setChecked(false);
  frm->ByDateClick();
  EXPECT_EQ(chart.XValue(0, 0), 1);
  EXPECT_EQ(chart.XValue(0, 2), 3);
  plate.First();
  const double first = plate.FieldByName("DateTime")->AsDateTime();
  frm->MyChartClickSeries(0, 2);
  EXPECT_EQ(plate.FieldByName("DateTime")->AsDateTime(), first);

  // Show all, then clear.
  frm->ShowAllbx->setChecked(true);
  frm->ShowAllbxClick();
  EXPECT_FALSE(plate.Filtered());
  frm->ClearFiltersClick();
  EXPECT_EQ(plate.Filter(), "");
  for (int s = 0; s < TDBChart::kSeries; ++s) EXPECT_FALSE(chart.SeriesActive(s) || chart.SeriesInLegend(s));
}

TEST_F(ArchiveWindowTest, ExportButtonWritesTheActiveTableByExtension) {
  frm->AlgList->setCurrentIndex(0);
  frm->DataPlotbtnClick();
  const int plotted = frm->MyChart->PointCount(0);
  ASSERT_GT(plotted, 0);
  struct Case {
    const char* name;
    bool written;
  } cases[] = {{"e.txt", true}, {"e.xls", true}, {"e.TXT", false}, {"e.csv", false}};
  for (const Case& c : cases) {
    ui.QueueSaveFile(dir.File(c.name));
    frm->StatSavebtnClick();
    EXPECT_EQ(std::filesystem::exists(dir.File(c.name)), c.written) << c.name;
  }
  // The text export holds the filtered rows.
  std::ifstream f(dir.File("e.txt"), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), plotted + 1);
  ui.QueueSaveFile(std::nullopt);
  frm->StatSavebtnClick();  // cancelled: nothing
}

// The window with a chart over a few hundred rows, on a virtual X display when there is one.
TEST_F(ArchiveWindowTest, Screenshot) {
  // The shipped English texts.
  const auto lines = std::make_shared<std::vector<std::string>>(
      platform::ReadTextFileLines(std::string(QUIRVEL_SOURCE_DIR) + "/assets/LANGUAGE/English.txt"));
  frm->Data.LanguageLine = [lines](std::string_view section, int offset) {
    for (size_t i = 0; i < lines->size(); ++i)
      if ((*lines)[i] == section && i + static_cast<size_t>(offset) < lines->size()) return (*lines)[i + static_cast<size_t>(offset)];
    return std::string("?");
  };
  frm->FormActivate();
  frm->AlgList->setCurrentIndex(0);
  frm->AlgList2->setCurrentIndex(4);
  frm->DataPlotbtnClick();
  frm->resize(1400, 900);
  frm->show();
  for (int i = 0; i < 20; ++i) QApplication::processEvents();
  const QPixmap shot = frm->grab();
  const std::string out = testing::OutputDir() + "/archive_window.png";
  ASSERT_TRUE(shot.save(QString::fromStdString(out)));
  EXPECT_GT(shot.width(), 1000);
}

}  // namespace
}  // namespace archive

