#include "analysis/analyze_population.h"

#include <array>
#include <cmath>
#include <unordered_set>

#include "analysis/analyze_dotsize.h"
#include "analysis/analyze_neighbours.h"
#include "platform/base/numeric.h"

namespace analysis {

using platform::Round;

double AlternativeScore(const TSortedDotList* l) {
  return std::pow(std::sqrt(l->area) * std::pow(static_cast<double>(l->Count), 2.5), l->radius) / (1 + l->grays);
}

TSortedDotList* InsertAlternative(TSortedDotList* root, TSortedDotList* aList) {
  if (!aList) return root;
  if (!root) {
    aList->next = aList->prev = nullptr;
    return aList;
  }
  const double score = AlternativeScore(aList);
  TSortedDotList* before = nullptr;
  TSortedDotList* cur = root;
  while (cur && AlternativeScore(cur) >= score) {
    before = cur;
    cur = cur->next;
  }
  aList->prev = before;
  aList->next = cur;
  if (cur) cur->prev = aList;
  if (before) {
    before->next = aList;
    return root;
  }
  return aList;
}

bool equalDotList(TDotList* root, TDotList* aList) {
  std::unordered_set<const TDot*> members;
  for (TDotList* m = aList; m; m = m->next) members.insert(m->dots);
  for (TDotList* m = root; m; m = m->next) {
    if (!members.count(m->dots)) return false;
  }
  return true;
}

bool NotYetAvailable(TSortedDotList* root, TSortedDotList* aList) {
  for (TSortedDotList* s = root; s; s = s->next) {
    if (std::fabs(s->area * s->Count - aList->area * aList->Count) < 20 && equalDotList(s->dots, aList->dots)) {
      return false;
    }
  }
  return true;
}

namespace {

// Whether a population looks like a screen. min_period is the clause distance > 10 that the
// size-class candidates must also meet when a period is expected.
bool Acceptable(const TSortedDotList* t, int32_t Screening, bool min_period) {
  if (!(t->area > 5 && t->Count >= 3)) return false;
  if (Screening != 0) {
    return 0.8 * Screening < t->distance && t->distance < 1.2 * Screening && (!min_period || t->distance > 10);
  }
  return t->distance > 20 && 0.8 * t->radius / 2 < t->distance &&
         !(t->distance >= 250 && (t->area / 2) * (t->area / 2) * 20 * 3.14 <= t->distance);
}

}  // namespace

TSortedDotList* GetAlternativen(AnalyzeState& st, TDot* root, int32_t areatol, int32_t EFtol, int32_t Screening,
                                bool fuzzy, double mf, double mfcm) {
  const double p = mf > 0 ? 1024 / mf : 0;
  const double ftol = fuzzy ? 2.1 : 2.0;
  // Size classes of the square root of the size. 32-bit counters: with 8 bits a fine screen
  // of 256 like dots would count 0 and lose its population.
  std::array<int32_t, 256> classes{};
  for (TDot* d = root; d; d = d->next) {
    ++classes[static_cast<size_t>(std::clamp(Round(std::sqrt(static_cast<double>(d->fsize)) / ftol), 0, 255))];
  }
  const auto snap = [&](TSortedDotList* t) {
    if (p > 0 && mfcm > 150 && std::fabs(t->distance - p) < p / 5) t->distance = p;
  };
  // Completes an accepted population and enters it unless the chain has it already.
  TSortedDotList* chain = nullptr;
  const auto keep = [&](TSortedDotList* t, bool min_period) {
    if (!Acceptable(t, Screening, min_period)) {
      FreeSortedDotList(t);
      return;
    }
    AddDotsOnGrid(st, root, t, st.GResult, fuzzy);
    if (NotYetAvailable(chain, t)) {
      chain = InsertAlternative(chain, t);
    } else {
      FreeSortedDotList(t);
    }
  };

  for (int32_t i = 1; i <= 254; ++i) {
    const int32_t h = i / 30;
    int64_t m = 0, weighted = 0;
    for (int32_t c = i - h - 1; c <= i + h + 1; ++c) {
      if (c < 0 || c > 255) continue;
      m += classes[static_cast<size_t>(c)];
      weighted += int64_t{c} * classes[static_cast<size_t>(c)];
    }
    if (m < 2) continue;
    const double r1 = static_cast<double>(weighted) / static_cast<double>(m);
    const int32_t ref = Round((r1 * ftol) * (r1 * ftol));
    int32_t tol = Round(((r1 + 1) * ftol) * ((r1 + 1) * ftol));
    // The classes this window covered need no second look.
    if (i < platform::Trunc(r1 + 1)) i = platform::Trunc(r1 + 1);
    tol = std::max(tol, Round(ref * areatol / 100.0)) - ref;
    if (Screening < 0) tol = Round(tol * ftol);

    int32_t barea, bedge, bslur, bcount, warea, wedge, wslur, wcount;
    double bradius, bgrays, wradius, wgrays;
    TDotList* dark = GetSortedDotList(root, ref, tol, true, barea, bedge, bslur, bcount, bradius, bgrays);
    TDotList* bright = GetSortedDotList(root, ref, ref < 61 ? tol : Round(2.0 * tol), false, warea, wedge, wslur,
                                        wcount, wradius, wgrays);
    if (bcount < 1 && wcount < 1) continue;
    const bool black = bcount > wcount;
    TSortedDotList* t = NewSortedDotList(black);
    if (black) {
      t->Count = bcount, t->area = barea, t->edgelen = bedge, t->slur = bslur, t->radius = bradius, t->grays = bgrays;
      t->dots = dark;
      FreeDotListSimple(bright);
    } else {
      t->Count = wcount, t->area = warea, t->edgelen = wedge, t->slur = wslur, t->radius = wradius, t->grays = wgrays;
      t->dots = bright;
      FreeDotListSimple(dark);
    }
    t->areatol = areatol;
    t->edgelentol = EFtol;

    TSortedDotList* t2 = nullptr;
    if (!fuzzy && t->area < 10000) t2 = SortByGrayLevel(t);
    if (!fuzzy && t->area > 20) RemoveByEdgeFactor(t, i / 30 + EFtol);
    GetNachbarn(t, t->dots);
    t->distance = GetNachbarAbstand(t->dots, t->alpha, 2, 10);
    snap(t);
    if (!fuzzy) {
      RemoveIsolatedDots(t);
      RemoveDotsNotOnGrid(t);
    }
    keep(t, true);

    if (t2) {
      GetNachbarn(t2, t2->dots);
      t2->distance = GetNachbarAbstand(t2->dots, t2->alpha, 1.25, 5);
      snap(t2);
      RemoveIsolatedDots(t2);
      RemoveDotsNotOnGrid(t2);
      keep(t2, false);
    }
  }

  int32_t n = 0;
  for (TSortedDotList* l = chain; l; l = l->next) l->index = ++n;
  st.GAlternativencount = n;
  return chain;
}

TSortedDotList* GetAlternativen(TDot* root, int32_t areatol, int32_t EFtol, int32_t Screening, bool fuzzy, double mf,
                                double mfcm) {
  return GetAlternativen(Analysis(), root, areatol, EFtol, Screening, fuzzy, mf, mfcm);
}

void AnalyzeTRANSImage(AnalyzeState& st, const Bitmap& FromBit, Bitmap& ToBit, int32_t Screening,
                       const std::function<void(int32_t)>& aProgressbar, int32_t aTol, bool fuzzy, double mf,
                       double mfcm) {
  const auto gauge = [&](int32_t v) {
    if (aProgressbar) aProgressbar(v);
  };
  ClearResult(st);
  gauge(0);
  st.GDotList = GetDots(st, FromBit, ToBit, st.GResult, st.ThImage, 0, {0, 0, ToBit.Width(), ToBit.Height()});
  gauge(20);
  st.GDotList = RemoveSmallObjects(st.GDotList, st.GDotList, st.GResult, 3);
  gauge(50);
  GetAllInnerDotsRec(st.GDotList, st.GResult);
  st.MaxDot = nullptr;
  for (TDot* d = st.GDotList; d; d = d->next) {
    if (d->border) continue;
    int32_t area = 0, edge = 0;
    GetDotSize(d, FromBit, st.GResult, 255, 0, area, edge);
    d->fsize = Round(area + edge * st.ADDEDGE);
    d->fedge = edge;
    if (!st.MaxDot || d->fsize > st.MaxDot->fsize) st.MaxDot = d;
  }
  gauge(80);
  st.GAlternative = GetAlternativen(st, st.GDotList, aTol, 2 * aTol, Screening, fuzzy, mf, mfcm);
  gauge(100);
  st.ResAvail = true;
}

void AnalyzeTRANSImage(const Bitmap& FromBit, Bitmap& ToBit, int32_t Screening,
                       const std::function<void(int32_t)>& aProgressbar, int32_t aTol, bool fuzzy, double mf,
                       double mfcm) {
  AnalyzeTRANSImage(Analysis(), FromBit, ToBit, Screening, aProgressbar, aTol, fuzzy, mf, mfcm);
}

}  // namespace analysis
