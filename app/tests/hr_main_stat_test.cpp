// The running statistic through the window's buttons: collecting and refusing, the grids of the
// three pages with their units, means and deviations against Python's statistics module, the
// population cycling of the plate page, and the text export read back by Python's csv module.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTableWidget>
#include <QToolButton>
#include <filesystem>
#include <sstream>

#include "analysis/analyze_grid.h"
#include "analysis/mymath.h"
#include "app/tests/main_window_fixture.h"
#include "cmake/test_tools.h"

namespace app {
namespace {

using analysis::TMessung;

// A result of type t whose values all differ, scaled by k.
TMessung Result(analysis::MType t, double k) {
  TMessung m;
  m.aType = t;
  m.DotArea = 20 + k;
  m.LCM = 60 + 0.5 * k;
  m.Alpha = 45 - 0.25 * k;
  m.EdgeFaktor = 1.1 + 0.01 * k;
  m.LineWidth = 30 + k;
  m.LineTol = 2 + 0.1 * k;
  m.Freq1 = 10 + k;
  m.Freq2 = 20 + k;
  m.Periode1 = 254 + k;
  m.Periode2 = 127 + k;
  m.DiamAvg = 30.5 + 0.3 * k;
  m.DiamG = 33 + k;
  m.DiamK = 28 + k;
  m.StdDevDiam = 2 + 0.05 * k;
  m.SizeAvg = 700 + 10 * k;
  m.SizeG = 800 + k;
  m.SizeK = 600 + k;
  m.StdDevSize = 50 + k;
  m.DSTol = 10;
  m.LineLenght = 500;
  m.CountAvg = 100 + static_cast<int32_t>(k);
  m.CountG = 5;
  m.CountK = 3;
  return m;
}

class StatTest : public test::MainWindowTest {
 protected:
  StatTest() {
    Create();
    Activate();
  }
  // A measurement command's end: the result shown, handed to the statistic while it collects.
  void Measure(const TMessung& m) {
    HRMain().MyMess = m;
    frm->st.MESSTYPE = m.aType;
    if (frm->st.StatActive) frm->AddStatistic();
  }
  static std::string Cell(const QTableWidget* g, int col, int row) {
    const QTableWidgetItem* item = g->item(row, col);
    return item ? S(item->text()) : std::string();
  }
  void Units(int units) {
    analysis::Analysis().SUnits = units;
    frm->ApplyUnits();
  }
  int16_t Count() const { return HRMain().StatCount; }
};

TEST_F(StatTest, CollectingRefusingAndTheGridOfTheOwningPage) {
  // A plate result: refused by the LAMS page's add button, taken by the plate page's.
  Measure(Result(analysis::MT_PLATEDOT, 0));
  frm->StatPlusbtn->click();
  EXPECT_FALSE(frm->st.StatActive);
  EXPECT_FALSE(frm->StatPlusbtn->isChecked());
  EXPECT_EQ(Count(), 0);
  frm->StatPPlusbtn->click();
  EXPECT_TRUE(frm->st.StatActive);
  EXPECT_TRUE(frm->StatPPlusbtn->isChecked());
  ASSERT_EQ(Count(), 1);

  // One entry: its values are the means, every deviation 0 with one decimal more (the
  // diameter's with the same decimals).
  const QTableWidget* g = frm->PlateGrid;
  EXPECT_EQ(Cell(g, 0, 0), "# 1");
  EXPECT_EQ(Cell(g, 1, 0), "Mean");
  EXPECT_EQ(Cell(g, 2, 0), "Std. Dev.");
  const std::vector<std::vector<std::string>> one = {{"Dot Area", "20.00", "0.000"},
                                                     {"L/cm", "60.00", "0.000"},
                                                     {"Diameter", "30.50", " 0.00"},
                                                     {"Angle", "45.00", "0.000"},
                                                     {"Edge Factor", " 1.10", "0.000"}};
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Cell(g, c, r + 1), one[r][c]) << r << "," << c;
  }
  EXPECT_EQ(Cell(g, 0, 6), "");
  EXPECT_EQ(Cell(frm->MaskGrid, 0, 0), "");

  // Counts average to the nearest, ties to even: 1 and 2 give 2, 2 and 3 give 2 as well.
  for (auto [first, second] : {std::pair{1, 2}, std::pair{2, 3}}) {
    TMessung b = Result(analysis::MT_PLATEDOT, 2);
    HRMain().StatMess[0].CountAvg = first;
    b.CountAvg = second;
    HRMain().StatCount = 1;
    Measure(b);
    EXPECT_EQ(HRMain().av.CountAvg, 2) << first << ", " << second;
  }
  Measure(Result(analysis::MT_PLATEDOT, 2));

