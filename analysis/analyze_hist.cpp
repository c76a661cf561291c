#include "analysis/analyze_hist.h"

#include <algorithm>

#include "platform/base/numeric.h"

namespace analysis {

using platform::Extended;

void THist::Clear() { *this = THist{}; }

void THist::FindMax(int32_t from, int32_t to) {
  from = std::max(from, 0);
  to = std::min(to, HistWidth);
  MaxHist = 0;
  MaxPos = 0;
  for (int32_t i = from; i <= to; ++i) {
    if (Hist[i] > MaxHist) {
      MaxHist = Hist[i];
      MaxPos = static_cast<uint16_t>(i);
    }
  }
}

namespace {

// Read access that treats every bin outside the record as empty: the stretch walks and the
// peak windows of the routine look a few bins past whatever bound they start from.
class Bins {
 public:
  explicit Bins(const THist& h) : h_(h) {}

  int64_t operator()(int64_t i) const { return (i >= 0 && i <= HistWidth) ? h_.Hist[i] : 0; }

  // Sum of the counts over from..to (inclusive, empty when to < from).
  Extended Sum(int64_t from, int64_t to) const {
    Extended s = 0;
    for (int64_t i = std::max<int64_t>(from, 0); i <= std::min<int64_t>(to, HistWidth); ++i) s += h_.Hist[i];
    return s;
  }

  // Centroid of the counts over from..to, rounded; keep when the counts sum to 0.
  int64_t Centroid(int64_t from, int64_t to, int64_t keep) const {
    Extended num = 0;
    Extended den = 0;
    for (int64_t i = std::max<int64_t>(from, 0); i <= std::min<int64_t>(to, HistWidth); ++i) {
      num += static_cast<Extended>(i) * h_.Hist[i];
      den += h_.Hist[i];
    }
    return den == 0 ? keep : platform::Round64(num / den);
  }

