#include "analysis/analyze_grid.h"

#include <bitset>
#include <cmath>
#include <limits>
#include <numbers>

#include "analysis/analyze_neighbours.h"
#include "analysis/mymath.h"
#include "platform/base/numeric.h"

namespace analysis {

using platform::Round;

namespace {

constexpr double kDeg = std::numbers::pi / 180;

// Unlinks and frees every member for which drop is true; returns how many went.
template <typename Drop>
int32_t DropMembers(TSortedDotList* root, Drop drop) {
  int32_t gone = 0;
  TDotList** link = &root->dots;
  while (*link) {
    TDotList* e = *link;
    if (drop(e)) {
      *link = e->next;
      delete e;
      ++gone;
    } else {
      link = &e->next;
    }
  }
  return gone;
}

// Integer means of fsize and fedge, the mean radius and the count of the members.
void Recount(TSortedDotList* p) {
  int64_t n = 0, f = 0, e = 0;
  double r = 0;
  for (TDotList* m = p->dots; m; m = m->next) {
    if (!m->dots) continue;
    ++n;
    f += m->dots->fsize;
    e += m->dots->fedge;
    r += m->dots->radius;
  }
  p->area = n ? static_cast<double>(f / n) : 0;
  p->edgelen = n ? static_cast<double>(e / n) : 0;
  p->radius = n ? r / static_cast<double>(n) : 0;
  p->Count = static_cast<int32_t>(n);
}

// The member whose centre is nearest to the image centre (the first on ties).
TDotList* NearestToCentre(TSortedDotList* p) {
  TDotList* best = nullptr;
  double bd = std::numeric_limits<double>::infinity();
  for (TDotList* m = p->dots; m; m = m->next) {
    if (!m->dots) continue;
    const double d = PTAbstand(m->dots->swp, {640, 512}, 1);
    if (d < bd) {
      bd = d;
      best = m;
    }
  }
  return best;
}

}  // namespace

TSortedDotList* NewSortedDotList(bool isBlack) {
  auto* l = new TSortedDotList;
  l->isBlack = isBlack;
  return l;
}

void FreeSortedDotList(TSortedDotList* root) {
  while (root) {
    TSortedDotList* next = root->next;
    FreeDotListSimple(root->dots);
    delete root;
    root = next;
  }
}

bool DotInSortedDotList(int32_t aDotID, TSortedDotList* aList) {
  if (!aList) return false;
  for (TDotList* m = aList->dots; m; m = m->next) {
    if (m->dots && m->dots->ID == aDotID) return true;
  }
  return false;
}

void CalculateAlternativeResult(AnalyzeState& st, TSortedDotList* rootList) {
  if (!rootList) return;
  int64_t n = 0, f = 0, e = 0;
  for (TDotList* m = rootList->dots; m; m = m->next) {
    const TDot* d = m->dots;
    if (!d) continue;
    ++n;
    f += d->fsize;
    e += d == st.MaxDot ? d->edgelen : d->fedge;
  }
  if (n == 0) {
    rootList->FMArea = 0;
    rootList->area = 0;
    rootList->edgelen = 0;
    rootList->Count = 0;
    return;
  }
  rootList->FMArea = static_cast<int32_t>(f);
  rootList->area = static_cast<double>(f / n);
  rootList->edgelen = static_cast<double>(e / n);
  rootList->Count = static_cast<int32_t>(n);
}

void CalculateAlternativeResult(TSortedDotList* rootList) { CalculateAlternativeResult(Analysis(), rootList); }

TSortedDotList* AddDotToAlternative(AnalyzeState& st, TSortedDotList* rootList, TDot* aDot) {
  if (!aDot) return rootList;
  if (!rootList) rootList = NewSortedDotList(aDot->isblack);
  if (!DotInSortedDotList(aDot->ID, rootList)) {
    TSortedDotList* p = rootList;
    if (p->Count == 0) p->isBlack = aDot->isblack;
    // The largest object of a transmission analysis and dots without a size of their own
    // count with their pixel area and edge.
    const bool raw = aDot == st.MaxDot || aDot->fsize <= 0 || aDot->fedge <= 0;
    p->area += raw ? aDot->area : aDot->fsize;
    p->edgelen += raw ? aDot->edgelen : aDot->fedge;
    p->radius += aDot->radius;
    ++p->Count;
    p->dots = NewDotList(aDot, p->dots);
    p->dots->flag = 1;
    if (p->Count == 2 && p->dots->next && p->dots->next->dots) {
      p->distance = PTAbstand(p->dots->dots->swp, p->dots->next->dots->swp, 1);
      p->alpha = PTWinkel(p->dots->dots->swp, p->dots->next->dots->swp, 1);
    } else if (p->Count >= 3 && p->Count <= 9) {
      GetNachbarn(p, p->dots);
      p->distance = GetNachbarAbstand(p->dots, p->alpha, 1.25, 5);
    }
  }
  CalculateAlternativeResult(st, rootList);
  return rootList;
}

TSortedDotList* AddDotToAlternative(TSortedDotList* rootList, TDot* aDot) {
  return AddDotToAlternative(Analysis(), rootList, aDot);
}

void RemoveDotbyID(TSortedDotList* root, int32_t aID) {
  if (!root) return;
  root->Count -= DropMembers(root, [aID](TDotList* e) { return e->dots && e->dots->ID == aID; });
}

void RemoveByEdgeFactor(TSortedDotList* root, int32_t reftol) {
  if (!root || root->area <= 0) return;
  const auto factor = [](const TDot* d) { return d->fsize > 0 ? Round(d->fedge * 100.0 / d->fsize) : 0; };
  int32_t ef = Round(root->edgelen * 100 / root->area);
  for (TDotList* m = root->dots; m; m = m->next) {
    if (m->dots && m->dots->fsize > 0) ef = std::min(ef, factor(m->dots));
  }
  const int32_t t = Round(reftol * 0.01 * ef);
  const int64_t high = int64_t{ef} + std::max(t, 5);
  DropMembers(root, [&](TDotList* e) {
    if (!e->dots) return true;
    const int32_t f = factor(e->dots);
    return f == 0 || f < ef || f > high;
  });
  Recount(root);
}

TSortedDotList* SortByGrayLevel(TSortedDotList* root) {
  if (!root || root->area <= 0) return nullptr;
  int32_t lo = 255, hi = 0;
  for (TDotList* m = root->dots; m; m = m->next) {
    if (!m->dots) continue;
    lo = std::min<int32_t>(lo, m->dots->MeanGray);
    hi = std::max<int32_t>(hi, m->dots->MeanGray);
  }
  TSortedDotList* moved = nullptr;
  TDotList** link = &root->dots;
  while (*link) {
    TDotList* e = *link;
    const int32_t g = e->dots ? e->dots->MeanGray : 0;
    const bool stays = root->isBlack ? g <= lo + 20 : g >= hi - 20;
    if (stays) {
      link = &e->next;
      continue;
    }
    *link = e->next;
    if (!moved) moved = NewSortedDotList(root->isBlack);
    e->next = moved->dots;
    moved->dots = e;
  }
  Recount(root);
  if (moved) Recount(moved);
  return moved;
}

void RemoveIsolatedDots(TSortedDotList* root) {
  if (!root) return;
  root->Count -= DropMembers(root, [](TDotList* e) { return !e->NB1 && !e->NB2 && !e->NB3 && !e->NB4; });
}

void IgnoreChainDots(TSortedDotList* root) {
  if (!root) return;
  const double c = 0.9 * root->distance;
  const double sx = std::sin(root->alpha * kDeg), cx = std::cos(root->alpha * kDeg);
  const double sy = std::sin((root->alpha + 90) * kDeg), cy = std::cos((root->alpha + 90) * kDeg);
  const double cellbox = (std::fabs(cx * c) + std::fabs(cy * c)) * (std::fabs(sx * c) + std::fabs(sy * c));
  int64_t n = 0;
  double f = 0, e = 0;
  for (TDotList* m = root->dots; m; m = m->next) {
    const TDot* d = m->dots;
    if (!d || d->border) continue;
    const double box = static_cast<double>(d->Outrect.Right - d->Outrect.Left) * (d->Outrect.Bottom - d->Outrect.Top);
    if (box <= cellbox) {
      m->flag = 1;
      f += d->fsize;
      e += d->fedge;
      ++n;
    }
  }
  if (n > 0) {
    root->area = f / static_cast<double>(n);
    root->edgelen = e / static_cast<double>(n);
    root->Count = static_cast<int32_t>(n);
  }
}

void RemoveDotsNotOnGrid(TSortedDotList* root) {
  if (!root || !root->dots || root->distance <= 0 || std::fabs(root->alpha) > 90) return;
  const double d = root->distance;
  const int32_t tol = Round(d / 8);
  const double sx = std::sin(root->alpha * kDeg), cx = std::cos(root->alpha * kDeg);
  const double sy = std::sin((root->alpha + 90) * kDeg), cy = std::cos((root->alpha + 90) * kDeg);
  const TDotList* ref = NearestToCentre(root);
  if (!ref) return;
  const TPoint r = ref->dots->swp;
  root->Count -= DropMembers(root, [&](TDotList* e) {
    if (!e->dots) return true;
    const double dx = e->dots->swp.X - r.X, dy = e->dots->swp.Y - r.Y;
    // The lattice coordinates in the orthonormal frame of the screen axes. (Solving the two
    // equations by elimination divides by cos alpha, which at 90 degrees - a 0-degree screen -
    // is a rounding remainder and turns the coordinates into noise.)
    const double i = std::nearbyint((dx * cx + dy * sx) / d);
    const double j = std::nearbyint((dy * cx - dx * sx) / d);
    const int32_t px = Round(cx * i * d + cy * j * d);
    const int32_t py = Round(sx * i * d + sy * j * d);
    return !(std::fabs(dx - px) <= tol && std::fabs(dy - py) <= tol);
  });
}

void AddDotsOnGrid(AnalyzeState& st, TDot* dotroot, TSortedDotList* root, const TIntImage& ResImage, bool fuzzy) {
  if (!root || !root->dots) return;
  const double d = root->distance;
  // A period below one pixel has no lattice to walk (and none at all when it is 0).
  if (!(d >= 1)) return;
  const double ff = fuzzy ? 2.0 : 0.2;
  const int32_t step = Round(d / 32);
  const double sx = std::sin(root->alpha * kDeg), cx = std::cos(root->alpha * kDeg);
  const double sy = std::sin((root->alpha + 90) * kDeg), cy = std::cos((root->alpha + 90) * kDeg);
  const TDotList* ref = NearestToCentre(root);
  if (!ref) return;
  const TPoint r = ref->dots->swp;
  const TDotIndex idx(dotroot);
  std::bitset<LabelSlots> member;
  for (TDotList* m = root->dots; m; m = m->next)
    if (m->dots) member.set(LabelOf(m->dots->ID));
  const double mean = root->area;

  const int32_t nj = Round(512 / d), ni = Round(640 / d);
  for (int32_t j = -nj; j <= nj; ++j) {
    for (int32_t i = -ni; i <= ni; ++i) {
      const int32_t qx = Round(cx * d * i + cy * d * j + r.X);
      const int32_t qy = Round(sx * d * i + sy * d * j + r.Y);
      if (qx < 10 || qx > 1279 || qy < 10 || qy > 1023) continue;
      bool have_prev = false;
      uint16_t prev = 0;
      for (int32_t a = -1; a <= 1; ++a) {
        for (int32_t b = -1; b <= 1; ++b) {
          const int32_t x = qx + a * step, y = qy + b * step;
          if (x < 0 || y < 0 || x >= ImWidth || y >= ImHeight) continue;
          const uint16_t v = ResImage[x][y];
          const bool same = have_prev && v == prev;
          have_prev = true;
          prev = v;
          if (same || IsEdge(v)) continue;
          TDot* e = idx[v];
          if (!e || e->border || member.test(v) || e->isblack != root->isBlack) continue;
          if (!(e->area > 5 && e->area < 10000)) continue;
          const double diff = std::fabs(e->area - mean);
          if (!(diff < 10 || (mean != 0 && diff / mean < ff))) continue;
          root->dots = NewDotList(e, root->dots);
          root->dots->flag = 1;
          member.set(v);
        }
      }
    }
  }
  CalculateAlternativeResult(st, root);
}

void AddDotsOnGrid(TDot* dotroot, TSortedDotList* root, const TIntImage& ResImage, bool fuzzy) {
  AddDotsOnGrid(Analysis(), dotroot, root, ResImage, fuzzy);
}

void FillGrid(TDotGrid& grid, TSortedDotList* tList, int32_t X0, int32_t Y0) {
  grid = {};
  if (!tList) return;
  const double a = tList->alpha;
  const double sv = std::sin((a + 45) * kDeg), cv = std::cos((a + 45) * kDeg);
  const double sh = std::sin((a + 135) * kDeg), ch = std::cos((a + 135) * kDeg);
  const double d = std::numbers::sqrt2 * tList->distance / 2 + 0.5;
  if (!(d > 0)) return;
  const int32_t k = platform::Trunc((X0 - 128) / d) + 1;
  const TVector o{static_cast<Extended>(Round(X0 + k * ch * d)), static_cast<Extended>(Round(Y0 + k * sh * d)), 0};
  const TVector dv{cv, sv, 0}, dh{ch, sh, 0};
  for (TDotList* m = tList->dots; m; m = m->next) {
    TDot* dot = m->dots;
    if (!dot || dot->border || dot->isblack || dot->swp.X <= 0 || dot->swp.Y <= 0) continue;
    const TVector p{static_cast<Extended>(dot->swp.X), static_cast<Extended>(dot->swp.Y), 0};
    const double s1 = static_cast<double>(AbstandPunktGeradeVector(o, dv, p));
    const double s2 = static_cast<double>(AbstandPunktGeradeVector(o, dh, p));
    const int32_t i = Round(s1 / d), j = Round(-s2 / d);
    if (i < 0 || i > 64 || j < 0 || j > 50) continue;
    grid[static_cast<size_t>(i)][static_cast<size_t>(j)] = {static_cast<int16_t>(dot->swp.X),
                                                            static_cast<int16_t>(dot->swp.Y), dot};
  }
}

}  // namespace analysis
