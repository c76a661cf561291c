// Reports over a real archive file of our engine: the measurement reports append their rows
// to it (date-time, report path and values as the file name and the printed date say), and
// the history report prints rows read back from it through the table's filter.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "archive/cal_rep_builder.h"
#include "archive/hr_db_data.h"
#include "archive/report_history.h"
#include "archive/tests/report_test_support.h"
#include "cmake/test_tools.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "dbengine/sql/orv_expressions.h"
#include "platform/base/clock.h"
#include "platform/data/data_source.h"
#include "platform/data/field.h"
#include "platform/image/canvas.h"
#include "platform/image/jpeg_codec.h"
#include "platform/ui/scripted_ui.h"

namespace archive {
namespace {

using namespace testing;
using quirvel::testing::RunTool;

platform::TDateTime At(int y, int mo, int d, int h, int mi, int s, int ms) {
  return platform::EncodeDate(y, mo, d) + platform::EncodeTime(h, mi, s, ms);
}

// The file stamps and printed dates of date-times as Python's datetime writes them (one
// interpreter for all of them: starting one is the slow part).
std::vector<std::pair<std::string, std::string>> PythonStamps(const std::vector<platform::TDateTime>& dts) {
  std::string days;
  for (platform::TDateTime dt : dts) {
    char v[40];
    std::snprintf(v, sizeof v, "%.17g,", dt);
    days += v;
  }
  const std::string code =
      "import datetime as d\n"
      "for x in [" + days + "]:\n"
      "  t = d.datetime(1899, 12, 30) + d.timedelta(days=x)\n"
      "  print(t.strftime('%Y%m%d_%H%M%S'), t.strftime('%d.%m.%Y-%H:%M:%S'))\n";
  std::istringstream out(RunTool("python3 -c \"" + code + "\"", false).output);
  std::vector<std::pair<std::string, std::string>> stamps;
  std::string stamp, printed;
  while (out >> stamp >> printed) stamps.emplace_back(stamp, printed);
  return stamps;
}

// One row of an archive table as the reports care about it.
struct StoredRow {
  platform::TDateTime DT = 0;
  std::string Algorithm, PDF, JOBID, DOTAREA;
};

class ReportArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.Startup();
    CreateArchiveTemplate(path);
    Open();
    rep.Clock = &clock;
    rep.Archive = data.get();
    rep.Launcher = nullptr;
  }
  void TearDown() override {
    data.reset();
    engine.Shutdown();
  }
  void Open() {
    data = std::make_unique<THRDBData>();
    data->HomeDir = home.Path();
    data->JobSource = [this] { return ctx.Job.Job; };
    data->SetDatabaseFileName(path);
    data->OpenHRDB();
  }
  // A fresh connection to the file, so that what is read is what was written.
  void Reopen() {
    data.reset();
    Open();
    rep.Archive = data.get();
  }
  std::vector<StoredRow> Rows(orv::TORVTable& (THRDBData::*table)() const) {
    orv::TORVTable& t = ((*data).*table)();
    std::vector<StoredRow> rows;
    for (t.First(); !t.Eof(); t.Next()) {
      const auto text = [&](const char* c) { return t.FieldByName(c)->AsString(); };
      rows.push_back({t.FieldByName("DateTime")->AsDateTime(), text("Algorithm"), text("PDF"), text("JOBID"),
                      t.FindField("DOTAREA") ? text("DOTAREA") : text("Structure")});
    }
    return rows;
  }

  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped_ui{ui};
  orv::TORVScopedExpressionEngine expressions;
  orv::testing::ScratchDir dir;
  std::string path = dir.Path() + "/QUIRVEL.orv";
  orv::TORVEngine engine;
  std::unique_ptr<THRDBData> data;
  TempHome home;
  platform::ManualClock clock{At(2024, 6, 13, 9, 30, 5, 250)};
  TCalRep rep;
  ReportContext ctx = MakeContext(home.Path());
};

