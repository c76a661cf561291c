#include "analysis/analyze_grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <vector>

#include "analysis/analyze_neighbours.h"
#include "analysis/mymath.h"
#include "analysis/tests/dots_fixture.h"

namespace analysis {
namespace {

using namespace analysis::fixture;

std::set<TDot*> Members(const TSortedDotList* p) {
  std::set<TDot*> s;
  for (TDotList* m = p->dots; m; m = m->next) s.insert(m->dots);
  return s;
}

// Lattice points of period d at angle a (degrees) around the image centre, rounded.
std::vector<TPoint> LatticeAroundCentre(int nx, int ny, double d, double a) {
  const double c = std::cos(a * std::numbers::pi / 180), s = std::sin(a * std::numbers::pi / 180);
  std::vector<TPoint> pts;
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) {
      const double u = i - (nx - 1) / 2.0, v = j - (ny - 1) / 2.0;
      pts.push_back({static_cast<int>(std::lround(640 + d * (u * c - v * s))),
                     static_cast<int>(std::lround(512 + d * (u * s + v * c)))});
    }
  return pts;
}

TEST(RemoveDotsNotOnGrid, KeepsEveryLatticeDotAtEveryAngleAndDropsTheOthers) {
  // alpha 90 is what a perfect 0-degree screen measures: its cosine is a rounding remainder.
  for (double alpha : {90.0, 0.0, 23.0, 61.0}) {
    SCOPED_TRACE(alpha);
    LooseDots loose;
    std::vector<TDot*> on, off;
    for (TPoint p : LatticeAroundCentre(21, 17, 40, alpha)) on.push_back(loose.Add(p));
    // Off by up to the tolerance (distance / 8 = 5) and by more. The lattice points of the
    // slanted screens are rounded, so their offsets keep clear of the tolerance by a pixel.
    const TPoint base = on[100]->swp;
    const bool exact = alpha == 0 || alpha == 90;
    const std::vector<std::pair<int, int>> kept_offsets =
        exact ? std::vector<std::pair<int, int>>{{5, 0}, {0, -5}, {3, 4}} : std::vector<std::pair<int, int>>{{3, 0}, {0, -3}, {2, 2}};
    const std::vector<std::pair<int, int>> dropped_offsets =
        exact ? std::vector<std::pair<int, int>>{{6, 0}, {0, 7}, {20, 20}} : std::vector<std::pair<int, int>>{{7, 0}, {0, 8}, {20, 20}};
    for (auto [dx, dy] : kept_offsets) on.push_back(loose.Add({base.X + dx, base.Y + dy}));
    for (auto [dx, dy] : dropped_offsets) off.push_back(loose.Add({base.X + dx, base.Y + dy}));
    std::vector<TDot*> all = on;
    all.insert(all.end(), off.begin(), off.end());
    PopulationOwner pop{PopulationOf(all)};
    pop.p->distance = 40;
    pop.p->alpha = alpha;
    RemoveDotsNotOnGrid(pop.p);
    EXPECT_EQ(Members(pop.p), std::set<TDot*>(on.begin(), on.end()));
    EXPECT_EQ(pop.p->Count, 357 + 3);
  }
}

TEST(RemoveByEdgeFactor, KeepsAWindowAboveTheSmallestFactor) {
  LooseDots loose;
  std::vector<TDot*> dots;
  for (int edge : {20, 22, 25, 26, 40}) {
    TDot* d = loose.Add({0, 0}, 100);
    d->fedge = edge;
    d->radius = 0.5;
    dots.push_back(d);
  }
  TDot* empty = loose.Add({0, 0}, 0);
  empty->fedge = 5;
  dots.push_back(empty);
  PopulationOwner pop{PopulationOf(dots)};
  pop.p->area = 100;
  pop.p->edgelen = 30;
  // Smallest factor 20, reftol 10: t = 2, the window is 20..25 (at least 5 wide).
  RemoveByEdgeFactor(pop.p, 10);
  EXPECT_EQ(Members(pop.p), (std::set<TDot*>{dots[0], dots[1], dots[2]}));
  EXPECT_EQ(pop.p->Count, 3);
  EXPECT_EQ(pop.p->area, 100);
  EXPECT_EQ(pop.p->edgelen, 22);  // (20 + 22 + 25) div 3
  EXPECT_EQ(pop.p->radius, 0.5);
}

TEST(SortByGrayLevel, SplitsOffTheMembersFarFromTheDarkestOrBrightest) {
  for (bool black : {true, false}) {
    LooseDots loose;
    std::vector<TDot*> dots;
    const std::vector<int> grays = black ? std::vector<int>{40, 70, 50, 90} : std::vector<int>{200, 160, 210, 185};
    for (int g : grays) {
      TDot* d = loose.Add({0, 0}, g);  // fsize = gray, to see the means
      d->MeanGray = static_cast<uint8_t>(g);
      d->isblack = black;
      dots.push_back(d);
    }
    PopulationOwner pop{PopulationOf(dots, black)};
    pop.p->area = 60;
    PopulationOwner split{SortByGrayLevel(pop.p)};
    ASSERT_NE(split.p, nullptr);
    EXPECT_EQ(split.p->isBlack, black);
    if (black) {
      EXPECT_EQ(Members(pop.p), (std::set<TDot*>{dots[0], dots[2]}));  // <= 40 + 20
      EXPECT_EQ(pop.p->area, 45);
      EXPECT_EQ(split.p->dots->dots, dots[3]) << "moved in walk order, each in front";
      EXPECT_EQ(split.p->area, 80);
    } else {
      EXPECT_EQ(Members(pop.p), (std::set<TDot*>{dots[0], dots[2]}));  // >= 210 - 20
      EXPECT_EQ(Members(split.p), (std::set<TDot*>{dots[1], dots[3]}));
    }
    EXPECT_EQ(pop.p->Count, 2);
    EXPECT_EQ(split.p->Count, 2);
  }
}

TEST(PopulationFilters, IsolatedAndChainedDots) {
  LooseDots loose;
  TDot* a = loose.Add({100, 100});
  TDot* b = loose.Add({140, 100});
  TDot* lone = loose.Add({400, 400});
  TDot* chain = loose.Add({200, 200});
  chain->Outrect = {170, 190, 230, 210};  // 60 x 20: larger than a cell box
  chain->fsize = 500;
  PopulationOwner pop{PopulationOf({a, b, lone, chain})};
  pop.p->dots->NB1 = b;                    // a
  pop.p->dots->next->NB4 = a;              // b: any slot counts
  pop.p->dots->next->next->next->NB2 = a;  // chain
  RemoveIsolatedDots(pop.p);
  EXPECT_EQ(Members(pop.p), (std::set<TDot*>{a, b, chain}));
  EXPECT_EQ(pop.p->Count, 3);

  // Cell box of period 40 at 0 degrees: (0.9 x 40)^2 = 1296; the chain's box is 1200 - in;
  // at period 30 (729) it is out and does not count.
  pop.p->alpha = 0;
  for (double d : {40.0, 30.0}) {
    for (TDotList* m = pop.p->dots; m; m = m->next) m->flag = 0;
    pop.p->distance = d;
    IgnoreChainDots(pop.p);
    EXPECT_EQ(pop.p->Count, d == 40 ? 3 : 2);
    EXPECT_DOUBLE_EQ(pop.p->area, d == 40 ? (100 + 100 + 500) / 3.0 : 100);
    for (TDotList* m = pop.p->dots; m; m = m->next) EXPECT_EQ(m->flag, m->dots != chain || d == 40);
  }
}

TEST(AddDotsOnGrid, TakesLatticeDotsOfTheRightColourAndSize) {
  State st;
  LooseDots loose;
  // Members at four lattice points of period 40 (angle 0) around the image centre.
  std::vector<TDot*> members;
  for (TPoint p : std::vector<TPoint>{{640, 512}, {680, 512}, {640, 552}, {600, 472}}) members.push_back(loose.Add(p));
  struct Candidate {
    TPoint at;
    int area;
    bool black, border;
  };
  const std::vector<Candidate> candidates = {
      {{720, 512}, 85, true, false},   // 15 % off: in
      {{760, 512}, 75, true, false},   // 25 % off: only fuzzy
      {{600, 512}, 109, true, false},  // within 10 pixels: in
      {{560, 512}, 130, true, false},  // 30 % off: only fuzzy
      {{640, 592}, 100, false, false}, // the other colour
      {{640, 432}, 100, true, true},   // on the border
      {{660, 532}, 100, true, false},  // between lattice points
      {{640, 472}, 4, true, false},    // too small
  };
  TDot* chain = nullptr;
  std::vector<TDot*> cand_dots;
  for (const Candidate& c : candidates) {
    TDot* d = loose.Add(c.at, c.area, c.black);
    d->border = c.border;
    cand_dots.push_back(d);
    d->next = chain;
    chain = d;
    for (int y = c.at.Y - 3; y <= c.at.Y + 3; ++y)
      for (int x = c.at.X - 3; x <= c.at.X + 3; ++x) st->GResult[x][y] = d->ID;
  }
  for (bool fuzzy : {false, true}) {
    PopulationOwner pop{PopulationOf(members)};
    pop.p->distance = 40;
    pop.p->alpha = 0;
    pop.p->area = 100;
    AddDotsOnGrid(*st, chain, pop.p, st->GResult, fuzzy);
    std::set<TDot*> want(members.begin(), members.end());
    want.insert(cand_dots[0]);
    want.insert(cand_dots[2]);
    if (fuzzy) {
      want.insert(cand_dots[1]);
      want.insert(cand_dots[3]);
    }
    EXPECT_EQ(Members(pop.p), want) << fuzzy;
    EXPECT_EQ(pop.p->Count, static_cast<int>(want.size()));
    for (TDotList* m = pop.p->dots; m; m = m->next)
      if (!std::count(members.begin(), members.end(), m->dots)) {
        EXPECT_EQ(m->flag, 1);
      }
  }
}

TEST(AddDotToAlternative, StartsAPopulationAndMeasuresItFromTwoDots) {
  State st;
  LooseDots loose;
  TDot* a = loose.Add({100, 100}, 90);
  a->fedge = 12;
  TDot* b = loose.Add({130, 140}, 110);
  b->fedge = 14;
  b->edgelen = 30;
  st->MaxDot = b;
  PopulationOwner pop{AddDotToAlternative(*st, nullptr, a)};
  ASSERT_NE(pop.p, nullptr);
  EXPECT_TRUE(pop.p->isBlack);
  EXPECT_EQ(pop.p->Count, 1);
  EXPECT_EQ(pop.p->distance, 0);
  EXPECT_EQ(AddDotToAlternative(*st, pop.p, b), pop.p);
  EXPECT_EQ(pop.p->Count, 2);
  EXPECT_DOUBLE_EQ(pop.p->distance, 50);
  EXPECT_DOUBLE_EQ(pop.p->alpha, PTWinkel(b->swp, a->swp, 1));
  EXPECT_EQ(pop.p->area, 100);
  EXPECT_EQ(pop.p->edgelen, (12 + 30) / 2) << "MaxDot counts with its pixel edge";
  AddDotToAlternative(*st, pop.p, a);
  EXPECT_EQ(pop.p->Count, 2) << "a member is not added twice";
  RemoveDotbyID(pop.p, a->ID);
  EXPECT_EQ(pop.p->Count, 1);
  EXPECT_FALSE(DotInSortedDotList(a->ID, pop.p));
  EXPECT_TRUE(DotInSortedDotList(b->ID, pop.p));
}

TEST(FillGrid, StoresBrightDotsInTheirDiagonalCells) {
  // At 45 degrees the cells run along x and y; a period of 39.5 sqrt 2 gives cells of 40 px.
  State st;
  LooseDots loose;
  const int x0 = 640, y0 = 100;  // origin: 640 - 13 x 40 = 120, row 100
  std::vector<TDot*> dots;
  for (auto [i, j] : std::vector<std::pair<int, int>>{{0, 0}, {3, 1}, {12, 7}, {64, 20}, {65, 2}})
    dots.push_back(loose.Add({120 + 40 * i, 100 + 40 * j}, 100, false));
  TDot* dark = loose.Add({120 + 40 * 5, 100 + 40 * 5}, 100, true);
  TDot* border = loose.Add({120 + 40 * 6, 100 + 40 * 5}, 100, false);
  border->border = true;
  TDot* later = loose.Add({120 + 40 * 3 + 4, 100 + 40 * 1 - 3}, 100, false);  // the same cell as (3, 1)
  std::vector<TDot*> all = dots;
  all.insert(all.end(), {dark, border, later});
  PopulationOwner pop{PopulationOf(all, false)};
  pop.p->alpha = 45;
  pop.p->distance = 39.5 * std::numbers::sqrt2;
  FillGrid(st->GGrid, pop.p, x0, y0);
  EXPECT_EQ(st->GGrid[0][0].p, dots[0]);
  EXPECT_EQ(st->GGrid[3][1].p, later) << "the later of two dots in one cell stays";
  EXPECT_EQ(st->GGrid[12][7].p, dots[2]);
  EXPECT_EQ(st->GGrid[12][7].x, dots[2]->swp.X);
  EXPECT_EQ(st->GGrid[12][7].y, dots[2]->swp.Y);
  EXPECT_EQ(st->GGrid[64][20].p, dots[3]);
  EXPECT_EQ(st->GGrid[5][5].p, nullptr) << "dark dots are not numbered";
  EXPECT_EQ(st->GGrid[6][5].p, nullptr) << "border dots are not numbered";
  int filled = 0;
  for (auto& column : st->GGrid)
    for (auto& cell : column) filled += cell.p != nullptr;
  EXPECT_EQ(filled, 4) << "(65, 2) lies beyond the grid";
  ClearResult(*st);
  EXPECT_EQ(st->GGrid[0][0].p, nullptr) << "the cells do not outlive the dots";
}

}  // namespace
}  // namespace analysis
