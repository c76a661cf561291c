#include "analysis/myimage_gray.h"

#include <algorithm>
#include <array>
#include <cfenv>
#include <cmath>
#include <stdexcept>
#include <string>

#include "analysis/myimage.h"

namespace analysis {

namespace {

// The result starts as a copy of the source; assigning a bitmap to itself keeps it.
void CopyInto(const Bitmap& source, Bitmap& result) {
  if (&source != &result) result = source;
}

// Row y of the zero image, or nullptr where the zero image has no such row.
const uint8_t* ZeroRow(const Bitmap& bgimg, int32_t y) { return y < bgimg.Height() ? bgimg.ScanLine(y) : nullptr; }

// The zero-reference value at x of a zero row; 0 where the zero image does not reach.
inline uint32_t ZeroValue(const uint8_t* zrow, int32_t zwidth, int32_t x) {
  return (zrow && x < zwidth) ? Get16BitValue(zrow, x) : 0;
}

// Round to nearest, ties to even, is the rule of every result here. The mode is pinned once
// per conversion instead of once per pixel: the per-pixel rounding is the hot path.
class NearestEven {
 public:
  NearestEven() : saved_(std::fegetround()) {
    if (saved_ != FE_TONEAREST) std::fesetround(FE_TONEAREST);
  }
  ~NearestEven() {
    if (saved_ != FE_TONEAREST) std::fesetround(saved_);
  }
  NearestEven(const NearestEven&) = delete;
  NearestEven& operator=(const NearestEven&) = delete;

 private:
  int saved_;
};

// The nearest integer (ties to even while a NearestEven is alive); NaN gives 0 and values far
// outside any pixel's range are held at +-1e18.
inline int64_t Rnd(double v) {
  if (!(v == v)) return 0;
  return static_cast<int64_t>(std::nearbyint(std::clamp(v, -1e18, 1e18)));
}

// num / den rounded to the nearest integer, ties to even, exactly (den > 0).
inline uint64_t DivRoundEven(uint64_t num, uint64_t den) {
  uint64_t q = num / den;
  const uint64_t twice = 2 * (num % den);
  if (twice > den || (twice == den && (q & 1))) ++q;
  return q;
}

// A relative value held in the 24 bits a pixel has.
inline uint32_t Saturated(int64_t v) { return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, HRMaxValue)); }

// rnd((v / z)^gamma x 10000), held in 24 bits (z > 0). For gamma 1 in exact integers, so that
// halves go to the even neighbour whatever the size of the ratio.
inline uint32_t RelativeValue(uint32_t v, uint32_t z, double gamma) {
  if (gamma == 1) return static_cast<uint32_t>(std::min<uint64_t>(DivRoundEven(uint64_t{v} * 10000, z), HRMaxValue));
  // A zero base under a negative gamma is infinitely bright: the brightest value.
  return Saturated(Rnd(std::pow(static_cast<double>(v) / z, gamma) * 10000.0));
}

inline void SetGray(uint8_t* row, int32_t x, uint8_t g) { row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = g; }

// Level and gray byte of a density value: 255 above the scale, else rounded.
inline int32_t DensityLevel(double d) {
  if (!(d > 0)) return 0;   // brighter than the reference
  if (d > 255) return 255;  // also +inf for a pixel of 0
  return static_cast<int32_t>(Rnd(d));
}

}  // namespace

void Get16bitBmpZero(const Bitmap& sBild, const Bitmap& ZBild, Bitmap& rBild) {
  Require24Bit(sBild, "Get16bitBmpZero");
  Require24Bit(ZBild, "Get16bitBmpZero");
  CopyInto(sBild, rBild);
  for (int32_t y = 0; y < rBild.Height(); ++y) {
    uint8_t* row = rBild.ScanLine(y);
    const uint8_t* zrow = ZeroRow(ZBild, y);
    for (int32_t x = 0; x < rBild.Width(); ++x) {
      const uint32_t z = ZeroValue(zrow, ZBild.Width(), x);
      const uint32_t r = z == 0 ? 0 : RelativeValue(Get16BitValue(row, x), z, 1);
      Set16BitValue(row, x, r);
    }
  }
}

