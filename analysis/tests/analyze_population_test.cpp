#include "analysis/analyze_population.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "analysis/analyze_threshold.h"
#include "analysis/myimage_hist.h"
#include "analysis/tests/dots_fixture.h"
#include "analysis/tests/halftone.h"

namespace analysis {
namespace {

using namespace analysis::fixture;

// The plate command's way: one threshold from the display histogram, the whole threshold
// image filled with it, then the transmission analysis with the default 10 % tolerance.
void Analyze(AnalyzeState& st, const Bitmap& img, int32_t screening = 0) {
  auto hist = std::make_unique<THist>();
  GetHistTH(*hist, img);
  FillLocalTh(st, hist->TH);
  Bitmap disp(img.Width(), img.Height());
  std::vector<int32_t> gauge;
  AnalyzeTRANSImage(st, img, disp, screening, [&](int32_t v) { gauge.push_back(v); }, 10, false, 0, 0);
  EXPECT_EQ(gauge, (std::vector<int32_t>{0, 20, 50, 80, 100}));
  EXPECT_TRUE(st.ResAvail);
}

struct HalftoneCase {
  double period, angle, coverage;
  bool dark, antialias;
};

class TransmissionHalftone : public ::testing::TestWithParam<HalftoneCase> {};

TEST_P(TransmissionHalftone, BestPopulationGivesPeriodAngleAndCoverage) {
  const HalftoneCase c = GetParam();
  HalftoneOptions o;
  o.dark_dots = c.dark;
  o.antialias = o.blur = c.antialias;
  o.noise = c.antialias ? 4 : 0;
  o.seed = static_cast<unsigned>(c.period);
  const Bitmap img = Halftone(ImWidth, ImHeight, {{c.period, c.angle, c.coverage}}, o);
  State st;
  // The edge weight calibrates the optics of a real microscope; in a synthetic image the
  // threshold sits on the true edge, so a dot's size is its pixel count.
  st->ADDEDGE = 1;
  Analyze(*st, img);
  const TSortedDotList* best = st->GAlternative;
  ASSERT_NE(best, nullptr);
  EXPECT_EQ(best->isBlack, c.dark);
  EXPECT_NEAR(best->distance, c.period, 0.005 * c.period);
  EXPECT_NEAR(best->alpha, c.angle, 0.5);
  EXPECT_NEAR(100 * best->area / (c.period * c.period), 100 * c.coverage, 1.0);
  EXPECT_EQ(best->index, 1);
  EXPECT_GE(st->GAlternativencount, 1);
  ASSERT_NE(st->MaxDot, nullptr);
  for (TDot* d = st->GDotList; d; d = d->next)
    if (!d->border) {
      EXPECT_LE(d->fsize, st->MaxDot->fsize);
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, TransmissionHalftone,
                         ::testing::Values(HalftoneCase{80, 15, 0.30, true, false},
                                           HalftoneCase{96, 37.5, 0.05, true, true},
                                           HalftoneCase{120, 63, 0.50, false, true},
                                           HalftoneCase{150, 80, 0.70, true, true},
                                           HalftoneCase{200, 10, 0.20, false, false},
                                           HalftoneCase{250, 45, 0.40, true, true},
                                           HalftoneCase{88, 27, 0.12, false, true},
                                           HalftoneCase{180, 72, 0.60, true, true}),
                         [](const ::testing::TestParamInfo<HalftoneCase>& param_info) {
                           const HalftoneCase& c = param_info.param;
                           return "D" + std::to_string(static_cast<int>(c.period)) + "_A" +
                                  std::to_string(static_cast<int>(c.angle)) + "_C" +
                                  std::to_string(static_cast<int>(std::lround(100 * c.coverage))) +
                                  (c.dark ? "_dark" : "_bright") + (c.antialias ? "_smooth" : "_binary");
                         });

TEST(AnalyzeTRANSImage, TwoScreensGiveTwoPopulationsInScoreOrder) {
  // Large dots on the lattice points and small ones in the middle of the cells.
  const double d = 120, a = 20;
  Screen big{d, a, 0.25}, small{d, a, 0.04};
  small.phase_x += 0.5;
  small.phase_y += 0.5;
  HalftoneOptions o;
  o.antialias = o.blur = true;
  o.noise = 3;
  const Bitmap img = Halftone(ImWidth, ImHeight, {big, small}, o);
  State st;
  st->ADDEDGE = 1;
  Analyze(*st, img);
  std::vector<const TSortedDotList*> chain;
  for (const TSortedDotList* l = st->GAlternative; l; l = l->next) {
    EXPECT_EQ(l->prev, chain.empty() ? nullptr : chain.back());
    chain.push_back(l);
    EXPECT_EQ(l->index, static_cast<int32_t>(chain.size()));
    if (chain.size() > 1) {
      EXPECT_GE(AlternativeScore(chain[chain.size() - 2]), AlternativeScore(l));
    }
  }
  ASSERT_GE(chain.size(), 2u);
  EXPECT_EQ(st->GAlternativencount, static_cast<int32_t>(chain.size()));
  const double big_area = 0.25 * d * d, small_area = 0.04 * d * d;
  const bool first_big = std::fabs(chain[0]->area - big_area) < std::fabs(chain[0]->area - small_area);
  const TSortedDotList* b = first_big ? chain[0] : chain[1];
  const TSortedDotList* s = first_big ? chain[1] : chain[0];
  EXPECT_NEAR(b->area, big_area, 0.01 * d * d);
  EXPECT_NEAR(s->area, small_area, 0.01 * d * d);
  for (const TSortedDotList* l : {b, s}) {
    EXPECT_TRUE(l->isBlack);
    EXPECT_NEAR(l->distance, d, 0.005 * d);
    EXPECT_NEAR(l->alpha, a, 0.5);
  }
}

// A coarse screen whose dots cover 70 %: the ground between them is one thin object that
// touches the border. Dropping it must leave every measured dot as it was drawn: its size the
// disc's and its centre the lattice point's.
TEST(AnalyzeTRANSImage, TheGroundOnTheBorderNeverJoinsAMeasuredDot) {
  const Screen screen{160, 67.5, 0.70, 0.5, 0.0};
  for (const bool dark : {true, false}) {
    HalftoneOptions o;
    o.dark_dots = dark;
    const Bitmap img = Halftone(ImWidth, ImHeight, {screen}, o);
    State st;
    st->ADDEDGE = 1;
    Analyze(*st, img);
    const TSortedDotList* best = st->GAlternative;
    ASSERT_NE(best, nullptr) << dark;
    EXPECT_EQ(best->isBlack, dark);
    EXPECT_NEAR(best->distance, screen.period, 0.005 * screen.period) << dark;
    EXPECT_NEAR(best->alpha, screen.angle, 0.5) << dark;
    EXPECT_NEAR(100 * best->area / (screen.period * screen.period), 100 * screen.coverage, 0.1) << dark;
    const double a = screen.angle * std::numbers::pi / 180, c = std::cos(a), sn = std::sin(a);
    const double disc = screen.coverage * screen.period * screen.period;
    int32_t members = 0;
    for (const TDotList* m = best->dots; m; m = m->next, ++members) {
      const TDot* d = m->dots;
      // The lattice point nearest to the dot's centre.
      const double u = std::nearbyint((d->swp.X * c + d->swp.Y * sn) / screen.period - screen.phase_x) +
                       screen.phase_x;
      const double v = std::nearbyint((-d->swp.X * sn + d->swp.Y * c) / screen.period - screen.phase_y) +
                       screen.phase_y;
      const double cx = screen.period * (u * c - v * sn), cy = screen.period * (u * sn + v * c);
      EXPECT_LE(std::hypot(d->swp.X - cx, d->swp.Y - cy), 1.5) << dark << " dot " << d->ID;
      EXPECT_NEAR(d->fsize, disc, 0.005 * disc) << dark << " dot " << d->ID;
    }
    EXPECT_GE(members, 20) << dark;
  }
}

TEST(AnalyzeTRANSImage, AnImageWithoutDotsGivesNoPopulation) {
  State st;
  Analyze(*st, Filled(300, 200, 200));
  EXPECT_EQ(st->GAlternative, nullptr);
  EXPECT_EQ(st->GAlternativencount, 0);
}

// A lattice of equal loose dots around the image centre, linked into a chain.
struct LatticeChain {
  LooseDots loose;
  TDot* head = nullptr;
  LatticeChain(int n, double period, double angle, int32_t fsize) {
    const double c = std::cos(angle * std::numbers::pi / 180), s = std::sin(angle * std::numbers::pi / 180);
    TDot* tail = nullptr;
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        const double u = i - (n - 1) / 2.0, v = j - (n - 1) / 2.0;
        TDot* d = loose.Add({static_cast<int>(std::lround(640 + period * (u * c - v * s))),
                             static_cast<int>(std::lround(512 + period * (u * s + v * c)))},
                            fsize);
        d->fedge = fsize / 3;
        d->radius = 0.9;
        (tail ? tail->next : head) = d;
        tail = d;
      }
  }
};

TEST(GetAlternativen, AFineScreenOfManyEqualDotsKeepsItsPopulation) {
  // 256 dots in one size class: an 8-bit class counter would read 0 and find nothing.
  LatticeChain lattice(16, 30, 25, 100);
  State st;
  PopulationOwner found{GetAlternativen(*st, lattice.head, 10, 20, 0, false, 0, 0)};
  ASSERT_NE(found.p, nullptr);
  EXPECT_EQ(found.p->Count, 256);
  EXPECT_NEAR(found.p->distance, 30, 0.3);
  EXPECT_NEAR(found.p->alpha, 25, 0.3);
  EXPECT_EQ(found.p->area, 100);
  EXPECT_EQ(st->GAlternativencount, 1) << "the neighbouring classes find the same dots once";
}

TEST(GetAlternativen, APeriodNearTheFrequencyPeakSnapsToIt) {
  for (double mfcm : {160.0, 140.0}) {
    LatticeChain lattice(10, 36, 30, 120);
    State st;
    PopulationOwner found{GetAlternativen(*st, lattice.head, 10, 20, 0, false, 1024.0 / 40, mfcm)};
    ASSERT_NE(found.p, nullptr);
    EXPECT_NEAR(found.p->distance, mfcm > 150 ? 40 : 36, 0.3) << mfcm;
  }
}

TEST(GetAlternativen, ScreeningAcceptsOnlyPeriodsNearIt) {
  for (int32_t screening : {36, 60, -36}) {
    LatticeChain lattice(10, 36, 30, 120);
    State st;
    PopulationOwner found{GetAlternativen(*st, lattice.head, 10, 20, screening, false, 0, 0)};
    EXPECT_EQ(found.p != nullptr, screening == 36) << screening;
  }
}

TEST(InsertAlternative, KeepsTheChainInScoreOrderAndNotYetAvailableDropsRepeats) {
  LooseDots loose;
  std::vector<TDot*> dots;
  for (int i = 0; i < 6; ++i) dots.push_back(loose.Add({10 * i, 0}));
  const auto pop = [&](double area, int count, double radius, double grays, std::vector<TDot*> members) {
    TSortedDotList* p = PopulationOf(members);
    p->area = area, p->Count = count, p->radius = radius, p->grays = grays;
    return p;
  };
  TSortedDotList* chain = nullptr;
  TSortedDotList* a = pop(100, 10, 1, 0, {dots[0], dots[1]});
  TSortedDotList* b = pop(100, 20, 1, 0, {dots[2]});
  TSortedDotList* c = pop(100, 20, 1, 3, {dots[3]});  // a quarter of b's score
  TSortedDotList* e = pop(100, 20, 1, 0, {dots[4]});  // the same score as b: after it
  for (TSortedDotList* p : {a, b, c, e}) chain = InsertAlternative(chain, p);
  PopulationOwner owner{chain};
  std::vector<TSortedDotList*> order;
  for (TSortedDotList* p = chain; p; p = p->next) order.push_back(p);
  EXPECT_EQ(order, (std::vector<TSortedDotList*>{b, e, c, a}));
  EXPECT_EQ(e->prev, b);
  EXPECT_EQ(a->prev, c);

  // A candidate holding all of a's members with about a's total size is a repeat.
  PopulationOwner same{pop(101, 10, 1, 0, {dots[0], dots[1], dots[5]})};
  EXPECT_FALSE(NotYetAvailable(chain, same.p));
  PopulationOwner bigger{pop(110, 10, 1, 0, {dots[0], dots[1]})};
  EXPECT_TRUE(NotYetAvailable(chain, bigger.p));
  PopulationOwner other{pop(100, 10, 1, 0, {dots[0], dots[5]})};
  EXPECT_TRUE(NotYetAvailable(chain, other.p));
  EXPECT_TRUE(equalDotList(nullptr, other.p->dots));
}

}  // namespace
}  // namespace analysis
