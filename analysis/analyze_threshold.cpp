#include "analysis/analyze_threshold.h"
#include "analysis/myimage.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/myimage_hist.h"
#include "platform/base/numeric.h"

namespace analysis {

namespace {

void FillWhole(TIntImage& img, uint16_t v) {
  for (int32_t x = 0; x <= ImWidth; ++x) std::fill_n(img[x], ImHeight + 1, v);
}

uint16_t ThresholdValue(int64_t v) { return static_cast<uint16_t>(std::clamp<int64_t>(v, 0, UINT16_MAX)); }

// Integer histogram reads that treat bins outside the record as empty: the peak masses and the
// stretch walks look ten bins past peaks that may sit at either end of the 8-bit range.
class IntBins {
 public:
  explicit IntBins(const THist& h) : h_(h) {}

  int64_t operator()(int64_t i) const { return (i >= 0 && i <= HistWidth) ? h_.Hist[i] : 0; }

  int64_t Sum(int64_t from, int64_t to) const {
    int64_t s = 0;
    for (int64_t i = std::max<int64_t>(from, 0); i <= std::min<int64_t>(to, HistWidth); ++i) s += h_.Hist[i];
    return s;
  }

  // Centroid by integer division; keep when the counts sum to 0.
  int64_t Centroid(int64_t from, int64_t to, int64_t keep) const {
    int64_t num = 0;
    int64_t den = 0;
    for (int64_t i = std::max<int64_t>(from, 0); i <= std::min<int64_t>(to, HistWidth); ++i) {
      num += i * h_.Hist[i];
      den += h_.Hist[i];
    }
    return den == 0 ? keep : num / den;
  }

 private:
  const THist& h_;
};

}  // namespace

void FillLocalTh(AnalyzeState& st, int32_t TH) {
  const uint16_t v = platform::Wrap16(TH);
  for (int32_t x = 0; x < ImWidth; ++x) std::fill_n(st.ThImage[x], ImHeight, v);
}

void FillLocalTh(int32_t TH) { FillLocalTh(Analysis(), TH); }

void BinLocalTh(AnalyzeState& st, Bitmap& abmp) {
  Require24Bit(abmp, "BinLocalTh");
  const int32_t width = std::min(abmp.Width(), ImWidth + 1);
  const int32_t height = std::min(abmp.Height(), ImHeight + 1);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = abmp.ScanLine(y);
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t v = row[3 * x] >= st.ThImage[x][y] ? 255 : 0;
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
    }
  }
}

void BinLocalTh(Bitmap& abmp) { BinLocalTh(Analysis(), abmp); }

double GetFMittel(int32_t dx, int32_t dy, int32_t A, int32_t B, int32_t C, int32_t D, int32_t x, int32_t y) {
  // Numerators are formed exactly and divided once, so that a value halfway between two
  // integers stays exactly halfway and the caller's rounding goes to the even neighbour.
  using L = long double;
  auto v = [](int32_t i) { return static_cast<L>(i); };
  if (dx == 0 && dy == 0) return A;
  if (dy == 0) return static_cast<double>((v(A) * (v(dx) - x) + v(B) * x) / dx);
  if (dx == 0) return static_cast<double>((v(A) * (v(dy) - y) + v(B) * y) / dy);
  const L top = v(A) * (v(dx) - x) + v(B) * x;
  const L bottom = v(C) * (v(dx) - x) + v(D) * x;
  return static_cast<double>((top * (v(dy) - y) + bottom * y) / (v(dx) * dy));
}