TEST_F(ReportArchiveTest, EachMeasurementReportStampsItsFileItsPageAndItsRowAlike) {
  using analysis::MType;
  const struct {
    int kind;
    orv::TORVTable& (THRDBData::*table)() const;
    MType type;
    platform::TDateTime at;
    const char* area;  // DOTAREA, or Structure, as stored
  } cases[] = {
      {rkLAMS, &THRDBData::LAMSTAB, analysis::MT_LAMSDOT, At(2024, 6, 13, 9, 30, 5, 250), "3.00%"},
      {rkPlate, &THRDBData::PLATETAB, analysis::MT_PLATEDOT, At(2024, 12, 31, 23, 59, 59, 999), "4.00%"},
      {rkStructure, &THRDBData::SPLATETAB, analysis::MT_PLATEWSIAREA, At(2000, 2, 29, 0, 0, 0, 0), "5.00%"},
      {rkFilm, &THRDBData::FILMTAB, analysis::MT_FILMDOT, At(2026, 1, 2, 3, 4, 5, 6), "6.00%"},
      {rkLAMSStat, &THRDBData::LAMSTAB, analysis::MT_LAMSWSI, At(2026, 7, 8, 12, 0, 0, 500), "7.00%"},
      {rkPlateStat, &THRDBData::PLATETAB, analysis::MT_NXBURL, At(2026, 7, 8, 12, 0, 1, 0), "8.00%"},
      {rkStructStat, &THRDBData::SPLATETAB, analysis::MT_PLATEMG, At(2026, 7, 8, 12, 0, 2, 0), "9.00"},
  };
  // The captured image goes into every row as PNG: a small one keeps the test quick.
  ctx.ibmp = platform::Bitmap(160, 128);
  std::vector<std::string> files;
  int k = 0;
  for (const auto& c : cases) {
    clock.Set(c.at);
    ctx.MESSTYPE = c.type;
    ctx.MyMess.aType = c.type;
    ctx.MyMess.DotArea = 3 + k++;
    ctx.Job.Job.JobID = "J-" + std::to_string(c.kind);
    files.push_back(rep.CreatePDF(ctx, c.kind, false));
  }
  // Read back through a fresh connection to the file: one row per report, in its kind's table.
  Reopen();
  std::map<std::string, std::pair<StoredRow, orv::TORVTable& (THRDBData::*)() const>> stored;
  for (auto table : {&THRDBData::LAMSTAB, &THRDBData::PLATETAB, &THRDBData::SPLATETAB, &THRDBData::FILMTAB}) {
    for (const StoredRow& row : Rows(table)) stored[row.PDF] = {row, table};
  }
  EXPECT_EQ(stored.size(), std::size(cases));
  // Python's stamps of the clock readings, then of the stored date-times.
  std::vector<platform::TDateTime> dts;
  for (const auto& c : cases) dts.push_back(c.at);
  for (const std::string& fn : files) dts.push_back(stored[fn].first.DT);
  const auto stamps = PythonStamps(dts);
  ASSERT_EQ(stamps.size(), 2 * std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const std::string& fn = files[i];
    const auto [file_stamp, printed] = stamps[i];
    EXPECT_EQ(fn, home.Path() + "/Reports/QUIRVEL_" + file_stamp + ".pdf");
    EXPECT_EQ(RunTool("qpdf --check '" + fn + "'").exit_code, 0) << fn;
    const std::string text = RunTool("pdftotext '" + fn + "' -", false).output;
    EXPECT_NE(text.find(printed), std::string::npos) << c.kind << ": no " << printed << "\n" << text;

    ASSERT_TRUE(stored.count(fn)) << c.kind;
    const StoredRow& row = stored[fn].first;
    EXPECT_EQ(stored[fn].second, c.table) << c.kind << " went to another table";
    EXPECT_EQ(row.PDF, fn);
    EXPECT_EQ(row.Algorithm, analysis::MTYPENAMES[c.type]);
    EXPECT_EQ(row.JOBID, "J-" + std::to_string(c.kind));
    EXPECT_EQ(row.DOTAREA, c.area);
    // The row's date and time to the second, as Python reads the stored value.
    EXPECT_EQ(stamps[std::size(cases) + i], stamps[i]) << c.kind;
    EXPECT_NEAR(row.DT, c.at, 0.5 / 86400e3) << c.kind;
  }
}

