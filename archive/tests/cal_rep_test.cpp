#include "archive/cal_rep_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>

#include "archive/tests/report_test_support.h"
#include "cmake/test_tools.h"
#include "platform/base/clock.h"
#include "platform/image/jpeg_codec.h"
#include "platform/ui/scripted_ui.h"

namespace archive {
namespace {

using namespace testing;
using analysis::MType;
using quirvel::testing::RunTool;

platform::TDateTime At(int h, int m, int s, int ms) {
  return platform::EncodeDate(2024, 6, 13) + platform::EncodeTime(h, m, s, ms);
}

// Regular files below a folder.
std::vector<std::string> FilesBelow(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec); it != std::filesystem::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file()) files.push_back(it->path().string());
  }
  return files;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rep.Clock = &clock;
    rep.Archive = &archive;
    rep.Launcher = [this](const std::string& fn) { launched.push_back(fn); };
  }

  // The words of a PDF's text on one page (1-based).
  static std::vector<PdfFacts::Word> OnPage(const PdfFacts& f, int page) {
    std::vector<PdfFacts::Word> out;
    for (const PdfFacts::Word& w : f.Words()) {
      if (w.page == page) out.push_back(w);
    }
    return out;
  }
  static std::optional<PdfFacts::Word> Find(const std::vector<PdfFacts::Word>& words, const std::string& text) {
    for (const PdfFacts::Word& w : words) {
      if (w.text == text) return w;
    }
    return std::nullopt;
  }

  // What every report shows of the outside tools: a valid A4 file with our title, embedded
  // subset fonts, the logo, and (below the titles of kinds 0 to 7) the serial-number line at
  // 24, 102.
  static void ExpectFrame(const PdfFacts& f, bool head_lines = true) {
    EXPECT_EQ(f.qpdf_exit, 0) << f.qpdf;
    EXPECT_NE(f.info.find("Title:           QUIRVEL REPORT"), std::string::npos) << f.info;
    EXPECT_NE(f.info.find("595 x 842 pts (A4)"), std::string::npos) << f.info;
    // pdffonts: every font line says embedded yes, subset yes.
    std::istringstream lines(f.fonts);
    std::string line;
    int fonts = 0;
    while (std::getline(lines, line)) {
      if (line.find("CID TrueType") == std::string::npos && line.find("TrueType") == std::string::npos) continue;
      ++fonts;
      EXPECT_NE(line.find("yes yes"), std::string::npos) << line;
      EXPECT_NE(line.find('+'), std::string::npos) << line;
    }
    EXPECT_GT(fonts, 0) << f.fonts;
    const std::vector<std::string> images = f.ImageSizes();
    ASSERT_FALSE(images.empty()) << f.images;
    EXPECT_EQ(images.front(), "200x78");

    if (!head_lines) return;
    const auto words = OnPage(f, 1);
    const auto serial = Find(words, "Serial");
    ASSERT_TRUE(serial) << f.bbox;
    EXPECT_NEAR(serial->yMin, 102, 1);
    // The line itself starts at X 24 with the product name.
    bool start = false;
    for (const PdfFacts::Word& w : words) {
      if (w.text == "QUIRVEL" && std::abs(w.xMin - 24) <= 1 && std::abs(w.yMin - 102) <= 1) start = true;
    }
    EXPECT_TRUE(start) << "no serial line at 24, 102";
  }

  TempHome home;
  platform::ManualClock clock{At(9, 30, 5, 250)};
  RecordingArchive archive;
  std::vector<std::string> launched;
  TCalRep rep;
  ReportContext ctx = MakeContext(home.Path());
};

// ---- files, names, the clock and the archive row ----