int32_t GetICPThreshold(const THist& Hist, int32_t q, int32_t& prozent, int32_t& l, int32_t& r, int32_t& kont) {
  const IntBins H(Hist);
  const int64_t Q4 = q;

  // The main peak: the first largest count up to halfway between q and the top of 8 bits.
  const int64_t top = std::clamp<int64_t>((Q4 + 255) / 2, 0, HistWidth);
  int64_t m = 0;
  int64_t max = H(0);
  for (int64_t i = 1; i <= top; ++i) {
    if (H(i) > max) {
      max = H(i);
      m = i;
    }
  }
  {
    const int64_t wl = m <= 20 ? 0 : m - 20;
    const int64_t wr = m >= 235 ? 254 : m + 20;
    m = H.Centroid(wl, wr - 1, m);
  }
  int64_t lm = m;
  int64_t rm = m;

  int64_t dn = 0;
  int64_t dz = 0;
  if (m < Q4 / 4.0) {
    dz = 1;
  } else if (m > 3 * Q4 / 4.0) {
    dn = 1;
  } else {
    for (int64_t i = 10; i <= m - 11; ++i) dn += H(i) * (m - i);
    for (int64_t i = m + 10; i <= Q4 - 1; ++i) dz += H(i) * (i - m);
  }

  int64_t L = 0;
  int64_t R = 0;
  int64_t LRFlag = 0;
  if (dn > dz) {
    // Bright main peak; find the dark one.
    m = std::max(m, Q4 / 4);
    lm = 0;
    rm = m;
    R = m;
    L = 10;
    while (L < 2 * m / 3 && H(L) + H(L + 1) + H(L + 2) > 15) ++L;
    L = H.Centroid(L, (L + R) / 2 - 1, L);
    const int64_t P = H.Sum(R - 10, R + 9);
    const int64_t Qm = H.Sum(L - 10, L + 9);
    LRFlag = P == 0 ? 0 : 100 * Qm / P;
  } else {
    // Dark main peak; find the bright one.
    m = std::min(m, 3 * Q4 / 4);
    lm = m;
    L = m;
    R = 245;
    while (H(R) + H(R - 1) + H(R - 2) < 15 && R > 3 * m / 2) --R;
    rm = m + 10;
    while (2 * rm < L + R && (H(rm + 1) < H(rm) || H(rm + 2) < H(rm) || H(rm + 3) < H(rm))) ++rm;
    R = H.Centroid(rm + 1, R, R);
    const int64_t P = H.Sum(R - 10, R + 9);
    const int64_t Qm = H.Sum(L - 10, L + 9);
    LRFlag = Qm == 0 ? 128 : 128 + 100 * P / Qm;
    rm = 245;
  }

  // First threshold: centre of the valley's depth; every weight counts, negative ones too.
  int64_t th = Q4 / 2;
  {
    int64_t num = 0;
    int64_t den = 0;
    for (int64_t i = L; i <= R - 1; ++i) {
      num += i * (max - H(i));
      den += max - H(i);
    }
    if (den != 0) th = num / den;
  }

  if (LRFlag >= 128) {
    while (th > lm + 10 && (H(th - 1) <= H(th) || H(th - 2) <= H(th) || H(th - 3) <= H(th))) --th;
    const int64_t e = std::min<int64_t>(3 * th - 2 * L, 245);
    rm = e;
    R = H.Centroid(th + 1, e, R);
  } else {
    while (th < rm - 10 && (H(th + 1) <= H(th) || H(th + 2) <= H(th) || H(th + 3) <= H(th))) ++th;
    L = H.Centroid(10, th - 1, L);
  }

  const int64_t S = H.Sum(2, 254);
  auto below = [&](int64_t t) { return H.Sum(2, std::min<int64_t>(254, t - 1)); };
  if (S > 0 && below(th) * 1000 / S > 900) {
    while (th < Q4 && H(th + 1) < H(th) && H(th + 2) <= H(th + 1) && H(th) - H(th + 1) > H(th + 1) - H(th + 2)) {
      ++th;
    }
  }

  const int64_t t = th;
  const int64_t noise = max / 100;
  int64_t prev = 0;
  for (int k = 0; k < 20 && prev != th; ++k) {
    prev = th;
    const double hth = static_cast<double>(H(th));
    {
      int64_t num = 0;
      int64_t den = 0;
      for (int64_t i = 10; i <= th - 1; ++i) {
        const int64_t f = i > L ? platform::Round(hth * (th - i) / (th - L)) : 0;
        if (H(i) > f) {
          num += i * (H(i) - f);
          den += H(i) - f;
        }
      }
      L = den == 0 ? th / 2 : num / den;
    }
    {
      int64_t num = 0;
      int64_t den = 0;
      for (int64_t i = th + 1; i <= 244; ++i) {
        const int64_t f = i < R ? platform::Round(hth * (i - th) / (R - th)) : 0;
        if (H(i) > f) {
          num += i * (H(i) - f);
          den += H(i) - f;
        }
      }
      R = den == 0 ? 3 * th / 2 : num / den;
      R = std::max(R, t + t / 4);
      R = std::min<int64_t>(R, 254);
    }
    {
      int64_t num = 0;
      int64_t den = 0;
      for (int64_t i = L; i <= R - 1; ++i) {
        const int64_t d = max - H(i);
        if (d > noise) {
          num += i * (d - noise);
          den += d - noise;
        }
      }
      th = den == 0 ? (L + R) / 2 : num / den;
    }
  }

  prozent = S == 0 ? 0 : static_cast<int32_t>(below(th) * 1000 / S);
  l = static_cast<int32_t>(L);
  r = static_cast<int32_t>(R);
  kont = static_cast<int32_t>(R - L);
  return static_cast<int32_t>(th);
}

