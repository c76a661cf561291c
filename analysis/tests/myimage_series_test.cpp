#include "analysis/myimage_series.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <vector>

namespace analysis {
namespace {

using platform::Bitmap;
using platform::TPoint;

uint8_t& B(Bitmap& b, int x, int y, int c) { return b.ScanLine(y)[3 * x + c]; }
uint8_t B(const Bitmap& b, int x, int y, int c) { return b.ScanLine(y)[3 * x + c]; }
uint32_t Value24(const Bitmap& b, int x, int y) {
  const uint8_t* p = b.ScanLine(y) + 3 * x;
  return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

Bitmap Level(int w, int h, uint8_t red) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) B(b, x, y, 2) = red;
  return b;
}

TEST(ExposureSeries, TwoFramesAreScaledToTheFirstExposure) {
  // Level 100 at shutter steps 0 and 1 (factors 2 and 4): (100 + 100 * 2) / 2 = 150.
  std::vector<Bitmap> frames = {Level(40, 30, 100), Level(40, 30, 100)};
  const std::vector<TPoint> shifts(2);
  Bitmap out;
  uint32_t mx = 1, mn = 1, avg = 1;
  EXPECT_EQ(KombinierenBR(out, frames, 0, 0, 2, 2, shifts, mx, mn, avg), 150u);
  EXPECT_EQ(mx, 150u);
  EXPECT_EQ(mn, 150u);
  EXPECT_EQ(avg, 150u);
  for (int y = 1; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(Value24(out, x, y), 150u) << x << "," << y;
  EXPECT_EQ(Value24(out, 0, 0), 150u);  // the robust maximum
  EXPECT_EQ(Value24(out, 1, 0), 150u);  // the robust minimum

  // Later steps of a longer series: steps 7..9 (60, 100, 120) scaled to 60.
  frames = {Level(8, 6, 30), Level(8, 6, 18), Level(8, 6, 15)};
  const std::vector<TPoint> three(3);
  KombinierenBR(out, frames, 0, 7, 3, 2, three, mx, mn, avg);
  const double v = 30 + 18 * 100.0 / 60 + 15 * 120.0 / 60;
  EXPECT_EQ(Value24(out, 5, 5), uint32_t(std::nearbyint(v / 3)));
}

TEST(ExposureSeries, FewerThanTwoFramesGiveACopy) {
  Bitmap frame = Level(10, 8, 77);
  B(frame, 3, 4, 0) = 5;
  const std::vector<Bitmap> frames = {frame};
  const std::vector<TPoint> shifts(1);
  Bitmap out;
  uint32_t mx = 1, mn = 1, avg = 1;
  EXPECT_EQ(KombinierenBR(out, frames, 0, 0, 1, 2, shifts, mx, mn, avg), 0u);
  EXPECT_EQ(mx, 0u);
  EXPECT_EQ(mn, 0x7FFFFFFu);
  EXPECT_EQ(avg, 0u);
  // The copy carries the two top-row fields: 0 and the low 24 bits of 0x7FFFFFF.
  EXPECT_EQ(Value24(out, 0, 0), 0u);
  EXPECT_EQ(Value24(out, 1, 0), 0xFFFFFFu);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 10; ++x) {
      if (y == 0 && x < 2) continue;
      for (int c = 0; c < 3; ++c) ASSERT_EQ(B(out, x, y, c), B(frame, x, y, c));
    }

  // A series that would run past the last shutter step is cut there: from step 18 only
  // one frame has an exposure factor.
  const std::vector<Bitmap> two = {frame, frame};
  const std::vector<TPoint> s2(2);
  EXPECT_EQ(KombinierenBR(out, two, 0, 18, 2, 2, s2, mx, mn, avg), 0u);
  EXPECT_EQ(B(out, 3, 4, 0), 5);
  // More frames than shifts: only as many as there are shifts.
  const std::vector<TPoint> s1(1);
  EXPECT_EQ(KombinierenBR(out, two, 0, 0, 2, 2, s1, mx, mn, avg), 0u);
}

// A frame whose Sobel response is point-symmetric about (cx, cy): a bright square and, mirrored
// through the centre, a dark one on a mid-gray background. dx, dy move the whole content.
Bitmap Target(int w, int h, int cx, int cy, int dx, int dy) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int u = x - dx - cx, v = y - dy - cy;  // position relative to the moved centre
      int p = 128;
      if (u >= -12 && u <= -4 && v >= -12 && v <= -4) p = 228;
      if (u >= 4 && u <= 12 && v >= 4 && v <= 12) p = 28;
      for (int c = 0; c < 3; ++c) B(b, x, y, c) = static_cast<uint8_t>(p);
    }
  return b;
}

