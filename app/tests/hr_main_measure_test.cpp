// The main window's measurements through its controls: the commands of the analysis pages on
// images with a known answer, the result presentations on hand-built populations, the
// measurement text line and the commands' frame (no image, the menu, population cycling, the
// density threshold, the tolerance, the result type).
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTabWidget>
#include <QToolButton>
#include <cmath>
#include <numbers>
#include <sstream>

#include "analysis/analyze_dots.h"
#include "analysis/analyze_grid.h"
#include "analysis/myimage.h"
#include "analysis/mymath.h"
#include "app/tests/main_window_fixture.h"
#include "app/tests/square_dot.h"
#include "cmake/test_tools.h"
#include "platform/fonts/canvas_text_renderer.h"

namespace app {
namespace {

using analysis::TDot;
using analysis::TSortedDotList;
using platform::Bitmap;

const std::string kData = QUIRVEL_TEST_DATA;

// A label's number, its "%", "°" and unit suffix stripped.
double Number(const QLabel* l) { return analysis::GetVal(S(l->text())); }

// The bytes blue, green, red of a pixel as one value 0xBBGGRR.
uint32_t Pixel(const Bitmap& b, int x, int y) {
  const uint8_t* p = b.ScanLine(y) + 3 * x;
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}
constexpr uint32_t kWhite = 0xFFFFFF, kGreen = 0x00FF00, kBlue = 0xFF0000, kRed = 0x0000FF;
constexpr uint32_t kCyan = 0xFFFF00, kYellow = 0x00FFFF;

// Binary round dots (high-range 3000) on paper (10000), as a capture leaves the high-range
// image; `extra` adds dots of the same size at those centres.
Bitmap HighRangeDots(double D, double angle, double coverage, const std::vector<platform::TPoint>& extra = {}) {
  Bitmap b(analysis::ImWidth, analysis::ImHeight);
  const double a = angle * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
  const double r2 = D * D * coverage / std::numbers::pi;
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < b.Width(); ++x) {
      const double u = (x * c + y * s) / D - 0.3, v = (-x * s + y * c) / D - 0.6;
      const double du = (u - std::nearbyint(u)) * D, dv = (v - std::nearbyint(v)) * D;
      bool in = du * du + dv * dv <= r2;
      for (const platform::TPoint& e : extra) in = in || (x - e.X) * (x - e.X) + (y - e.Y) * (y - e.Y) <= r2;
      analysis::Set16BitValue(row, x, in ? 3000 : 10000);
    }
  }
  return b;
}

class MeasureTest : public test::MainWindowTest {
 protected:
  MeasureTest() {
    platform::InstallCanvasTextRenderer();
    // A synthetic image has its edges where the threshold is: a dot's size is its pixel count.
    SetIni("QUIRVELCAL", "SEDGE", "1");
    Create();
    Activate();
  }

  struct Shares {
    double bright = -1, dark = -1;
  };
  // Writes an image with the Python generator into the home folder; the rendered shares.
  Shares Generate(const std::string& name, const std::string& args) {
    const size_t blank = args.find(' ');
    const quirvel::testing::ToolResult r =
        quirvel::testing::RunTool("python3 '" + kData + "/measure_images.py' " + args.substr(0, blank) + " '" +
                                  (home / name) + "' " + args.substr(blank + 1));
    EXPECT_EQ(r.exit_code, 0) << r.output;
    Shares s;
    std::istringstream in(r.output);
    std::string key;
    double v = 0;
    while (in >> key >> v) (key == "bright" ? s.bright : s.dark) = v;
    return s;
  }
  void Load(const std::string& name) {
    ui.QueueOpenFile(home / name);
    frm->Loadbtn->click();
  }
  // An image present in the window without a load.
  void GiveImage(const Bitmap& highRange) {
    *frm->st.ibmp = highRange;
    frm->st.HaveImage = true;
    frm->st.ImgCaptured = true;
  }
  std::string Line() const { return frm->GetMessString(); }
  std::string T(const QLabel* l) const { return S(l->text()); }
};

// ---- end to end through the window's controls ----

