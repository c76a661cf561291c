#include "analysis/myimage_hist.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

#include "analysis/myimage.h"
#include "platform/base/numeric.h"

namespace analysis {

using platform::Extended;

namespace {

// The value GetHistogram counts for one pixel.
inline int32_t PixelValue(const uint8_t* p, int32_t color) {
  switch (color) {
    case 0:
    case 1:
    case 2:
      return p[color];
    case 4:
      return std::max({p[0], p[1], p[2]});
    default:
      return (p[0] + p[1] + p[2]) / 3;
  }
}

// Share of n in total, in 1/100 %, rounded half to even.
int32_t Share(int64_t n, int64_t total) {
  if (total <= 0) return 0;
  return static_cast<int32_t>(platform::Round64(static_cast<Extended>(10000) * n / total));
}

}  // namespace

void GetHistogram(const Bitmap& FromBit, THist& aHist, TRect aRect, int32_t color, int32_t HMax) {
  Require24Bit(FromBit, "GetHistogram");
  aHist.Clear();
  const int64_t area = (int64_t{aRect.Right} - aRect.Left) * (int64_t{aRect.Bottom} - aRect.Top);
  aHist.Histsum = static_cast<int32_t>(std::clamp<int64_t>(area, INT32_MIN, INT32_MAX));

  // Only what lies inside the bitmap is counted; Histsum keeps the rectangle as given.
  const int32_t x0 = std::max(aRect.Left, 0);
  const int32_t x1 = std::min(aRect.Right, FromBit.Width() - 1);
  const int32_t y0 = std::max(aRect.Top, 0);
  const int32_t y1 = std::min(aRect.Bottom, FromBit.Height() - 1);
  // Above the last bin nothing can be counted, whatever HMax says.
  const int32_t limit = std::min(HMax, HistWidth + 1);
  int32_t maxHist = 0;
  int32_t maxPos = 0;
  for (int32_t y = y0; y <= y1; ++y) {
    const uint8_t* row = FromBit.ScanLine(y);
    for (int32_t x = x0; x <= x1; ++x) {
      const int32_t a = PixelValue(row + 3 * x, color);
      if (a >= limit) continue;
      const int32_t n = ++aHist.Hist[a];
      if (n > maxHist) {
        maxHist = n;
        maxPos = a;
      }
    }
  }
  aHist.MaxHist = maxHist;
  aHist.MaxPos = static_cast<uint16_t>(maxPos);

  if (aHist.Histsum < 101) {
    aHist.Contrast = 0;
    return;
  }

  if (HMax < 256) {
    for (int32_t i = 1; i <= HMax - 1; ++i) {
      if (aHist.Hist[i] == 0) aHist.Hist[i] = (aHist.Hist[i - 1] + aHist.Hist[i + 1]) / 2;
    }
  }

  // Spread between the lower and the upper eighth of the counts, each walk stopping at the
  // main peak.
  const int64_t s = aHist.Histsum / 8;
  int32_t i = 0;
  int64_t sum = 0;
  while (i < aHist.MaxPos && i < 9999 && sum < s) sum += aHist.Hist[i++];
  int32_t j = HistWidth;
  sum = 0;
  while (j > aHist.MaxPos && j > 1 && sum < s) sum += aHist.Hist[j--];
  aHist.Contrast = j - i;
}

void GetHist(THist& aHist, const Bitmap& dbmp) {
  Require24Bit(dbmp, "GetHist");
  aHist.Clear();
  for (int32_t y = 0; y < dbmp.Height(); ++y) {
    const uint8_t* row = dbmp.ScanLine(y);
    for (int32_t x = 0; x < dbmp.Width(); ++x) ++aHist.Hist[row[3 * x]];
  }
  aHist.FindMax(0, 256);
}

void GetHistTH(THist& aHist, const Bitmap& dbmp) {
  GetHist(aHist, dbmp);
  GetThreshold(aHist, 0, 257);
}

int32_t GetHRTH(const Bitmap& dbmp, int32_t th) {
  Require24Bit(dbmp, "GetHRTH");
  std::array<int64_t, 256> bins{};
  for (int32_t y = 0; y < dbmp.Height(); ++y) {
    const uint8_t* row = dbmp.ScanLine(y);
    for (int32_t x = 0; x < dbmp.Width(); ++x) {
      const int64_t b = (int64_t{Get16BitValue(row, x)} + 128 - th) / 8;
      ++bins[static_cast<size_t>(std::clamp<int64_t>(b, 0, 255))];
    }
  }
  const int64_t max = *std::max_element(bins.begin(), bins.end());
  Extended num = 0;
  Extended den = 0;
  for (int32_t b = 1; b <= 254; ++b) {
    const int64_t d = max - bins[static_cast<size_t>(b)];
    num += static_cast<Extended>(b) * d;
    den += d;
  }
  if (!(num > 0)) return th;
  return static_cast<int32_t>(platform::Round64(8 * num / den + th - 128));
}

int32_t BinImg(const Bitmap& FromBit, Bitmap& ToBit, int32_t Th) {
  Require24Bit(FromBit, "BinImg");
  Require24Bit(ToBit, "BinImg");
  const int32_t width = std::min(FromBit.Width(), ToBit.Width());
  const int32_t height = std::min(FromBit.Height(), ToBit.Height());
  int64_t white = 0;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = FromBit.ScanLine(y);
    uint8_t* dst = ToBit.ScanLine(y);
    for (int32_t x = 0; x < width; ++x) {
      const bool on = src[3 * x] > Th;
      white += on;
      const uint8_t v = on ? 255 : 0;
      dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = v;
    }
  }
  return Share(white, int64_t{width} * height);
}

int32_t HRBinImg(const Bitmap& FromBit, Bitmap& ToBit, int32_t Th, int32_t d) {
  Require24Bit(FromBit, "HRBinImg");
  Require24Bit(ToBit, "HRBinImg");
  const int32_t width = std::min(FromBit.Width(), ToBit.Width());
  const int32_t height = std::min(FromBit.Height(), ToBit.Height());
  const int64_t high = Th;
  const int64_t low = int64_t{Th} - d;
  int64_t white = 0;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = FromBit.ScanLine(y);
    uint8_t* dst = ToBit.ScanLine(y);
    for (int32_t x = 0; x < width; ++x) {
      // Read the whole value before writing: FromBit and ToBit may be the same bitmap.
      const int64_t v = Get16BitValue(src, x);
      const bool on = !(low < v && v <= high);
      white += on;
      const uint8_t b = on ? 255 : 0;
      dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = b;
    }
  }
  return Share(white, int64_t{width} * height);
}

}  // namespace analysis