TEST(ExposureSeries, RegistrationMeasuresShiftsUpToFourPixels) {
  // 200 x 160, Mask 20: the window spans columns 80..121 and rows 80..121 around (100, 100).
  const std::vector<Bitmap> frames = {Target(200, 160, 100, 100, 0, 0), Target(200, 160, 100, 100, 3, -2),
                                      Target(200, 160, 100, 100, 5, 0), Target(200, 160, 100, 100, -4, 4),
                                      Target(200, 160, 100, 100, 1, -5)};
  std::vector<TPoint> shifts(19, TPoint{9, 9});
  OverlayImgs(frames, shifts, 5, 2, 20);
  EXPECT_EQ(shifts[0], (TPoint{0, 0}));
  EXPECT_EQ(shifts[1], (TPoint{3, -2}));
  EXPECT_EQ(shifts[2], (TPoint{0, 0}));  // 5 pixels: taken as a failed measurement
  EXPECT_EQ(shifts[3], (TPoint{-4, 4}));
  EXPECT_EQ(shifts[4], (TPoint{0, 0}));
  for (int i = 5; i < 19; ++i) EXPECT_EQ(shifts[i], (TPoint{0, 0}));

  // The combination samples each frame at its shift, so the moved target lands on the first:
  // (b + 2b) / 2 at every pixel whose samples stay inside the frames.
  Bitmap out;
  uint32_t mx, mn, avg;
  const std::vector<Bitmap> pair = {frames[0], frames[1]};
  KombinierenBR(out, pair, 0, 0, 2, 1, shifts, mx, mn, avg);
  for (int y = 2; y < 160; ++y)
    for (int x = 0; x < 197; ++x)
      ASSERT_EQ(Value24(out, x, y), uint32_t(std::nearbyint(1.5 * B(frames[0], x, y, 1)))) << x << "," << y;
  // Three distinct values only: the robust extremes are the overall mean.
  EXPECT_EQ(mx, mn);
  EXPECT_EQ(mx, avg);

  // Fewer than two frames: no measurement at all.
  std::fill(shifts.begin(), shifts.end(), TPoint{9, 9});
  OverlayImgs(frames, shifts, 1, 2, 20);
  EXPECT_EQ(shifts[0], (TPoint{0, 0}));
}

TEST(ExposureSeries, RobustExtremesIgnoreHotPixels) {
  const int w = 64, h = 48, n = 3, from = 4;  // steps 4..6: factors 20, 30, 50
  std::mt19937 rng(12);
  std::uniform_int_distribution<int> u(20, 120);
  std::vector<Bitmap> frames;
  for (int k = 0; k < n; ++k) {
    Bitmap b(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) B(b, x, y, 2) = static_cast<uint8_t>(u(rng));
    frames.push_back(b);
  }
  // Hot pixels saturate in every frame, dead ones stay black.
  for (int i = 0; i < 6; ++i)
    for (auto& f : frames) {
      B(f, 5 + 9 * i, 7 + 5 * i, 2) = 255;
      B(f, 50 - 7 * i, 40 - 6 * i, 2) = 0;
    }
  const std::vector<TPoint> shifts(n);
  Bitmap out;
  uint32_t mx, mn, avg;
  const uint32_t res = KombinierenBR(out, frames, 0, from, n, 2, shifts, mx, mn, avg);

  // Independently: every combined value, then the 111 largest and smallest distinct ones.
  const double f[] = {20, 30, 50};
  std::map<uint32_t, uint64_t> counts;
  uint64_t total = 0;
  uint32_t plainMax = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double v = 0;
      for (int k = 0; k < n; ++k) v += B(frames[k], x, y, 2) * f[k] / f[0];
      const uint32_t c = uint32_t(std::nearbyint(v / n));
      if (y > 0 || x > 1) {
        ASSERT_EQ(Value24(out, x, y), c) << x << "," << y;
      }
      ++counts[c];
      total += c;
      plainMax = std::max(plainMax, c);
    }
  ASSERT_GT(counts.size(), 111u);
  auto weighted = [](auto first, auto last) {
    long double s = 0, k = 0;
    int taken = 0;
    for (auto it = first; it != last && taken < 111; ++it, ++taken) {
      s += static_cast<long double>(it->first) * it->second;
      k += it->second;
    }
    return uint32_t(std::nearbyint(static_cast<double>(s / k)));
  };
  const uint32_t wantMax = weighted(counts.rbegin(), counts.rend());
  const uint32_t wantMin = weighted(counts.begin(), counts.end());
  EXPECT_EQ(mx, wantMax);
  EXPECT_EQ(res, wantMax);
  EXPECT_EQ(mn, wantMin);
  EXPECT_LT(mx, plainMax);  // the hot pixels do not set the maximum
  EXPECT_GT(mn, 0u);
  EXPECT_EQ(avg, uint32_t(std::nearbyint(double(total) / (w * h))));
}

TEST(ExposureSeries, ExtremeListsKeepTheLargestDistinctValues) {
  TExtremeLists l;
  for (uint32_t v = 1; v <= 200; ++v) l.insertmax(v);
  l.insertmax(150);
  l.insertmax(50);  // below all 111 kept values: ignored
  EXPECT_EQ(l.maxarray[0], 200u);
  EXPECT_EQ(l.maxarray[nmax], 90u);
  EXPECT_EQ(l.maxcount[50], 2u);  // 150
  for (int i = 0; i <= nmax; ++i) EXPECT_EQ(l.maxarray[i], 200u - i);
  for (uint32_t v = 300; v >= 100; --v) l.insertmin(v);
  l.insertmin(250);  // above all kept values: ignored
  EXPECT_EQ(l.minarray[0], 100u);
  EXPECT_EQ(l.minarray[nmax], 210u);
  EXPECT_EQ(l.mincount[nmax], 1u);
}

}  // namespace
}  // namespace analysis