struct PlateCase {
  double D, angle, coverage;
  bool dark;
};
void PrintTo(const PlateCase& c, std::ostream* os) {
  *os << "D " << c.D << ", angle " << c.angle << ", coverage " << c.coverage << (c.dark ? ", dark" : ", bright");
}

class PlateMeasurement : public MeasureTest, public ::testing::WithParamInterface<PlateCase> {};

TEST_P(PlateMeasurement, DotAreaRulingAndAngleOfTheRenderedScreen) {
  const PlateCase c = GetParam();
  std::ostringstream args;
  args << "halftone 1 " << c.D << " " << c.angle << " " << c.coverage << " " << (c.dark ? "dark" : "bright");
  const Shares share = Generate("plate.qvr", args.str());
  Load("plate.qvr");
  ASSERT_EQ(frm->Analyzepages->currentWidget(), frm->Plate);
  ASSERT_DOUBLE_EQ(analysis::Analysis().PixelperInch, 43000);
  frm->AnalyzePlateBtn->click();

  EXPECT_NEAR(Number(frm->PlateDotAreaRes), share.bright, 1.0) << T(frm->PlateDotAreaRes);
  const double lcm = 43000 / (2.54 * c.D);
  EXPECT_NEAR(Number(frm->PlateLCMResult), lcm, 0.005 * lcm) << T(frm->PlateLCMResult);
  EXPECT_NEAR(Number(frm->PlateAlphaRes), 90 - std::fmod(c.angle, 90), 0.5) << T(frm->PlateAlphaRes);
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_PLATEDOT);
  EXPECT_EQ(HRMain().MyMess.aType, analysis::MT_PLATEDOT);
  EXPECT_FALSE(frm->PDotAreaPanel->isHidden());
  EXPECT_EQ(frm->MainProgress->value(), 100);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Line(), "F\t" + T(frm->PlateDotAreaRes) + "\t" + T(frm->PlateLCMResult) + "L/cm\t" +
                        T(frm->PlateAlphaRes) + "\t" + T(frm->PlateDotDiameterRes) + "\u00B5m\t" + T(frm->EFRes) +
                        "\t");
}

INSTANTIATE_TEST_SUITE_P(Screens, PlateMeasurement,
                         ::testing::Values(PlateCase{80, 15, 0.30, true}, PlateCase{120, 37.5, 0.10, false},
                                           PlateCase{160, 60, 0.45, true}, PlateCase{200, 75, 0.60, false}),
                         [](const ::testing::TestParamInfo<PlateCase>& param) {
                           const PlateCase& c = param.param;
                           return "D" + std::to_string(static_cast<int>(c.D)) + "_A" +
                                  std::to_string(static_cast<int>(c.angle)) + "_C" +
                                  std::to_string(static_cast<int>(std::lround(100 * c.coverage))) +
                                  (c.dark ? "_dark" : "_bright");
                         });

TEST_F(MeasureTest, MaskDotAreaOfAPageZeroFile) {
  const Shares share = Generate("mask.qvr", "halftone 0 100 30 0.25 dark");
  Load("mask.qvr");
  ASSERT_EQ(frm->Analyzepages->currentWidget(), frm->LAMS);
  frm->AnalyzeMaskbtn->click();
  // Dark dots on paper: the dot area is the paper's share.
  EXPECT_NEAR(Number(frm->MaskDotAreaRes), share.bright, 1.0) << T(frm->MaskDotAreaRes);
  const double lcm = 43000 / (2.54 * 100);
  EXPECT_NEAR(Number(frm->LCMResult), lcm, 0.005 * lcm) << T(frm->LCMResult);
  EXPECT_NEAR(Number(frm->AlphaRes), 30, 0.5) << T(frm->AlphaRes);
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_LAMSDOT);
  for (QWidget* p : {frm->LAMSDotAreaPanel, frm->LAMSSRPanel, frm->LAMSDotDetailspanel}) EXPECT_FALSE(p->isHidden());
  EXPECT_TRUE(PageVisible(frm->MaskValues));
  EXPECT_EQ(Line(), "D\t" + T(frm->MaskDotAreaRes) + "\t" + T(frm->LCMResult) + "L/cm\t" + T(frm->AlphaRes) + "\t" +
                        T(frm->LAMSEdgeFaktorRes) + "\t");
  // The panels stack in the order they were shown.
  auto* layout = frm->LAMS->layout();
  EXPECT_LT(layout->indexOf(frm->LAMSDotAreaPanel), layout->indexOf(frm->LAMSSRPanel));
  EXPECT_LT(layout->indexOf(frm->LAMSSRPanel), layout->indexOf(frm->LAMSDotDetailspanel));
}