  // Another type is refused silently; the statistic keeps collecting.
  Measure(Result(analysis::MT_PLATESDOT, 3));
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(Cell(g, 0, 0), "# 3");

  // The 101st result is refused; the corner still counts 100.
  for (int i = 3; i < 100; ++i) Measure(Result(analysis::MT_PLATEDOT, i % 7));
  ASSERT_EQ(Count(), 100);
  Measure(Result(analysis::MT_PLATEDOT, 50));
  EXPECT_EQ(Count(), 100);
  EXPECT_EQ(Cell(g, 0, 0), "# 100");
  EXPECT_NE(HRMain().StatMess[99].DotArea, 70);

  // Add and delete of a page: pressing one releases the other, pressing the one down releases
  // it; collection goes on.
  frm->StatPDelbtn->click();
  EXPECT_EQ(Count(), 99);
  EXPECT_EQ(Cell(g, 0, 0), "# 99");
  EXPECT_TRUE(frm->StatPDelbtn->isChecked());
  EXPECT_FALSE(frm->StatPPlusbtn->isChecked());
  EXPECT_TRUE(frm->st.StatActive);
  frm->StatPDelbtn->click();
  EXPECT_FALSE(frm->StatPDelbtn->isChecked());
  EXPECT_EQ(Count(), 98);

  // New empties the statistic and the page's grid, collection stays on.
  frm->NewPStatbtn->click();
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(Cell(g, 0, 0), "");
  EXPECT_EQ(Cell(g, 1, 0), "Mean");
  EXPECT_TRUE(frm->st.StatActive);
  // With collection still on, the next result starts the statistic whatever its type.
  Measure(Result(analysis::MT_FILMDOT, 0));
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(HRMain().StatMess[0].aType, analysis::MT_FILMDOT);
  EXPECT_EQ(Cell(g, 0, 0), "");

  // The add button ends collection, pressed or not.
  frm->StatPPlusbtn->click();
  EXPECT_FALSE(frm->st.StatActive);
  EXPECT_FALSE(frm->StatPPlusbtn->isChecked());

  // A plate statistic emptied with the LAMS page's delete button clears the LAMS grid.
  frm->NewPStatbtn->click();
  Measure(Result(analysis::MT_PLATEDOT, 0));
  frm->StatPPlusbtn->click();
  ASSERT_EQ(Count(), 1);
  frm->StatDelBtn->click();
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(Cell(frm->MaskGrid, 1, 0), "Mean");
  EXPECT_EQ(Cell(g, 0, 0), "# 1");
  // Deleting from an empty statistic stays at 0.
  frm->StatSDelbtn->click();
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(Cell(frm->StructGrid, 2, 0), "Std. Dev.");

  // A LAMS statistic of two.
  frm->st.StatActive = false;
  frm->NewStatbtn->click();
  Measure(Result(analysis::MT_LAMSDOT, 0));
  frm->StatPlusbtn->click();
  Measure(Result(analysis::MT_LAMSDOT, 1));
  ASSERT_EQ(Count(), 2);

  // Only the statistic's type counts: the structure page's add button takes a LAMS result.
  frm->StatPlusbtn->click();
  ASSERT_FALSE(frm->st.StatActive);
  HRMain().MyMess = Result(analysis::MT_LAMSDOT, 2);
  frm->StatSPlusbtn->click();
  EXPECT_TRUE(frm->st.StatActive);
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(Cell(frm->MaskGrid, 0, 4), "Edge Factor");
}

