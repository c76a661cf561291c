#include "analysis/analyze_drivers_freq.h"

#include <gtest/gtest.h>

#include <cmath>

#include "analysis/myimage.h"
#include "analysis/myimage_filters.h"
#include "analysis/tests/drivers_fixture.h"

namespace analysis {
namespace {

using namespace analysis::fixture;

constexpr int N = MaxFreqSize;

// Radius of spectrum point (row v, column u) in the centred coordinates of the transform.
double Rho(int u, int v) {
  const int a = ((u + N / 2) % N) - N / 2, b = ((v + N / 2) % N) - N / 2;
  return std::hypot(a, b);
}

// The three work images with the value 1 + 0i everywhere in the transform's block.
void Ones(MyFFTState& fft) {
  for (TCimage* img : {&fft.iComp, &fft.iComp2, &fft.iComp3})
    for (int v = 0; v < N; ++v)
      for (int u = 0; u < N; ++u) (*img)[v][u] = {1, 0};
}

struct RingCase {
  bool mask;
  // Expected real part of each image at radius rho: on ring 1 (100), ring 2 (50), ring 3 (20)
  // and off every ring.
  double on1[3], on2[3], on3[3], off[3];
};

// The filters on a flat spectrum show what each image keeps on and off its ring.
TEST(MaxFreqRingFilters, KeepTheRingsPerPage) {
  const RingCase cases[] = {
      {true, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}},
      // iComp damped off its ring; iComp2 keeps the copy on its ring, else iComp / 10;
      // iComp3 is iComp x 10 on its ring, else iComp / 10.
      {false, {1, 0.1, 0.1}, {0.1, 1, 0.01}, {0.1, 0.01, 1}, {0.1, 0.01, 0.01}},
  };
  MyFFTState& fft = FFTState();
  for (const RingCase& c : cases) {
    Ones(fft);
    MaxFreqRingFilters(fft, 100, 50, 20, c.mask);
    for (int v = 0; v < N; v += 3) {
      for (int u = 0; u < N; u += 5) {
        if (u <= 1 && v <= 1) continue;
        const double rho = Rho(u, v);
        const double* want = std::abs(rho - 100) <= 1 ? c.on1
                             : std::abs(rho - 50) <= 1 ? c.on2
                             : std::abs(rho - 20) <= 1 ? c.on3
                                                       : c.off;
        const TCimage* img[3] = {&fft.iComp, &fft.iComp2, &fft.iComp3};
        for (int k = 0; k < 3; ++k) {
          ASSERT_NEAR(static_cast<double>((*img[k])[v][u].r), want[k], 1e-12)
              << "mask " << c.mask << " image " << k << " at " << u << "," << v;
        }
      }
    }
    // The four lowest frequencies keep their values in every image.
    for (auto [u, v] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}})
      for (const TCimage* img : {&fft.iComp, &fft.iComp2, &fft.iComp3}) EXPECT_EQ((*img)[v][u].r, 1) << u << "," << v;
  }
}

// Without the display only the peaks are searched: a grating of period 32 has its peak at 32
// in a transform of 1024 points, and neither the result image nor the analysis image changes.
TEST(GetMaxFreq, WithoutDisplayOnlyThePeaks) {
  Window w(Grating(32, 16));
  FillLocalTh(w.st(), w.hist->TH);
  const Bitmap before = w.rbmp;
  Bitmap shown(40, 30);
  shown.Fill(7);
  platform::Canvas canvas(shown);
  double dx = -1, dy = -1;
  EXPECT_EQ(GetMaxFreq(w.st(), w.dbmp, w.rbmp, w.win, dx, dy, false, true, &canvas), 0);
  EXPECT_DOUBLE_EQ(w.win.maxf, 32);
  EXPECT_GT(w.win.maxa, 0);
  EXPECT_TRUE(w.rbmp == before);
  EXPECT_EQ(Px(shown, 20, 20), 7);
}

// With the display: the result image is the inverted gray of the ring-filtered picture and the
// result the difference of the shares above threshold. On the mask page only the rings are
// left, so the green channel (the first peak) is a pure wave of the grating's period.
TEST(GetMaxFreq, DisplayOfTheRingFilteredPicture) {
  Window w(Grating(32, 16));
  FillLocalTh(w.st(), w.hist->TH);
  Bitmap shown(N, N);
  shown.Fill(7);
  platform::Canvas canvas(shown);
  double dx = 0, dy = 0;
  const int32_t rc = GetMaxFreq(w.st(), w.dbmp, w.rbmp, w.win, dx, dy, true, true, &canvas);
  ASSERT_EQ(w.rbmp.Width(), N);
  ASSERT_EQ(w.rbmp.Height(), N);
  EXPECT_EQ(rc, ImgDiffTH(w.rbmp, w.dbmp, 0));
  // The picture reaches the analysis image only when the result is below 0.
  EXPECT_EQ(Px(shown, 500, 500) != 7 || Px(shown, 501, 500) != 7, rc < 0);

  // The picture itself, from the spectrum of the same image again.
  double fx = 0, fy = 0;
  GetMaxFreq(w.st(), w.dbmp, w.rbmp, w.win, fx, fy, false, true, nullptr);
  const Bitmap picture = MaxFreqPicture(FFTState(), w.win, true);
  Bitmap gray(N, N);
  Img2Gray(picture, gray);
  EXPECT_TRUE(gray == w.rbmp);
  if (w.win.maxf3 < 1) {
    for (int y = 0; y < N; y += 97)
      for (int x = 0; x < N; x += 13) ASSERT_EQ(Px(picture, x, y, 2), Px(picture, x, y, 0)) << x << "," << y;
  }
  // The wave: equal down every column and repeating every 32 columns.
  for (int y = 0; y < N; y += 101)
    for (int x = 0; x + 32 < N; x += 7) {
      ASSERT_NEAR(Px(picture, x, y, 1), Px(picture, x, 0, 1), 1) << x << "," << y;
      ASSERT_NEAR(Px(picture, x + 32, y, 1), Px(picture, x, y, 1), 1) << x << "," << y;
    }
  int lo = 255, hi = 0;
  for (int x = 0; x < 32; ++x) {
    lo = std::min<int>(lo, Px(picture, x, 10, 1));
    hi = std::max<int>(hi, Px(picture, x, 10, 1));
  }
  EXPECT_GT(hi - lo, 100);
}

}  // namespace
}  // namespace analysis