TEST_F(MeasureTest, FilmDotAreaInDensityModeAndBack) {
  const Shares share = Generate("film.qvr", "halftone 3 90 20 0.35 dark");
  Load("film.qvr");
  ASSERT_EQ(frm->Analyzepages->currentWidget(), frm->FILM);
  ASSERT_FALSE(frm->st.isDens);
  frm->AnalyzeFilmbtn->click();
  // A film's dot area is the share of its dots.
  EXPECT_NEAR(Number(frm->FilmDotAreaRes), share.dark, 1.0) << T(frm->FilmDotAreaRes);
  const double lcm = 43000 / (2.54 * 90);
  EXPECT_NEAR(Number(frm->FilmLCMResult), lcm, 0.005 * lcm) << T(frm->FilmLCMResult);
  EXPECT_FALSE(frm->st.isDens);
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_FILMDOT);
  EXPECT_FALSE(frm->FilmDotAreaPanel->isHidden());
  EXPECT_FALSE(frm->FilmDotDetailsPanel->isHidden());
  EXPECT_EQ(Line(), "N\t" + T(frm->FilmDotAreaRes) + "\t" + T(frm->FilmDotDiameterRes) + "\u00B5m\t" +
                        T(frm->FilmLCMResult) + "L/cm\t" + T(frm->FilmAlphaREs) + "\t" + T(frm->FilmEdgeFaktorRes) +
                        "\t");
}

// The film's dot area runs in density mode; the operator's mode comes back also when a step
// fails (here: a high-range image of a format the conversion refuses).
TEST_F(MeasureTest, FilmDotAreaRestoresTheDensityModeWhenAStepFails) {
  GiveImage(Bitmap(analysis::ImWidth, analysis::ImHeight, platform::PixelFormat::pf8bit));
  ActivatePage(frm->FILM);
  frm->AnalyzeFilmbtn->click();
  EXPECT_FALSE(frm->st.isDens);
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MeasureTest, LinePatternOfAGrating) {
  Generate("grating.qvr", "grating 0 32 16");
  Load("grating.qvr");
  frm->AutoLine->click();
  EXPECT_NEAR(Number(frm->MaskDotAreaRes), 50, 1.0) << T(frm->MaskDotAreaRes);
  const double period = 32 * 25400.0 / 43000;
  EXPECT_NEAR(HRMain().MyMess.LineWidth, period / 2, 0.03 * period);
  EXPECT_NEAR(HRMain().MyMess.Periode1, period, 1e-6);
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_LAMSMG);
  EXPECT_EQ(Line(), "C\t" + T(frm->MaskDotAreaRes) + "\t" + T(frm->LineWidthRes) + "\t" + T(frm->FreqLabel) + "\t" +
                        T(frm->PeriodeLabel) + "\t");
  EXPECT_EQ(T(frm->FreqLabel).substr(T(frm->FreqLabel).size() - 5), " L/cm");
  EXPECT_FALSE(PageVisible(frm->MaskValues));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// ---- presentations on hand-built populations ----

// A population of square dots written into the analysis state: the dots are labelled in the
// label image (outline with the edge bit) and chained, so that the state frees them.
class Presentation : public MeasureTest {
 protected:
  Presentation() {
    frm->st.rbmp->Fill(128);
    frm->st.dbmp->Fill(128);
  }
  TSortedDotList* Population(bool black, double distance, double area, double alpha, double edgelen = 0) {
    TSortedDotList* l = analysis::NewSortedDotList(black);
    l->distance = distance;
    l->area = area;
    l->alpha = alpha;
    l->edgelen = edgelen;
    l->next = a.GAlternative;
    a.GAlternative = l;
    return l;
  }
  // A dot of side 2 half + 1 centred at (cx, cy), member of l.
  TDot* Dot(TSortedDotList* l, int cx, int cy, int half, int32_t fsize, bool black, bool border = false) {
    TDot* d = test::SquareDot(a, ++id, cx, cy, half, fsize, black, border);
    l->dots = analysis::NewDotList(d, l->dots);
    ++l->Count;
    return d;
  }
  const Bitmap& R() const { return *frm->st.rbmp; }

