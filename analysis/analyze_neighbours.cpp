#include "analysis/analyze_neighbours.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "analysis/mymath.h"

namespace analysis {

using platform::Round;

TDotList* GetSortedDotList(TDot* root, int32_t refarea, int32_t reftol, bool isBlack, int32_t& area, int32_t& edge,
                           int32_t& slur, int32_t& count, double& radius, double& grays) {
  area = edge = slur = count = 0;
  radius = grays = 0;
  const double ref = refarea;
  const double denom = ref + reftol;
  const int32_t negtol = denom != 0 ? Round(ref - ref * ref / denom) : refarea;
  const int64_t low = int64_t{refarea} - negtol;
  const int64_t high = int64_t{refarea} + reftol;

  TDotList* list = nullptr;
  int64_t sa = 0, se = 0, ss = 0;
  double sr = 0, sg = 0;
  for (TDot* d = root; d; d = d->next) {
    if (d->border || d->isblack != isBlack) continue;
    if (!(low < d->fsize && d->fsize < high)) continue;
    sa += d->fsize;
    se += d->fedge;
    ss += d->Slur;
    sr += d->radius;
    sg += d->StdGray;
    ++count;
    list = NewDotList(d, list);
  }
  if (count < 2) {
    area = static_cast<int32_t>(sa);
    edge = static_cast<int32_t>(se);
    slur = static_cast<int32_t>(ss);
    radius = sr;
    grays = 255;
  } else {
    area = Round(static_cast<double>(sa) / count);
    edge = Round(static_cast<double>(se) / count);
    slur = Round(static_cast<double>(ss) / count);
    radius = sr / count;
    grays = sg / count;
  }
  return list;
}

bool GetSortedDotListMask(TDot* root, TDotList*& wList, TDotList*& bList, Extended& warea, Extended& wedge,
                          Extended& barea, Extended& bedge, int32_t& wcount, int32_t& bcount) {
  wList = bList = nullptr;
  warea = wedge = barea = bedge = 0;
  wcount = bcount = 0;
  for (TDot* d = root; d; d = d->next) {
    if (d->isblack) {
      bList = NewDotList(d, bList);
      barea += d->fsize;
      bedge += d->fedge;
      ++bcount;
    } else {
      wList = NewDotList(d, wList);
      warea += d->fsize;
      wedge += d->fedge;
      ++wcount;
    }
  }
  if (bcount > 0) {
    barea /= bcount;
    bedge /= bcount;
  }
  if (wcount > 0) {
    warea /= wcount;
    wedge /= wcount;
  }
  return std::sqrt(barea) * bcount > std::sqrt(warea) * wcount;
}

namespace {

// One candidate of the neighbour search, copied out of the list so that the quadratic search
// runs over an array instead of chasing list links.
struct Candidate {
  TDotList* entry;
  TPoint centre;
  TSDotList* inner;
};

// Offers the candidate at distance a to e's slots; the direction is only computed when the
// candidate takes a slot.
void Offer(TDotList* e, const Candidate& r, double a) {
  const auto dir = [&] { return PTWinkel(e->dots->swp, r.centre, 1); };
  TDot* nb = r.entry->dots;
  if (!e->NB1) {
    e->NB1 = nb, e->NA1 = a, e->NW1 = dir();
  } else if (a < e->NA1) {
    e->NB2 = e->NB1, e->NA2 = e->NA1, e->NW2 = e->NW1;
    e->NB1 = nb, e->NA1 = a, e->NW1 = dir();
  } else if (!e->NB2) {
    e->NB2 = nb, e->NA2 = a, e->NW2 = dir();
  } else if (a < e->NA2) {
    e->NB3 = e->NB2, e->NA3 = e->NA2, e->NW3 = e->NW2;
    e->NB2 = nb, e->NA2 = a, e->NW2 = dir();
  } else if (!e->NB3) {
    e->NB3 = nb, e->NA3 = a, e->NW3 = dir();
  } else if (a < e->NA3) {
    e->NB4 = e->NB3, e->NA4 = e->NA3, e->NW4 = e->NW3;
    e->NB3 = nb, e->NA3 = a, e->NW3 = dir();
  } else if (!e->NB4 || a < e->NA4) {
    e->NB4 = nb, e->NA4 = a, e->NW4 = dir();
  }
}

void Search(const std::vector<Candidate>& all, TDotList* e) {
  if (!e->dots) return;
  const TPoint c = e->dots->swp;
  const int32_t id = e->dots->ID;
  for (const Candidate& r : all) {
    if (r.entry == e || !r.entry->dots) continue;
    if (r.inner && GetSDot(r.inner, id)) continue;
    Offer(e, r, PTAbstand(c, r.centre, 1));
  }
}

std::vector<Candidate> Candidates(TDotList* root) {
  std::vector<Candidate> all;
  for (TDotList* r = root; r; r = r->next) {
    if (r->dots) {
      all.push_back({r, r->dots->swp, r->dots->InnerDots});
    } else {
      all.push_back({r, {}, nullptr});
    }
  }
  return all;
}

}  // namespace

void SearchNachbarn(TDotList* root, TDotList* aList) {
  if (!aList) return;
  Search(Candidates(root), aList);
}

void GetNachbarn(TSortedDotList* root, TDotList* aList) {
  if (!root || !aList) return;
  const std::vector<Candidate> all = Candidates(root->dots);
  for (TDotList* e = aList; e; e = e->next) {
    e->NB1 = e->NB2 = nullptr;
    e->NA1 = e->NA2 = 250000;
    e->NW1 = e->NW2 = 0;
    Search(all, e);
  }
}

double wmod(double w) {
  w += 360;
  if (w > 1e6) w = 90 + std::fmod(w - 90, 90.0);  // only far outside the range of PTWinkel
  while (w > 90) w -= 90;
  return w;
}

double GetNachbarAbstand(TDotList* root, double& alpha, double sTol, double wTol) {
  std::array<int32_t, 256> df{};
  std::array<int32_t, 91> dw{};
  const auto dist_bin = [](double na) { return std::clamp(Round(na * 0.5), 0, 255); };
  const auto angle_bin = [](double nw) { return std::clamp(Round(wmod(nw)), 0, 90); };
  for (TDotList* e = root; e; e = e->next) {
    ++df[static_cast<size_t>(dist_bin(e->NA1))];
    ++df[static_cast<size_t>(dist_bin(e->NA2))];
    ++dw[static_cast<size_t>(angle_bin(e->NW1))];
    ++dw[static_cast<size_t>(angle_bin(e->NW2))];
  }

  // The angle peak: the first 7-bin window with the largest count, then the mean of the
  // directions within 5 degrees of it.
  alpha = 0;
  int32_t best = 0;
  for (int32_t j = 3; j <= 87; ++j) {
    int32_t s = 0;
    for (int32_t i = j - 3; i <= j + 3; ++i) s += dw[static_cast<size_t>(i)];
    if (s > best) {
      best = s;
      alpha = j;
    }
  }
  {
    double sum = 0;
    int32_t n = 0;
    for (TDotList* e = root; e; e = e->next) {
      for (double nw : {e->NW1, e->NW2}) {
        const double v = wmod(nw);
        if (alpha - 5 <= v && v <= alpha + 5) {
          sum += v;
          ++n;
        }
      }
    }
    if (n > 0) alpha = sum / n;
  }

  // The distance peak: the first 5-bin window with the largest count and its centre of mass.
  int32_t k = 0;
  best = 0;
  for (int32_t j = 2; j <= 253; ++j) {
    int32_t s = 0;
    for (int32_t i = j - 2; i <= j + 2; ++i) s += df[static_cast<size_t>(i)];
    if (s > best) {
      best = s;
      k = j;
    }
  }
  if (k == 0) return 0;
  double si = 0, sn = 0;
  for (int32_t i = k - 2; i <= k + 2; ++i) {
    si += static_cast<double>(i) * df[static_cast<size_t>(i)];
    sn += df[static_cast<size_t>(i)];
  }
  const double m = 2 * si / sn;

  // Keep the neighbours that fit both peaks; the accepted ones give the result.
  double dsum = 0, wsum = 0;
  int32_t count = 0;
  const auto fits = [&](double na, double nw) {
    const double v = wmod(nw);
    return m / sTol < na && na < sTol * m && alpha - wTol < v && v < alpha + wTol;
  };
  for (TDotList* e = root; e; e = e->next) {
    if (fits(e->NA2, e->NW2)) {
      dsum += e->NA2;
      wsum += wmod(e->NW2);
      ++count;
    } else {
      e->NA2 = 0;
      e->NB2 = nullptr;
    }
    if (fits(e->NA1, e->NW1)) {
      dsum += e->NA1;
      wsum += wmod(e->NW1);
      ++count;
    } else {
      e->NA1 = e->NA2;
      e->NB1 = e->NB2;
      e->NA2 = 0;
      e->NB2 = nullptr;
    }
  }
  if (count == 0) return 0;
  alpha = wsum / count;
  return dsum / count;
}

// ---- The screen lattice over the image ----

namespace {

constexpr double kDeg = std::numbers::pi / 180;

}  // namespace

std::vector<TLineSegment> LatticeLines(TPoint center, double size, double angle) {
  std::vector<TLineSegment> lines;
  if (!(size >= 0.5)) return lines;
  const double sa = std::sin(angle * kDeg), ca = std::cos(angle * kDeg);
  const double sp = std::sin((angle + 90) * kDeg), cp = std::cos((angle + 90) * kDeg);
  for (double g = size / 2; g < 1920; g += size) {
    for (double o : {g, -g}) {
      lines.push_back({{center.X + Round(o * cp + 1920 * ca), center.Y + Round(o * sp + 1920 * sa)},
                       {center.X + Round(o * cp - 1920 * ca), center.Y + Round(o * sp - 1920 * sa)}});
    }
  }
  return lines;
}

std::vector<TLineSegment> GridLines(TDotList* aList, double alpha, double distance) {
  const int32_t di = Round(distance);
  if (di == 0) return {};
  const double a1 = alpha * kDeg, a2 = (alpha + 90) * kDeg;
  double m1, c1, m2, c2;
  GeradeDurch2Punkte(0, 0, 100 * std::cos(a1), 100 * std::sin(a1), m1, c1);
  GeradeDurch2Punkte(0, 0, 100 * std::cos(a2), 100 * std::sin(a2), m2, c2);

  std::array<double, 501> h1{}, h2{};
  for (TDotList* e = aList; e; e = e->next) {
    if (!e->flag || !e->dots) continue;
    const TPoint c = e->dots->swp;
    const auto bin = [di](Extended d) {
      return static_cast<size_t>(std::min(std::abs(Round(static_cast<double>(d)) % di), 500));
    };
    h1[bin(AbstandPunktGerade(c.X, c.Y, m1, c1))] += 1;
    h2[bin(AbstandPunktGerade(c.X, c.Y, m2, c2))] += 1;
  }
  const auto centre = [](const std::array<double, 501>& h) {
    double s = 0, n = 0;
    for (size_t i = 0; i < h.size(); ++i) {
      s += static_cast<double>(i) * h[i];
      n += h[i];
    }
    return n > 0 ? s / n : 0.0;
  };
  const double o1 = centre(h1), o2 = centre(h2);

  std::vector<TLineSegment> lines = LatticeLines({Round(o1 * std::cos(a1)) - 1, 0}, distance, alpha);
  const std::vector<TLineSegment> across =
      LatticeLines({0, Round(o2 * std::sin(a2) - distance / 2)}, distance, alpha + 90);
  lines.insert(lines.end(), across.begin(), across.end());
  return lines;
}

namespace {

void DrawSegments(platform::Canvas& c, const std::vector<TLineSegment>& lines) {
  for (const TLineSegment& l : lines) {
    c.MoveTo(l.from.X, l.from.Y);
    c.LineTo(l.to.X, l.to.Y);
  }
}

}  // namespace

void DrawLines(platform::Canvas& aCanvas, TPoint center, double size, double angle) {
  DrawSegments(aCanvas, LatticeLines(center, size, angle));
}

void GetGrid(platform::Canvas& aCanvas, platform::TColor aColor, TDotList* aList, double alpha, double distance) {
  const std::vector<TLineSegment> lines = GridLines(aList, alpha, distance);
  if (lines.empty()) return;
  aCanvas.Pen().Color = aColor;
  aCanvas.Pen().Width = 2;
  DrawSegments(aCanvas, lines);
  aCanvas.Pen().Width = 1;
}

}  // namespace analysis