 private:
  const THist& h_;
};

}  // namespace

int32_t GetThreshold(THist& Hist, int32_t von, int32_t Limit, int32_t& Prozent, int32_t& Threshold,
                     int32_t& left, int32_t& right, int32_t dotint) {
  const Bins H(Hist);
  // Sane bounds first: everything below relies on von <= Limit inside the record.
  const int64_t lim = std::clamp(Limit, 0, HistWidth);
  const int64_t lo = std::clamp<int64_t>(von, 0, lim);
  const int64_t max = Hist.MaxHist;

  // The main peak: centroid of the 41 bins around MaxPos, the window clipped to [lo, lim].
  int64_t m = std::clamp<int64_t>(Hist.MaxPos, lo, lim);
  m = H.Centroid(std::max(m - 20, lo), std::min(m + 20, lim), m);

  // On which side of the main peak does the second population lie?
  Extended dn = 0;
  Extended dz = 0;
  if (lim < HistWidth) {
    if (m < lim / 6) {
      dz = 1;
    } else if (m > 5 * lim / 6) {
      dn = 1;
    } else {
      dn = H.Sum(0, m - 11);
      dz = H.Sum(m + 10, (lim + m) / 2);
    }
  } else {
    if (m < lim / 4) {
      dz = 1;
    } else if (m > 3 * lim / 4) {
      dn = 1;
    } else {
      for (int64_t i = lo + 10; i <= m - 11; ++i) dn += static_cast<Extended>(H(i)) * (m - i);
      for (int64_t i = m + 10; i <= lim - 10; ++i) dz += static_cast<Extended>(H(i)) * (i - m);
    }
  }

  // Peak masses over 20 bins around a peak, inside [lo, lim].
  auto mass = [&](int64_t p) { return H.Sum(std::max(p - 10, lo), std::min(p + 9, lim)); };

  int64_t l = 0;
  int64_t r = 0;
  int64_t lm = 0;
  int64_t rm = 0;
  int64_t LRFlag = 0;
  if (dn <= dz) {
    // The main peak is the dark one; find the bright one.
    m = std::min(m, 3 * lim / 4);
    lm = m;
    l = m;
    r = lim - 10;
    while (r > lo && H(r) + H(r - 1) + H(r - 2) < 15) --r;  // last populated stretch
    rm = m + 10;
    // Down the flank of the dark peak to the first bin whose next three are all as high.
    while (rm < (l + r) / 2 && (H(rm + 1) < H(rm) || H(rm + 2) < H(rm) || H(rm + 3) < H(rm))) ++rm;
    r = H.Centroid(rm + 1, r, r);
    const Extended P = mass(r);
    const Extended Q = mass(l);
    LRFlag = Q == 0 ? 128 : 128 + platform::Round64(100 * P / Q);
    rm = lim - 10;
  } else {
    // The main peak is the bright one; find the dark one.
    m = std::max(m, lim / 4);
    rm = m;
    r = m;
    l = lo;
    while (l < lim && H(l) + H(l + 1) + H(l + 2) < 15) ++l;  // first populated stretch
    l = H.Centroid(l, (l + r) / 2 - 1, l);
    const Extended P = mass(r);
    const Extended Q = mass(l);
    LRFlag = P == 0 ? 0 : platform::Round64(100 * Q / P);
    lm = 0;
  }

  // First threshold: the centre of the valley's depth below the main peak's height.
  int64_t th = lim / 2;
  {
    Extended num = 0;
    Extended den = 0;
    for (int64_t i = l + 1; i <= r - 1; ++i) {
      const int64_t w = max - H(i);
      if (w > 0) {
        num += static_cast<Extended>(i) * w;
        den += w;
      }
    }
    if (den != 0) th = platform::Round64(num / den);
  }

  const Extended N = H.Sum(0, HistWidth);
  if (N <= 0) {
    // Nothing counted: no walk can find a valley edge in an empty histogram.
    Prozent = 0;
    Threshold = static_cast<int32_t>(th);
    left = 0;
    right = 255;
    Hist.TH = platform::Wrap16(th);
    Hist.l = 0;
    Hist.r = 255;
    Hist.pc = 0;
    return Threshold;
  }

  // Valley edge and the second peak.
  if (LRFlag >= 128) {
    while (th > lm + 10 && (H(th - 1) <= H(th) || H(th - 2) <= H(th) || H(th - 3) <= H(th))) --th;
    const int64_t e = std::min(3 * th - 2 * l, lim - 10);
    rm = e;
    r = H.Centroid(th + 1, e, r);
  } else {
    while (th < rm - 10 && (H(th + 1) <= H(th) || H(th + 2) <= H(th) || H(th + 3) <= H(th))) ++th;
    l = H.Centroid(0, th - 1, l);
  }

  // Bright images: follow a falling, flattening slope upwards.
  const Extended B = H.Sum(0, th - 1);
  if (platform::Round64(1000 * B / N) > 900) {
    while (th < lim - 1 && th < 9999 && H(th + 1) < H(th) && H(th + 2) <= H(th + 1) &&
           H(th) - H(th + 1) > H(th + 1) - H(th + 2)) {
      ++th;
    }
  }

  if (dotint == 1) r = 255;
  if (dotint == 2) l = 0;

  // Iterate peaks and threshold until the threshold settles.
  const int64_t t = th;
  const int64_t noise = max / 100;
  int64_t prev = 0;
  for (int k = 0; k < 20 && prev != th; ++k) {
    prev = th;
    const int64_t hth = H(th);
    if (dotint != 2) {
      // Left peak: counts above the line from (l, 0) to (th, Hist[th]).
      Extended num = 0;
      Extended den = 0;
      for (int64_t i = lo; i <= th - 1; ++i) {
        const int64_t f = i > l ? platform::Trunc64(static_cast<Extended>(hth) * (th - i) / (th - l)) : 0;
        if (H(i) > f) {
          num += static_cast<Extended>(i) * (H(i) - f);
          den += H(i) - f;
        }
      }
      l = den == 0 ? th / 2 : platform::Round64(num / den);
    }
    if (dotint != 1) {
      // Right peak: counts above the line from (th, Hist[th]) to (r, 0).
      Extended num = 0;
      Extended den = 0;
      for (int64_t i = th + 1; i <= lim; ++i) {
        const int64_t f = i < r ? platform::Trunc64(static_cast<Extended>(hth) * (i - th) / (r - th)) : 0;
        if (H(i) > f) {
          num += static_cast<Extended>(i) * (H(i) - f);
          den += H(i) - f;
        }
      }
      r = den == 0 ? 3 * th / 2 : platform::Round64(num / den);
      r = std::max(r, 2 * t - l);
      r = std::min(r, lim);
    }
    // Threshold: centre of the valley's depth, the noise level cut off.
    Extended num = 0;
    Extended den = 0;
    for (int64_t i = l + 1; i <= r - 1; ++i) {
      const int64_t d = max - H(i);
      if (d > noise) {
        num += static_cast<Extended>(i) * (d - noise);
        den += d - noise;
      }
    }
    th = den == 0 ? (lim + lo) / 2 : platform::Round64(num / den);
  }

  if (Hist.MaxPos == 0) th = platform::Round64(Extended{0.8L} * th);

  Prozent = static_cast<int32_t>(platform::Round64(10000 * H.Sum(th + 1, HistWidth) / N));
  Threshold = static_cast<int32_t>(th);
  left = static_cast<int32_t>(l);
  right = static_cast<int32_t>(r);
  Hist.TH = platform::Wrap16(th);
  Hist.l = platform::Wrap16(l);
  Hist.r = platform::Wrap16(r);
  Hist.pc = Prozent;
  return Threshold;
}

int32_t GetThreshold(THist& Hist, int32_t von, int32_t Limit) {
  int32_t prozent = 0;
  int32_t threshold = 0;
  int32_t left = 0;
  int32_t right = 0;
  return GetThreshold(Hist, von, Limit, prozent, threshold, left, right, 0);
}

}  // namespace analysis