  analysis::AnalyzeState& a = analysis::Analysis();
  uint16_t id = 10;
};

TEST_F(Presentation, MaskAreaClassesUnitsAndGridLabels) {
  struct Case {
    bool black;
    double GLScreen;
    const char* area;
    double lcm;
  };
  // 100 px of a 20 px cell; a fixed screen of 25 px makes the cell 625 px.
  for (const Case& c : {Case{false, 0, "25.00%", 43000 / (2.54 * 20)}, Case{true, 0, "75.00%", 43000 / (2.54 * 20)},
                        Case{false, 25, "16.00%", 43000 / (2.54 * 25)}}) {
    frm->st.GLScreen = c.GLScreen;
    TSortedDotList* l = Population(c.black, 20, 100, 45);
    frm->ShowMaskAlternative(l, 0, false);
    EXPECT_EQ(T(frm->MaskDotAreaRes), c.area);
    EXPECT_NEAR(HRMain().MyMess.LCM, c.lcm, 1e-9);
    EXPECT_EQ(T(frm->LCMResult), analysis::SetVal(c.lcm, 2));
    EXPECT_EQ(T(frm->AlphaRes), "45.00\u00B0");
  }
  frm->st.GLScreen = 0;

  // Tolerance 10 % of 100 px: 110 is above the band (green), 109 within (white), 90 below
  // (blue); edges red, and the cells in red around the dots.
  frm->TolEdit->setText("10");
  frm->st.rbmp->Fill(128);
  TSortedDotList* l = Population(false, 40, 100, 45);
  Dot(l, 100, 100, 5, 110, false);
  Dot(l, 200, 100, 5, 109, false);
  Dot(l, 300, 100, 5, 90, false);
  Dot(l, 400, 100, 5, 100, true);  // the other colour: not drawn, not counted
  frm->ShowMaskAlternative(l, 0, false);
  EXPECT_EQ(T(frm->CountValue), "1");
  EXPECT_EQ(T(frm->CountValueG), "1");
  EXPECT_EQ(T(frm->CountValueK), "1");
  EXPECT_EQ(Pixel(R(), 100, 100), kGreen);
  EXPECT_EQ(Pixel(R(), 200, 100), kWhite);
  EXPECT_EQ(Pixel(R(), 300, 100), kBlue);
  EXPECT_EQ(Pixel(R(), 100, 95), kRed);
  EXPECT_EQ(Pixel(R(), 400, 100), 0x808080u);
  // The cell of size sqrt(2)/2 x 40 at 45 degrees: its corners lie 28 px left, right, above
  // and below the centre.
  EXPECT_EQ(Pixel(R(), 100, 72), kRed);
  EXPECT_EQ(Pixel(R(), 128, 100), kRed);
  EXPECT_EQ(HRMain().MyMess.DSTol, 10);
  EXPECT_EQ(HRMain().MyMess.CountG, 1);
  // The band's limits, not class means: 110 and 90 px.
  EXPECT_EQ(T(frm->DotSizeValueG), analysis::SetVal(110 * std::pow(25400.0 / 43000, 2), 3) + " \u00B5m\u00B2");
  EXPECT_EQ(T(frm->DotSizeValueK), analysis::SetVal(90 * std::pow(25400.0 / 43000, 2), 3) + " \u00B5m\u00B2");

  // Mil labels, µm in the record.
  a.SUnits = 1;
  a.DUnits = 1;
  a.LUnits = 1;
  frm->ShowMaskAlternative(l, 0, false);
  const double d = 2 * std::sqrt(100 / std::numbers::pi);
  EXPECT_EQ(T(frm->DotDiameterValue), analysis::SetVal(d * 1000 / 43000, 2) + " mil");
  EXPECT_EQ(T(frm->DotSizeValue), analysis::SetVal(100 * 1e6 / (43000.0 * 43000), 3) + " mil\u00B2");
  EXPECT_NEAR(HRMain().MyMess.DiamAvg, d * 25400 / 43000, 1e-9);
  EXPECT_NEAR(HRMain().MyMess.SizeAvg, 100 * std::pow(25400.0 / 43000, 2), 1e-9);
  a.SUnits = 0;
  a.DUnits = 25.4;
  a.LUnits = 2.54;

  // Grid labels in blue on white at 45 degrees, none at 30 or 60.
  TSortedDotList* g = Population(false, 40, 100, 45);
  TDot* gd = Dot(g, 600, 600, 5, 100, false);
  a.GGrid[3][7] = {600, 600, gd};
  // Glyph pixels: blue blended with the white box (the glyphs are smoothed).
  const auto glyph = [&](int x, int y) {
    const uint32_t p = Pixel(R(), x, y);
    const uint32_t blue = p >> 16, green = (p >> 8) & 255, red = p & 255;
    return blue == 255 && green == red && red < 160;
  };
  const auto blueInRows = [&] {
    int n = 0;
    for (int y = 30; y < 70; ++y)
      for (int x = 560; x < 640; ++x) n += glyph(x, y);
    return n;
  };
  // The heading "Diameter  µm" at (10, 2), blue on an opaque white box.
  const auto heading = [&](bool blue) {
    int n = 0;
    for (int y = 2; y < 16; ++y)
      for (int x = 10; x < 60; ++x) n += blue ? glyph(x, y) : Pixel(R(), x, y) == kWhite;
    return n;
  };
  for (double alpha : {45.0, 30.0, 60.0}) {
    g->alpha = alpha;
    frm->st.rbmp->Fill(128);
    frm->ShowMaskAlternative(g, 0, true);
    if (alpha == 45) {
      EXPECT_GT(blueInRows(), 10) << alpha;
      EXPECT_GT(heading(true), 10);
      EXPECT_GT(heading(false), 10);
    } else {
      EXPECT_EQ(blueInRows(), 0) << alpha;
      EXPECT_EQ(heading(true), 0) << alpha;
    }
  }
}