TEST_F(ReportArchiveTest, TwoReportsInOneSecondGiveTwoFilesAndTwoRows) {
  const std::string a = rep.CreatePDF(ctx, rkPlate, false);
  clock.Advance(700);  // still 09:30:05
  const std::string b = rep.CreatePDF(ctx, rkPlate, false);
  ASSERT_NE(a, b);
  const std::string base = home.Path() + "/Reports/QUIRVEL_20240613_093005";
  EXPECT_EQ(a, base + ".pdf");
  EXPECT_EQ(b, base + "_2.pdf");
  for (const std::string& fn : {a, b}) {
    EXPECT_EQ(RunTool("qpdf --check '" + fn + "'").exit_code, 0) << fn;
    // Each file's footer names the file itself.
    EXPECT_NE(RunTool("pdftotext '" + fn + "' -", false).output.find(fn), std::string::npos) << fn;
  }
  Reopen();
  const std::vector<StoredRow> rows = Rows(&THRDBData::PLATETAB);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].PDF, a);
  EXPECT_EQ(rows[1].PDF, b);
  const auto stamps = PythonStamps({rows[0].DT, rows[1].DT});
  ASSERT_EQ(stamps.size(), 2u);
  EXPECT_EQ(stamps[0].second, "13.06.2024-09:30:05");
  EXPECT_EQ(stamps[1].second, "13.06.2024-09:30:05");
}

TEST_F(ReportArchiveTest, AReportThatFailsStoresNoRow) {
  ReportContext broken = MakeContext(home.Path());
  broken.Controls = ReportControls();
  EXPECT_THROW(rep.CreatePDF(broken, rkLAMS, false), EReportError);
  Reopen();
  EXPECT_TRUE(Rows(&THRDBData::LAMSTAB).empty());
  EXPECT_FALSE(std::filesystem::exists(home.Path() + "/Reports/QUIRVEL_20240613_093005.pdf"));
}

// ---- the history report over the archive table ----

// The archive window as a history report sees it: its filter lines and a chart the test
// paints, its MASK tab with the pixel-pattern entry chosen, and the archive's MASK table.
class WindowHistory : public DataSetHistory {
 public:
  std::vector<FilterLine> FilterLines() override {
    return {{"From", "2024-06-13"}, {"To", "2024-06-14"}, {"Job ID", "%"},
            {"Plate", "%"},         {"Operator", "%"},    {"Algorithm", "Mask pixel pattern"}};
  }
  int ChartWidth() override { return 640; }
  int ChartHeight() override { return 320; }
  // A green block in the middle: easy to find again in the extracted image.
  void PaintChart(platform::Bitmap& target) override {
    platform::Canvas c(target);
    c.Brush().Color = platform::RGBColor(0, 160, 0);
    c.Pen().Color = platform::RGBColor(0, 160, 0);
    c.Rectangle(200, 100, 440, 220);
    painted_size = std::to_string(target.Width()) + "x" + std::to_string(target.Height());
  }
  HistoryTab ActiveTab() override { return HistoryTab::MASK; }
  int AlgItemIndex() override { return 0; }
  std::string painted_size;
};