int32_t GetFFTTH(const Bitmap& FromBit, TRect aRect, double p) {
  auto hist = std::make_unique<THist>();
  GetHistogram(FromBit, *hist, aRect, 0, 10000);
  const double bound = p * hist->Histsum;
  int32_t i = 0;
  int64_t sum = 0;
  do {
    sum += hist->Hist[i];
    ++i;
  } while (!(static_cast<double>(sum) > bound) && i < 9999);
  return i;
}

int32_t GetLocalTH(AnalyzeState& st, const Bitmap& FromBit, int32_t Limit, int32_t f, int32_t q, uint8_t& Contrast,
                   int32_t& proc, bool ForzeLocal, int32_t HMax, int32_t dim) {
  Require24Bit(FromBit, "GetLocalTH");
  dim = std::clamp(dim, 1, 9);
  proc = 0;
  FillWhole(st.ThImage, 0);
  Contrast = 0;

  const int32_t W = std::min(FromBit.Width(), ImWidth);
  const int32_t Hh = std::min(FromBit.Height(), ImHeight);
  const int32_t m = W / (dim + 1);
  const int32_t n = Hh / (dim + 1);
  const int32_t mh = m / 2;
  const int32_t nh = n / 2;

  int64_t contrastSum = 0;
  int64_t procSum = 0;
  int64_t thSum = 0;
  for (int32_t ty = 0; ty <= dim; ++ty) {
    for (int32_t tx = 0; tx <= dim; ++tx) {
      TRect tile;
      tile.Left = std::max(tx * m - mh, 0);
      tile.Top = std::max(ty * n - nh, 0);
      tile.Right = std::min(tile.Left + 2 * m - 1, W - 1);
      tile.Bottom = std::min(tile.Top + 2 * n - 1, Hh - 1);
      THist& h = st.Hists[tx][ty];
      GetHistogram(FromBit, h, tile, f, HMax);
      contrastSum += h.Contrast;
      int32_t prozent = 0;
      int32_t l = 0;
      int32_t r = 0;
      int32_t kont = 0;
      TThs& cell = st.Ths[tx][ty];
      cell.TH = GetICPThreshold(h, q, prozent, l, r, kont);
      cell.x = (tile.Left + tile.Right) / 2;
      cell.y = (tile.Top + tile.Bottom) / 2;
      procSum += prozent;
      thSum += cell.TH;
    }
    st.Ths[dim + 1][ty] = st.Ths[dim][ty];
  }
  const int32_t T = (dim + 1) * (dim + 1);
  proc = static_cast<int32_t>(procSum / T);
  Contrast = platform::Wrap8(contrastSum / T);

  bool rejected = false;
  if (!ForzeLocal) {
    auto differs = [&](int32_t a, int32_t b) { return std::llabs(int64_t{a} - b) > Limit; };
    for (int32_t ty = 0; ty <= dim && !rejected; ++ty) {
      for (int32_t tx = 0; tx <= dim && !rejected; ++tx) {
        const int32_t a = st.Ths[tx][ty].TH;
        rejected = differs(a, st.Ths[tx + 1][ty].TH);
        if (ty < dim) rejected = rejected || differs(a, st.Ths[tx][ty + 1].TH) || differs(a, st.Ths[tx + 1][ty + 1].TH);
      }
    }
  }

  if (rejected) {
    THist& whole = st.Hists[0][0];
    GetHistogram(FromBit, whole, TRect{0, 0, FromBit.Width() - 1, FromBit.Height() - 1}, 0, HMax);
    Contrast = platform::Wrap8(whole.Contrast);
    // Isolated spikes and notches of the histogram would mislead the peak search.
    THist& smooth = st.Hists[1][0];
    smooth.Hist[0] = whole.Hist[0];
    smooth.Hist[9999] = whole.Hist[9999];
    smooth.Hist[HistWidth] = whole.Hist[HistWidth];
    for (int32_t i = 1; i <= 9998; ++i) {
      const int64_t a = int64_t{whole.Hist[i]} - whole.Hist[i - 1];
      const int64_t b = int64_t{whole.Hist[i]} - whole.Hist[i + 1];
      const int64_t d = std::llabs(a - b);
      smooth.Hist[i] = (d < std::llabs(a) && d < std::llabs(b)) ? (whole.Hist[i - 1] + whole.Hist[i + 1]) / 2
                                                                 : whole.Hist[i];
    }
    // The peak search starts from the smoothed counts, so that a removed spike cannot be it.
    smooth.FindMax(0, HistWidth);
    smooth.Histsum = whole.Histsum;
    smooth.Contrast = whole.Contrast;
    int32_t prozent = 0;
    int32_t threshold = 0;
    int32_t left = 0;
    int32_t right = 0;
    const int32_t th = GetThreshold(smooth, 0, HMax - 1, prozent, threshold, left, right, 0);
    FillWhole(st.ThImage, ThresholdValue(th));
    st.GlobalTH = th;
    proc = prozent;
    return th;
  }

  TIntImage& img = st.ThImage;
  auto put = [&](int32_t x, int32_t y, int64_t v) {
    if (x >= 0 && x < W && y >= 0 && y < Hh) img[x][y] = ThresholdValue(v);
  };
  auto TH = [&](int32_t tx, int32_t ty) { return st.Ths[tx][ty].TH; };

  // Corner blocks hold the corner tiles' thresholds; the bottom ones end at row Height - dim.
  for (int32_t x = 0; x <= mh; ++x) {
    for (int32_t y = 0; y <= nh; ++y) {
      put(x, y, TH(0, 0));
      put(x, Hh - dim - y, TH(0, dim));
      put(W - 1 - x, y, TH(dim, 0));
      put(W - 1 - x, Hh - dim - y, TH(dim, dim));
    }
  }
  // Top and bottom bands: interpolated along x only.
  for (int32_t tx = 0; tx < dim; ++tx) {
    for (int32_t x = 0; x < m; ++x) {
      const int32_t top = platform::Round(GetFMittel(m, 0, TH(tx, 0), TH(tx + 1, 0), 0, 0, x, 0));
      const int32_t bottom = platform::Round(GetFMittel(m, 0, TH(tx, dim), TH(tx + 1, dim), 0, 0, x, 0));
      const int32_t col = tx * m + mh + x;
      for (int32_t y = 0; y <= nh; ++y) {
        put(col, y, top);
        put(col, Hh - dim - nh + y, bottom);
      }
    }
  }
  // Left and right bands: interpolated along y only.
  for (int32_t ty = 0; ty < dim; ++ty) {
    for (int32_t y = 0; y < n; ++y) {
      const int32_t left = platform::Round(GetFMittel(0, n, TH(0, ty), TH(0, ty + 1), 0, 0, 0, y));
      const int32_t right = platform::Round(GetFMittel(0, n, TH(dim, ty), TH(dim, ty + 1), 0, 0, 0, y));
      const int32_t row = ty * n + nh + y;
      for (int32_t x = 0; x <= mh; ++x) {
        put(x, row, left);
        put(W - 1 - mh + x, row, right);
      }
    }
  }
  // Interior cells, bilinear between four tile thresholds; each cell also writes the first
  // row of the cell below.
  uint64_t sum = 0;
  uint64_t count = 0;
  for (int32_t ty = 0; ty < dim; ++ty) {
    for (int32_t tx = 0; tx < dim; ++tx) {
      const int32_t A = TH(tx, ty);
      const int32_t B = TH(tx + 1, ty);
      const int32_t C = TH(tx, ty + 1);
      const int32_t D = TH(tx + 1, ty + 1);
      for (int32_t x = 0; x < m; ++x) {
        const int32_t col = tx * m + mh + x;
        if (col >= W) break;
        uint16_t* column = img[col];
        for (int32_t y = 0; y <= n; ++y) {
          const int32_t row = ty * n + nh + y;
          if (row >= Hh) break;
          const uint16_t v = ThresholdValue(platform::Round(GetFMittel(m, n, A, B, C, D, x, y)));
          column[row] = v;
          sum += v;
          ++count;
        }
      }
    }
  }
  // Only an image narrower or lower than the grid has no interior; its tiles then speak.
  st.GlobalTH = count == 0 ? static_cast<int32_t>(thSum / T) : static_cast<int32_t>(sum / count);
  return st.GlobalTH;
}