TEST_F(Presentation, PlateAreaAngleEdgeFactorAndOverlay) {
  struct Case {
    double GScreen;
    const char* area;
  };
  for (const Case& c : {Case{0, "75.00%"}, Case{1, "75.00%"}, Case{25, "84.00%"}}) {
    frm->st.GScreen = c.GScreen;
    TSortedDotList* l = Population(true, 20, 100, 15);
    frm->ShowAlternative(l, false);
    EXPECT_EQ(T(frm->PlateDotAreaRes), c.area) << c.GScreen;
    EXPECT_EQ(T(frm->PlateAlphaRes), "75.00\u00B0");
    EXPECT_EQ(HRMain().MyMess.Alpha, 75);
    // A dark population never shows an edge factor.
    EXPECT_EQ(T(frm->EFRes), "--.-");
  }
  frm->st.GScreen = 0;

  // A bright population whose edge is shorter than its circle's: 100.
  TSortedDotList* w = Population(false, 40, 100, 15, 10);
  Dot(w, 100, 100, 5, 100, false);
  Dot(w, 200, 100, 5, 100, true);
  Dot(w, 300, 100, 5, 100, false, true);  // border dots are drawn too
  frm->st.rbmp->Fill(128);
  frm->ShowAlternative(w, false);
  EXPECT_EQ(T(frm->EFRes), "100.00");
  EXPECT_EQ(HRMain().MyMess.EdgeFaktor, 100);
  // (The cell of a dark dot has a corner on the dot's centre: the colours are read beside it.)
  EXPECT_EQ(Pixel(R(), 103, 97), kYellow);
  EXPECT_EQ(Pixel(R(), 203, 97), kCyan);
  EXPECT_EQ(Pixel(R(), 303, 97), kYellow);
  EXPECT_EQ(T(frm->StdDevPlate), " 0.00");
  // As a mask only the yellow's non-zero components are written over the gray.
  frm->st.rbmp->Fill(128);
  frm->ShowAlternative(w, true);
  EXPECT_EQ(Pixel(R(), 103, 97), 0x80FFFFu);
}

