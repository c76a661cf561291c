#include "analysis/myimage_series.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/myimage.h"
#include "analysis/myimage_filters.h"
#include "platform/base/numeric.h"

namespace analysis {

using platform::Bitmap;
using platform::Round;
using platform::TPoint;
using platform::TRect;

namespace {

// a / b rounded to the nearest integer, ties to even, exactly (b > 0).
uint64_t RoundDiv(uint64_t a, uint64_t b) {
  uint64_t q = a / b;
  const uint64_t r = a % b;
  if (2 * r > b || (2 * r == b && (q & 1u) != 0)) ++q;
  return q;
}

}  // namespace

void TExtremeLists::insertmax(uint32_t amax) {
  // The list is non-increasing, so a value below its last entry changes nothing; checking
  // that first spares the scan for almost every pixel.
  if (amax < maxarray[nmax]) return;
  int32_t i = 0;
  while (i < nmax && maxarray[i] > amax) ++i;
  if (maxarray[i] < amax) {
    for (int32_t k = nmax; k > i; --k) {
      maxarray[k] = maxarray[k - 1];
      maxcount[k] = maxcount[k - 1];
    }
    maxarray[i] = amax;
    maxcount[i] = 1;
  } else if (maxarray[i] == amax) {
    ++maxcount[i];
  }
}

void TExtremeLists::insertmin(uint32_t amin) {
  if (amin > minarray[nmax]) return;
  int32_t i = 0;
  while (i < nmax && minarray[i] < amin) ++i;
  if (amin < minarray[i]) {
    for (int32_t k = nmax; k > i; --k) {
      minarray[k] = minarray[k - 1];
      mincount[k] = mincount[k - 1];
    }
    minarray[i] = amin;
    mincount[i] = 1;
  } else if (minarray[i] == amin) {
    ++mincount[i];
  }
}

void OverlayImgs(std::span<const Bitmap> bmps, std::span<TPoint> DeltaPos, int32_t count, int32_t /*ch*/,
                 int32_t Mask) {
  std::fill(DeltaPos.begin(), DeltaPos.end(), TPoint{});
  count = std::min<int64_t>({count, static_cast<int64_t>(bmps.size()), static_cast<int64_t>(DeltaPos.size())});
  if (count < 2) return;

  Bitmap scratch = bmps[0];
  const TRect window{scratch.Width() / 2 - Mask, scratch.Height() / 2, scratch.Width() / 2 + Mask + 1,
                     scratch.Height() / 2 + 2 * Mask + 1};
  const int32_t cx = Round((window.Right + window.Left) / 2.0);
  const int32_t cy = Round((window.Bottom + window.Top) / 2.0);
  for (int32_t i = 0; i < count; ++i) {
    TPoint c;
    Sobelx2(bmps[i], scratch, window, c);
    TPoint d{c.X - cx, c.Y - cy};
    if (std::abs(d.X) > 4 || std::abs(d.Y) > 4) d = TPoint{};
    DeltaPos[i] = d;
  }
}

uint32_t KombinierenBR(Bitmap& fbmp, std::span<const Bitmap> bmps, int32_t frombmp, int32_t fromBR, int32_t count,
                       int32_t ch, std::span<const TPoint> DeltaPos, uint32_t& max, uint32_t& min, uint32_t& avg) {
  max = 0;
  min = 0x7FFFFFF;
  avg = 0;
  if (bmps.empty()) return max;
  for (const Bitmap& b : bmps) Require24Bit(b, "KombinierenBR");
  TExtremeLists lists;
  fbmp = bmps[std::clamp<size_t>(static_cast<size_t>(std::max(frombmp, 0)), 0, bmps.size() - 1)];
  if (fbmp.Empty()) return max;
  ch = std::clamp(ch, 0, 2);
  // Every frame needs a shift and an exposure factor; a series reaching past the last
  // shutter step is cut there.
  if (fromBR < 0 || fromBR >= ShutterSteps) count = 0;
  count = static_cast<int32_t>(std::min<int64_t>({count, static_cast<int64_t>(bmps.size()),
                                                  static_cast<int64_t>(DeltaPos.size()), ShutterSteps - fromBR}));

  uint64_t sum = 0;
  uint64_t pixels = 0;
  if (count > 1) {
    const int32_t W = fbmp.Width();
    const int32_t H = fbmp.Height();
    std::vector<double> scale(count);
    std::vector<const uint8_t*> rows(count);
    for (int32_t k = 0; k < count; ++k) scale[k] = IMBR[fromBR + k];
    const double base = IMBR[fromBR];
    for (int32_t y = 0; y < H; ++y) {
      for (int32_t k = 0; k < count; ++k) {
        const Bitmap& b = bmps[k];
        rows[k] = b.Empty() ? nullptr : b.ScanLine(std::clamp(y + DeltaPos[k].Y, 0, b.Height() - 1));
      }
      uint8_t* out = fbmp.ScanLine(y);
      for (int32_t x = 0; x < W; ++x) {
        double v = 0;
        for (int32_t k = 0; k < count; ++k) {
          if (rows[k] == nullptr) continue;
          const int32_t xk = std::clamp(x + DeltaPos[k].X, 0, bmps[k].Width() - 1);
          v += rows[k][3 * xk + ch] * scale[k] / base;
        }
        const uint32_t w = static_cast<uint32_t>(Round(v / count));
        lists.insertmax(w);
        lists.insertmin(w);
        if (max < w) max = w;
        if (min > w) min = w;
        Set16BitValue(out, x, w);
        sum += w;
        ++pixels;
      }
    }
  }

  // Robust extremes: the count-weighted means of the 111 largest and smallest distinct values.
  uint64_t n = 0;
  uint64_t s = 0;
  for (int32_t i = 0; i <= nmax; ++i) {
    n += lists.maxcount[i];
    s += static_cast<uint64_t>(lists.maxcount[i]) * lists.maxarray[i];
  }
  if (n > 0) max = static_cast<uint32_t>(RoundDiv(s, n));
  n = 0;
  s = 0;
  for (int32_t i = 0; i <= nmax; ++i) {
    if (lists.mincount[i] == 0) continue;
    n += lists.mincount[i];
    s += static_cast<uint64_t>(lists.mincount[i]) * lists.minarray[i];
  }
  if (n > 0) min = static_cast<uint32_t>(RoundDiv(s, n));

  if (fbmp.Width() >= 2) {
    uint8_t* top = fbmp.ScanLine(0);
    Set16BitValue(top, 0, max);
    Set16BitValue(top, 1, min);
  }
  if (pixels > 0) avg = static_cast<uint32_t>(RoundDiv(sum, pixels));
  return max;
}

}  // namespace analysis
