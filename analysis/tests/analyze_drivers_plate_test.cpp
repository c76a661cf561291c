#include "analysis/analyze_drivers_plate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "analysis/analyze_population.h"
#include "analysis/mymath.h"
#include "analysis/tests/drivers_fixture.h"
#include "analysis/tests/halftone.h"

namespace analysis {
namespace {

using namespace analysis::fixture;

// Bright plate dots whose surface is pitted with small dark holes, as a textured plate shows.
Bitmap TexturedDots(double period, double angle, double coverage) {
  HalftoneOptions o;
  o.dark_dots = false;
  Bitmap b = Halftone(ImWidth, ImHeight, {{period, angle, coverage}}, o);
  for (int y = 0; y < ImHeight; ++y)
    for (int x = 0; x < ImWidth; ++x)
      if (Px(b, x, y) > 128 && x % 7 < 4 && y % 7 < 4) SetGray(b, x, y, 30);
  return b;
}

int32_t WithInnerDots(const TSortedDotList* l) {
  int32_t n = 0;
  for (const TDotList* m = l ? l->dots : nullptr; m; m = m->next) n += m->dots->InnerDots != nullptr;
  return n;
}

// Without the dilatation every hole is an object of its own inside its dot; with it each
// dot is one solid object and the best population is the screen.
TEST(PlateDots, DilatationMakesTexturedDotsSolid) {
  const double period = 64, cells = ImWidth * ImHeight / (period * period);
  Window plain(TexturedDots(period, 15, 0.2));
  AnalyzeKPlate(plain.ctx, 0, 0, 10, 0);
  int32_t pitted = 0;
  for (TDot* d = plain.st().GDotList; d; d = d->next) pitted += !d->isblack && d->InnerDots != nullptr;
  EXPECT_GT(pitted, 0.8 * cells);

  Window solid(TexturedDots(period, 15, 0.2));
  solid.MyMess.aType = MT_PLATESDOT;
  AnalyzeKPlate(solid.ctx, 0, 1, 10, 0);
  const TSortedDotList* best = solid.st().GAlternative;
  ASSERT_NE(best, nullptr);
  EXPECT_EQ(solid.st().ActAlternative, best);
  EXPECT_FALSE(best->isBlack);
  EXPECT_NEAR(best->distance, period, 0.015 * period);
  EXPECT_NEAR(best->alpha, 15, 0.5);
  EXPECT_GT(best->Count, 0.8 * cells);
  EXPECT_EQ(WithInnerDots(best), 0);
  EXPECT_TRUE(solid.st().ResAvail);
  EXPECT_EQ(solid.host.shown, std::vector<std::string>{"Plate mask"});
  EXPECT_EQ(solid.host.gauge.back(), 100);
  EXPECT_EQ(solid.host.busy, (std::vector<bool>{true, false}));
}

// The structure flag drops the (negative) edge weight: the size is the pixel area.
TEST(PlateDots, StructureFlagSizesWithoutEdgeWeight) {
  HalftoneOptions o;
  const Bitmap img = Halftone(ImWidth, ImHeight, {{24, 30, 0.3}}, o);
  Window weighted(img);
  AnalyzeKPlate(weighted.ctx, 0, 0, 10, 0);
  std::map<uint16_t, std::pair<int32_t, int32_t>> sizes;  // ID -> fsize, fedge
  for (TDot* d = weighted.st().GDotList; d; d = d->next)
    if (!d->border) sizes[d->ID] = {d->fsize, d->fedge};
  ASSERT_NE(weighted.st().MaxDot, nullptr);
  for (TDot* d = weighted.st().GDotList; d; d = d->next)
    if (!d->border) {
      EXPECT_LE(d->fsize, weighted.st().MaxDot->fsize);
    }

  Window flagged(img);
  flagged.host.checked.insert(std::string(StructureFlagCaption));
  AnalyzeKPlate(flagged.ctx, 0, 0, 10, 0);
  int32_t compared = 0;
  for (TDot* d = flagged.st().GDotList; d; d = d->next) {
    if (d->border) continue;
    const auto& [fsize, fedge] = sizes.at(d->ID);
    EXPECT_EQ(d->fedge, fedge);
    EXPECT_NEAR(d->fsize - fsize, 2.9 * fedge, 0.5) << d->ID;
    ++compared;
  }
  EXPECT_GT(compared, 1000);
  EXPECT_EQ(flagged.host.shown, std::vector<std::string>{"Plate"});
}

// A fine structure, 20 pixels apart: its frequency (51 in a 1024-point transform) lies far
// from the period value, so only a search around the frequency finds the lattice.
TEST(PlateStructure, PatternAreaOnTheSpectralLattice) {
  const double period = 20;
  HalftoneOptions o;
  o.dark_dots = false;
  Window w(Halftone(ImWidth, ImHeight, {{period, 20, 0.35}}, o));
  w.host.texts["WSILcmPlate"] = SetVal(43000 / (period * 2.54), 2);
  w.host.checked.insert("DiameterRBPlate");
  AnalyzeWSIPlate(w.ctx);
  EXPECT_EQ(w.host.texts.at("WSILcmPlate"), "846");
  TSortedDotList* pop = w.st().GAlternative;
  ASSERT_NE(pop, nullptr);
  EXPECT_NEAR(pop->distance, period, 0.03 * period);
  EXPECT_NEAR(pop->alpha, 20, 1.0);
  EXPECT_GT(pop->Count, 0.6 * ImWidth * ImHeight / (period * period));
  EXPECT_EQ(w.host.shown, std::vector<std::string>{"PlateStruct 0 grid"});
  EXPECT_EQ(w.host.gauge.back(), 100);
}

}  // namespace
}  // namespace analysis
