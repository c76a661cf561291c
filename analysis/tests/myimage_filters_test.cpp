#include "analysis/myimage_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace analysis {
namespace {

using platform::Bitmap;
using platform::TPoint;
using platform::TRect;

// ---- Independent helpers ----

uint8_t& B(Bitmap& b, int x, int y, int c) { return b.ScanLine(y)[3 * x + c]; }
uint8_t B(const Bitmap& b, int x, int y, int c) { return b.ScanLine(y)[3 * x + c]; }

// Nearest integer with ties to even through the C library (the default rounding mode).
int Nearest(double v) { return static_cast<int>(std::nearbyint(v)); }
uint8_t ClampNearest(double v) { return static_cast<uint8_t>(Nearest(std::clamp(v, 0.0, 255.0))); }

Bitmap Random(int w, int h, unsigned seed) {
  Bitmap b(w, h);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> u(0, 255);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) B(b, x, y, c) = static_cast<uint8_t>(u(rng));
  return b;
}

// A smooth random image: sums of a few random waves, so that gradients spread over many
// levels instead of saturating.
Bitmap Smoothish(int w, int h, unsigned seed) {
  Bitmap b(w, h);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  double ax[4], ay[4], ph[4];
  for (int k = 0; k < 4; ++k) {
    ax[k] = 0.02 + 0.3 * u(rng);
    ay[k] = 0.02 + 0.3 * u(rng);
    ph[k] = 6 * u(rng);
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double v = 128;
      for (int k = 0; k < 4; ++k) v += 28 * std::sin(ax[k] * x + ay[k] * y + ph[k]);
      v += 8 * (u(rng) - 0.5);
      for (int c = 0; c < 3; ++c) B(b, x, y, c) = static_cast<uint8_t>(std::clamp(Nearest(v) + 3 * c, 0, 255));
    }
  return b;
}

Bitmap Uniform(int w, int h, uint8_t v) {
  Bitmap b(w, h);
  b.Fill(v);
  return b;
}

// Kernel given as rows [dy][dx].
using K = std::array<std::array<double, 3>, 3>;

// Direct evaluation of a 3 x 3 kernel with sample spacing `step` over the given rows and
// columns, every byte; everything else keeps the value of `base`.
Bitmap NaiveConv(const Bitmap& src, const K& k, int step, int y0, int y1, int x0, int x1, Bitmap base) {
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x)
      for (int c = 0; c < 3; ++c) {
        double v = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) v += k[dy + 1][dx + 1] * B(src, x + step * dx, y + step * dy, c);
        B(base, x, y, c) = ClampNearest(v);
      }
  return base;
}