void Get16BitBmp(const Bitmap& sBild, Bitmap& dBild, int32_t max, int32_t min) {
  Require24Bit(sBild, "Get16BitBmp");
  CopyInto(sBild, dBild);
  const int64_t hi = max == 0 ? 1 : max;
  const int64_t d = min < hi ? min : hi - 1;
  const auto span = static_cast<uint64_t>(hi - d);
  for (int32_t y = 0; y < dBild.Height(); ++y) {
    uint8_t* row = dBild.ScanLine(y);
    for (int32_t x = 0; x < dBild.Width(); ++x) {
      // At or below the lower bound the result is 0; above it, exact integers.
      const int64_t e = int64_t{Get16BitValue(row, x)} - d;
      const uint64_t r = e <= 0 ? 0 : DivRoundEven(static_cast<uint64_t>(e) * 10000, span);
      Set16BitValue(row, x, static_cast<uint32_t>(std::min<uint64_t>(r, HRMaxValue)));
    }
  }
}

void GetGraybmpAndHist(THist& aHist, const Bitmap& dbmp, Bitmap& abmp, double max, double min) {
  Require24Bit(dbmp, "GetGraybmpAndHist");
  CopyInto(dbmp, abmp);
  if (max == 0) max = 1;
  if (min >= max) min = max - 1;
  const double span = max - min;
  aHist.Clear();
  const NearestEven rounding;
  // The gray byte of every level: the level scaled to 0..255.
  std::array<uint8_t, HistWidth + 1> grayOf{};
  for (int32_t level = 0; level <= HistWidth; ++level) grayOf[static_cast<size_t>(level)] = static_cast<uint8_t>(Rnd(level * 255.0 / 10000.0));
  for (int32_t y = 0; y < abmp.Height(); ++y) {
    uint8_t* row = abmp.ScanLine(y);
    for (int32_t x = 0; x < abmp.Width(); ++x) {
      const double e = Get16BitValue(row, x) - min;
      int32_t level = 0;
      uint8_t gray = 0;
      if (e > 0) {
        const double L = e * 10000.0 / span;
        if (L > 10000) {
          level = 10000;
          gray = 255;
        } else {
          level = static_cast<int32_t>(Rnd(L));
          gray = grayOf[static_cast<size_t>(level)];
        }
      }
      ++aHist.Hist[level];
      SetGray(row, x, gray);
    }
  }
  aHist.FindMax(0, 10000);
}

void GetGraybmpAndHistZero(THist& aHist, Bitmap& ibmp, Bitmap& dbmp, const Bitmap& bgimg, double m, double c,
                           double max, double min, double gamma) {
  Require24Bit(ibmp, "GetGraybmpAndHistZero");
  Require24Bit(bgimg, "GetGraybmpAndHistZero");
  if (&ibmp == &dbmp) throw std::invalid_argument("GetGraybmpAndHistZero needs two bitmaps");
  // The callers pass the series' range; the conversion is relative to the zero reference and
  // does not use it.
  (void)max;
  (void)min;
  dbmp = ibmp;
  aHist.Clear();
  const NearestEven rounding;
  for (int32_t y = 0; y < ibmp.Height(); ++y) {
    uint8_t* src = ibmp.ScanLine(y);
    uint8_t* dst = dbmp.ScanLine(y);
    const uint8_t* zrow = ZeroRow(bgimg, y);
    for (int32_t x = 0; x < ibmp.Width(); ++x) {
      const uint32_t z = ZeroValue(zrow, bgimg.Width(), x);
      int32_t level = 0;
      uint8_t gray = 0;
      if (z > 0) {
        const uint32_t r = RelativeValue(Get16BitValue(src, x), z, gamma);
        Set16BitValue(src, x, r);
        const double lv = std::max(m * r / 10000.0 + c, 0.0);
        if (lv >= 10000) {
          level = 10000;
          gray = 255;
        } else {
          level = static_cast<int32_t>(std::min<int64_t>(Rnd(lv), 255));
          gray = static_cast<uint8_t>(level);
        }
      }
      ++aHist.Hist[level];
      SetGray(dst, x, gray);
    }
  }
  aHist.FindMax(0, 256);
  if (ibmp.Width() >= 3 && ibmp.Height() >= 1) {
    uint8_t* top = ibmp.ScanLine(0);
    top[6] = top[7] = top[8] = 1;
  }
}