TEST_F(Presentation, FilmAreaPerDensityAndInversionAndTheCellsOfTheMeasuredPeriod) {
  struct Case {
    bool dens, black, inv;
    double GFScreen;
    const char* area;
  };
  for (const Case& c : {Case{false, true, true, 0, "75.00%"}, Case{false, true, false, 0, "25.00%"},
                        Case{true, false, false, 0, "75.00%"}, Case{false, true, true, 25, "84.00%"}}) {
    frm->st.isDens = c.dens;
    frm->st.GFScreen = c.GFScreen;
    frm->st.rbmp->Fill(128);
    TSortedDotList* l = Population(c.black, 20, 100, 45);
    Dot(l, 300, 300, 3, 100, c.black);
    Dot(l, 400, 300, 3, 100, c.black, true);  // a border dot: not drawn
    frm->ShowFilmAlternative(l, c.inv, false);
    EXPECT_EQ(T(frm->FilmDotAreaRes), c.area) << c.dens << c.black << c.inv << c.GFScreen;
    EXPECT_EQ(Pixel(R(), 302, 298), c.black ? kCyan : kYellow);
    EXPECT_NE(Pixel(R(), 400, 300), kCyan);
    EXPECT_NE(Pixel(R(), 400, 300), kYellow);
    // The cell has the measured period's size, sqrt(2)/2 x 20 = 14.1 px from centre to corner,
    // also when a film screen is fixed. At 45 degrees a bright dot's cell has a corner 14 px
    // to the right; a dark dot's cell is the one around the first corner (14 px below), with
    // a corner 14 px right of that.
    if (c.black) {
      EXPECT_EQ(Pixel(R(), 314, 314), kRed);
      EXPECT_NE(Pixel(R(), 318, 318), kRed);
    } else {
      EXPECT_EQ(Pixel(R(), 314, 300), kRed);
    }
  }
  frm->st.isDens = false;
  frm->st.GFScreen = 0;
  EXPECT_EQ(T(frm->FilmLCMResult), analysis::SetVal(43000 / (2.54 * 25), 2));
}

TEST_F(Presentation, CalibrationInLinesPerCentimetreWhateverTheUnits) {
  a.SUnits = 1;
  a.DUnits = 1;
  a.LUnits = 1;
  for (auto [black, area] : {std::pair{false, "75.00%"}, std::pair{true, "25.00%"}}) {
    TSortedDotList* l = Population(black, 20, 100, 0);
    Dot(l, 500, 500, 3, 100, black);
    frm->ShowCalAlternative(l);
    EXPECT_EQ(T(frm->CalDotArea), area);
    EXPECT_EQ(T(frm->CalLCMREs), "846.46");
    EXPECT_EQ(Pixel(R(), 502, 498), black ? kYellow : kCyan);
  }
}

TEST_F(Presentation, NoPopulationShowsTheEmptyResult) {
  frm->ShowMaskAlternative(nullptr, 0, false);
  EXPECT_EQ(T(frm->CountValue), "0");
  EXPECT_EQ(T(frm->MaskDotAreaRes), "---%");
  frm->ShowAlternative(nullptr, false);
  EXPECT_EQ(T(frm->PlateDotAreaRes), "---%");
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_NONE);
  // After ShowEmpty the film's edge factor reads "---%", the mask's "-.--".
  EXPECT_EQ(T(frm->FilmEdgeFaktorRes), "---%");
  EXPECT_EQ(T(frm->LAMSEdgeFaktorRes), "-.--");
}

// The structure twin stores its sizes in µm and µm², as the mask page does.
TEST_F(Presentation, StructureStoresMicrometres) {
  TSortedDotList* l = Population(false, 20, 100, 10);
  Dot(l, 300, 300, 3, 100, false);
  frm->ShowPlateStructAlternative(l, 0, false);
  EXPECT_EQ(T(frm->SStructAreaREs), "25.00%");
  EXPECT_NEAR(HRMain().MyMess.DiamAvg, 2 * std::sqrt(100 / std::numbers::pi) * 25400 / 43000, 1e-9);
  EXPECT_NEAR(HRMain().MyMess.SizeAvg, 100 * std::pow(25400.0 / 43000, 2), 1e-9);
  // The structure's values stay on its own page.
  EXPECT_EQ(T(frm->SCountValue), "1");
  EXPECT_EQ(T(frm->CountValue), "...");
  // The classes are drawn on the gray image.
  EXPECT_EQ(Pixel(R(), 302, 298), kWhite);
}