TEST_F(ReportArchiveTest, HistoryOf300FilteredArchiveRowsFillsThreeTablePages) {
  // 300 pixel-pattern rows, and between them 30 dot-area rows the filter leaves out.
  orv::TORVTable& mask = StoreMaskHistory(*data, 300);
  ASSERT_EQ(mask.RecordCount(), 300);
  mask.First();
  const std::string first_date = mask.FieldByName("DateTime")->AsString();
  mask.Last();
  const std::string last_date = mask.FieldByName("DateTime")->AsString();

  // The window's grid is bound to the table: it follows the walk once, at its end.
  platform::data::TDataSource grid(&mask);
  int grid_changes = 0;
  grid.OnDataChange = [&](platform::data::TDataSource&, platform::data::TField*) { ++grid_changes; };
  WindowHistory history;
  history.SetRows(&mask);
  ctx.History = &history;
  ctx.SUnits = 1;
  const std::string fn = rep.CreatePDF(ctx, rkHistory, false);
  EXPECT_LE(grid_changes, 1);
  EXPECT_FALSE(mask.ControlsDisabled());
  EXPECT_EQ(fn, home.Path() + "/PLOTReports/QUIRVEL_20240613_093005.pdf");
  EXPECT_TRUE(mask.Eof()) << "the table is left after its last record";
  EXPECT_EQ(history.painted_size, "640x320");
  EXPECT_EQ(mask.RecordCount(), 300) << "the filter stays";

  const PdfFacts f(fn);
  KeepSample(fn, "kind10_history", 2);
  EXPECT_EQ(f.qpdf_exit, 0) << f.qpdf;
  EXPECT_NE(f.info.find("Title:           QUIRVEL REPORT"), std::string::npos) << f.info;
  EXPECT_NE(f.info.find("595 x 842 pts (A4)"), std::string::npos) << f.info;
  EXPECT_EQ(f.Pages(), 4);
  EXPECT_EQ(f.ImageSizes(), (std::vector<std::string>{"200x78", "640x320"})) << f.images;
  EXPECT_NE(f.fonts.find("yes yes"), std::string::npos) << f.fonts;

  // The date column's words at X 24 on each page, and the page labels.
  const std::string day = first_date.substr(0, first_date.find(' '));
  std::vector<int> lines(5, 0);
  std::vector<std::string> dates;
  for (const PdfFacts::Word& w : f.Words()) {
    if (w.page >= 2 && w.text == day && std::abs(w.xMin - 24) <= 0.5) {
      ++lines[static_cast<size_t>(w.page)];
      EXPECT_NEAR(w.yMin, 42 + 6 * ((lines[static_cast<size_t>(w.page)] - 1)), 1);
    }
    if (w.text == "77.00%") ADD_FAILURE() << "a filtered-out row was printed on page " << w.page;
  }
  EXPECT_EQ(lines, (std::vector<int>{0, 0, 127, 127, 46}));
  // The first and the last row as the table's display text gives them; the values of the inch
  // setting (40.00 L/cm per inch, 25.40 µm and 2.54 µm in mil) on every table page.
  EXPECT_NE(f.layout.find(first_date), std::string::npos) << first_date;
  EXPECT_NE(f.layout.find(last_date), std::string::npos) << last_date;
  EXPECT_NE(f.layout.find("TOL ±10%"), std::string::npos);
  std::istringstream layout(f.layout);
  std::string line;
  int converted = 0;
  while (std::getline(layout, line)) {
    if (line.find(day) == std::string::npos || line.find("From") != std::string::npos) continue;
    EXPECT_NE(line.find("12.30%"), std::string::npos) << line;
    EXPECT_NE(line.find("101.60"), std::string::npos) << line;
    EXPECT_NE(line.find("1.00"), std::string::npos) << line;
    EXPECT_NE(line.find("0.10"), std::string::npos) << line;
    ++converted;
  }
  EXPECT_EQ(converted, 300);
  for (const char* filter : {"Mask pixel pattern", "2024-06-14", "Operator"})
    EXPECT_NE(f.layout.find(filter), std::string::npos) << filter;

  // The chart as painted: a black frame, a white field and the green block.
  TempHome out;
  RunTool("pdfimages -j -f 1 -l 1 '" + fn + "' '" + out.Path() + "/im'");
  const platform::Bitmap chart = platform::LoadJpeg(out.Path() + "/im-001.jpg");
  ASSERT_EQ(chart.Width(), 640);
  const auto px = [&](int x, int y) { return chart.ScanLine(y) + 3 * x; };  // blue, green, red
  EXPECT_LT(px(0, 160)[1], 60) << "frame";
  EXPECT_GT(px(100, 50)[0], 200) << "field";
  EXPECT_GT(px(320, 160)[1], 120) << "block";
  EXPECT_LT(px(320, 160)[2], 60) << "block";
}

TEST_F(ReportArchiveTest, HistoryOfAnEmptyFilterAndOfAMissingColumn) {
  data->AddPLATEMessung(At(2024, 6, 13, 8, 0, 0, 0), platform::Bitmap(8, 8), ctx.MyMess, "");
  orv::TORVTable& mask = data->LAMSTAB();
  WindowHistory history;
  history.SetRows(&mask);
  ctx.History = &history;
  // No MASK row: the table pages hold the label and the header only.
  const std::string fn = rep.CreatePDF(ctx, rkHistory, false);
  EXPECT_EQ(RunTool("qpdf --check '" + fn + "'").exit_code, 0);
  const PdfFacts f(fn);
  EXPECT_EQ(f.Pages(), 2) << f.info;
  EXPECT_NE(f.layout.find("PAGE: 1"), std::string::npos) << f.layout;
  EXPECT_NE(f.layout.find("TOL ±%"), std::string::npos) << f.layout;

  // The PLATE table has no AVGDiameter: the table's own error ends the report, no file is left.
  history.SetRows(&data->PLATETAB());
  clock.Advance(1000);
  ASSERT_FALSE(data->PLATETAB().ControlsDisabled());
  try {
    rep.CreatePDF(ctx, rkHistory, false);
    ADD_FAILURE() << "a report without its column was made";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("AVGDiameter"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(home.Path() + "/PLOTReports/QUIRVEL_20240613_093006.pdf"));
  EXPECT_FALSE(data->PLATETAB().ControlsDisabled()) << "a failed report leaves the grid following its table";
}

}  // namespace
}  // namespace archive
