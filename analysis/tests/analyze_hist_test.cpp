#include "analysis/analyze_hist.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "analysis/tests/threshold_truth.h"

namespace analysis {
namespace {

// Adds a Gaussian population of about `total` counts around `mean` (cut off at 4 sigma) and
// returns the counts actually added.
int64_t AddGaussian(THist& h, double mean, double sigma, double total) {
  int64_t added = 0;
  const int lo = static_cast<int>(std::floor(mean - 4 * sigma));
  const int hi = static_cast<int>(std::ceil(mean + 4 * sigma));
  for (int i = lo; i <= hi; ++i) {
    const double g = total * std::exp(-(i - mean) * (i - mean) / (2 * sigma * sigma)) / (sigma * std::sqrt(2 * M_PI));
    const auto n = static_cast<int32_t>(std::lround(g));
    h.Hist[static_cast<size_t>(i)] += n;
    added += n;
  }
  return added;
}

struct Result {
  int32_t th, prozent, threshold, left, right;
};

Result Threshold(THist& h, int32_t von, int32_t limit, int32_t dotint = 0) {
  Result r{};
  r.prozent = r.threshold = r.left = r.right = -1;
  r.th = GetThreshold(h, von, limit, r.prozent, r.threshold, r.left, r.right, dotint);
  return r;
}

// Two well separated populations: the threshold lies in the valley, the peaks are found where
// they were put, and the share above the threshold is exactly the bright population's.
//
// When the bright population is the larger one, the valley walk ends at the foot of the
// bright peak and the iteration keeps the right peak at least as far above that point as the
// left peak lies below it, which pushes it towards the end of the range; the threshold, the
// left peak and the share stay right.
TEST(GetThreshold, TwoPopulationsGiveValleyPeaksAndShare) {
  struct Case {
    double dark, bright;  // counts of the two populations
    double mean1, mean2, sigma;
    int32_t limit;
    int32_t tolerance;  // of the peak positions, in bins
  };
  const Case cases[] = {
      {70000, 30000, 50, 200, 6, 257, 1},          {50000, 50000, 50, 200, 6, 257, 1},
      {95000, 5000, 50, 200, 6, 257, 1},           {60000, 40000, 50, 200, 6, 255, 1},
      {30000, 70000, 50, 200, 6, 257, 1},          {8000, 92000, 50, 200, 6, 255, 1},
      {600000, 400000, 2000, 8000, 150, 10000, 3}, {200000, 800000, 2000, 8000, 150, 10000, 3},
      {300000, 700000, 3000, 6000, 100, 9000, 3},  {700000, 300000, 3000, 6000, 100, 9000, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.dark << "/" << c.bright << " limit " << c.limit);
    auto h = std::make_unique<THist>();
    const int64_t dark = AddGaussian(*h, c.mean1, c.sigma, c.dark);
    const int64_t bright = AddGaussian(*h, c.mean2, c.sigma, c.bright);
    h->FindMax(0, HistWidth);
    const Result r = Threshold(*h, 0, c.limit);
    EXPECT_GT(r.th, c.mean1 + 3 * c.sigma);
    EXPECT_LT(r.th, c.mean2 - 3 * c.sigma);
    EXPECT_NEAR(r.left, c.mean1, c.tolerance);
    if (c.dark >= c.bright) {
      EXPECT_NEAR(r.right, c.mean2, c.tolerance);
    } else {
      EXPECT_GE(r.right, c.mean2 - c.tolerance);
      EXPECT_LE(r.right, c.limit);
    }
    const auto share = static_cast<int32_t>(std::nearbyint(10000.0 * bright / (dark + bright)));
    EXPECT_EQ(r.prozent, share);
    EXPECT_EQ(r.threshold, r.th);
    EXPECT_EQ(h->TH, r.th);
    EXPECT_EQ(h->l, r.left);
    EXPECT_EQ(h->r, r.right);
    EXPECT_EQ(h->pc, r.prozent);
  }
}

// The routine written a second time in Python, on random histograms of both kinds: one to
// three populations, noise, spikes at the ends, other bounds.
TEST(GetThreshold, MatchesTheIndependentImplementation) {
  const auto cases = testing::RunThresholdTruth(31337, 100);
  ASSERT_EQ(cases.size(), 100u);
  for (size_t i = 0; i < cases.size(); ++i) {
    const testing::ThresholdCase& c = cases[i];
    SCOPED_TRACE(::testing::Message() << "case " << i << " maxpos " << c.hist->MaxPos << " limit " << c.limit);
    const Result r = Threshold(*c.hist, c.von, c.limit);
    EXPECT_EQ(r.th, c.th);
    EXPECT_EQ(r.prozent, c.prozent);
    EXPECT_EQ(r.left, c.left);
    EXPECT_EQ(r.right, c.right);
  }
}

TEST(GetThreshold, EmptyHistogramGivesTheEmptyResult) {
  for (int32_t limit : {257, 255, 10000, 20000}) {
    auto h = std::make_unique<THist>();
    h->TH = 7;
    h->pc = 9;
    const Result r = Threshold(*h, 0, limit);
    EXPECT_EQ(r.th, std::min(limit, 10000) / 2) << limit;
    EXPECT_EQ(r.threshold, r.th);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 255);
    EXPECT_EQ(r.prozent, 0);
    EXPECT_EQ(h->TH, r.th);
    EXPECT_EQ(h->l, 0);
    EXPECT_EQ(h->r, 255);
    EXPECT_EQ(h->pc, 0);
  }
}

// With the darkest bin as the main peak the threshold is 0.8 times the iterated one. The same
// counts with MaxPos 1 iterate to the same threshold (the refined peak is the same), so the two
// runs differ by exactly that factor.
TEST(GetThreshold, DarkestBinAsMainPeakScalesTheThreshold) {
  auto h = std::make_unique<THist>();
  h->Hist[0] = 50000;
  h->Hist[1] = 20000;
  h->Hist[2] = 5000;
  AddGaussian(*h, 180, 8, 30000);
  h->FindMax(0, 256);
  ASSERT_EQ(h->MaxPos, 0);
  auto shifted = std::make_unique<THist>(*h);
  shifted->MaxPos = 1;
  const Result atZero = Threshold(*h, 0, 257);
  const Result atOne = Threshold(*shifted, 0, 257);
  ASSERT_GT(atOne.th, 20);
  EXPECT_EQ(atZero.th, static_cast<int32_t>(std::nearbyint(0.8 * atOne.th)));
  EXPECT_EQ(atZero.left, atOne.left);
  EXPECT_EQ(atZero.right, atOne.right);
}

TEST(GetThreshold, ModesPinOnePeak) {
  auto h = std::make_unique<THist>();
  AddGaussian(*h, 60, 6, 60000);
  AddGaussian(*h, 190, 6, 40000);
  h->FindMax(0, 256);
  const THist before = *h;
  EXPECT_EQ(Threshold(*h, 0, 257, 1).right, 255);
  EXPECT_EQ(Threshold(*h, 0, 257, 2).left, 0);
  const Result free = Threshold(*h, 0, 257, 0);
  EXPECT_NEAR(free.left, 60, 1);
  EXPECT_NEAR(free.right, 190, 1);
  // Only TH, l, r and pc change; the routine can run again on the same record.
  EXPECT_EQ(h->Hist, before.Hist);
  EXPECT_EQ(h->MaxHist, before.MaxHist);
  EXPECT_EQ(h->MaxPos, before.MaxPos);
  const Result again = Threshold(*h, 0, 257, 0);
  EXPECT_EQ(again.th, free.th);
  EXPECT_EQ(again.prozent, free.prozent);
}

// Populations against both ends of the record and bounds outside it: the stretch walks and
// peak windows look past the ends, and must read empty bins there, not neighbouring memory.
TEST(GetThreshold, PeaksAtTheEndsAndWildBoundsStayInsideTheRecord) {
  auto h = std::make_unique<THist>();
  h->Hist[0] = 9000;
  h->Hist[1] = 4000;
  h->Hist[2] = 1000;
  h->Hist[9998] = 2000;
  h->Hist[9999] = 6000;
  h->Hist[10000] = 3000;
  h->FindMax(0, HistWidth);
  for (auto [von, limit] : {std::pair{0, 10000}, std::pair{-50, 20000}, std::pair{0, 257}, std::pair{9000, 10000},
                            std::pair{300, 100}, std::pair{-5, -5}}) {
    const Result r = Threshold(*h, von, limit);
    EXPECT_GE(r.th, 0) << von << ".." << limit;
    EXPECT_LE(r.th, 10000) << von << ".." << limit;
  }
  // One population at the top end only: the bright-image walk must stop inside.
  auto top = std::make_unique<THist>();
  top->Hist[9999] = 5000;
  top->Hist[10000] = 500;
  top->FindMax(0, HistWidth);
  const Result r = Threshold(*top, 0, 10000);
  EXPECT_LE(r.th, 10000);
}

TEST(THistRecord, FindMaxTakesTheFirstStrictMaximumInsideTheRange) {
  THist h;
  h.Hist[3] = 5;
  h.Hist[7] = 9;
  h.Hist[8] = 9;
  h.Hist[300] = 50;
  h.FindMax(0, 256);
  EXPECT_EQ(h.MaxHist, 9);
  EXPECT_EQ(h.MaxPos, 7);
  h.FindMax(-10, 20000);
  EXPECT_EQ(h.MaxPos, 300);
  h.Clear();
  EXPECT_EQ(h.Hist[300], 0);
  EXPECT_EQ(h.MaxHist, 0);
}

}  // namespace
}  // namespace analysis
