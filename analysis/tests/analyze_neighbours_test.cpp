#include "analysis/analyze_neighbours.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "analysis/tests/dots_fixture.h"

namespace analysis {
namespace {

using namespace analysis::fixture;

constexpr double kPi = std::numbers::pi;

// Centres of a square lattice of period d whose first axis points at `angle` degrees (y
// downwards), rounded to whole pixels, over a square of `extent` pixels.
std::vector<TPoint> Lattice(double d, double angle, int extent) {
  const double c = std::cos(angle * kPi / 180), s = std::sin(angle * kPi / 180);
  std::vector<TPoint> pts;
  const int n = static_cast<int>(2 * extent / d) + 2;
  for (int j = -n; j <= n; ++j)
    for (int i = -n; i <= n; ++i) {
      const double x = extent / 2.0 + d * (i * c - j * s);
      const double y = extent / 2.0 + d * (i * s + j * c);
      if (x >= 0 && y >= 0 && x < extent && y < extent)
        pts.push_back({static_cast<int>(std::nearbyint(x)), static_cast<int>(std::nearbyint(y))});
    }
  return pts;
}

struct Measured {
  double period;
  double alpha;
};

Measured Measure(const std::vector<TPoint>& pts, double sTol, double wTol) {
  LooseDots loose;
  std::vector<TDot*> dots;
  for (const TPoint& p : pts) dots.push_back(loose.Add(p));
  PopulationOwner pop{PopulationOf(dots)};
  GetNachbarn(pop.p, pop.p->dots);
  double alpha = -1;
  const double period = GetNachbarAbstand(pop.p->dots, alpha, sTol, wTol);
  return {period, alpha};
}

TEST(GetNachbarAbstand, PeriodAndAngleOfExactLattices) {
  // Lattice axes along whole-pixel vectors (Pythagorean triples): every centre is exact, so
  // the period and the angle come out exactly whatever the search does.
  struct Case {
    int a, b;  // axis direction (a, b), length c
    int c;
    int k;     // period = k x c
  };
  const Case cases[] = {{4, 3, 5, 8}, {3, 4, 5, 40}, {12, 5, 13, 7}, {5, 12, 13, 30}, {24, 7, 25, 2},
                        {7, 24, 25, 16}, {15, 8, 17, 10}, {20, 21, 29, 5}, {40, 9, 41, 2}, {9, 40, 41, 9}};
  for (const Case& c : cases) {
    const double period = double(c.k) * c.c;
    const double angle = std::atan2(c.b, c.a) * 180 / kPi;
    std::vector<TPoint> pts;
    for (int j = 0; j < 14; ++j)
      for (int i = 0; i < 14; ++i) pts.push_back({c.k * (i * c.a - j * c.b), c.k * (i * c.b + j * c.a)});
    SCOPED_TRACE(::testing::Message() << "period " << period << " angle " << angle);
    for (auto [s, w] : {std::pair{2.0, 10.0}, std::pair{1.25, 5.0}}) {
      const Measured m = Measure(pts, s, w);
      EXPECT_NEAR(m.period, period, 0.1);
      EXPECT_NEAR(m.alpha, angle, 0.3);
    }
  }
}

TEST(GetNachbarAbstand, PeriodAndAngleOfRoundedLattices) {
  // Centres rounded to whole pixels: every distance is off by up to 0.7 px, and the search
  // keeps the two nearest of four nearly equal neighbours, which favours the short ones. The
  // period therefore comes out up to about 0.4 px short whatever the period; the angle stays
  // within 0.3 degrees (the finest screens scatter most).
  for (double period : {40.0, 63.7, 118.0, 250.0, 400.0}) {
    for (double angle : {10.0, 23.5, 37.0, 45.0, 61.2, 80.0}) {
      SCOPED_TRACE(::testing::Message() << "period " << period << " angle " << angle);
      const Measured m = Measure(Lattice(period, angle, static_cast<int>(period * 22)), 2, 10);
      EXPECT_NEAR(m.period, period, 0.4);
      EXPECT_NEAR(m.alpha, angle, 0.3);
    }
  }
}

TEST(GetNachbarAbstand, ZeroDegreeLatticeReadsAsNinety) {
  const Measured m = Measure(Lattice(40, 0, 600), 1.25, 5);
  EXPECT_DOUBLE_EQ(m.period, 40);
  EXPECT_DOUBLE_EQ(m.alpha, 90);
}

TEST(GetNachbarAbstand, EmptyListGivesNoPeriodAndNoAngle) {
  double alpha = 33;
  EXPECT_EQ(GetNachbarAbstand(nullptr, alpha, 2, 10), 0);
  EXPECT_EQ(alpha, 0);
}

TEST(Wmod, FoldsIntoTheFirstQuadrant) {
  const std::pair<double, double> cases[] = {{0, 90}, {45, 45}, {-30, 60}, {180, 90}, {270, 90},
                                             {-89.5, 0.5}, {100, 10}, {1e9, 10}};
  for (auto [w, want] : cases) EXPECT_NEAR(wmod(w), want, 1e-6) << w;
}

// Neighbour slots of entries set by hand, for the pruning step.
struct Slots {
  LooseDots loose;
  ListOwner list;
  TDotList* Add(double na1, double nw1, double na2, double nw2) {
    list.head = NewDotList(loose.Add({0, 0}), list.head);
    TDotList* e = list.head;
    e->NB1 = loose.Add({1, 1});
    e->NB2 = loose.Add({2, 2});
    e->NA1 = na1, e->NW1 = nw1, e->NA2 = na2, e->NW2 = nw2;
    return e;
  }
};

TEST(GetNachbarAbstand, PrunesNeighboursOutsideTheDistanceAndAngleWindows) {
  for (double sTol : {1.25, 2.0}) {
    Slots s;
    for (int i = 0; i < 10; ++i) s.Add(40, 30, 40, 120);
    TDotList* far = s.Add(40, 30, 52, 120);      // slot 2 at 1.3 x the period
    TDotList* turned = s.Add(40, 75, 40, 120);   // slot 1 outside the angle window
    TDot* turned_nb2 = turned->NB2;
    double alpha = 0;
    const double period = GetNachbarAbstand(s.list.head, alpha, sTol, 5);
    EXPECT_NEAR(alpha, 30, 1e-12);
    if (sTol == 1.25) {
      EXPECT_EQ(far->NB2, nullptr);
      EXPECT_EQ(far->NA2, 0);
      EXPECT_DOUBLE_EQ(period, 40);
    } else {
      EXPECT_NE(far->NB2, nullptr);
      EXPECT_DOUBLE_EQ(period, (40.0 * 22 + 52) / 23);
    }
    EXPECT_EQ(turned->NB1, turned_nb2) << "slot 2 moves up";
    EXPECT_EQ(turned->NA1, 40);
    EXPECT_EQ(turned->NB2, nullptr);
  }
}

TEST(SearchNachbarn, ACloserCandidatePushesOneSlotDownOnly) {
  struct Case {
    std::vector<int> order;   // x of the candidates, in list order (the entry sits at 0)
    std::vector<int> slots;   // distances in slots 1..4, 0 for an empty slot
  };
  const Case cases[] = {
      {{10, 9, 8}, {8, 9, 0, 0}},         // each new nearest pushes slot 1 to slot 2 only
      {{8, 9, 10, 11, 12}, {8, 9, 10, 11}},
      {{12, 10, 11, 9}, {9, 10, 12, 0}},  // 11 was in slot 2 and is lost when 9 arrives
      {{9, 9, 7}, {7, 9, 0, 0}},          // ties keep the earlier candidate
  };
  for (const Case& c : cases) {
    LooseDots loose;
    std::vector<TDot*> dots{loose.Add({0, 0})};
    for (int x : c.order) dots.push_back(loose.Add({x, 0}));
    PopulationOwner pop{PopulationOf(dots)};
    GetNachbarn(pop.p, pop.p->dots);
    // GetNachbarn searched every entry; slots 3 and 4 of the first one came from its search.
    TDotList* e = pop.p->dots;
    const TDot* nb[4] = {e->NB1, e->NB2, e->NB3, e->NB4};
    const double na[4] = {e->NA1, e->NA2, e->NA3, e->NA4};
    for (int k = 0; k < 4; ++k) {
      if (c.slots[static_cast<size_t>(k)] == 0) {
        EXPECT_EQ(nb[k], nullptr) << "slot " << k + 1;
      } else {
        ASSERT_NE(nb[k], nullptr) << "slot " << k + 1;
        EXPECT_EQ(na[k], c.slots[static_cast<size_t>(k)]) << "slot " << k + 1;
        EXPECT_EQ(nb[k]->swp.X, c.slots[static_cast<size_t>(k)]);
      }
    }
    EXPECT_EQ(e->NW1, 180) << "the direction from the neighbour to the dot";
  }
  // Ties: the first of two candidates at 9 keeps slot 2.
  LooseDots loose;
  TDot* me = loose.Add({0, 0});
  TDot* first = loose.Add({9, 0});
  TDot* second = loose.Add({-9, 0});
  PopulationOwner pop{PopulationOf({me, first, second})};
  GetNachbarn(pop.p, pop.p->dots);
  EXPECT_EQ(pop.p->dots->NB1, first);
  EXPECT_EQ(pop.p->dots->NB2, second);
}

TEST(SearchNachbarn, ADotIsNoNeighbourOfTheDotItLiesIn) {
  LooseDots loose;
  TDot* ring = loose.Add({50, 50});
  TDot* hole = loose.Add({50, 51});
  TDot* other = loose.Add({80, 50});
  ring->InnerDots = NewSDotList(hole, nullptr);
  PopulationOwner pop{PopulationOf({hole, ring, other})};
  GetNachbarn(pop.p, pop.p->dots);
  EXPECT_EQ(pop.p->dots->NB1, other);  // the hole does not see the ring around it
  EXPECT_EQ(pop.p->dots->NB2, nullptr);
  EXPECT_EQ(pop.p->dots->next->NB1, hole);  // the ring sees the hole
  FreeSDotList(ring->InnerDots);
  ring->InnerDots = nullptr;
}

TEST(GetSortedDotList, TakesOneColourInASizeWindowThatReachesAsFarDownAsUp) {
  // refarea 100, reftol 44: the window is 69 < fsize < 144.
  std::vector<TDot> dots(80);
  for (size_t i = 0; i < dots.size(); ++i) {
    TDot& d = dots[i];
    d.ID = static_cast<uint16_t>(i + 2);
    d.fsize = 66 + static_cast<int>(i);  // 66 .. 145
    d.fedge = 2 * d.fsize;
    d.Slur = 3;
    d.radius = 0.5;
    d.StdGray = static_cast<uint8_t>(i % 7);
    d.isblack = true;
    if (i + 1 < dots.size()) d.next = &dots[i + 1];
  }
  dots[10].isblack = false;  // fsize 76
  dots[11].border = true;    // fsize 77
  int32_t area, edge, slur, count;
  double radius, grays;
  ListOwner list{GetSortedDotList(&dots[0], 100, 44, true, area, edge, slur, count, radius, grays)};
  std::vector<int> got;
  for (TDotList* e = list.head; e; e = e->next) got.push_back(e->dots->fsize);
  std::vector<int> want;
  long sum = 0, gsum = 0;
  for (int f = 143; f >= 70; --f)
    if (f != 76 && f != 77) {
      want.push_back(f);
      sum += f;
      gsum += dots[static_cast<size_t>(f - 66)].StdGray;
    }
  EXPECT_EQ(got, want) << "the list is in reverse chain order";
  EXPECT_EQ(count, static_cast<int>(want.size()));
  EXPECT_EQ(area, static_cast<int>(std::nearbyint(double(sum) / count)));
  EXPECT_EQ(edge, static_cast<int>(std::nearbyint(2.0 * sum / count)));
  EXPECT_EQ(slur, 3);
  EXPECT_DOUBLE_EQ(radius, 0.5);
  EXPECT_DOUBLE_EQ(grays, double(gsum) / count);

  // One dot: the sums stay and the gray spread reads 255.
  ListOwner one{GetSortedDotList(&dots[0], 100, 44, false, area, edge, slur, count, radius, grays)};
  EXPECT_EQ(count, 1);
  EXPECT_EQ(area, 76);
  EXPECT_EQ(edge, 152);
  EXPECT_EQ(grays, 255);
}

TEST(GetSortedDotListMask, SplitsByColourAndWeighsTheCounts) {
  std::vector<TDot> dots(5);
  const int sizes[5] = {100, 100, 16, 16, 16};
  for (size_t i = 0; i < 5; ++i) {
    dots[i].ID = static_cast<uint16_t>(i + 2);
    dots[i].fsize = sizes[i];
    dots[i].fedge = 4;
    dots[i].isblack = i >= 2;
    dots[i].border = i == 4;  // border dots count here
    if (i + 1 < 5) dots[i].next = &dots[i + 1];
  }
  ListOwner w, b;
  Extended wa, we, ba, be;
  int32_t wc, bc;
  // sqrt(16) x 3 = 12 > sqrt(100) x 2 = 20 is false: the bright dots dominate.
  EXPECT_FALSE(GetSortedDotListMask(&dots[0], w.head, b.head, wa, we, ba, be, wc, bc));
  EXPECT_EQ(wc, 2);
  EXPECT_EQ(bc, 3);
  EXPECT_EQ(wa, 100);
  EXPECT_EQ(ba, 16);
  EXPECT_EQ(be, 4);
  EXPECT_EQ(b.head->dots, &dots[4]);
}

TEST(Lattice, LinesComeInPairsAroundTheCentre) {
  const std::vector<TLineSegment> lines = LatticeLines({640, 512}, 100, 0);
  ASSERT_EQ(lines.size(), 38u);  // g = 50, 150, ..., 1850
  EXPECT_EQ(lines[0], (TLineSegment{{2560, 562}, {-1280, 562}}));
  EXPECT_EQ(lines[1], (TLineSegment{{2560, 462}, {-1280, 462}}));
  EXPECT_EQ(lines[37], (TLineSegment{{2560, 512 - 1850}, {-1280, 512 - 1850}}));
  EXPECT_TRUE(LatticeLines({0, 0}, 0, 30).empty());
  EXPECT_TRUE(LatticeLines({0, 0}, -40, 30).empty());
}

TEST(GridLines, FollowTheFlaggedMembersOffsets) {
  // Angle 0: the first family's offsets are the members' y modulo the period, the second's
  // their x. An unflagged member does not count.
  LooseDots loose;
  std::vector<TDot*> dots;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) dots.push_back(loose.Add({10 + 40 * i, 25 + 40 * j}));
  dots.push_back(loose.Add({33, 3}));
  PopulationOwner pop{PopulationOf(dots)};
  for (TDotList* e = pop.p->dots; e; e = e->next) e->flag = e->dots->swp.X != 33;
  std::vector<TLineSegment> want = LatticeLines({25 - 1, 0}, 40, 0);
  const std::vector<TLineSegment> across = LatticeLines({0, 10 - 20}, 40, 90);
  want.insert(want.end(), across.begin(), across.end());
  EXPECT_EQ(GridLines(pop.p->dots, 0, 40), want);
  EXPECT_TRUE(GridLines(pop.p->dots, 0, 0.4).empty());
}

TEST(GetGrid, DrawsTheGridLinesTwoPixelsWideInTheColour) {
  LooseDots loose;
  std::vector<TDot*> dots;
  for (TPoint p : Lattice(50, 33, 400)) dots.push_back(loose.Add(p));
  PopulationOwner pop{PopulationOf(dots)};
  for (TDotList* e = pop.p->dots; e; e = e->next) e->flag = 1;
  Bitmap drawn(400, 300), want(400, 300);
  platform::Canvas c(drawn), w(want);
  GetGrid(c, platform::clYellow, pop.p->dots, 33, 50);
  EXPECT_EQ(c.Pen().Width, 1);
  w.Pen().Color = platform::clYellow;
  w.Pen().Width = 2;
  const std::vector<TLineSegment> lines = GridLines(pop.p->dots, 33, 50);
  ASSERT_FALSE(lines.empty());
  for (const TLineSegment& l : lines) {
    w.MoveTo(l.from.X, l.from.Y);
    w.LineTo(l.to.X, l.to.Y);
  }
  EXPECT_EQ(drawn, want);
  EXPECT_NE(drawn, Bitmap(400, 300));
  // A period that rounds to 0 draws nothing and leaves the pen as it was.
  c.Pen().Width = 3;
  GetGrid(c, platform::clRed, pop.p->dots, 33, 0.4);
  EXPECT_EQ(c.Pen().Width, 3);
  EXPECT_EQ(drawn, want);
}

}  // namespace
}  // namespace analysis