TEST_F(ReportTest, OneClockReadingNamesTheFileDatesThePageAndStampsTheRow) {
  const std::string fn = rep.CreatePDF(ctx, rkPlate, false);
  EXPECT_EQ(fn, home.Path() + "/Reports/QUIRVEL_20240613_093005.pdf");
  EXPECT_EQ(rep.sdr, "13.06.2024-09:30:05");
  ASSERT_EQ(archive.calls.size(), 1u);
  EXPECT_EQ(archive.calls[0].table, "PLATE");
  EXPECT_EQ(archive.calls[0].DT, clock.Now());
  EXPECT_EQ(archive.calls[0].fn, fn);
  EXPECT_EQ(archive.calls[0].width, 1280);
  EXPECT_EQ(archive.calls[0].mess.DotArea, ctx.MyMess.DotArea);
  EXPECT_TRUE(launched.empty());

  const std::string text = RunTool("pdftotext '" + fn + "' -", false).output;
  EXPECT_NE(text.find("13.06.2024-09:30:05"), std::string::npos) << text;
  EXPECT_NE(text.find(fn), std::string::npos) << "the footer names the file";
}

TEST_F(ReportTest, ReportsOfOneSecondGetFilesOfTheirOwn) {
  const std::string a = rep.CreatePDF(ctx, rkLAMS, false);
  clock.Advance(400);
  const std::string b = rep.CreatePDF(ctx, rkLAMS, true);
  const std::string c = rep.CreatePDF(ctx, rkLAMSStat, false);
  clock.Advance(1000);
  const std::string d = rep.CreatePDF(ctx, rkLAMS, false);
  const std::string base = home.Path() + "/Reports/QUIRVEL_20240613_0930";
  EXPECT_EQ(a, base + "05.pdf");
  EXPECT_EQ(b, base + "05_2.pdf");
  EXPECT_EQ(c, base + "05_3.pdf");
  EXPECT_EQ(d, base + "06.pdf");
  for (const std::string& f : {a, b, c, d}) EXPECT_GT(ReadBytes(f).size(), 1000u) << f;
  ASSERT_EQ(archive.calls.size(), 4u);
  EXPECT_EQ(archive.calls[1].fn, b);
  EXPECT_EQ(archive.calls[2].fn, c);
  EXPECT_EQ(launched, std::vector<std::string>{b}) << "only the report asked to be shown is opened";
}

TEST_F(ReportTest, KindsGoToTheirFoldersAndTables) {
  ctx.History = nullptr;
  TableHistory history;
  const struct {
    int kind;
    const char* folder;
    const char* table;
  } cases[] = {{rkLAMS, "Reports", "MASK"},          {rkPlate, "Reports", "PLATE"},
               {rkStructure, "Reports", "SPLATE"},   {rkFilm, "Reports", "FILM"},
               {rkLAMSStat, "Reports", "MASK"},      {rkPlateStat, "Reports", "PLATE"},
               {rkStructStat, "Reports", "SPLATE"},  {rkHistory, "PLOTReports", nullptr},
               {rkCalibration, "CALReports", nullptr}};
  for (const auto& c : cases) {
    archive.calls.clear();
    ReportContext k = MakeContext(home.Path());
    k.History = &history;
    const std::string fn = rep.CreatePDF(k, c.kind, false);
    EXPECT_EQ(fn.rfind(home.Path() + "/" + c.folder + "/", 0), 0u) << fn;
    if (c.table) {
      ASSERT_EQ(archive.calls.size(), 1u) << c.kind;
      EXPECT_EQ(archive.calls[0].table, c.table);
    } else {
      EXPECT_TRUE(archive.calls.empty()) << c.kind;
    }
  }
}

TEST_F(ReportTest, CertificatePadsTheSerialAndIsAlwaysOpened) {
  const std::string fn = rep.CreatePDF(ctx, rkCalibration, false);
  EXPECT_EQ(fn, home.Path() + "/CALReports/00012_QUIRVEL_20240613_093005.pdf");
  EXPECT_EQ(ctx.Controls.Text("SerialEdit"), "00012");
  EXPECT_EQ(launched, std::vector<std::string>{fn});
  EXPECT_TRUE(archive.calls.empty());

  ctx.Controls.Set("SerialEdit", "123456");
  clock.Advance(1000);
  EXPECT_EQ(rep.CreatePDF(ctx, rkCalibration, true), home.Path() + "/CALReports/123456_QUIRVEL_20240613_093006.pdf");
  // A serial with a slash names no folder.
  ctx.Controls.Set("SerialEdit", "1/2");
  clock.Advance(1000);
  EXPECT_EQ(rep.CreatePDF(ctx, rkCalibration, true), home.Path() + "/CALReports/001_2_QUIRVEL_20240613_093007.pdf");
  EXPECT_EQ(ctx.Controls.Text("SerialEdit"), "001/2");
  // Characters are counted, not bytes.
  ctx.Controls.Set("SerialEdit", "Ü7");
  clock.Advance(1000);
  rep.CreatePDF(ctx, rkCalibration, true);
  EXPECT_EQ(ctx.Controls.Text("SerialEdit"), "000Ü7");
}