// ---- measurement text line ----

TEST_F(MeasureTest, TextLine) {
  EXPECT_EQ(Line(), "A\t\t");
  frm->st.MESSTYPE = analysis::MT_PLATEDOT;
  frm->PlateDotAreaRes->setText("25.30%");
  frm->PlateLCMResult->setText("60.00");
  frm->PlateAlphaRes->setText(QString::fromUtf8("45.00°"));
  frm->PlateDotDiameterRes->setText("30.50");
  frm->EFRes->setText("112.00");
  EXPECT_EQ(Line(), "F\t25.30%\t60.00L/cm\t45.00\xC2\xB0\t30.50\xC2\xB5m\t112.00\t");
  frm->st.MESSTYPE = analysis::MT_LAMSWSI;
  const std::string wsi = Line();
  EXPECT_EQ(std::count(wsi.begin(), wsi.end(), '\t'), 15);
  EXPECT_EQ(wsi.substr(wsi.size() - 2), "\t\t");
  frm->st.MESSTYPE = analysis::MT_CALDOT;
  EXPECT_EQ(Line(), "R\t\t");
  frm->ShowEmpty();
  EXPECT_EQ(Line(), "A\t\t");
}

// ---- the commands' frame ----

TEST_F(MeasureTest, WithoutAnImageNothingChanges) {
  frm->st.MESSTYPE = analysis::MT_FILMDOT;
  frm->MaskDotAreaRes->setText("12.00%");
  frm->MainProgress->setValue(40);
  for (QToolButton* b : {frm->AnalyzeMaskStruct, frm->AutoLine, frm->AnalyzeMaskbtn, frm->AnalyzePlateBtn,
                         frm->Alternativebtn, frm->DotAnalyze2TH, frm->DotNXPixel, frm->AnalyzeStructurebtn,
                         frm->AnalyseKFilmbtn, frm->KFilmClusterbtn, frm->FilmAlternative, frm->FilmLinebtn}) {
    b->click();
    EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_FILMDOT) << S(b->objectName());
  }
  EXPECT_EQ(T(frm->MaskDotAreaRes), "12.00%");
  EXPECT_EQ(frm->MainProgress->value(), 40);
  // The film's dot area command still sets the gauge to the end.
  frm->AnalyzeFilmbtn->click();
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_FILMDOT);
  EXPECT_EQ(frm->MainProgress->value(), 100);
  EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(MeasureTest, MenuCommandsFollowThePage) {
  EXPECT_EQ(frm->Analyze1->shortcut(), QKeySequence(Qt::Key_F4));
  EXPECT_EQ(frm->Alternative1->shortcut(), QKeySequence(Qt::Key_F5));
  GiveImage(HighRangeDots(80, 20, 0.3));
  frm->st.MESSTYPE = analysis::MT_FILMDOT;
  for (QWidget* page : {frm->STRUCTURE, frm->FILM}) {
    ActivatePage(page);
    frm->Analyze1->trigger();
    frm->Alternative1->trigger();
    EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_FILMDOT);
  }
  ActivatePage(frm->LAMS);
  frm->Alternative1->trigger();
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_FILMDOT);
}

