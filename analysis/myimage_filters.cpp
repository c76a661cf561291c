#include "analysis/myimage_filters.h"
#include "analysis/myimage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/analyze_hist.h"
#include "analysis/myimage_hist.h"
#include "analysis/mymath.h"
#include "platform/base/numeric.h"

namespace analysis {

using platform::Bitmap;
using platform::Round;
using platform::TPoint;
using platform::TRect;

namespace {

// The part of the result bitmap that the source covers as well.
struct Extent {
  int32_t W;
  int32_t H;
};
Extent Common(const Bitmap& a, const Bitmap& b) {
  return {std::min(a.Width(), b.Width()), std::min(a.Height(), b.Height())};
}

// Nearest integer, ties to even, for the per-pixel values of the filters (|v| well inside
// the int range). The same result as platform::Round, without its rounding-mode bookkeeping
// and library call, which would dominate loops that round every byte of an image.
inline int32_t NearestInt(double v) {
  int32_t i = static_cast<int32_t>(v);  // toward zero
  if (v < i) --i;                        // floor
  const double frac = v - i;             // exact below 2^52
  if (frac > 0.5 || (frac == 0.5 && (i & 1) != 0)) ++i;
  return i;
}

inline uint8_t ClampRound(double v) { return static_cast<uint8_t>(NearestInt(std::clamp(v, 0.0, 255.0))); }
inline uint8_t ClampByte(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// Integer response of a kernel with integer weights (exact, so equal to the float sum).
struct IntKernel {
  int32_t k[3][3];
};
constexpr IntKernel ToInt(const TFilter& f) {
  IntKernel r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.k[i][j] = static_cast<int32_t>(f.k[i][j]);
  return r;
}
inline int32_t IntResponse(const IntKernel& k, const uint8_t* const rows[3], int32_t x, int32_t c) {
  int32_t v = 0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) v += k.k[i][j] * rows[i][3 * (x + j - 1) + c];
  return v;
}

// The four compass kernels summed: every term is an exact integer, so one kernel gives the
// same sum as the four.
constexpr IntKernel CompassSum() {
  IntKernel r{};
  for (const TFilter& f : CompassFilters)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r.k[i][j] += static_cast<int32_t>(f.k[i][j]);
  return r;
}
constexpr IntKernel kCompass = CompassSum();
constexpr IntKernel kSharpen = ToInt(SharpenFilter);
constexpr IntKernel kSx = ToInt(Sxfilter);
constexpr IntKernel kSy = ToInt(Syfilter);
constexpr IntKernel kEdgeX = ToInt(EdgePairFilters[0]);
constexpr IntKernel kEdgeY = ToInt(EdgePairFilters[1]);

// 0..255 rounded to the nearest integer, ties to even; branch-free so that row loops using
// it can be vectorised.
inline uint8_t ClampRoundByte(double v) {
  v = v < 0 ? 0 : (v > 255 ? 255 : v);
  const int32_t i = static_cast<int32_t>(v);
  const double frac = v - i;
  const int32_t up = (frac > 0.5) | ((frac == 0.5) & (i & 1));
  return static_cast<uint8_t>(i + up);
}

// One output row of a 3 x 3 kernel over the bytes b0..b1-1 of a scan line: every byte is
// convolved with the bytes `s` apart in the same row and in the rows above and below (s = 3
// for neighbouring pixels, 6 for pixels two apart). Terms are added row by row, left to
// right, as a direct evaluation would.
void ConvolveRow(const TFilter& f, const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, int32_t s,
                 int32_t b0, int32_t b1, uint8_t* out) {
  const double k00 = f.k[0][0], k01 = f.k[0][1], k02 = f.k[0][2];
  const double k10 = f.k[1][0], k11 = f.k[1][1], k12 = f.k[1][2];
  const double k20 = f.k[2][0], k21 = f.k[2][1], k22 = f.k[2][2];
  for (int32_t b = b0; b < b1; ++b) {
    double v = k00 * r0[b - s];
    v += k01 * r0[b];
    v += k02 * r0[b + s];
    v += k10 * r1[b - s];
    v += k11 * r1[b];
    v += k12 * r1[b + s];
    v += k20 * r2[b - s];
    v += k21 * r2[b];
    v += k22 * r2[b + s];
    out[b] = ClampRoundByte(v);
  }
}

inline void PutGray(uint8_t* px, uint8_t v) { px[0] = px[1] = px[2] = v; }

// Extent of the summed-area table; larger bitmaps are summed over this part only.
constexpr int32_t kIntCols = ImWidth + 1;
constexpr int32_t kIntRows = ImHeight + 1;

// Byte indices outside the pixel are taken as the nearest of its three bytes.
inline int32_t ByteIndex(int32_t c) { return std::clamp(c, 0, 2); }

// Response of one kernel at pixel x of the middle of three rows, byte c.
inline double Response(const TFilter& k, const uint8_t* const rows[3], int32_t x, int32_t c) {
  double v = 0;
  for (int i = -1; i <= 1; ++i)
    for (int j = -1; j <= 1; ++j) v += k.at(i, j) * rows[i + 1][3 * (x + j) + c];
  return v;
}

}  // namespace

// ---- Convolutions ----

void ApplyFilter(const Bitmap& FromBit, Bitmap& NewBit, TFilter aFilter) {
  Require24Bit(FromBit, "ApplyFilter");
  Require24Bit(NewBit, "ApplyFilter");
  const Extent e = Common(FromBit, NewBit);
  for (int32_t y = 1; y <= e.H - 2; ++y)
    ConvolveRow(aFilter, FromBit.ScanLine(y - 1), FromBit.ScanLine(y), FromBit.ScanLine(y + 1), 3, 3,
                3 * (e.W - 1), NewBit.ScanLine(y));
}

void ApplyFilterSkip(const Bitmap& FromBit, Bitmap& NewBit, TFilter aFilter) {
  Require24Bit(FromBit, "ApplyFilterSkip");
  Require24Bit(NewBit, "ApplyFilterSkip");
  const Extent e = Common(FromBit, NewBit);
  for (int32_t y = 3; y <= e.H - 6; ++y)
    ConvolveRow(aFilter, FromBit.ScanLine(y - 2), FromBit.ScanLine(y), FromBit.ScanLine(y + 2), 6, 9,
                3 * (e.W - 5), NewBit.ScanLine(y));
}

void ApplyFilter_xDim(const Bitmap& FromBit, Bitmap& NewBit, std::span<const TFilter> aFilter, int32_t z,
                      int32_t dim, TRect aRect, TPoint& Result) {
  Require24Bit(FromBit, "ApplyFilter_xDim");
  Require24Bit(NewBit, "ApplyFilter_xDim");
  const Extent e = Common(FromBit, NewBit);
  z = ByteIndex(z);
  const size_t nk = static_cast<size_t>(std::clamp<int64_t>(dim, 0, static_cast<int64_t>(aFilter.size())));
  const int32_t y0 = std::max(aRect.Top + 1, 1);
  const int32_t y1 = std::min(aRect.Bottom - 2, e.H - 2);
  const int32_t x0 = std::max(aRect.Left + 1, 1);
  const int32_t x1 = std::min(aRect.Right - 2, e.W - 2);
  int64_t sg = 0;
  int64_t sx = 0;
  int64_t sy = 0;
  for (int32_t y = y0; y <= y1; ++y) {
    const uint8_t* rows[3] = {FromBit.ScanLine(y - 1), FromBit.ScanLine(y), FromBit.ScanLine(y + 1)};
    uint8_t* out = NewBit.ScanLine(y);
    for (int32_t x = x0; x <= x1; ++x) {
      double v = 0;
      for (size_t k = 0; k < nk; ++k) v += Response(aFilter[k], rows, x, z);
      const uint8_t g = ClampRound(v);
      PutGray(out + 3 * x, g);
      sg += g;
      sx += static_cast<int64_t>(x) * g;
      sy += static_cast<int64_t>(y) * g;
    }
  }
  if (sg > 0) {
    Result = {Round(static_cast<double>(sx) / static_cast<double>(sg)),
              Round(static_cast<double>(sy) / static_cast<double>(sg))};
  } else {
    Result = {Round((aRect.Left + aRect.Right) / 2.0), Round((aRect.Top + aRect.Bottom) / 2.0)};
  }
}

void Smooth(const Bitmap& FromBit, Bitmap& NewBit) { ApplyFilter(FromBit, NewBit, SmoothFilter); }

void DrawSharp(Bitmap& tbmp) {
  const Bitmap copy = tbmp;
  Smooth(copy, tbmp);
}

void SharpbmpSkip(const Bitmap& FromBit, Bitmap& NewBit, double f) {
  TFilter k;
  for (auto& row : k.k) row.fill(-f);
  k.k[1][1] = 8 * f + 1;
  ApplyFilterSkip(FromBit, NewBit, k);
}

void Sobelx2(const Bitmap& FromBit, Bitmap& NewBit, TRect aRect, TPoint& Result) {
  ApplyFilter_xDim(FromBit, NewBit, SobelFilters, 0, 2, aRect, Result);
}

// ---- Counting dilation ----

void Dilatation(const Bitmap& FromBit, Bitmap& ToBit, int32_t channel, int32_t dim, int32_t th, int32_t level) {
  Require24Bit(FromBit, "Dilatation");
  Require24Bit(ToBit, "Dilatation");
  dim = std::clamp(dim, 0, 10);
  channel = ByteIndex(channel);
  const Extent e = Common(FromBit, ToBit);
  if (e.W <= 2 * dim || e.H <= 2 * dim) return;
  // Window counts from a summed-area table of the thresholded pixels: the same counts as
  // walking every window, in constant time per pixel.
  const int32_t W = e.W;
  std::vector<int32_t> sat(static_cast<size_t>(W + 1) * (e.H + 1), 0);
  auto S = [&](int32_t x, int32_t y) -> int32_t& { return sat[static_cast<size_t>(y) * (W + 1) + x]; };
  for (int32_t y = 0; y < e.H; ++y) {
    const uint8_t* line = FromBit.ScanLine(y);
    int32_t rowSum = 0;
    for (int32_t x = 0; x < W; ++x) {
      rowSum += line[3 * x + channel] > th ? 1 : 0;
      S(x + 1, y + 1) = S(x + 1, y) + rowSum;
    }
  }
  for (int32_t y = dim; y <= e.H - dim - 1; ++y) {
    uint8_t* out = ToBit.ScanLine(y);
    for (int32_t x = dim; x <= W - dim - 1; ++x) {
      const int32_t n = S(x + dim + 1, y + dim + 1) - S(x - dim, y + dim + 1) - S(x + dim + 1, y - dim) +
                        S(x - dim, y - dim);
      PutGray(out + 3 * x, n > level ? 255 : 0);
    }
  }
}

// ---- Box mean ----

void IntegralImg(const Bitmap& FromBit, TIntImg& IntImg, int32_t c) {
  Require24Bit(FromBit, "IntegralImg");
  std::memset(static_cast<void*>(IntImg.e), 0, sizeof(IntImg.e));
  c = ByteIndex(c);
  const int32_t W = std::min(FromBit.Width(), kIntCols);
  const int32_t H = std::min(FromBit.Height(), kIntRows);
  for (int32_t y = 0; y < H; ++y) {
    const uint8_t* line = FromBit.ScanLine(y);
    int32_t rowSum = 0;
    for (int32_t x = 0; x < W; ++x) {
      rowSum += line[3 * x + c];
      IntImg[x][y] = rowSum + (y > 0 ? IntImg[x][y - 1] : 0);
    }
  }
}

void AVGImg(const Bitmap& FromBit, Bitmap& ToBit, const TIntImg& IntImg, int32_t dx, int32_t dy) {
  Require24Bit(FromBit, "AVGImg");
  ToBit = FromBit;
  // A zero half-width would leave a divisor of 0 at every pixel.
  dx = std::max(dx, 1);
  dy = std::max(dy, 1);
  const int32_t W = std::min(ToBit.Width(), kIntCols);
  const int32_t H = std::min(ToBit.Height(), kIntRows);
  for (int32_t y = 0; y < H; ++y) {
    uint8_t* out = ToBit.ScanLine(y);
    const int32_t y0 = std::max(y - dy, 0);
    const int32_t y1 = std::min(y + dy, H - 1);
    for (int32_t x = 0; x < W; ++x) {
      const int32_t x0 = std::max(x - dx, 0);
      const int32_t x1 = std::min(x + dx, W - 1);
      int64_t s = IntImg[x1][y1];
      if (x > dx) s -= IntImg[x0][y1];
      if (y > dy) s -= IntImg[x1][y0];
      if (x > dx && y > dy) s += IntImg[x0][y0];
      const int64_t area = static_cast<int64_t>(y1 - y0) * (x1 - x0);
      // A bitmap one pixel wide or high has no box; its pixel stays as it is.
      if (area == 0) continue;
      PutGray(out + 3 * x, ClampRound(static_cast<double>(s) / static_cast<double>(area)));
    }
  }
}

// ---- Display chain ----

void ApplyGuidedSharpFilter(const Bitmap& FromBit, Bitmap& NewBit, double eps, int32_t dim, int32_t ch) {
  Require24Bit(FromBit, "ApplyGuidedSharpFilter");
  NewBit = FromBit;
  // The sharpening kernel needs the direct neighbours, so the window is at least 3 x 3.
  dim = std::clamp(dim, 1, 5);
  if (ch > 2 || ch < 0) ch = 0;
  const int32_t W = NewBit.Width();
  const int32_t H = NewBit.Height();
  if (W <= 2 * dim || H <= 2 * dim) return;
  const int32_t side = 2 * dim + 1;
  const int32_t n = side * side;
  // Column sums of the window rows, moved down one row at a time; the window sums are then
  // slid along the row. Integer sums, so the statistics are exact.
  std::vector<int32_t> colSum(W, 0);
  std::vector<int32_t> colSq(W, 0);
  for (int32_t i = 0; i < side - 1; ++i) {
    const uint8_t* r = FromBit.ScanLine(i);
    for (int32_t x = 0; x < W; ++x) {
      const int32_t v = r[3 * x + ch];
      colSum[x] += v;
      colSq[x] += v * v;
    }
  }
  for (int32_t y = dim; y <= H - dim - 1; ++y) {
    const uint8_t* enter = FromBit.ScanLine(y + dim);
    for (int32_t x = 0; x < W; ++x) {
      const int32_t v = enter[3 * x + ch];
      colSum[x] += v;
      colSq[x] += v * v;
    }
    const uint8_t* near[3] = {FromBit.ScanLine(y - 1), FromBit.ScanLine(y), FromBit.ScanLine(y + 1)};
    uint8_t* out = NewBit.ScanLine(y);
    int64_t sum = 0;
    int64_t sq = 0;
    for (int32_t x = 0; x < side - 1; ++x) {
      sum += colSum[x];
      sq += colSq[x];
    }
    for (int32_t x = dim; x <= W - dim - 1; ++x) {
      sum += colSum[x + dim];
      sq += colSq[x + dim];
      const double mu = static_cast<double>(sum) / n;
      const double sigma = GetStd(n, mu, static_cast<double>(sq)) * eps;
      const double s = ClampByte(IntResponse(kSharpen, near, x, ch));
      PutGray(out + 3 * x, ClampRound(s * sigma / 255 + (255 - sigma) * mu / 255));
      sum -= colSum[x - dim];
      sq -= colSq[x - dim];
    }
    const uint8_t* leave = FromBit.ScanLine(y - dim);
    for (int32_t x = 0; x < W; ++x) {
      const int32_t v = leave[3 * x + ch];
      colSum[x] -= v;
      colSq[x] -= v * v;
    }
  }
}

double EdgeEnhancement(const Bitmap& FromBit, Bitmap& NewBit, int32_t f, int32_t ch) {
  Require24Bit(FromBit, "EdgeEnhancement");
  const double g = -std::abs(static_cast<double>(f)) / 255;
  ch = ByteIndex(ch);
  NewBit = FromBit;
  const int32_t W = NewBit.Width();
  const int32_t H = NewBit.Height();

  // The scaled response depends only on the integer compass sum (weights 0, 2 and -8 on
  // bytes: -2040..2040), so it is rounded once per possible sum.
  constexpr int32_t kMaxE = 2040;
  std::array<uint8_t, 2 * kMaxE + 1> scaled{};
  for (int32_t e = -kMaxE; e <= kMaxE; ++e) scaled[e + kMaxE] = ClampRound(e * g);

  // First pass: the summed compass response, scaled, into byte ch.
  int64_t S = 0;
  int64_t positives = 0;
  for (int32_t y = 1; y <= H - 2; ++y) {
    const uint8_t* rows[3] = {FromBit.ScanLine(y - 1), FromBit.ScanLine(y), FromBit.ScanLine(y + 1)};
    uint8_t* out = NewBit.ScanLine(y);
    for (int32_t x = 1; x <= W - 2; ++x) {
      const uint8_t t = scaled[IntResponse(kCompass, rows, x, ch) + kMaxE];
      out[3 * x + ch] = t;
      if (t > 0) {
        S += t;
        ++positives;
      }
      S += t;
    }
  }
  if (positives > 0) S = platform::Round64(static_cast<long double>(S) / positives);

  // Second pass: pixels among strong responses are pushed further from the source value.
  // The push depends only on the response (0..255) and the count of strong neighbours (0..9).
  std::array<std::array<int32_t, 10>, 256> push{};
  for (int32_t r = 0; r < 256; ++r)
    for (int32_t c = 0; c < 10; ++c) push[r][c] = NearestInt(r * (c + 1) / 10.0 - f / 3.0);
  const Bitmap resp = NewBit;
  std::vector<uint8_t> strong(W);  // per column: strong pixels among the three rows
  for (int32_t y = 1; y <= H - 2; ++y) {
    const uint8_t* rows[3] = {resp.ScanLine(y - 1), resp.ScanLine(y), resp.ScanLine(y + 1)};
    for (int32_t x = 0; x < W; ++x)
      strong[x] = static_cast<uint8_t>((rows[0][3 * x + ch] > S) + (rows[1][3 * x + ch] > S) +
                                       (rows[2][3 * x + ch] > S));
    const uint8_t* src = FromBit.ScanLine(y);
    uint8_t* out = NewBit.ScanLine(y);
    for (int32_t x = 1; x <= W - 2; ++x) {
      const int32_t c = strong[x - 1] + strong[x] + strong[x + 1];
      const int32_t w = push[rows[1][3 * x + ch]][c];
      const int32_t v = f < 1 ? src[3 * x + ch] - w : src[3 * x + ch] + w;
      PutGray(out + 3 * x, ClampByte(v));
    }
  }
  return static_cast<double>(S);
}

// ---- Measures ----

double SharpnessIndexSobel(const Bitmap& FromBit, TRect aRect, int32_t f, int32_t imin, int32_t imax, double& v,
                           double& vs, double& brf, uint32_t& ct, uint32_t& ct255) {
  Require24Bit(FromBit, "SharpnessIndexSobel");
  v = 0;
  vs = 0;
  brf = 0;
  ct = 0;
  ct255 = 0;
  f = ByteIndex(f);
  TrimImgSize(FromBit, aRect);

  constexpr int32_t kCellsX = 161;
  constexpr int32_t kCellsY = 129;
  std::vector<uint8_t> cellmax(kCellsX * kCellsY, 0);
  std::vector<uint8_t> cellmin(kCellsX * kCellsY, 255);
  std::array<uint32_t, 256> hist{};
  const int64_t MinCount = static_cast<int64_t>(aRect.Right - aRect.Left) * (aRect.Bottom - aRect.Top) / 10;

  uint64_t brightSum = 0;
  uint64_t brightCount = 0;
  int64_t gradSum = 0;  // exact: at most 2 x 1020² per pixel
  int64_t gradCount = 0;
  uint64_t edgeSum = 0;
  int32_t dmax = 0;
  int32_t dmin = 255;
  const double mid = (imax + imin) / 2.0;

  // The kernels need the row above; the top row of the bitmap has none and is left out.
  const int32_t yStart = std::max(aRect.Top, 1);
  const int32_t yEnd = std::min(aRect.Bottom - 1, FromBit.Height() - 2);
  for (int32_t y = yStart; y <= yEnd; ++y) {
    const uint8_t* rows[3] = {FromBit.ScanLine(y - 1), FromBit.ScanLine(y), FromBit.ScanLine(y + 1)};
    const uint8_t* line = rows[1];
    for (int32_t x = aRect.Left + 1; x <= aRect.Right - 2; ++x) {
      const int32_t p = line[3 * x + f];
      const int32_t b = line[3 * x];
      if (mid < p && p < imax) {
        brightSum += b;
        ++brightCount;
      }
      if (b == 255) ++ct255;
      if (imin < p && p < imax) {
        const int64_t gx = IntResponse(kSx, rows, x, f);
        const int64_t gy = IntResponse(kSy, rows, x, f);
        const int64_t q = gx * gx + gy * gy;
        if (q > 0) {
          gradSum += q;
          ++gradCount;
        }
      }
      const int32_t r = IntResponse(kEdgeX, rows, x, f) + IntResponse(kEdgeY, rows, x, f);
      if (r > 0) {
        const int32_t d = std::min(r, 255);
        ++hist[d];
        if (d > 10) {
          edgeSum += d;
          ++ct;
        }
        dmax = std::max(dmax, d);
        dmin = std::min(dmin, d);
        if (x % 8 == 0) {
          const int32_t cx = x / 8;
          const int32_t cy = y / 8;
          if (cx < kCellsX && cy < kCellsY) {
            uint8_t& cmax = cellmax[cy * kCellsX + cx];
            uint8_t& cmin = cellmin[cy * kCellsX + cx];
            if (dmax > cmax) cmax = static_cast<uint8_t>(dmax);
            if (dmin < cmin) cmin = static_cast<uint8_t>(dmin);
          }
          dmax = 0;
          dmin = 255;
        }
      }
    }
  }

  if (gradCount > MinCount) v = static_cast<double>(gradSum) / static_cast<double>(gradCount);

  // Slope of the edge histogram on a log scale: sharp images keep counts in the high bins.
  std::vector<double> lx;
  std::vector<double> ly;
  for (int32_t i = 1; i <= 254; ++i) {
    if (hist[i] != 0) {
      lx.push_back(std::log(static_cast<double>(hist[i])));
      ly.push_back(i);
    }
  }
  const int32_t n = static_cast<int32_t>(lx.size());
  if (n > 5) {
    platform::Extended m = 0;
    platform::Extended c = 0;
    if (regression(m, c, lx, ly, n - 1)) {
      if (brightCount > 0) brf = static_cast<double>(brightSum) / static_cast<double>(brightCount);
      vs = static_cast<double>(-100 * m);
    }
  }

  if (ct > 0) {
    const uint32_t e = static_cast<uint32_t>(edgeSum / (2 * static_cast<uint64_t>(ct)));
    uint32_t cells = 1;
    for (size_t k = 0; k < cellmax.size(); ++k) {
      const uint32_t mn = cellmin[k];
      const uint32_t mx = cellmax[k];
      if (mn != 0 && mn != 255 && e - mn < mx - e) ++cells;  // unsigned on purpose
    }
    ct = cells;
  }

  return brf > 0 ? std::sqrt(brf) * (vs + v) : 0;
}

double GetCombinedSharpness(const Bitmap& FromBit, TRect aRect, int32_t z, double& rs, double& ri, double& brf,
                            uint32_t& ct, uint32_t& ct255) {
  return SharpnessIndexSobel(FromBit, aRect, z, 10, 250, ri, rs, brf, ct, ct255);
}

double GetVarianz(const Bitmap& FromBit, Bitmap& ToBit, int32_t dim, int32_t skip, int32_t low, int32_t heigh,
                  uint32_t& br, uint32_t& contrast, uint32_t& count) {
  Require24Bit(FromBit, "GetVarianz");
  ToBit = FromBit;
  br = 0;
  contrast = 0;
  count = 0;
  dim = std::clamp(dim, 0, 10);
  // A step of 0 would never advance and would divide the map position by zero.
  skip = std::max(skip, 1);
  const int32_t W = FromBit.Width();
  const int32_t H = FromBit.Height();

  uint64_t brSum = 0;
  double sqSum = 0;
  int64_t n = 0;
  double total = 0;
  uint32_t cnt = 0;
  std::vector<const uint8_t*> rows(2 * dim + 1);
  for (int32_t y = dim; y < H - dim - 1; y += skip) {
    for (int32_t i = -dim; i <= dim; ++i) rows[i + dim] = FromBit.ScanLine(y + i);
    const uint8_t* line = rows[dim];
    uint8_t* out = ToBit.ScanLine(y / skip);
    for (int32_t x = dim; x < W - dim - 1; x += skip) {
      const int32_t e = line[3 * x];
      if (!(low < e && e < heigh)) continue;
      brSum += e;
      sqSum += static_cast<double>(e) * e;
      ++n;
      double ds = 0;
      double dq = 0;
      int32_t k = 0;
      for (int32_t i = -dim; i <= dim; ++i) {
        if (i == 0) continue;
        const uint8_t* r = rows[i + dim];
        for (int32_t j = -dim; j <= dim; ++j) {
          if (j == 0) continue;
          const int32_t o = r[3 * (x + j)];
          if (!(low < o && o < heigh)) continue;
          const double d = std::sqrt(static_cast<double>(i * i + j * j)) * std::abs(o - e);
          ds += d;
          dq += d * d;
          ++k;
        }
      }
      if (k > 0) {
        const double sigma = GetStd(k, ds / k, dq);
        total += sigma;
        ++cnt;
        uint8_t* px = out + 3 * (x / skip);
        const uint8_t level = platform::Wrap8(Round(10 * std::min(sigma, 255.0)));
        px[0] = level;
        px[1] = level;
        px[2] = 0;
      }
    }
  }
  count = cnt;
  if (n == 0) return 0;
  br = static_cast<uint32_t>(brSum * 10 / static_cast<uint64_t>(n));
  contrast = static_cast<uint32_t>(Round(GetStd(static_cast<int32_t>(n), br / 10.0, sqSum) * 100));
  return cnt > 0 ? static_cast<double>(skip) * skip * total / cnt : 0;
}

int32_t ImgDiffTH(const Bitmap& bmp1, const Bitmap& bmp2, int32_t c) {
  const TRect r{0, 0, bmp1.Width() - 1, bmp1.Height() - 1};
  // Two records of 10,001 bins: on the heap, not on the stack.
  auto h = std::make_unique<THist[]>(2);
  int32_t pc[2] = {0, 0};
  const Bitmap* b[2] = {&bmp1, &bmp2};
  for (int k = 0; k < 2; ++k) {
    GetHistogram(*b[k], h[k], r, c, 255);
    int32_t th = 0, left = 0, right = 0;
    GetThreshold(h[k], 0, 255, pc[k], th, left, right);
  }
  return pc[0] - pc[1];
}

void TexturKontrast(const Bitmap& FromBit, Bitmap& ToBit, int32_t dim, int32_t ch) {
  Require24Bit(FromBit, "TexturKontrast");
  dim = std::clamp(dim, 1, 10);
  ToBit = FromBit;
  const int32_t W = ToBit.Width();
  const int32_t H = ToBit.Height();
  const int32_t area = (2 * dim + 1) * (2 * dim + 1);
  std::vector<const uint8_t*> rows(2 * dim + 1);
  for (int32_t y = dim; y <= H - dim - 1; ++y) {
    for (int32_t i = -dim; i <= dim; ++i) rows[i + dim] = FromBit.ScanLine(y + i);
    uint8_t* out = ToBit.ScanLine(y);
    for (int32_t x = dim; x <= W - dim - 1; ++x) {
      int64_t s = 0;
      for (int32_t i = -dim; i <= dim; ++i) {
        const uint8_t* r = rows[i + dim];
        for (int32_t j = -dim; j <= dim; ++j) s += static_cast<int64_t>((i - j) * (i - j)) * r[3 * (x + j)];
      }
      const uint8_t c = static_cast<uint8_t>(std::min(Round(static_cast<double>(s) / area), 255));
      if (ch & 1) out[3 * x] = c;
      if (ch & 2) out[3 * x + 1] = c;
      if (ch & 4) out[3 * x + 2] = c;
    }
  }
}

}  // namespace analysis
