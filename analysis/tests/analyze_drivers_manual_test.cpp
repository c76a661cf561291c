// The manual drivers: manual selection (modes, empty population, statistic only on the mask
// page), line mode of the plate page, the burl collection's size limit, and the editing of a
// population that then heads the chain while the populations it replaces stay owned.
#include "analysis/analyze_drivers_manual.h"

#include <gtest/gtest.h>

#include <cmath>

#include "analysis/analyze_population.h"
#include "analysis/tests/drivers_fixture.h"

namespace analysis {
namespace {

using namespace fixture;

// Dark discs of the given radii on a bright ground, centred along the row y = 300 from x = 100,
// 120 pixels apart (value 0 inside, 255 outside).
Bitmap Discs(const std::vector<double>& radii, bool bright = false) {
  Bitmap b = Filled(ImWidth, ImHeight, bright ? 0 : 255);
  for (size_t i = 0; i < radii.size(); ++i) {
    const int cx = 100 + 120 * static_cast<int>(i), cy = 300;
    for (int y = cy - 40; y <= cy + 40; ++y)
      for (int x = cx - 40; x <= cx + 40; ++x)
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radii[i] * radii[i]) SetGray(b, x, y, bright ? 255 : 0);
  }
  return b;
}

// The detected dots under the centres of the first n discs; their centres become swp.
std::vector<TDot*> DiscDots(AnalyzeState& st, int n) {
  std::vector<TDot*> v;
  for (int i = 0; i < n; ++i) {
    const TPoint c{100 + 120 * i, 300};
    TDot* d = GetDot(st.GDotList, st.GResult[c.X][c.Y]);
    if (!d || !d->isblack) return {};
    d->swp = c;
    v.push_back(d);
  }
  return v;
}

TEST(ManualSelection, StartsAnEmptyPopulationAndSwitchesOff) {
  for (const TAnalysisPage page : {TAnalysisPage::Mask, TAnalysisPage::Plate, TAnalysisPage::Film}) {
    Window w(Discs({10, 12, 14}));
    w.host.page = page;
    w.win.StatActive = true;
    ManualSelectionClick(w.ctx, page);
    EXPECT_TRUE(w.win.ManOn);
    ASSERT_NE(w.st().GAlternative, nullptr);
    EXPECT_EQ(w.st().ActAlternative, w.st().GAlternative);
    EXPECT_EQ(w.st().GAlternative->Count, 0);
    EXPECT_FALSE(w.st().GAlternative->isBlack);
    EXPECT_EQ(Dots(w.st().GDotList).size(), 4u);  // the discs and the ground
    EXPECT_EQ(w.host.gauge.back(), 100);
    EXPECT_EQ(w.host.busy, (std::vector<bool>{true, false}));
    const MType type = page == TAnalysisPage::Plate ? MT_PLATEDOT : page == TAnalysisPage::Film ? MT_FILMDOT : MT_LAMSDOT;
    EXPECT_EQ(w.MyMess.aType, type);
    EXPECT_EQ(w.win.MESSTYPE, type);
    // Only the mask's manual selection is collected in the statistic.
    EXPECT_EQ(w.host.statistics, page == TAnalysisPage::Mask ? 1 : 0);

    ManualSelectionClick(w.ctx, page);
    EXPECT_FALSE(w.win.ManOn);
    EXPECT_FALSE(w.host.down.at("ManMaskbtn"));
    EXPECT_FALSE(w.host.down.at("FilmLinebtn"));
  }
}

TEST(ManualSelection, NothingWithoutAnImage) {
  Window w(Discs({10}));
  w.win.ImgCaptured = false;
  ManualSelectionClick(w.ctx, TAnalysisPage::Plate);
  LineModeClick(w.ctx, TAnalysisPage::Plate);
  EXPECT_FALSE(w.win.ManOn);
  EXPECT_FALSE(w.win.LineOn);
  EXPECT_TRUE(w.host.shown.empty());
}

TEST(LineModes, PlatePageClearsFirstAndShowsItsPanel) {
  Window w(Grating(40, 12));
  w.host.page = TAnalysisPage::Plate;
  LineModeClick(w.ctx, TAnalysisPage::Plate);
  EXPECT_TRUE(w.win.LineOn);
  EXPECT_TRUE(w.host.down.at("FLinebtn"));
  EXPECT_TRUE(w.host.visible.at("PLinePanel"));
  EXPECT_EQ(w.MyMess.aType, MT_PLATELINE);
  EXPECT_NE(w.st().GDotList, nullptr);
  Window m(Grating(40, 12));
  LineModeClick(m.ctx, TAnalysisPage::Mask);
  EXPECT_TRUE(m.host.visible.at("LamsLineWidthPanel"));
  EXPECT_FALSE(m.host.visible.at("MaskValues"));
  EXPECT_EQ(m.MyMess.aType, MT_LAMSLINE);
}

TEST(Burls, SizeLimitDropsLargerBurls) {
  // Bright burls on the inverted image: radii 8, 14 and 16 (about 200, 615 and 800 pixels)
  // stay under a 20 µm limit at 43000 ppi (rnd(pi x 16.93^2) = 900 pixels), radii 17.5 and 22
  // (about 960 and 1520 pixels) do not.
  Window w(Filled(ImWidth, ImHeight, 128));
  const Bitmap C = Discs({8, 14, 16, 17.5, 22}, true);
  w.host.texts["SizeLimit"] = "20";
  FillTh(w.st().ThImage, 128);
  int32_t count = 0;
  TSortedDotList* pop = BurlDots(w.ctx, C, 0, count);
  PopulationOwner own{pop};
  EXPECT_EQ(count, 3);
  EXPECT_EQ(MemberCount(pop), 3);
  EXPECT_FALSE(pop->isBlack);
  EXPECT_EQ(w.rbmp, w.dbmp);  // the result image starts again from the gray image

  // A limit of 30 µm (2025 pixels) keeps them all. (The command clears the result before
  // every collection; so does the test.)
  ClearResult(w.st());
  w.host.texts["SizeLimit"] = "30";
  TSortedDotList* all = BurlDots(w.ctx, C, 0, count);
  PopulationOwner ownAll{all};
  EXPECT_EQ(count, 5);
}

TEST(EditedPopulation, BecomesTheHeadAndTheOthersStayOwned) {
  State st;
  // Three dark dots in a row.
  Detect(*st, Discs({6, 6, 6}));
  const std::vector<TDot*> dark = DiscDots(*st, 3);
  ASSERT_EQ(dark.size(), 3u);
  // A chain of three populations; the second one (one member) is shown.
  TSortedDotList* p1 = PopulationOf({dark[0], dark[1]});
  TSortedDotList* p2 = PopulationOf({dark[0]});
  TSortedDotList* p3 = PopulationOf({dark[2]});
  p1->next = p2;
  p2->next = p3;
  st->GAlternative = p1;
  st->ActAlternative = p2;

  // Ctrl on a member and Shift on a non-member change nothing.
  EXPECT_FALSE(EditAlternative(*st, dark[0]->swp, true, false, false));
  EXPECT_FALSE(EditAlternative(*st, dark[1]->swp, false, true, false));
  // Points beside the label image find no dot.
  for (const TPoint p : {TPoint{-1, 300}, TPoint{ImWidth, 300}, TPoint{100, ImHeight}, TPoint{100, -7}})
    EXPECT_FALSE(EditAlternative(*st, p, true, true, true));
  EXPECT_EQ(st->GAlternative, p1);

  // Ctrl adds: the edited population heads the chain, the one before it is retired.
  EXPECT_TRUE(EditAlternative(*st, dark[1]->swp, true, false, false));
  EXPECT_EQ(st->ActAlternative, p2);
  EXPECT_EQ(st->GAlternative, p2);
  EXPECT_EQ(p2->next, p3);
  EXPECT_EQ(st->RetiredAlternatives, p1);
  EXPECT_EQ(p1->next, nullptr);
  EXPECT_EQ(p2->Count, 2);
  // Shift removes and recounts.
  EXPECT_TRUE(EditAlternative(*st, dark[0]->swp, false, true, false));
  EXPECT_EQ(p2->Count, 1);
  // Editing the last population retires the head as well.
  st->ActAlternative = p3;
  EXPECT_TRUE(EditAlternative(*st, dark[0]->swp, true, false, false));
  EXPECT_EQ(st->GAlternative, p3);
  EXPECT_EQ(st->RetiredAlternatives, p1);
  EXPECT_EQ(p1->next, p2);
  EXPECT_EQ(p2->next, nullptr);
  // The state's ClearResult frees every population (the sanitizer checks that none leaks).
}

TEST(EditedPopulation, ManualModeTogglesAndTheFirstDotSetsTheColour) {
  State st;
  Detect(*st, Discs({6, 6}));
  const std::vector<TDot*> dark = DiscDots(*st, 2);
  ASSERT_EQ(dark.size(), 2u);
  st->GAlternative = st->ActAlternative = NewSortedDotList(false);
  // The ground touches the border: it is never added.
  EXPECT_FALSE(EditAlternative(*st, {5, 5}, false, false, true));
  EXPECT_TRUE(EditAlternative(*st, dark[0]->swp, false, false, true));
  EXPECT_TRUE(st->ActAlternative->isBlack);
  EXPECT_TRUE(EditAlternative(*st, dark[0]->swp, false, false, true));  // a member: removed
  EXPECT_EQ(st->ActAlternative->Count, 0);
}

}  // namespace
}  // namespace analysis