TEST_F(StatTest, UnitsOfTheGrids) {
  struct Case {
    int units;
    analysis::MType type;
    QTableWidget* grid;
    std::vector<std::vector<std::string>> rows;  // head, mean (one entry)
  };
  const std::string micro = "\u00B5m";
  const std::vector<Case> cases = {
      // Line pattern of the LAMS page under µm and L/Inch: the frequencies as stored.
      {2, analysis::MT_LAMSMG, frm->MaskGrid,
       {{"Dot Area", "20.00"}, {"Line Width", "30.00"}, {"\u00B1Line Width", " 2.00"}, {"F1", "10.00"},
        {"F2", "20.00"}}},
      // ... on the structure page multiplied by 2.54.
      {2, analysis::MT_PLATEMG, frm->StructGrid,
       {{"Dot Area", "20.00"}, {"Line Width", "30.00"}, {"\u00B1Line Width", " 2.00"}, {"F1", "25.40"},
        {"F2", "50.80"}}},
      // Mil: lengths divided by 25.4, frequencies per inch on both pages.
      {1, analysis::MT_LAMSMG, frm->MaskGrid,
       {{"Dot Area", "20.00"}, {"Line Width", " 1.18"}, {"\u00B1Line Width", " 0.08"}, {"F1", "25.40"},
        {"F2", "50.80"}}},
      {0, analysis::MT_PLATEMG, frm->StructGrid,
       {{"Dot Area", "20.00"}, {"Line Width", "30.00"}, {"\u00B1Line Width", " 2.00"}, {"F1", "10.00"},
        {"F2", "20.00"}}},
      {2, analysis::MT_LAMSWSI, frm->MaskGrid, {{"Dot Area", "20.00"}, {"L/Inch", "152.40"}, {"Angle", "45.00"}}},
      {1, analysis::MT_PLATEDOT, frm->PlateGrid,
       {{"Dot Area", "20.00"}, {"L/Inch", "152.40"}, {"Diameter", " 1.20"}, {"Angle", "45.00"},
        {"Edge Factor", " 1.10"}}},
      {2, analysis::MT_PLATEDOT, frm->PlateGrid,
       {{"Dot Area", "20.00"}, {"L/Inch", "152.40"}, {"Diameter", "30.50"}, {"Angle", "45.00"},
        {"Edge Factor", " 1.10"}}},
      {1, analysis::MT_LAMSLINE, frm->MaskGrid, {{"Line Width", " 1.18"}}},
      {1, analysis::MT_PLATELINE, frm->PlateGrid, {{"Line Width", " 1.18"}}},
      {0, analysis::MT_PLATEWSI, frm->StructGrid, {{"Structure", "20.00"}}},
      {1, analysis::MT_PLATEWSIAREA, frm->StructGrid,
       {{"Structure Area", "20.00"}, {"L/Inch", "152.40"}, {"Angle", "45.00"}}},
  };
  for (const Case& c : cases) {
    Units(c.units);
    HRMain().StatCount = 0;
    frm->st.StatActive = true;
    Measure(Result(c.type, 0));
    for (size_t r = 0; r < c.rows.size(); ++r) {
      EXPECT_EQ(Cell(c.grid, 0, static_cast<int>(r) + 1), c.rows[r][0]) << c.units << " type " << c.type;
      EXPECT_EQ(Cell(c.grid, 1, static_cast<int>(r) + 1), c.rows[r][1]) << c.units << " type " << c.type << " " << r;
    }
    EXPECT_EQ(Cell(c.grid, 0, static_cast<int>(c.rows.size()) + 1), "");
  }
  // Three decimals: the means with three, the deviations with four.
  analysis::Analysis().Digits = 3;
  Units(0);
  HRMain().StatCount = 0;
  Measure(Result(analysis::MT_LAMSDOT, 0));
  Measure(Result(analysis::MT_LAMSDOT, 1));
  EXPECT_EQ(Cell(frm->MaskGrid, 1, 1), "20.500");
  EXPECT_EQ(Cell(frm->MaskGrid, 2, 1), "0.7071");
}

