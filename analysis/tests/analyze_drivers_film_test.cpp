#include "analysis/analyze_drivers_film.h"

#include <gtest/gtest.h>

#include <cmath>

#include "analysis/analyze_population.h"
#include "analysis/mymath.h"
#include "analysis/tests/drivers_fixture.h"
#include "analysis/tests/halftone.h"

namespace analysis {
namespace {

using namespace analysis::fixture;

const double kUmPerPixel = 25400.0 / 43000;

int32_t WithInnerDots(const TSortedDotList* l) {
  int32_t n = 0;
  for (const TDotList* m = l ? l->dots : nullptr; m; m = m->next) n += m->dots->InnerDots != nullptr;
  return n;
}

TEST(FilmDots, StandardFilmFindsTheScreen) {
  const double period = 28;
  Window w(Halftone(ImWidth, ImHeight, {{period, 45, 0.25}}, {}));
  w.st().ADDEDGE = 1;
  w.host.texts["PlateDotTol"] = "10";
  w.win.maxf = w.win.maxfcm = 7;
  AnalyzeStandardFilm(w.ctx);
  const TSortedDotList* best = w.st().GAlternative;
  ASSERT_NE(best, nullptr);
  EXPECT_EQ(w.st().ActAlternative, best);
  EXPECT_TRUE(best->isBlack);
  EXPECT_NEAR(best->distance, period, 0.01 * period);
  EXPECT_NEAR(best->alpha, 45, 0.5);
  EXPECT_NEAR(best->area / (period * period), 0.25, 0.015);
  EXPECT_EQ(w.win.maxf, 0);
  EXPECT_EQ(w.win.maxfcm, 0);
  EXPECT_TRUE(w.st().ResAvail);
  EXPECT_EQ(w.host.shown, std::vector<std::string>{"Film inv"});
  EXPECT_EQ(w.host.gauge.back(), 100);
}

// Dark squares of 8 x 8 pixels on the left half, 16 x 16 on the right, 40 pixels apart.
Bitmap TwoSizes() {
  Bitmap b = Filled(ImWidth, ImHeight, 225);
  for (int cy = 20; cy + 16 < ImHeight; cy += 40)
    for (int cx = 20; cx + 16 < ImWidth; cx += 40) {
      const int s = cx < ImWidth / 2 ? 8 : 16;
      for (int y = cy; y < cy + s; ++y)
        for (int x = cx; x < cx + s; ++x) SetGray(b, x, y, 30);
    }
  return b;
}

TEST(FilmDots, MiniDotsKeepSmallDotsOtherwiseLargeOnes) {
  for (const bool mini : {true, false}) {
    Window w(TwoSizes());
    w.MyMess.aType = MT_FILMCLUSTER;
    AnalyzeFilm(w.ctx, false, mini);
    const TSortedDotList* pop = w.st().GAlternative;
    ASSERT_NE(pop, nullptr);
    EXPECT_TRUE(pop->isBlack);
    EXPECT_NEAR(pop->distance, 40, 0.5) << mini;
    int32_t small = 0, large = 0;
    for (const TDotList* m = pop->dots; m; m = m->next) (m->dots->Outrect.Right < ImWidth / 2 ? small : large)++;
    if (mini) {
      EXPECT_GT(small, 300);
      EXPECT_EQ(large, 0);
      // Without edge weight a dot's size is the square without its one-pixel edge.
      EXPECT_NEAR(pop->area, 6 * 6, 0.5);
    } else {
      EXPECT_EQ(small, 0);
      EXPECT_GT(large, 300);
      EXPECT_NEAR(pop->area, 14 * 14, 0.5);
    }
    EXPECT_EQ(w.host.shown, std::vector<std::string>{"Film mask"});
  }
}

// Clusters of four small clear dots with gaps narrower than the window: the two dilatations
// make each cluster one dot, and the clusters form the screen.
TEST(FilmDots, ClustersBecomeOneDot) {
  Bitmap b = Filled(ImWidth, ImHeight, 30);
  const int period = 48;
  for (int cy = 16; cy + 20 < ImHeight; cy += period)
    for (int cx = 16; cx + 20 < ImWidth; cx += period)
      for (int q = 0; q < 4; ++q)
        for (int y = 0; y < 6; ++y)
          for (int x = 0; x < 6; ++x) SetGray(b, cx + 10 * (q % 2) + x, cy + 10 * (q / 2) + y, 225);
  Window w(std::move(b));
  w.MyMess.aType = MT_FILMCLUSTER;
  AnalyzeKFilm(w.ctx, 128);
  const TSortedDotList* best = w.st().GAlternative;
  ASSERT_NE(best, nullptr);
  EXPECT_FALSE(best->isBlack);
  EXPECT_EQ(WithInnerDots(best), 0);
  EXPECT_NEAR(best->distance, period, 0.5);
  EXPECT_GT(best->Count, 0.8 * (ImWidth / period) * (ImHeight / period));
  EXPECT_TRUE(w.st().ResAvail);
  EXPECT_NE(w.st().MaxDot, nullptr);
  EXPECT_EQ(w.host.shown, std::vector<std::string>{"Film mask"});
}

TEST(CalibrationTarget, PopulationWithoutPresentation) {
  const double period = 30;
  Window w(Halftone(ImWidth, ImHeight, {{period, 0, 0.3}}, {}));
  AnalyzeCalTarget(w.ctx);
  const TSortedDotList* pop = w.st().GAlternative;
  ASSERT_NE(pop, nullptr);
  EXPECT_TRUE(pop->isBlack);
  EXPECT_NEAR(pop->distance, period, 0.015 * period);
  // A lattice at 0 degrees reads as 90.
  EXPECT_NEAR(pop->alpha, 90, 0.5);
  // No edge weight: the size leaves the edge out; with it the size is the dot itself.
  EXPECT_NEAR((pop->area + pop->edgelen) / (period * period), 0.3, 0.015);
  EXPECT_LT(pop->area / (period * period), 0.25);
  EXPECT_TRUE(w.host.shown.empty());
  EXPECT_EQ(w.host.gauge.back(), 100);
}

TEST(FilmAlternatives, StepThroughTheChainAndBackToTheFirst) {
  Window w(Filled(16, 16, 200));
  AnalyzeState& st = w.st();
  TSortedDotList* a = NewSortedDotList(true);
  a->next = NewSortedDotList(true);
  a->next->next = NewSortedDotList(false);
  st.GAlternative = st.ActAlternative = a;
  w.MyMess.aType = MT_FILMCLUSTER;
  w.win.ManOn = true;
  FilmAlternativeClick(w.ctx);
  EXPECT_EQ(st.ActAlternative, a->next);
  FilmAlternativeClick(w.ctx);
  FilmAlternativeClick(w.ctx);
  EXPECT_EQ(st.ActAlternative, a);
  EXPECT_FALSE(w.win.ManOn);
  EXPECT_EQ(w.win.MESSTYPE, MT_FILMCLUSTER);
  EXPECT_EQ(w.host.shown.back(), "Film inv");
  EXPECT_TRUE(w.host.visible.at("FilmDotAreaPanel"));

  w.win.ImgCaptured = false;
  FilmAlternativeClick(w.ctx);
  EXPECT_EQ(st.ActAlternative, a);
  EXPECT_EQ(w.host.shown.size(), 3u);
}

TEST(FilmAlternatives, NoPopulationShowsTheEmptyResult) {
  Window w(Filled(16, 16, 200));
  FilmAlternativeClick(w.ctx);
  EXPECT_EQ(w.st().ActAlternative, nullptr);
  EXPECT_EQ(w.host.shown, std::vector<std::string>{"Film"});
  EXPECT_EQ(w.host.shownList, nullptr);
}

// Dark vertical lines 12 pixels wide, 40 apart: the first from x = 200.
struct LineMode : ::testing::Test {
  Window w{Grating(40, 12)};
  LineMode() {
    w.host.page = TAnalysisPage::Film;
    FilmLinebtnClick(w.ctx);
  }
};

TEST_F(LineMode, SwitchesOnAndOff) {
  EXPECT_TRUE(w.win.LineOn);
  EXPECT_NE(w.st().GDotList, nullptr);
  EXPECT_TRUE(w.host.down.at("FilmLinebtn"));
  EXPECT_TRUE(w.host.visible.at("FilmParameterPages"));
  EXPECT_EQ(w.MyMess.aType, MT_FILMLINE);
  EXPECT_EQ(w.win.MESSTYPE, MT_FILMLINE);
  EXPECT_EQ(w.host.busy, (std::vector<bool>{true, false}));
  FilmLinebtnClick(w.ctx);
  EXPECT_FALSE(w.win.LineOn);
  EXPECT_FALSE(w.host.down.at("FilmLinebtn"));
  EXPECT_FALSE(w.host.visible.at("FilmParameterPages"));
}

TEST_F(LineMode, WidthOfOneLineAndOfTheGapBetweenTwo) {
  Bitmap display(ImWidth, ImHeight);
  platform::Canvas canvas(display);
  struct CanvasHost : RecordingHost {
    platform::Canvas* canvas = nullptr;
    platform::Canvas* AnalyseCanvas() override { return canvas; }
  };
  CanvasHost host;
  host.canvas = &canvas;
  host.page = TAnalysisPage::Film;
  TDriverContext ctx{w.st(), w.dbmp, w.rbmp, *w.hist, w.MyMess, w.win, host};

  // Widths run between the centres of the edge pixels: a line reads one pixel narrower, a
  // gap one pixel wider, and together they make the period.
  CalcLine(ctx, {203, 500}, {208, 500});
  const double line = w.MyMess.LineWidth;
  EXPECT_NEAR(line, 11 * kUmPerPixel, 0.2 * kUmPerPixel);
  EXPECT_NEAR(GetVal(host.texts.at("FilmLineWidthRes")), w.MyMess.LineWidth, 0.01);
  // The display shows the result image with the fitted edges in black.
  EXPECT_NE(display, Bitmap(ImWidth, ImHeight));

  w.MyMess.LineWidth = 0;
  CalcLine(ctx, {205, 500}, {245, 500});
  EXPECT_NEAR(w.MyMess.LineWidth, 29 * kUmPerPixel, 0.2 * kUmPerPixel);
  EXPECT_NEAR(line + w.MyMess.LineWidth, 40 * kUmPerPixel, 0.05 * kUmPerPixel);
}

TEST_F(LineMode, ZoomedPointsAndTheLineLength) {
  w.win.ZoomOn = 2;
  w.host.texts["FilmLineLenEdit"] = "200";
  CalcLine(w.ctx, {410, 1000}, {420, 1000});  // image points (205, 500) and (210, 500)
  EXPECT_NEAR(w.MyMess.LineWidth, 11 * kUmPerPixel, 0.2 * kUmPerPixel);
  EXPECT_DOUBLE_EQ(w.MyMess.LineLenght, 300 * 0.0005 * 43000 / 10);
  w.host.page = TAnalysisPage::Calibration;
  CalcLine(w.ctx, {410, 1000}, {420, 1000});
  EXPECT_DOUBLE_EQ(w.MyMess.LineLenght, 500 * 0.0005 * 43000 / 10);
}

TEST_F(LineMode, PointsOnAnEdgeOrBesideTheImageMeasureNothing) {
  // x = 200 is the line's left edge pixel; the others lie outside the image.
  for (const auto& [a, b] : std::vector<std::pair<TPoint, TPoint>>{
           {{200, 500}, {205, 500}}, {{-5, 500}, {205, 500}}, {{205, 500}, {1280, 500}}, {{205, 2000}, {205, 10}}}) {
    CalcLine(w.ctx, a, b);
    EXPECT_EQ(w.MyMess.LineWidth, 0) << a.X << "," << a.Y;
    EXPECT_EQ(w.MyMess.LineLenght, 0);
  }
}

}  // namespace
}  // namespace analysis