int32_t GetLocalTH(const Bitmap& FromBit, int32_t Limit, int32_t f, int32_t q, uint8_t& Contrast, int32_t& proc,
                   bool ForzeLocal, int32_t HMax, int32_t dim) {
  return GetLocalTH(Analysis(), FromBit, Limit, f, q, Contrast, proc, ForzeLocal, HMax, dim);
}

void DilatationLTH(const Bitmap& FromBit, Bitmap& ToBit, const TIntImage& th, int32_t channel, int32_t dim,
                   int32_t level) {
  Require24Bit(FromBit, "DilatationLTH");
  Require24Bit(ToBit, "DilatationLTH");
  dim = std::clamp(dim, 0, 10);
  channel = std::clamp(channel, 0, 2);
  // The window must see the source as it was, also when the result overwrites it.
  std::unique_ptr<Bitmap> copy;
  if (&FromBit == &ToBit) copy = std::make_unique<Bitmap>(FromBit);
  const Bitmap& src = copy ? *copy : FromBit;

  const int32_t width = std::min({src.Width(), ToBit.Width(), ImWidth + 1});
  const int32_t height = std::min({src.Height(), ToBit.Height(), ImHeight + 1});
  const int32_t side = 2 * dim + 1;
  if (width < side || height < side) return;

  // The window's counts per byte value slide along each row; the count above the centre's
  // threshold follows the threshold, which changes little from one pixel to the next.
  std::vector<const uint8_t*> rows(static_cast<size_t>(side));
  for (int32_t y = dim; y < height - dim; ++y) {
    for (int32_t k = 0; k < side; ++k) rows[static_cast<size_t>(k)] = src.ScanLine(y - dim + k) + channel;
    std::array<int32_t, 256> counts{};
    auto addColumn = [&](int32_t x, int32_t delta) {
      for (const uint8_t* r : rows) counts[r[3 * x]] += delta;
    };
    for (int32_t x = 0; x < side - 1; ++x) addColumn(x, 1);
    int32_t cur = 255;  // counts of values above cur; nothing is above 255
    int32_t above = 0;
    uint8_t* out = ToBit.ScanLine(y);
    for (int32_t x = dim; x < width - dim; ++x) {
      // Enter the window's right column, leave the column that fell off on the left.
      for (const uint8_t* r : rows) {
        const uint8_t v = r[3 * (x + dim)];
        ++counts[v];
        above += v > cur;
      }
      if (x - dim - 1 >= 0) {
        for (const uint8_t* r : rows) {
          const uint8_t v = r[3 * (x - dim - 1)];
          --counts[v];
          above -= v > cur;
        }
      }
      const int32_t t = std::min<int32_t>(th[x][y], 255);
      for (; cur < t; ++cur) above -= counts[cur + 1];
      for (; cur > t; --cur) above += counts[cur];
      const uint8_t b = above > level ? 255 : 0;
      out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = b;
    }
  }
}

}  // namespace analysis