TEST_F(StatTest, MeansAndDeviationsAgreeWithPython) {
  // Seven plate results with values of a slow generator, so that each field has its own spread.
  std::vector<TMessung> entries;
  uint32_t seed = 12345;
  const auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<double>((seed >> 8) % 100000) / 1000.0;
  };
  frm->st.StatActive = true;
  for (int i = 0; i < 7; ++i) {
    TMessung m = Result(analysis::MT_PLATEDOT, 0);
    for (double TMessung::*f : {&TMessung::DotArea, &TMessung::LCM, &TMessung::Alpha, &TMessung::EdgeFaktor,
                                &TMessung::LineWidth, &TMessung::LineTol, &TMessung::Freq1, &TMessung::Freq2,
                                &TMessung::Periode1, &TMessung::Periode2, &TMessung::DiamAvg, &TMessung::DiamG,
                                &TMessung::DiamK, &TMessung::StdDevDiam, &TMessung::SizeAvg, &TMessung::SizeG,
                                &TMessung::SizeK, &TMessung::StdDevSize, &TMessung::DSTol, &TMessung::LineLenght}) {
      m.*f = next();
    }
    entries.push_back(m);
    Measure(m);
  }
  ASSERT_EQ(Count(), 7);
  const std::vector<double TMessung::*> fields = {
      &TMessung::DotArea, &TMessung::LCM,     &TMessung::Alpha,      &TMessung::EdgeFaktor, &TMessung::LineWidth,
      &TMessung::LineTol, &TMessung::Freq1,   &TMessung::Freq2,      &TMessung::Periode1,   &TMessung::Periode2,
      &TMessung::DiamAvg, &TMessung::DiamG,   &TMessung::DiamK,      &TMessung::StdDevDiam, &TMessung::SizeAvg,
      &TMessung::SizeG,   &TMessung::SizeK,   &TMessung::StdDevSize, &TMessung::DSTol,      &TMessung::LineLenght};
  std::ostringstream script;
  script.precision(17);
  script << "import statistics\nfields = [";
  for (double TMessung::*f : fields) {
    script << "[";
    for (const TMessung& m : entries) script << m.*f << ",";
    script << "],";
  }
  script << "]\nfor v in fields:\n    print(repr(statistics.mean(v)), repr(statistics.stdev(v)))\n";
  const std::string path = home / "stat.py";
  test::WriteText(path, script.str());
  const quirvel::testing::ToolResult r = quirvel::testing::RunTool("python3 '" + path + "'");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  std::istringstream out(r.output);
  std::vector<std::pair<double, double>> truth;
  double mean = 0, dev = 0;
  while (out >> mean >> dev) truth.emplace_back(mean, dev);
  ASSERT_EQ(truth.size(), fields.size()) << r.output;
  for (size_t i = 0; i < fields.size(); ++i) {
    EXPECT_NEAR(HRMain().av.*fields[i], truth[i].first, 1e-12 * std::abs(truth[i].first)) << i;
    EXPECT_NEAR(HRMain().StdSum.*fields[i], truth[i].second, 1e-9 * truth[i].second) << i;
  }
  // The grid shows them: dot area, ruling, diameter (deviation with two decimals), angle and
  // edge factor.
  const QTableWidget* g = frm->PlateGrid;
  const std::pair<int, int> shown[] = {{1, 0}, {2, 1}, {3, 10}, {4, 2}, {5, 3}};
  for (auto [row, field] : shown) {
    EXPECT_EQ(Cell(g, 1, row), analysis::SetVal(truth[static_cast<size_t>(field)].first, 2)) << row;
    EXPECT_EQ(Cell(g, 2, row), analysis::SetVal(truth[static_cast<size_t>(field)].second, row == 3 ? 2 : 3)) << row;
  }
}

// Another population of the shown plate result takes the statistic entry of the result only
// when the statistic holds it.
TEST_F(StatTest, CyclingPopulationsReplacesOnlyTheShownResultsEntry) {
  analysis::AnalyzeState& a = analysis::Analysis();
  for (double distance : {20.0, 30.0, 40.0}) {
    analysis::TSortedDotList* l = analysis::NewSortedDotList(true);
    l->distance = distance;
    l->area = 100;
    l->alpha = 10;
    l->next = a.GAlternative;
    a.GAlternative = l;
  }
  a.ActAlternative = a.GAlternative;
  frm->st.ImgCaptured = true;

  // Under a LAMS statistic the plate result is refused: cycling leaves the LAMS entries.
  Measure(Result(analysis::MT_LAMSDOT, 0));
  frm->StatPlusbtn->click();
  Measure(Result(analysis::MT_LAMSDOT, 1));
  ASSERT_EQ(Count(), 2);
  Measure(Result(analysis::MT_PLATEDOT, 5));
  for (int i = 0; i < 3; ++i) {
    frm->Alternativebtn->click();
    EXPECT_EQ(Count(), 2);
    EXPECT_EQ(HRMain().StatMess[0].aType, analysis::MT_LAMSDOT);
    EXPECT_EQ(HRMain().StatMess[1].DotArea, 21);
  }

  // A plate statistic: each population replaces the last entry.
  frm->NewStatbtn->click();
  Measure(Result(analysis::MT_PLATEDOT, 0));
  Measure(Result(analysis::MT_PLATEDOT, 1));
  ASSERT_EQ(Count(), 2);
  for (int i = 0; i < 3; ++i) {
    frm->Alternativebtn->click();
    EXPECT_EQ(Count(), 2);
    EXPECT_EQ(HRMain().StatMess[0].DotArea, 20);
    EXPECT_EQ(HRMain().StatMess[1].LCM, HRMain().MyMess.LCM);
  }
  // After a delete the last entry is another result: the next population is added.
  frm->StatDelBtn->click();
  ASSERT_EQ(Count(), 1);
  frm->Alternativebtn->click();
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(HRMain().StatMess[0].DotArea, 20);
  // So is it after another result was shown without being collected.
  const TMessung kept = HRMain().StatMess[1];
  frm->ShowEmpty();
  frm->Alternativebtn->click();
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(HRMain().StatMess[1].LCM, kept.LCM);
}