void ExpectSame(const Bitmap& got, const Bitmap& want) {
  ASSERT_EQ(got.Width(), want.Width());
  ASSERT_EQ(got.Height(), want.Height());
  for (int y = 0; y < want.Height(); ++y)
    for (int x = 0; x < want.Width(); ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(B(got, x, y, c), B(want, x, y, c)) << "x " << x << " y " << y << " byte " << c;
}

// ---- Convolutions ----

TEST(Filters, KernelsAgainstDirectConvolution) {
  const Bitmap src = Random(37, 23, 1);
  struct Case {
    const char* name;
    TFilter f;
    K k;
  };
  const Case cases[] = {
      {"sharpen", SharpenFilter, {{{-1, -1, -1}, {-1, 9, -1}, {-1, -1, -1}}}},
      {"smoothing", SmoothFilter, {{{0.05, 0.1, 0.05}, {0.1, 0.4, 0.1}, {0.05, 0.1, 0.05}}}},
      {"Sx", Sxfilter, {{{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}}}},
      {"Sy", Syfilter, {{{1, 2, 1}, {0, 0, 0}, {-1, -2, -1}}}},
      // Halves: every odd byte is a tie, which goes to the even neighbour.
      {"halves", TFilter{{{{0, 0, 0}, {0.5, 0.5, 0}, {0, 0, 0}}}}, {{{0, 0, 0}, {0.5, 0.5, 0}, {0, 0, 0}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bitmap out = Uniform(37, 23, 77);  // the border must keep this
    ApplyFilter(src, out, c.f);
    ExpectSame(out, NaiveConv(src, c.k, 1, 1, 21, 1, 35, Uniform(37, 23, 77)));
  }
  // Smooth is the smoothing kernel; a uniform image stays uniform.
  Bitmap out = Uniform(37, 23, 77);
  Smooth(src, out);
  ExpectSame(out, NaiveConv(src, cases[1].k, 1, 1, 21, 1, 35, Uniform(37, 23, 77)));
  Bitmap flat = Uniform(12, 9, 200);
  DrawSharp(flat);
  ExpectSame(flat, Uniform(12, 9, 200));
  // DrawSharp smooths in place from the unchanged pixels.
  Bitmap inplace = src;
  DrawSharp(inplace);
  ExpectSame(inplace, NaiveConv(src, cases[1].k, 1, 1, 21, 1, 35, src));
}

TEST(Filters, SkipSharpeningSamplesTwoPixelsApart) {
  const Bitmap src = Random(40, 30, 2);
  for (double f : {0.0, 0.5, 3.25}) {
    SCOPED_TRACE(f);
    K k;
    for (auto& r : k) r.fill(-f);
    k[1][1] = 8 * f + 1;
    Bitmap out = Uniform(40, 30, 5);
    SharpbmpSkip(src, out, f);
    ExpectSame(out, NaiveConv(src, k, 2, 3, 30 - 6, 3, 40 - 6, Uniform(40, 30, 5)));
  }
}

TEST(Filters, SobelResponseAndCentroidInsideARectangle) {
  const Bitmap src = Smoothish(60, 50, 3);
  const TRect r{10, 8, 45, 40};
  Bitmap out = Uniform(60, 50, 9);
  TPoint c{-1, -1};
  Sobelx2(src, out, r, c);
  // Blue byte, sum of the horizontal and vertical kernels, clamped, written gray.
  Bitmap want = Uniform(60, 50, 9);
  int64_t sg = 0, sx = 0, sy = 0;
  for (int y = r.Top + 1; y <= r.Bottom - 2; ++y)
    for (int x = r.Left + 1; x <= r.Right - 2; ++x) {
      auto p = [&](int dx, int dy) { return double(B(src, x + dx, y + dy, 0)); };
      const double gx = -p(-1, -1) + p(1, -1) - 2 * p(-1, 0) + 2 * p(1, 0) - p(-1, 1) + p(1, 1);
      const double gy = -p(-1, -1) - 2 * p(0, -1) - p(1, -1) + p(-1, 1) + 2 * p(0, 1) + p(1, 1);
      const uint8_t g = ClampNearest(gx + gy);
      for (int k = 0; k < 3; ++k) B(want, x, y, k) = g;
      sg += g;
      sx += int64_t(x) * g;
      sy += int64_t(y) * g;
    }
  ExpectSame(out, want);
  ASSERT_GT(sg, 0);
  EXPECT_EQ(c.X, Nearest(double(sx) / double(sg)));
  EXPECT_EQ(c.Y, Nearest(double(sy) / double(sg)));

  // No response: the rectangle's centre (ties to even: 27.5 -> 28, 24 -> 24).
  Sobelx2(Uniform(60, 50, 100), out, TRect{10, 8, 45, 40}, c);
  EXPECT_EQ(c, (TPoint{28, 24}));
  // A rectangle reaching past the bitmap is cut at its edge.
  Sobelx2(src, out, TRect{-20, -20, 500, 500}, c);
}

// ---- Counting dilation ----

TEST(Filters, DilatationCountsTheWindowAgainstTheLevel) {
  const Bitmap src = Random(31, 27, 4);
  for (auto [dim, th, level] : {std::tuple{2, 128, 12}, {0, 100, 0}, {15, 200, 40}}) {
    SCOPED_TRACE(dim);
    Bitmap out = Uniform(31, 27, 66);
    Dilatation(src, out, 1, dim, th, level);
    const int d = std::min(dim, 10);
    Bitmap want = Uniform(31, 27, 66);
    for (int y = d; y <= 27 - d - 1; ++y)
      for (int x = d; x <= 31 - d - 1; ++x) {
        int n = 0;
        for (int i = -d; i <= d; ++i)
          for (int j = -d; j <= d; ++j) n += B(src, x + j, y + i, 1) > th;
        for (int c = 0; c < 3; ++c) B(want, x, y, c) = n > level ? 255 : 0;
      }
    ExpectSame(out, want);
  }
}

// ---- Box mean ----

TEST(Filters, IntegralImageAndBoxMean) {
  auto table = std::make_unique<TIntImg>();
  const Bitmap src = Random(50, 40, 5);
  IntegralImg(src, *table, 2);
  for (int x : {0, 7, 49})
    for (int y : {0, 13, 39}) {
      int s = 0;
      for (int yy = 0; yy <= y; ++yy)
        for (int xx = 0; xx <= x; ++xx) s += B(src, xx, yy, 2);
      EXPECT_EQ((*table)[x][y], s) << x << "," << y;
    }
  EXPECT_EQ((*table)[50][39], 0);  // beyond the bitmap: cleared

  // The box mean, with its divisor one short along the top and left edges.
  Bitmap out;
  AVGImg(src, out, *table, 3, 2);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 50; ++x) {
      const int x0 = std::max(x - 3, 0), x1 = std::min(x + 3, 49);
      const int y0 = std::max(y - 2, 0), y1 = std::min(y + 2, 39);
      // Columns x0+1..x1 (x0..x1 when x <= 3), rows likewise.
      const int xa = x > 3 ? x0 + 1 : x0, ya = y > 2 ? y0 + 1 : y0;
      int s = 0;
      for (int yy = ya; yy <= y1; ++yy)
        for (int xx = xa; xx <= x1; ++xx) s += B(src, xx, yy, 2);
      const uint8_t want = ClampNearest(double(s) / ((y1 - y0) * (x1 - x0)));
      ASSERT_EQ(B(out, x, y, 0), want) << x << "," << y;
      ASSERT_EQ(B(out, x, y, 1), want) << x << "," << y;
    }

  // The camera tab's 50 x 50 on a uniform 100: 100 inside, 104 in the top-left corner
  // (51 x 51 pixels over a divisor of 50 x 50), 102 along the top edge.
  const Bitmap flat = Uniform(300, 200, 100);
  IntegralImg(flat, *table, 0);
  AVGImg(flat, out, *table, 50, 50);
  EXPECT_EQ(B(out, 150, 100, 0), 100);
  EXPECT_EQ(B(out, 0, 0, 0), 104);
  EXPECT_EQ(B(out, 150, 0, 0), 102);  // 100 x 51 over 100 x 50
  EXPECT_EQ(B(out, 299, 199, 0), 100);
  // A half-width of 0 is taken as 1 instead of dividing by zero.
  AVGImg(flat, out, *table, 0, 0);
  EXPECT_EQ(B(out, 150, 100, 0), 100);
}

// ---- Display chain ----

TEST(Filters, GuidedSharpeningBlendsMeanAndSharpenedValue) {
  const Bitmap src = Smoothish(45, 35, 6);
  for (auto [eps, dim, ch] : {std::tuple{2.0, 2, 0}, {1.0, 1, 1}, {1.5, 9, 4}}) {
    SCOPED_TRACE(dim);
    Bitmap out;
    ApplyGuidedSharpFilter(src, out, eps, dim, ch);
    const int d = std::min(dim, 5), c = ch > 2 ? 0 : ch, n = (2 * d + 1) * (2 * d + 1);
    Bitmap want = src;
    for (int y = d; y <= 35 - d - 1; ++y)
      for (int x = d; x <= 45 - d - 1; ++x) {
        double s1 = 0, s2 = 0;
        for (int i = -d; i <= d; ++i)
          for (int j = -d; j <= d; ++j) {
            const double v = B(src, x + j, y + i, c);
            s1 += v;
            s2 += v * v;
          }
        const double mu = s1 / n;
        const double t = n * (s2 / n - mu * mu) / (n - 1);
        const double sigma = (t < 1e-10 ? 0 : std::sqrt(t)) * eps;
        double sh = 9.0 * B(src, x, y, c);
        for (int i = -1; i <= 1; ++i)
          for (int j = -1; j <= 1; ++j)
            if (i != 0 || j != 0) sh -= B(src, x + j, y + i, c);
        sh = std::clamp(sh, 0.0, 255.0);
        const uint8_t g = ClampNearest(sh * sigma / 255 + (255 - sigma) * mu / 255);
        for (int k = 0; k < 3; ++k) B(want, x, y, k) = g;
      }
    ExpectSame(out, want);
  }
}

TEST(Filters, EdgeEnhancementTwoPasses) {
  const Bitmap src = Smoothish(40, 32, 7);
  for (int f : {20, 5, 0, -3}) {
    SCOPED_TRACE(f);
    const int ch = 0, W = 40, H = 32;
    Bitmap out;
    const double S = EdgeEnhancement(src, out, f, ch);
    // Pass 1: the four compass kernels add up to twice the 4-neighbour Laplacian.
    Bitmap resp = src;
    int64_t sum = 0, cnt = 0;
    for (int y = 1; y <= H - 2; ++y)
      for (int x = 1; x <= W - 2; ++x) {
        const int lap = B(src, x - 1, y, ch) + B(src, x + 1, y, ch) + B(src, x, y - 1, ch) + B(src, x, y + 1, ch) -
                        4 * B(src, x, y, ch);
        const uint8_t t = ClampNearest(2.0 * lap * (-std::abs(f) / 255.0));
        B(resp, x, y, ch) = t;
        if (t > 0) {
          sum += 2 * t;
          ++cnt;
        }
      }
    const int64_t wantS = cnt > 0 ? Nearest(double(sum) / double(cnt)) : 0;
    EXPECT_EQ(S, wantS);
    Bitmap want = resp;
    for (int y = 1; y <= H - 2; ++y)
      for (int x = 1; x <= W - 2; ++x) {
        int c = 0;
        for (int i = -1; i <= 1; ++i)
          for (int j = -1; j <= 1; ++j) c += B(resp, x + j, y + i, ch) > wantS;
        const int w = Nearest(B(resp, x, y, ch) * (c + 1) / 10.0 - f / 3.0);
        const int v = f < 1 ? B(src, x, y, ch) - w : B(src, x, y, ch) + w;
        for (int k = 0; k < 3; ++k) B(want, x, y, k) = static_cast<uint8_t>(std::clamp(v, 0, 255));
      }
    ExpectSame(out, want);
  }
}

// ---- Measures ----

// The focus value written out directly: gradient energy, log slope of the edge histogram
// (a plain least-squares fit), bright mean and the 8 x 8 cells.
struct SharpRef {
  double result = 0, v = 0, vs = 0, brf = 0;
  uint32_t ct = 0, ct255 = 0;
};
SharpRef ReferenceSharpness(const Bitmap& src, TRect r, int f, int imin, int imax) {
  SharpRef o;
  r.Left = std::max(r.Left, 0);
  r.Top = std::max(r.Top, 0);
  r.Right = std::min(r.Right, src.Width() - 1);
  r.Bottom = std::min(r.Bottom, src.Height() - 1);
  std::vector<int> hist(256, 0);
  std::vector<int> cmax(161 * 129, 0), cmin(161 * 129, 255);
  double bs = 0, bc = 0, gs = 0, gc = 0, es = 0;
  int dmax = 0, dmin = 255;
  for (int y = std::max(r.Top, 1); y <= r.Bottom - 1; ++y)
    for (int x = r.Left + 1; x <= r.Right - 2; ++x) {
      auto p = [&](int dx, int dy) { return double(B(src, x + dx, y + dy, f)); };
      const int pv = B(src, x, y, f), b = B(src, x, y, 0);
      if ((imax + imin) / 2.0 < pv && pv < imax) bs += b, bc += 1;
      if (b == 255) ++o.ct255;
      const double hx = -p(-1, -1) + p(1, -1) - 2 * p(-1, 0) + 2 * p(1, 0) - p(-1, 1) + p(1, 1);
      const double vy = -p(-1, -1) - 2 * p(0, -1) - p(1, -1) + p(-1, 1) + 2 * p(0, 1) + p(1, 1);
      if (imin < pv && pv < imax && hx * hx + vy * vy > 0) gs += hx * hx + vy * vy, gc += 1;
      if (hx + vy > 0) {
        const int d = ClampNearest(hx + vy);
        ++hist[d];
        if (d > 10) es += d, ++o.ct;
        dmax = std::max(dmax, d);
        dmin = std::min(dmin, d);
        if (x % 8 == 0) {
          int& cx = cmax[(y / 8) * 161 + x / 8];
          int& cn = cmin[(y / 8) * 161 + x / 8];
          cx = std::max(cx, dmax);
          cn = std::min(cn, dmin);
          dmax = 0;
          dmin = 255;
        }
      }
    }
  const double minCount = double((r.Right - r.Left) * (r.Bottom - r.Top) / 10);
  if (gc > minCount) o.v = gs / gc;
  std::vector<double> xs, ys;
  for (int i = 1; i <= 254; ++i)
    if (hist[i] > 0) xs.push_back(std::log(double(hist[i]))), ys.push_back(i);
  if (xs.size() > 5) {
    const size_t n = xs.size() - 1;
    double mx = 0, my = 0;
    for (size_t i = 0; i < n; ++i) mx += xs[i], my += ys[i];
    mx /= n;
    my /= n;
    double sxx = 0, sxy = 0;
    for (size_t i = 0; i < n; ++i) sxx += (xs[i] - mx) * (xs[i] - mx), sxy += (xs[i] - mx) * (ys[i] - my);
    if (sxx != 0) {
      o.vs = -100 * sxy / sxx;
      if (bc > 0) o.brf = bs / bc;
    }
  }
  if (o.ct > 0) {
    const int64_t e = int64_t(es) / (2 * int64_t(o.ct));
    uint32_t cells = 1;
    for (size_t k = 0; k < cmax.size(); ++k)
      // Unsigned differences: a minimum above e never counts, a maximum below e always does.
      if (cmin[k] != 0 && cmin[k] != 255 && cmin[k] <= e && (cmax[k] < e || e - cmin[k] < cmax[k] - e)) ++cells;
    o.ct = cells;
  }
  o.result = o.brf > 0 ? std::sqrt(o.brf) * (o.vs + o.v) : 0;
  return o;
}

TEST(Filters, SharpnessIndexAgainstDirectComputation) {
  Bitmap src = Smoothish(300, 220, 8);
  for (int k = 0; k < 300; ++k) B(src, 17 + k % 40, 30 + k / 40, 0) = 255;  // a saturated patch
  for (auto [r, f] : {std::pair{TRect{20, 10, 280, 200}, 0}, {TRect{-5, -5, 2000, 2000}, 1}}) {
    SCOPED_TRACE(f);
    double v = -1, vs = -1, brf = -1;
    uint32_t ct = 99, ct255 = 99;
    const double res = SharpnessIndexSobel(src, r, f, 10, 250, v, vs, brf, ct, ct255);
    const SharpRef want = ReferenceSharpness(src, r, f, 10, 250);
    ASSERT_GT(want.v, 0);
    ASSERT_NE(want.vs, 0);
    ASSERT_GT(want.brf, 0);
    EXPECT_NEAR(v, want.v, 1e-9 * want.v);
    EXPECT_NEAR(vs, want.vs, 1e-9 * std::abs(want.vs));
    EXPECT_NEAR(brf, want.brf, 1e-9);
    EXPECT_NEAR(res, want.result, 1e-9 * std::abs(want.result));
    EXPECT_EQ(ct, want.ct);
    EXPECT_EQ(ct255, want.ct255);
    EXPECT_GT(ct255, 0u);
  }
  // GetCombinedSharpness takes imin 10 and imax 250 and swaps the two outputs.
  double rs, ri, brf;
  uint32_t ct, ct255;
  const TRect r{20, 10, 280, 200};
  const double res = GetCombinedSharpness(src, r, 0, rs, ri, brf, ct, ct255);
  const SharpRef want = ReferenceSharpness(src, r, 0, 10, 250);
  EXPECT_NEAR(res, want.result, 1e-9 * std::abs(want.result));
  EXPECT_NEAR(ri, want.v, 1e-9 * want.v);
  EXPECT_NEAR(rs, want.vs, 1e-9 * std::abs(want.vs));
}

TEST(Filters, SharpnessOfKnownImages) {
  // Flat: no gradient, no edge histogram, no bright mean.
  double v = -1, vs = -1, brf = -1;
  uint32_t ct = 9, ct255 = 9;
  EXPECT_EQ(SharpnessIndexSobel(Uniform(64, 48, 255), TRect{0, 0, 63, 47}, 0, 10, 250, v, vs, brf, ct, ct255), 0);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(vs, 0);
  EXPECT_EQ(brf, 0);
  EXPECT_EQ(ct, 0u);
  // Every pixel of rows 1..46 and columns 1..61 is counted as saturated.
  EXPECT_EQ(ct255, 46u * 61u);
  // Columns 50, 50, 150, 150, ...: every pixel has a horizontal gradient of +-400.
  Bitmap stripes(64, 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      for (int c = 0; c < 3; ++c) B(stripes, x, y, c) = (x / 2) % 2 ? 150 : 50;
  SharpnessIndexSobel(stripes, TRect{0, 0, 63, 47}, 0, 10, 250, v, vs, brf, ct, ct255);
  EXPECT_EQ(v, 160000);
  EXPECT_EQ(ct255, 0u);
}

TEST(Filters, LocalContrastMap) {
  // Values outside (low, heigh): nothing counted, the map stays a copy.
  const Bitmap src = Random(30, 30, 9);
  Bitmap out;
  uint32_t br = 7, contrast = 7, count = 7;
  EXPECT_EQ(GetVarianz(src, out, 2, 1, 300, 400, br, contrast, count), 0);
  EXPECT_EQ(br, 0u);
  EXPECT_EQ(contrast, 0u);
  EXPECT_EQ(count, 0u);
  ExpectSame(out, src);

  // A ramp of 10 per column: with dim 2 every sampled pixel sees the same 16 weighted
  // differences sqrt(i² + j²) * 10 |j| (i, j in +-1, +-2), so each contributes their
  // sample standard deviation.
  Bitmap ramp(24, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 24; ++x)
      for (int c = 0; c < 3; ++c) B(ramp, x, y, c) = static_cast<uint8_t>(10 * x);
  std::vector<double> d;
  for (int i : {-2, -1, 1, 2})
    for (int j : {-2, -1, 1, 2}) d.push_back(std::sqrt(double(i * i + j * j)) * 10 * std::abs(j));
  double m = 0;
  for (double x : d) m += x;
  m /= d.size();
  double q = 0;
  for (double x : d) q += (x - m) * (x - m);
  const double sigma = std::sqrt(q / (d.size() - 1));
  const double res = GetVarianz(ramp, out, 2, 3, -1, 256, br, contrast, count);
  // Samples at x, y = 2, 5, 8, ... below 24 - 3 and 20 - 3.
  std::vector<int> xs, ys;
  for (int x = 2; x < 21; x += 3) xs.push_back(x);
  for (int y = 2; y < 17; y += 3) ys.push_back(y);
  EXPECT_EQ(count, xs.size() * ys.size());
  EXPECT_NEAR(res, 9 * sigma, 1e-9);
  // br: ten times the mean sampled value (integer division); contrast: 100 x their spread.
  double s = 0, s2 = 0;
  for (int x : xs) s += 10 * x, s2 += 100.0 * x * x;
  s *= ys.size();
  s2 *= ys.size();
  const double n = double(xs.size() * ys.size());
  EXPECT_EQ(br, uint32_t(int64_t(s) * 10 / int64_t(n)));
  const double av = br / 10.0, t = n * (s2 / n - av * av) / (n - 1);
  EXPECT_EQ(contrast, uint32_t(Nearest(std::sqrt(t) * 100)));
  // The map holds 10 sigma (low byte) in blue and green at (x div 3, y div 3), red 0.
  const uint8_t level = static_cast<uint8_t>(Nearest(10 * sigma) & 0xFF);
  EXPECT_EQ(B(out, 2 / 3, 5 / 3, 0), level);
  EXPECT_EQ(B(out, 2 / 3, 5 / 3, 1), level);
  EXPECT_EQ(B(out, 2 / 3, 5 / 3, 2), 0);
  EXPECT_EQ(B(out, 20, 19, 2), B(ramp, 20, 19, 2));  // not a map position: a copy
  // A step of 0 is taken as 1.
  GetVarianz(ramp, out, 1, 0, -1, 256, br, contrast, count);
  EXPECT_EQ(count, (24u - 2 - 1) * (20u - 2 - 1));
}

TEST(Filters, TextureContrastAgainstDirectSum) {
  const Bitmap src = Random(26, 22, 10);
  for (auto [dim, ch] : {std::pair{2, 5}, {0, 2}, {12, 7}}) {
    SCOPED_TRACE(dim);
    Bitmap out;
    TexturKontrast(src, out, dim, ch);
    const int d = std::clamp(dim, 1, 10);
    Bitmap want = src;
    for (int y = d; y <= 22 - d - 1; ++y)
      for (int x = d; x <= 26 - d - 1; ++x) {
        double s = 0;
        for (int i = -d; i <= d; ++i)
          for (int j = -d; j <= d; ++j) s += (i - j) * (i - j) * B(src, x + j, y + i, 0);
        const uint8_t c = static_cast<uint8_t>(std::min(Nearest(s / ((2 * d + 1) * (2 * d + 1))), 255));
        if (ch & 1) B(want, x, y, 0) = c;
        if (ch & 2) B(want, x, y, 1) = c;
        if (ch & 4) B(want, x, y, 2) = c;
      }
    ExpectSame(out, want);
  }
}

TEST(Filters, ThresholdShareDifference) {
  // Two populations, 50 and 200, with 30 % and 60 % bright pixels.
  auto split = [](double share) {
    Bitmap b(100, 50);
    for (int y = 0; y < 50; ++y)
      for (int x = 0; x < 100; ++x)
        for (int c = 0; c < 3; ++c) B(b, x, y, c) = (x < share * 100) ? 200 : 50;
    return b;
  };
  const Bitmap a = split(0.3), b = split(0.6);
  EXPECT_EQ(ImgDiffTH(a, a, 0), 0);
  // Each share comes from the image's own histogram and threshold: the bright pixels over
  // all, give or take the few counts the histogram's gap filling spreads between the peaks.
  EXPECT_NEAR(ImgDiffTH(a, b, 1), 3000 - 6000, 10);
  EXPECT_EQ(ImgDiffTH(b, a, 2), -ImgDiffTH(a, b, 2));
}

TEST(Filters, OtherPixelFormatsAreRefused) {
  const Bitmap gray(20, 20, platform::PixelFormat::pf8bit);
  Bitmap out(20, 20);
  EXPECT_THROW(ApplyFilter(gray, out, SmoothFilter), std::invalid_argument);
  double v, vs, brf;
  uint32_t ct, ct255;
  EXPECT_THROW(SharpnessIndexSobel(gray, TRect{0, 0, 19, 19}, 0, 10, 250, v, vs, brf, ct, ct255),
               std::invalid_argument);
}

}  // namespace
}  // namespace analysis
