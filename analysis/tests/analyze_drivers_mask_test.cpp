#include "analysis/analyze_drivers_mask.h"

#include <gtest/gtest.h>

#include <cmath>

#include "analysis/analyze_grid.h"
#include "analysis/tests/drivers_fixture.h"
#include "analysis/tests/halftone.h"

namespace analysis {
namespace {

using namespace analysis::fixture;

struct MaskCase {
  double period, angle, coverage;
  bool dark;
};

class MaskDotArea : public ::testing::TestWithParam<MaskCase> {};

// The population of the dominating colour carries the screen's period, angle and dot size.
TEST_P(MaskDotArea, PopulationHasScreenPeriodAngleAndDotSize) {
  const MaskCase c = GetParam();
  HalftoneOptions o;
  o.dark_dots = c.dark;
  Window w(Halftone(ImWidth, ImHeight, {{c.period, c.angle, c.coverage}}, o));
  // In a synthetic image the threshold sits on the true edge: pixels plus edge is the dot.
  w.st().ADDEDGE = 1;
  w.host.checked.insert("SizeRB");
  AnalyzeMask(w.ctx, false);

  TSortedDotList* pop = w.st().GAlternative;
  ASSERT_NE(pop, nullptr);
  EXPECT_EQ(w.st().ActAlternative, pop);
  EXPECT_EQ(pop->next, nullptr);
  EXPECT_EQ(pop->isBlack, c.dark);
  EXPECT_NEAR(pop->distance, c.period, 0.015 * c.period);
  EXPECT_NEAR(pop->alpha, c.angle, 0.5);
  EXPECT_NEAR(pop->area / (c.period * c.period), c.coverage, 0.015);
  const double expected = ImWidth * ImHeight / (c.period * c.period);
  EXPECT_GT(MemberCount(pop), 0.8 * expected);
  EXPECT_EQ(w.host.shownList, pop);
  EXPECT_EQ(w.host.shown, std::vector<std::string>{"Mask 1"});
  EXPECT_EQ(w.host.gauge.front(), 0);
  EXPECT_EQ(w.host.gauge.back(), 100);
  EXPECT_EQ(w.host.busy, (std::vector<bool>{true, false}));
}

INSTANTIATE_TEST_SUITE_P(Screens, MaskDotArea,
                         ::testing::Values(MaskCase{24, 15, 0.30, true}, MaskCase{32, 37.5, 0.12, false}));

// The three threshold choices: density mode leans to the dark peak, local thresholds follow
// the tiles, otherwise the bright peak.
TEST(MaskThreshold, DensityLocalAndGlobal) {
  HalftoneOptions o;
  Window w(Halftone(256, 256, {{16, 0, 0.3}}, o));
  const THist& h = *w.hist;
  ASSERT_LT(h.l, h.TH);
  ASSERT_LT(h.TH, h.r);
  MaskThreshold(w.ctx, w.dbmp, false);
  EXPECT_EQ(w.st().ThImage[640][512], (3 * h.TH + h.r) / 4);
  w.win.isDens = true;
  MaskThreshold(w.ctx, w.dbmp, true);
  EXPECT_EQ(w.st().ThImage[640][512], (3 * h.TH + h.l) / 4);
  w.win.isDens = false;
  FillTh(w.st().ThImage, 0);
  MaskThreshold(w.ctx, w.dbmp, true);
  EXPECT_GT(w.st().ThImage[100][100], 30);
  EXPECT_LT(w.st().ThImage[100][100], 225);
}

// A standard driver start ends what a previous run left: manual and line modes, the buttons
// and the old result.
TEST(DriverRun, EndsManualModesAndClearsResult) {
  Window w(Halftone(ImWidth, ImHeight, {{24, 15, 0.3}}, {}));
  w.win.ManOn = w.win.LineOn = true;
  AnalyzeMask(w.ctx, false);
  TDot* first = w.st().GDotList;
  ASSERT_NE(first, nullptr);
  w.host.shown.clear();
  AnalyzeMask(w.ctx, false);
  EXPECT_FALSE(w.win.ManOn);
  EXPECT_FALSE(w.win.LineOn);
  for (const char* b : {"ManPlatebtn", "ManMaskbtn", "LineBtn", "FLinebtn"}) {
    EXPECT_FALSE(w.host.down.at(b)) << b;
  }
  EXPECT_EQ(w.host.shown.size(), 1u);
}

// A blank image has no dots: an empty population, no division by a zero count.
TEST(MaskDotAreaEdge, BlankImageGivesEmptyPopulation) {
  Window w(Filled(ImWidth, ImHeight, 200));
  AnalyzeMask(w.ctx, false);
  ASSERT_NE(w.st().GAlternative, nullptr);
  EXPECT_EQ(w.st().GAlternative->Count, 0);
  EXPECT_EQ(MemberCount(w.st().GAlternative), 0);
  EXPECT_EQ(w.host.gauge.back(), 100);
}

// Bright square pixels on a dark ground, 30 pixels apart: the expected ruling of an empty
// edit (1432.56 lines per inch) at 43000 pixels per inch.
TEST(MaskPixelPattern, CellsOnTheSpectralLattice) {
  HalftoneOptions o;
  o.dark_dots = false;
  const double period = 43000 / 1432.56;
  Window w(Halftone(ImWidth, ImHeight, {{period, 20, 0.35}}, o));
  AnalyzeWSI(w.ctx);
  EXPECT_EQ(w.host.texts.at("WSILcm"), "564");
  TSortedDotList* pop = w.st().GAlternative;
  ASSERT_NE(pop, nullptr);
  EXPECT_FALSE(pop->isBlack);
  EXPECT_NEAR(pop->distance, period, 0.02 * period);
  EXPECT_NEAR(pop->alpha, 20, 1.0);
  // Every cell of the lattice that lies away from the border is a member.
  const double cells = ImWidth * ImHeight / (period * period);
  EXPECT_GT(pop->Count, 0.6 * cells);
  EXPECT_EQ(pop->Count, MemberCount(pop));
  // A cell dot is the bright share of its cell (inner pixels plus edge): about the coverage.
  EXPECT_NEAR((pop->area + pop->edgelen) / (period * period), 0.35, 0.04);
  int32_t filled = 0;
  for (const auto& col : w.st().GGrid)
    for (const auto& cell : col) filled += cell.p != nullptr;
  EXPECT_GT(filled, 100);
  EXPECT_EQ(w.host.shown, std::vector<std::string>{"Mask 2 grid"});
  EXPECT_EQ(w.host.gauge.back(), 100);
}

TEST(MaskPixelPattern, ExpectedRulingFromTheEdit) {
  Window w(Filled(8, 8, 0));
  w.st().LUnits = 1;
  w.host.texts["WSILcm"] = "1432.4";
  EXPECT_DOUBLE_EQ(ExpectedRuling(w.ctx, "WSILcm"), 1432.4);
  EXPECT_EQ(w.host.texts.at("WSILcm"), "1432");
  // Zero or a negative ruling has no period: the default stands in.
  for (const char* t : {"0", "-5", "abc"}) {
    w.host.texts["WSILcm"] = t;
    EXPECT_DOUBLE_EQ(ExpectedRuling(w.ctx, "WSILcm"), 1432.56) << t;
    EXPECT_EQ(w.host.texts.at("WSILcm"), "1433") << t;
  }
}

// Equal lines and gaps, 32 pixels apart: half the area is dark, the line is half the period,
// and the frequency is the grating's.
TEST(MaskLinePattern, GratingGivesPeriodFrequencyAndLineWidth) {
  Window w(Grating(32, 16));
  w.win.StatActive = true;
  AutoLineClick(w.ctx);
  const double periodUm = 32 * 25400.0 / 43000;
  EXPECT_NEAR(w.MyMess.DotArea, 50, 1.0);
  EXPECT_DOUBLE_EQ(w.win.maxf, 32);
  EXPECT_NEAR(w.MyMess.Periode1, periodUm, 1e-9);
  EXPECT_NEAR(w.MyMess.LineWidth, periodUm / 2, 0.02 * periodUm);
  EXPECT_NEAR(w.MyMess.Freq1, 1e4 / periodUm, 1e-6);
  EXPECT_EQ(w.MyMess.aType, MT_LAMSMG);
  EXPECT_EQ(w.win.MESSTYPE, MT_LAMSMG);
  EXPECT_EQ(w.host.statistics, 1);
  EXPECT_EQ(w.host.texts.at("MaskDotAreaRes").back(), '%');
  EXPECT_TRUE(w.host.texts.contains("PeriodeLabel"));
  EXPECT_FALSE(w.host.visible.at("MaskValues"));
  EXPECT_TRUE(w.host.visible.at("LAMSFreqPanel"));
  EXPECT_FALSE(w.host.visible.at("LAMSSRPanel"));
  EXPECT_EQ(w.host.busy, (std::vector<bool>{true, false}));
  EXPECT_EQ(w.st().GAlternative, nullptr);
}

TEST(MaskLinePattern, LabelsOnlyOnTheMaskPageAndNothingWithoutImage) {
  Window w(Grating(32, 16));
  w.host.page = TAnalysisPage::Plate;
  AutoLineClick(w.ctx);
  EXPECT_FALSE(w.host.texts.contains("PeriodeLabel"));
  EXPECT_GT(w.MyMess.Periode1, 0);

  Window none(Grating(32, 16));
  none.win.ImgCaptured = false;
  AutoLineClick(none.ctx);
  EXPECT_TRUE(none.host.gauge.empty());
  EXPECT_EQ(none.MyMess.aType, MT_NONE);
}

TEST(MaskLinePattern, TextsPerUnitSystem) {
  // P1 = 0.1 mm, P2 = 0.05 mm, p = 0.5; 1000 L/cm; peak width 43 px at 43000 px/inch.
  const auto t0 = LinePatternTexts(0, 1, 43000, 0.1, 0.05, 0.5, 100, 200 * 2600.96 / 43000, 43);
  // Decimal texts are right-aligned to five characters, as every result text.
  EXPECT_EQ(t0.Periode, "100.0 -  50.0 \u00B5m");
  EXPECT_EQ(t0.LineWidth, " 50.0 \u00B1  12.7");
  EXPECT_EQ(t0.Freq, "100.0 - 200.0 L/cm");
  const auto t1 = LinePatternTexts(1, 2, 43000, 0.254, 0.127, 0.5, 100, 0, 43);
  EXPECT_EQ(t1.Periode, "10.00 -  5.00 mil");
  EXPECT_EQ(t1.Freq, "254.00 -  0.00 LPI");
  EXPECT_EQ(t1.LineWidth, " 5.00 \u00B1  0.50");
  const auto t2 = LinePatternTexts(2, 0, 43000, 0.1, 0.05, 0.5, 100, 0, 43);
  EXPECT_EQ(t2.Periode, "100 - 50 \u00B5m");
  EXPECT_TRUE(t2.Freq.ends_with(" LPI"));
}

}  // namespace
}  // namespace analysis