// ---- text export ----

class StatExport : public StatTest {
 protected:
  // Saves through the save button of the plate page into `path`; the file's bytes.
  std::string Save(const std::string& path) {
    ui.QueueSaveFile(path);
    frm->StatPSavebtn->click();
    return test::ReadText(path);
  }
  void Collect(std::vector<TMessung> entries) {
    frm->NewStatbtn->click();
    frm->st.StatActive = true;
    for (const TMessung& m : entries) Measure(m);
  }
};

TEST_F(StatExport, HeadsAndLinesPerTypeAndUnits) {
  const std::string out_dir = QUIRVEL_TEST_OUTPUT;
  std::filesystem::create_directories(out_dir);
  const std::string bom = "\xEF\xBB\xBF";

  // One plate dot result in µm and L/cm.
  TMessung plate = Result(analysis::MT_PLATEDOT, 0);
  plate.DotArea = 25.3;
  plate.LCM = 60;
  plate.Alpha = 45;
  plate.EdgeFaktor = 112.456;
  plate.DiamAvg = 30.5;
  plate.StdDevDiam = 2;
  Collect({plate});
  EXPECT_EQ(Save(out_dir + "/stat_plate.txt"), bom +
                                                   "\tDot Area\tL/cm\tAngle\tEdge Factor\tDiameter\tStd. Dev.\r\n"
                                                   "\t25.30%\t60.00\t45.00\u00B0\t112.46\t30.50\t2.00\r\n");
  ASSERT_EQ(ui.SaveDialogs().size(), 1u);
  EXPECT_EQ(ui.SaveDialogs()[0].filter, "Text file|*.txt");
  EXPECT_EQ(ui.SaveDialogs()[0].default_ext, ".txt");

  // L/Inch and µm: the ruling per inch, the diameter as stored.
  Units(2);
  EXPECT_EQ(Save(home / "p2.txt"), bom +
                                       "\tDot Area\tL/Inch\tAngle\tEdge Factor\tDiameter\tStd. Dev.\r\n"
                                       "\t25.30%\t152.40\t45.00\u00B0\t112.46\t30.50\t2.00\r\n");

  // Line pattern in mil: periods and widths divided by 25.4, the frequencies never converted.
  Units(1);
  Collect({Result(analysis::MT_LAMSMG, 0)});
  EXPECT_EQ(Save(home / "mg1.txt"), bom +
                                        "\tArea Coverage\tLine Width mil\t\u00B1Line Width mil\tFrequency 1\t"
                                        "Period 1mil\tFrequency 2\tPeriod 2mil\r\n"
                                        "\t20.00%\t1.18\t0.08\t10.00\t10.00\t20.00\t5.00\r\n");
  Units(2);
  EXPECT_EQ(Save(home / "mg2.txt"), bom +
                                        "\tArea Coverage\tLine Width \u00B5m\t\u00B1Line Width \u00B5m\tFrequency 1\t"
                                        "Period 1\u00B5m\tFrequency 2\tPeriod 2\u00B5m\r\n"
                                        "\t20.00%\t30.00\t2.00\t10.00\t254.00\t20.00\t127.00\r\n");

  // The type-1 head takes the statistic's own tolerance (rounded, ties to even); the archive
  // is not asked.
  Units(0);
  TMessung wsi = Result(analysis::MT_LAMSWSI, 0);
  wsi.DSTol = 12.5;
  Collect({wsi});
  archive.log.clear();
  const std::string t1 = Save(home / "wsi.txt");
  EXPECT_EQ(t1.substr(0, t1.find("\r\n")), bom + "TOL \u00B112%\tDot Area\tL/cm\tAngle\t# AVG\t\u00D8 \u00B5m\t"
                                                 "\u00B5m\u00B2\t# >\t\u00D8 \u00B5m\t\u00B5m\u00B2\t# <\t"
                                                 "\u00D8 \u00B5m\t\u00B5m\u00B2\t\u03C3 \u00D8 \u00B5m\t"
                                                 "\u03C3 \u00B5m\u00B2");
  EXPECT_TRUE(archive.log.empty());

  // The other types.
  Collect({Result(analysis::MT_LAMSDOT, 0)});
  EXPECT_EQ(Save(home / "dot.txt"), bom + "\tDot Area\tL/cm\tAngle\tEdge Factor\r\n\t20.00%\t60.00\t45.00\u00B0\t1.10\r\n");
  Collect({Result(analysis::MT_PLATELINE, 0)});
  EXPECT_EQ(Save(home / "line.txt"), bom + "\tLine Width\r\n\t30.00\r\n");
  Collect({Result(analysis::MT_PLATEWSIAREA, 0)});
  EXPECT_EQ(Save(home / "struct.txt"), bom + "\tDot Area\r\n\t20.00%\r\n");
  // A statistic of a type without columns: empty lines.
  Collect({Result(analysis::MT_FILMDOT, 0), Result(analysis::MT_FILMDOT, 1)});
  EXPECT_EQ(Save(home / "film.txt"), bom + "\r\n\r\n\r\n");
  EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(StatExport, PythonReadsTheEntriesBack) {
  Units(1);
  std::vector<TMessung> entries;
  for (int i = 0; i < 5; ++i) entries.push_back(Result(analysis::MT_LAMSWSI, 1.37 * i));
  Collect(entries);
  const std::string path = home / "wsi_mil.txt";
  Save(path);
  const quirvel::testing::ToolResult r = quirvel::testing::RunTool(
      "python3 -c \"import csv,sys\n"
      "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8-sig'), delimiter='\\t'))\n"
      "print(len(rows), len(rows[0]), rows[0][0][:3])\n"
      "for row in rows[1:]:\n"
      "    print(len(row), row[0] == '', float(row[1].rstrip('%')), float(row[2]), float(row[3].rstrip('\\u00b0')),"
      " int(row[4]), float(row[5]), float(row[6]), int(row[10]), float(row[14]))\n\" '" +
      path + "'");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  std::istringstream out(r.output);
  int rows = 0, columns = 0;
  std::string tol;
  out >> rows >> columns >> tol;
  EXPECT_EQ(rows, 6);
  EXPECT_EQ(columns, 15);
  EXPECT_EQ(tol, "TOL");
  for (const TMessung& m : entries) {
    int n = 0, count = 0, countK = 0;
    std::string empty;
    double area = 0, ruling = 0, alpha = 0, diam = 0, size = 0, devSize = 0;
    out >> n >> empty >> area >> ruling >> alpha >> count >> diam >> size >> countK >> devSize;
    EXPECT_EQ(n, 15);
    EXPECT_EQ(empty, "True");
    EXPECT_NEAR(area, m.DotArea, 0.005);
    EXPECT_NEAR(ruling, m.LCM * 2.54, 0.005);
    EXPECT_NEAR(alpha, m.Alpha, 0.005);
    EXPECT_EQ(count, m.CountAvg);
    EXPECT_NEAR(diam, m.DiamAvg / 25.4, 0.005);
    EXPECT_NEAR(size, m.SizeAvg / 645.16, 0.005);
    EXPECT_EQ(countK, m.CountK);
    EXPECT_NEAR(devSize, m.StdDevSize / 645.16, 0.005);
  }
}

TEST_F(StatExport, NothingToSaveCancelledOrUnwritable) {
  // An empty statistic asks for no file.
  frm->StatSavebtn->click();
  EXPECT_TRUE(ui.SaveDialogs().empty());
  Collect({Result(analysis::MT_PLATEDOT, 0)});
  // A cancelled dialog writes nothing.
  ui.QueueSaveFile(std::nullopt);
  frm->StatSSavebtn->click();
  EXPECT_EQ(ui.SaveDialogs().size(), 1u);
  EXPECT_TRUE(ui.Messages().empty());
  // A file that cannot be created is reported with its name and the reason.
  const std::string path = home / "no such folder/stat.txt";
  ui.QueueSaveFile(path);
  frm->StatSavebtn->click();
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_NE(ui.Messages()[0].text.find(path), std::string::npos) << ui.Messages()[0].text;
  EXPECT_NE(ui.Messages()[0].text.find("No such file or directory"), std::string::npos) << ui.Messages()[0].text;
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace app