void GetGrayBmp16Hist(uint32_t low, uint32_t high, uint32_t dim, THist& aHist, const Bitmap& sbmp, Bitmap& dbmp,
                      double m, double c, double gamma, int32_t& max, int32_t& min) {
  Require24Bit(sbmp, "GetGrayBmp16Hist");
  CopyInto(sbmp, dbmp);
  max = 0;
  min = static_cast<int32_t>(HRMaxValue);
  const int64_t levels = std::min<uint32_t>(dim, HistWidth);
  aHist.Clear();
  // A range without width has no curve; one value wide keeps every division defined.
  const int64_t D = high > low ? int64_t{high} - low : 1;
  const double Dd = static_cast<double>(D);
  const NearestEven rounding;
  for (int32_t y = 0; y < dbmp.Height(); ++y) {
    uint8_t* row = dbmp.ScanLine(y);
    const bool innerRow = y >= 20 && y <= 1023;
    for (int32_t x = 0; x < dbmp.Width(); ++x) {
      const uint32_t v = Get16BitValue(row, x);
      // For gamma 1 the curve is c + m v / 320; forming m v first keeps halves exact.
      const double curve = gamma == 1 ? m * v / 320.0 : m * Dd * std::pow(v / Dd, gamma) / 320.0;
      const auto w = static_cast<int32_t>(std::clamp<int64_t>(Rnd(c + curve), INT32_MIN, INT32_MAX));
      if (innerRow && x >= 20 && x <= 1279) {
        if (w < min) min = w;
        if (w >= 0 && w > max) max = w;
      }
      const double o = static_cast<double>(levels) * (int64_t{w} - int64_t{low}) / Dd;
      const auto level = static_cast<int32_t>(std::clamp<int64_t>(Rnd(o), 0, levels));
      ++aHist.Hist[level];
      SetGray(row, x, static_cast<uint8_t>(std::min(level, 255)));
    }
  }
  aHist.FindMax(0, static_cast<int32_t>(levels));
}

void GetDensbmpAndHistZero(THist& aHist, const Bitmap& dbmp, Bitmap& abmp, const Bitmap& bgimg, double max,
                           double min) {
  Require24Bit(dbmp, "GetDensbmpAndHistZero");
  Require24Bit(bgimg, "GetDensbmpAndHistZero");
  // The range is only normalised by the callers' convention; the density does not use it.
  (void)max;
  (void)min;
  CopyInto(dbmp, abmp);
  aHist.Clear();
  const NearestEven rounding;
  for (int32_t y = 0; y < abmp.Height(); ++y) {
    uint8_t* row = abmp.ScanLine(y);
    const uint8_t* zrow = ZeroRow(bgimg, y);
    for (int32_t x = 0; x < abmp.Width(); ++x) {
      const uint32_t z = ZeroValue(zrow, bgimg.Width(), x);
      int32_t level = 0;
      if (z > 0) level = DensityLevel(-100.0 * std::log10(static_cast<double>(Get16BitValue(row, x)) / z));
      ++aHist.Hist[level];
      SetGray(row, x, static_cast<uint8_t>(level));
    }
  }
  aHist.FindMax(0, 256);
}

void GetDens16bmpAndHist(THist& aHist, const Bitmap& dbmp, Bitmap& abmp, double f, double k) {
  Require24Bit(dbmp, "GetDens16bmpAndHist");
  CopyInto(dbmp, abmp);
  aHist.Clear();
  const NearestEven rounding;
  for (int32_t y = 0; y < abmp.Height(); ++y) {
    uint8_t* row = abmp.ScanLine(y);
    for (int32_t x = 0; x < abmp.Width(); ++x) {
      const double v = Get16BitValue(row, x);
      const int32_t level = DensityLevel(-f * std::log10(v / 10000.0) - k);
      ++aHist.Hist[level];
      SetGray(row, x, static_cast<uint8_t>(level));
    }
  }
  aHist.FindMax(0, 256);
}

}  // namespace analysis