TEST_F(Presentation, AlternativeCyclesThePopulationsAndReplacesTheStatisticEntry) {
  frm->st.ImgCaptured = true;
  TSortedDotList* third = Population(true, 20, 100, 10);
  TSortedDotList* second = Population(true, 30, 100, 10);
  TSortedDotList* first = Population(true, 40, 100, 10);
  a.ActAlternative = first;
  HRMain().MyMess.aType = analysis::MT_PLATEDOT;
  // The shown result is the statistic's last entry.
  frm->st.StatActive = true;
  for (int i = 0; i < 4; ++i) frm->AddStatistic();
  ASSERT_EQ(HRMain().StatCount, 4);
  std::vector<TSortedDotList*> shown;
  for (int i = 0; i < 3; ++i) {
    frm->Alternativebtn->click();
    shown.push_back(a.ActAlternative);
    EXPECT_EQ(HRMain().StatCount, 4);
    EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_PLATEDOT);
    // The last entry is the population now shown.
    EXPECT_EQ(HRMain().StatMess[3].LCM, HRMain().MyMess.LCM);
  }
  EXPECT_EQ(shown, (std::vector<TSortedDotList*>{second, third, first}));
  EXPECT_EQ(T(frm->PlateLCMResult), analysis::SetVal(43000 / (2.54 * 40), 2));
  EXPECT_FALSE(frm->PDotAreaPanel->isHidden());
}

TEST_F(MeasureTest, DensityThresholdFromTheEditWithoutANewConversion) {
  GiveImage(HighRangeDots(80, 20, 0.3));
  ActivatePage(frm->Plate);
  frm->Densitybtn->click();
  ASSERT_TRUE(frm->st.isDens);
  frm->st.maxbr = 1234;
  frm->PlateDensEdit->setText("0.35");
  frm->AnalyzePlateBtn->click();
  EXPECT_EQ(frm->st.aHist.TH, 35);
  EXPECT_EQ(frm->Label13->text().toStdString().substr(0, 7), "TH: 35 ");
  EXPECT_EQ(frm->st.maxbr, 1234u);
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_PLATEDOT);
}

// A screen with one more dot in the middle of a cell: only the fuzzy search (tolerance 50 %
// and above) keeps that dot, off the lattice, in the population it draws.
TEST_F(MeasureTest, ToleranceFromFiftyPercentIsFuzzy) {
  const double D = 80;
  const double a = 20 * std::numbers::pi / 180;
  // Lattice point (u, v) = (8.3, 6.6) of the generator's lattice, plus half a cell.
  const double u = 8.3 + 0.5, v = 6.6 + 0.5;
  const platform::TPoint odd{static_cast<int>(std::lround(D * (u * std::cos(a) - v * std::sin(a)))),
                             static_cast<int>(std::lround(D * (u * std::sin(a) + v * std::cos(a))))};
  GiveImage(HighRangeDots(D, 20, 0.1, {odd}));
  ActivatePage(frm->Plate);
  std::map<int, uint32_t> colour;
  for (int tol : {49, 50}) {
    frm->PlateDotTol->setText(QString::number(tol));
    frm->AnalyzePlateBtn->click();
    ASSERT_NE(analysis::Analysis().GAlternative, nullptr);
    EXPECT_EQ(analysis::Analysis().GAlternative->areatol, tol);
    // Inside the dot, on the side away from its cell (a dark dot's cell has a corner on its
    // centre).
    colour[tol] = Pixel(*frm->st.rbmp, odd.X - 2, odd.Y - 4);
  }
  EXPECT_NE(colour[49], kCyan);
  EXPECT_EQ(colour[50], kCyan);
}

TEST_F(MeasureTest, TypesRightAfterTheCommandsThatShowWithTheirType) {
  GiveImage(HighRangeDots(80, 20, 0.3));
  ActivatePage(frm->Plate);
  frm->AnalyzePlateBtn->click();
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_PLATEDOT);
  frm->DotAnalyze2TH->click();
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_PLATESDOT);
  EXPECT_EQ(Line()[0], 'G');
  ActivatePage(frm->FILM);
  frm->KFilmClusterbtn->click();
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_FILMCLUSTER);
  EXPECT_EQ(HRMain().MyMess.aType, analysis::MT_FILMCLUSTER);
  EXPECT_EQ(Line()[0], 'O');
}

TEST_F(MeasureTest, ThresholdBarShowsItsPosition) {
  frm->PlateTHBar->setValue(-7);
  EXPECT_EQ(T(frm->StructContrast), "-7");
  frm->PlateTHBar->setValue(30);
  EXPECT_EQ(T(frm->StructContrast), "30");
}

}  // namespace
}  // namespace app