TEST_F(ReportTest, AnExistingFolderInOtherLetterCaseIsUsed) {
  std::filesystem::create_directory(home.Path() + "/reports");
  const std::string fn = rep.CreatePDF(ctx, rkFilm, false);
  EXPECT_EQ(fn, home.Path() + "/reports/QUIRVEL_20240613_093005.pdf");
}

TEST_F(ReportTest, RefusedOrFailedReportsLeaveNoFileAndNoRow) {
  for (int kind : {-1, 8, 9, 11}) {
    try {
      rep.CreatePDF(ctx, kind, false);
      ADD_FAILURE() << "kind " << kind << " was made";
    } catch (const EReportError& e) {
      EXPECT_EQ(std::string(e.what()), "There is no report of kind " + std::to_string(kind) + ".");
    }
  }
  rep.Archive = nullptr;
  EXPECT_THROW(rep.CreatePDF(ctx, rkPlate, false), EReportError);
  rep.Archive = &archive;
  ctx.History = nullptr;
  EXPECT_THROW(rep.CreatePDF(ctx, rkHistory, false), EReportError);

  // A failure while the report is laid out: the claimed name is given back.
  ReportContext broken = MakeContext(home.Path());
  broken.Controls = ReportControls();
  EXPECT_THROW(rep.CreatePDF(broken, rkPlate, true), EReportError);

  EXPECT_TRUE(FilesBelow(home.Path()).empty());
  EXPECT_TRUE(archive.calls.empty());
  EXPECT_TRUE(launched.empty());

  // A program folder that is no folder: the report file cannot be created.
  const std::string file = home.Path() + "/not-a-folder";
  std::ofstream(file) << "x";
  ctx.HomeDir = file;
  try {
    rep.CreatePDF(ctx, rkPlate, false);
    ADD_FAILURE() << "a report was made in a file";
  } catch (const EReportError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create the report file " + file + "/Reports/"), std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(archive.calls.empty());
}

TEST(SetRepFont, UnicodeFontFirstThenMeiryoForJapanese) {
  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped(ui);
  const struct {
    std::vector<std::string> installed;
    const char* language;
    const char* font;
    bool hint;
  } cases[] = {
      {{"Arial Unicode MS", "Meiryo"}, "Japanese", "Arial Unicode MS", false},
      {{"Arial Unicode MS"}, "English", "Arial Unicode MS", false},
      {{}, "English", "Arial", false},
      {{"Meiryo"}, "japanese", "Meiryo", false},
      {{}, "Japanese", "Arial", true},
  };
  for (const auto& c : cases) {
    TCalRep rep;
    rep.FontInstalled = [&](std::string_view family) {
      return std::find(c.installed.begin(), c.installed.end(), family) != c.installed.end();
    };
    const size_t before = ui.Messages().size();
    rep.SetRepFont(c.language);
    EXPECT_EQ(rep.JPFontName, c.font) << c.language;
    EXPECT_EQ(ui.Messages().size() - before, c.hint ? 1u : 0u) << c.language;
  }
  ASSERT_FALSE(ui.Messages().empty());
  EXPECT_EQ(ui.Messages().back().text, "インストールしてください <Arial Unicode MS>!");
}

// ---- single-measurement reports ----

TEST_F(ReportTest, MaskReportCopiesTheVisiblePanelsAndDrawsTheClassTable) {
  ctx.MESSTYPE = analysis::MT_LAMSDOT;
  ctx.Memo1.push_back("Line four");
  const std::string fn = rep.CreatePDF(ctx, rkLAMS, false);
  const PdfFacts f(fn);
  ExpectFrame(f);
  KeepSample(fn, "kind1_mask");
  EXPECT_EQ(f.ImageSizes(), (std::vector<std::string>{"200x78", "1280x1024", "64x64"})) << f.images;

  for (const char* text : {"Dot Area", "3.21%", "Edge Factor", "20.50 µm", "Frequency", "Period", "Tolerance",
                           "10%", "Below", "Above", "Average", "812", "394.1", "Mask dot area", "Job ID:", "J-4711",
                           "Customer proof, cyan", "Line four"})
    EXPECT_NE(f.layout.find(text), std::string::npos) << text;
  const auto words = OnPage(f, 1);
  // The memo's first line at Y 48, the analysis image below the head lines.
  const auto memo = Find(words, "Flexo");
  ASSERT_TRUE(memo);
  EXPECT_NEAR(memo->xMin, 24, 1);
  EXPECT_NEAR(memo->yMin, 48, 1);
  // Seven result rows from Y 560, an empty line, the table frame at 20, 656, 504 x 96 (in PDF
  // space from the bottom: 842 - 656 - 96 = 90), gray and stroked.
  EXPECT_NE(f.content.find("0.5 0.5 0.5 RG\n0.5 0.5 0.5 rg\n20 90 504 96 re\nS"), std::string::npos);
  EXPECT_NEAR(Find(words, "Count")->yMin, 668, 1);
  // The blue, green and black class circles, each stroked.
  for (const char* mark : {"0 0 1 RG", "0 1 0 RG", "0 0 0 RG"}) EXPECT_NE(f.content.find(mark), std::string::npos) << mark;
  // The mode block at the returned Y 776: the icon at 488, 776, 32 x 32.
  EXPECT_NE(f.content.find("1 0 0 1 488 34 cm\n32 0 0 32 0 0 cm"), std::string::npos);
  const PdfFacts::Word* area = nullptr;
  for (const PdfFacts::Word& w : words) {
    if (w.text == "area" && std::abs(w.yMin - 816) <= 1) area = &w;
  }
  ASSERT_TRUE(area) << "the mode name at Y 816";
  EXPECT_NEAR(area->xMax, 520, 0.5);
}

TEST_F(ReportTest, PlateReportOmitsHiddenPanelsAndRightAlignsAnyModeName) {
  ctx.Controls.SetVisible("PLinePanel", false);
  // A name with letters outside the 8-bit code page still ends at X 520.
  ctx.mmodes[analysis::MT_PLATEDOT] = "Plattenpunkt σ Ωmega";
  const std::string fn = rep.CreatePDF(ctx, rkPlate, false);
  const PdfFacts f(fn);
  ExpectFrame(f);
  KeepSample(fn, "kind2_plate");
  for (const char* text : {"Dot Area", "12.34%", "Diameter", "41.20 µm", "Edge Factor", "Std. Dev.", "2.10 µm"})
    EXPECT_NE(f.layout.find(text), std::string::npos) << text;
  EXPECT_EQ(f.layout.find("Line Width"), std::string::npos) << "a hidden panel is not printed";
  EXPECT_EQ(f.layout.find("---"), std::string::npos);
  const auto last = Find(OnPage(f, 1), "Ωmega");
  ASSERT_TRUE(last) << f.bbox;
  EXPECT_NEAR(last->xMax, 520, 0.5);
  EXPECT_NEAR(last->yMin, 600, 1);
}

TEST_F(ReportTest, StructureReportOfAPixelPatternCarriesTheStrip) {
  ctx.MESSTYPE = analysis::MT_PLATEWSI;
  ctx.Controls.SetVisible("PlateStructAreaPanel", false);
  ctx.Controls.SetVisible("StructLCMPanel", false);
  ctx.Controls.SetVisible("PlateLineStructPanel", false);
  const std::string fn = rep.CreatePDF(ctx, rkStructure, false);
  const PdfFacts f(fn);
  ExpectFrame(f);
  KeepSample(fn, "kind3_structure");
  EXPECT_EQ(f.ImageSizes(), (std::vector<std::string>{"200x78", "1280x1024", "1280x148", "64x64"})) << f.images;
  const auto words = OnPage(f, 1);
  const auto strip = Find(words, "Pixel");
  ASSERT_TRUE(strip);
  EXPECT_NEAR(strip->xMin, 80, 1);
  EXPECT_NEAR(strip->yMin, 610, 1);
  EXPECT_NE(f.layout.find("Structure"), std::string::npos);
  EXPECT_EQ(f.layout.find("Structure Area"), std::string::npos);
  // Another structure type has no strip.
  ctx.MESSTYPE = analysis::MT_PLATEWSIAREA;
  clock.Advance(1000);
  const std::string other = rep.CreatePDF(ctx, rkStructure, false);
  EXPECT_EQ(Count(ReadBytes(other), "/Subtype /Image"), 3u);
}

TEST_F(ReportTest, FilmReportWithoutTypeHasNoModeBlock) {
  ctx.MESSTYPE = analysis::MT_NONE;
  const std::string fn = rep.CreatePDF(ctx, rkFilm, false);
  const PdfFacts f(fn);
  ExpectFrame(f);
  KeepSample(fn, "kind4_film");
  EXPECT_EQ(f.ImageSizes(), (std::vector<std::string>{"200x78", "1280x1024"})) << f.images;
  EXPECT_EQ(f.layout.find("None"), std::string::npos);
  EXPECT_NE(f.layout.find("50.10%"), std::string::npos);
  EXPECT_NE(f.layout.find("Line Width"), std::string::npos);
}

// ---- statistics reports ----

TEST_F(ReportTest, PlateStatisticOfAHundredEndsAt782InTheChosenUnits) {
  ctx = MakeContext(home.Path(), 100);
  ctx.SUnits = 2;
  const std::string fn = rep.CreatePDF(ctx, rkPlateStat, false);
  const PdfFacts f(fn);
  ExpectFrame(f);
  KeepSample(fn, "kind6_plate_statistics");
  const auto words = OnPage(f, 1);
  double first = 1e9, last = 0;
  int lines = 0;
  for (const PdfFacts::Word& w : words) {
    if (std::abs(w.xMin - 300) > 0.5 || w.yMin < 185) continue;  // below the column titles
    first = std::min(first, w.yMin);
    last = std::max(last, w.yMin);
    ++lines;
  }
  EXPECT_EQ(lines, 100);
  EXPECT_NEAR(first, 188, 1);
  EXPECT_NEAR(last, 782, 1);
  // Inches and micrometres: the ruling times 2.54, the diameter as measured.
  EXPECT_NE(f.layout.find("152.40"), std::string::npos);  // 60.00 L/cm
  EXPECT_NE(f.layout.find("49.90"), std::string::npos);   // diameter of entry 99
  // The grid's row titles head the value columns in 4 points.
  const PdfFacts::Word* title = nullptr;
  for (const PdfFacts::Word& w : words) {
    if (w.text == "Diameter" && std::abs(w.yMin - 180) <= 1) title = &w;
  }
  ASSERT_TRUE(title);
  EXPECT_NEAR(title->xMin, 400, 1);
  // The plate statistic shows the icon without the mode name.
  EXPECT_EQ(f.layout.find("Plate dot area"), std::string::npos);
}

TEST_F(ReportTest, StatisticValueColumnsFollowTheFirstEntryAndTheUnits) {
  analysis::TMessung mg;
  mg.aType = analysis::MT_LAMSMG;
  mg.DotArea = 30;
  mg.LineWidth = 50.8;
  mg.LineTol = 2.54;
  mg.Freq1 = 10;
  mg.Freq2 = 20;
  analysis::TMessung dot;
  dot.aType = analysis::MT_LAMSDOT;
  dot.DotArea = 7;
  ctx.MESSTYPE = analysis::MT_LAMSMG;
  ctx.StatMess = {mg, dot};
  ctx.MaskGrid.Cells = {{"# 2", "Mean", "Std. Dev."}, {"Dot Area", "18.50", "16.263"}, {"Line Width", "25.40", "35.921"},
                        {"±Line Width", "1.27", "1.796"}, {"F1", "5.00", "7.071"}, {"F2", "10.00", "14.142"}};
  const struct {
    int units;
    std::vector<std::string> row0;
  } cases[] = {{2, {"30.00", "50.80", "2.54", "10.00", "20.00"}}, {1, {"30.00", "2.00", "0.10", "25.40", "50.80"}}};
  for (const auto& c : cases) {
    ctx.SUnits = c.units;
    clock.Advance(1000);
    const std::string fn = rep.CreatePDF(ctx, rkLAMSStat, false);
    const std::string text = RunTool("pdftotext -layout '" + fn + "' -", false).output;
    std::string expected;
    for (const std::string& v : c.row0) expected += (expected.empty() ? "" : "\\s+") + std::regex_replace(v, std::regex("\\."), "\\.");
    EXPECT_TRUE(std::regex_search(text, std::regex(expected))) << c.units << "\n" << text;
    // The second entry is printed in the first one's columns.
    EXPECT_TRUE(std::regex_search(text, std::regex("7\\.00\\s+0\\.00\\s+0\\.00\\s+0\\.00\\s+0\\.00"))) << text;
    // The LAMS statistic names the mode, above the value table.
    EXPECT_NE(text.find("Mask line pattern"), std::string::npos);
  }
  const std::string sample = rep.CreatePDF(ctx, rkLAMSStat, false);
  const PdfFacts f(sample);
  ExpectFrame(f);
  KeepSample(sample, "kind5_mask_statistics");
  const auto pattern = Find(OnPage(f, 1), "pattern");
  ASSERT_TRUE(pattern);
  EXPECT_NEAR(pattern->xMax, 520, 0.5);
  EXPECT_NEAR(pattern->yMin, 170, 1);

  // A statistic of another page's type prints the grid but no value lines.
  ctx.StatMess = {dot};
  clock.Advance(1000);
  const std::string text = RunTool("pdftotext -layout '" + rep.CreatePDF(ctx, rkStructStat, false) + "' -", false).output;
  EXPECT_NE(text.find("Edge Factor"), std::string::npos);
  EXPECT_EQ(text.find("7.00"), std::string::npos) << text;
}

TEST_F(ReportTest, StructureStatisticSample) {
  ctx.MESSTYPE = analysis::MT_PLATEWSIAREA;
  for (analysis::TMessung& m : ctx.StatMess) m.aType = analysis::MT_PLATEWSIAREA;
  const std::string fn = rep.CreatePDF(ctx, rkStructStat, false);
  const PdfFacts f(fn);
  ExpectFrame(f);
  KeepSample(fn, "kind7_structure_statistics");
  EXPECT_EQ(f.ImageSizes(), (std::vector<std::string>{"200x78", "1280x1024", "64x64"})) << f.images;
}

// ---- history reports ----

TEST_F(ReportTest, HistoryOf300RowsFillsThreeTablePagesInInches) {
  TableHistory history;
  history.rows = MaskRows(300);
  ctx.History = &history;
  ctx.SUnits = 1;
  const std::string fn = rep.CreatePDF(ctx, rkHistory, false);
  const PdfFacts f(fn);
  ExpectFrame(f, false);
  EXPECT_EQ(f.Pages(), 4);
  EXPECT_EQ(f.ImageSizes(), (std::vector<std::string>{"200x78", "800x400"})) << f.images;
  EXPECT_TRUE(archive.calls.empty());

  std::vector<int> lines(5, 0);
  for (const PdfFacts::Word& w : f.Words()) {
    if (w.text == "13.06.2024" && std::abs(w.xMin - 24) <= 0.5) ++lines[static_cast<size_t>(w.page)];
    if (w.text == "PAGE:") {
      EXPECT_NEAR(w.yMin, 24, 1);
    }
    // The footer is on the first page only.
    if (w.text.find("QUIRVEL_20240613") != std::string::npos) {
      EXPECT_EQ(w.page, 1);
    }
  }
  EXPECT_EQ(lines, (std::vector<int>{0, 0, 127, 127, 46}));
  for (int p = 2; p <= 4; ++p) {
    const auto words = OnPage(f, p);
    EXPECT_TRUE(Find(words, std::to_string(p - 1))) << "page label " << p - 1;
    const auto inch = Find(words, "L/Inch");
    ASSERT_TRUE(inch);
    EXPECT_NEAR(inch->xMin, 144, 0.5);
    EXPECT_NEAR(inch->yMin, 36, 1);
    // LCM 40.00 per cm prints per inch, the diameter 25.40 µm in mil.
    EXPECT_TRUE(Find(words, "101.60"));
    EXPECT_TRUE(Find(words, "1.00"));
    EXPECT_TRUE(Find(words, "Ømil"));
  }
  EXPECT_NE(f.layout.find("TOL ±10%"), std::string::npos);
  EXPECT_NE(f.layout.find("Mask pixel pattern"), std::string::npos);
}

TEST_F(ReportTest, HistoryPageBreaksFollowEvery127Records) {
  TableHistory history;
  ctx.History = &history;
  const struct {
    int rows;
    HistoryTab tab;
    int item;
    int pages;
  } cases[] = {{0, HistoryTab::MASK, 0, 2},   {127, HistoryTab::MASK, 0, 3},  {128, HistoryTab::PLATE, 0, 3},
               {254, HistoryTab::MASK, -1, 4}, {10, HistoryTab::Other, 0, 2}};
  for (const auto& c : cases) {
    history.rows = MaskRows(c.rows);
    for (auto& row : history.rows) row["Diameter"] = "40.00µm";
    history.tab = c.tab;
    history.item = c.item;
    clock.Advance(1000);
    const std::string fn = rep.CreatePDF(ctx, rkHistory, true);
    const std::string info = RunTool("pdfinfo '" + fn + "'").output;
    EXPECT_TRUE(std::regex_search(info, std::regex("Pages:\\s+" + std::to_string(c.pages) + "\n")))
        << c.rows << " rows\n" << info;
  }
  EXPECT_EQ(launched.size(), std::size(cases));
}

TEST_F(ReportTest, HistoryColumnsFollowTheTabAndConvertOnlyWhereNamed) {
  TableHistory history;
  history.rows = MaskRows(3);
  ctx.History = &history;
  const struct {
    HistoryTab tab;
    int item;
    int units;
    std::vector<const char*> present, absent;
  } cases[] = {
      {HistoryTab::MASK, 0, 0, {"L/cm", "40.00", "25.40µm", "Øµm"}, {"101.60", "L/Inch"}},
      {HistoryTab::MASK, 2, 1, {"L/Inch", "40.00", "Edge Factor", "1.20"}, {"101.60"}},
      {HistoryTab::MASK, 1, 1, {"0.79", "0.04", "6.56", "Frequency 1", "Period 1µm"}, {"20.00µm"}},
      {HistoryTab::FILM, 2, 2, {"40.00", "45.00°", "L/Inch"}, {"101.60"}},
  };
  for (const auto& c : cases) {
    history.tab = c.tab;
    history.item = c.item;
    ctx.SUnits = c.units;
    clock.Advance(1000);
    const std::string text = RunTool("pdftotext -layout '" + rep.CreatePDF(ctx, rkHistory, false) + "' -", false).output;
    for (const char* s : c.present) EXPECT_NE(text.find(s), std::string::npos) << s << "\n" << text;
    for (const char* s : c.absent) EXPECT_EQ(text.find(s), std::string::npos) << s;
  }
  // A column the table lacks ends the report with the table's error, and leaves no file.
  history.tab = HistoryTab::PLATE;
  history.item = 0;
  const size_t files = FilesBelow(home.Path()).size();
  EXPECT_THROW(rep.CreatePDF(ctx, rkHistory, false), EReportError);
  EXPECT_EQ(FilesBelow(home.Path()).size(), files);
}

// ---- the calibration certificate ----

TEST_F(ReportTest, CertificateShowsTheBrandRangesImageAndStamp) {
  ctx.BrandItemIndex = 2;
  ctx.LogoBmp = MakeLogo(0);
  const std::string fn = rep.CreatePDF(ctx, rkCalibration, true);
  const PdfFacts f(fn);
  ExpectFrame(f);
  KeepSample(fn, "kind0_calibration");
  EXPECT_EQ(f.ImageSizes(), (std::vector<std::string>{"200x78", "1280x1024", "270x170"})) << f.images;
  EXPECT_EQ(f.layout.find("Flexo Print"), std::string::npos) << "the operator's header text stays off the title";
  for (const char* text : {"Certification", "Sharpness:", "[-30..0]", "[41500..43500]", "Screen ruling 50.00 L/cm",
                           "49.80", "±", "Brightness:", "00012"})
    EXPECT_NE(f.layout.find(text), std::string::npos) << text;
  const auto range = Find(OnPage(f, 1), "[41500..43500]");
  ASSERT_TRUE(range);
  EXPECT_NEAR(range->xMin, 200, 0.5);
  EXPECT_NEAR(range->yMin, 132, 1);
  // The image below the brightness line, the stamp at 380, 500 (135 x 85).
  EXPECT_NE(f.content.find("1 0 0 1 24 382 cm\n320 0 0 256 0 0 cm"), std::string::npos);
  EXPECT_NE(f.content.find("1 0 0 1 380 257 cm\n135 0 0 85 0 0 cm"), std::string::npos);
  // The brand logo of the calibration page (green), not the operator's logo (blue).
  TempHome out;
  RunTool("pdfimages -j -f 1 -l 1 '" + fn + "' '" + out.Path() + "/im'");
  const platform::Bitmap logo = platform::LoadJpeg(out.Path() + "/im-000.jpg");
  ASSERT_EQ(logo.Width(), 200);
  const uint8_t* px = logo.ScanLine(39) + 3 * 39;  // blue, green, red
  EXPECT_GT(px[1], px[0] + 40);
  EXPECT_GT(px[1], px[2] + 40);
}

TEST_F(ReportTest, StampOnlyWhenAllThreeValuesAreInside) {
  const struct {
    double ppi;
    double drop;  // Maxsharp - ActSharp
    const char* target;
    const char* measured;
    bool stamp;
  } cases[] = {
      {42701, 10, "50.00", "49.80", true},   {41500, 10, "50.00", "49.80", false}, {43500, 10, "50.00", "49.80", false},
      {41500.5, 10, "50.00", "49.80", true}, {42701, 30, "50.00", "49.80", false}, {42701, 29.9, "50.00", "49.80", true},
      {42701, 10, "50.00", "49.00", true},   {42701, 10, "50.00", "48.99", false}, {42701, 10, "50.00", "51.00", true},
      {42701, 10, "50,00", "49.5 L/cm", true},
  };
  // The stamp does not depend on the picture: a small one keeps the many certificates quick.
  ctx.dbmp = platform::Bitmap(160, 128);
  ctx.AnalyseImage = platform::Bitmap(160, 128);
  for (const auto& c : cases) {
    ctx.PixelperInch = c.ppi;
    ctx.Maxsharp = 100;
    ctx.ActSharp = 100 - c.drop;
    ctx.Controls.Set("ScreenEdit", c.target);
    ctx.Controls.Set("CalLCMREs", c.measured);
    clock.Advance(1000);
    const std::string pdf = ReadBytes(rep.CreatePDF(ctx, rkCalibration, true));
    EXPECT_EQ(Count(pdf, "/Subtype /Image"), c.stamp ? 3u : 2u)
        << c.ppi << " " << c.drop << " " << c.target << " " << c.measured;
  }
  // Without the brightness panel the image moves up a line.
  ctx.Controls.SetVisible("BrandPanel", false);
  clock.Advance(1000);
  const PdfFacts f(rep.CreatePDF(ctx, rkCalibration, true));
  EXPECT_NE(f.content.find("1 0 0 1 24 394 cm\n320 0 0 256 0 0 cm"), std::string::npos);
  EXPECT_EQ(f.layout.find("Brightness"), std::string::npos);
}

}  // namespace
}  // namespace archive
