#include "analysis/analyze_dots.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/myimage.h"
#include "platform/base/numeric.h"

namespace analysis {

namespace {

// The label image value at (x, y), 0 outside the array, so that neighbourhood tests at the
// array's edge never read outside it.
uint16_t At(const TIntImage& img, int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x > ImWidth || y > ImHeight) return 0;
  return img[x][y];
}

bool Overlaps(const TLineExtent& line, int32_t x0, int32_t x1) { return line.x1 >= x0 && x1 >= line.x0; }

// Point in rectangle with the left and top edges in and the right and bottom edges out.
bool PtIn(const TRect& r, int32_t x, int32_t y) { return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom; }

// Both corners of inner's bounding rectangle inside outer's.
bool RectInside(const TRect& inner, const TRect& outer) {
  return PtIn(outer, inner.Left, inner.Top) && PtIn(outer, inner.Right, inner.Bottom);
}

// The part of a dot's bounding rectangle that lies in the image area of the label image.
TRect ScanArea(const TRect& r) {
  return {std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, ImWidth - 1), std::min(r.Bottom, ImHeight - 1)};
}

// ---- Detection ----

// One detection run: the label image, the dots by label, the dots still open and the chain in
// order of creation. Labels only grow and a merged dot always has the larger label, so the
// order of creation is the order of the labels and "the first dot of the chain" among several
// is the one with the smallest label.
class TDotDetection {
 public:
  TDotDetection(AnalyzeState& st, TIntImage& res, const TRect& rect)
      : st_(st), res_(res), rect_(rect), by_id_(LabelSlots, nullptr) {}

  // A run of one class joins the first dot of its colour that has a pixel directly above it,
  // and every later such dot merges into that one; without such a dot it starts a new one.
  // Runs arrive from left to right within a row.
  void InsertLine(int32_t x0, int32_t x1, int32_t y, bool isblack, int32_t minw, int32_t maxw) {
    while (above_ < prev_.size() && prev_[above_].x1 < x0) ++above_;
    TDot* best = nullptr;
    for (size_t i = above_; i < prev_.size() && prev_[i].x0 <= x1; ++i) {
      TDot* d = Above(prev_[i], isblack);
      if (d && d->Outrect.Bottom >= y - 1 && Overlaps(d->LastLine, x0, x1) && (!best || d->ID < best->ID)) best = d;
    }
    TDot* d = best;
    if (best) {
      AddLineToDot(best, x0, x1, y, minw, maxw);
    } else {
      d = NewDot(x0, x1, y, isblack, minw, maxw);
    }
    cur_.push_back({x0, x1, d ? d->ID : uint16_t{0}, isblack});
  }

  // At the end of every row: the row's runs become the runs above the next row.
  void NextRow() {
    std::swap(prev_, cur_);
    cur_.clear();
    above_ = 0;
  }

  TDot* NewDot(int32_t x0, int32_t x1, int32_t y, bool is_black, int32_t minw, int32_t maxw) {
    // The last label stays the last: counting on would wrap the 16-bit counter back to labels
    // that are in use (or 0), and objects would share labels.
    if (st_.GDotID >= MaxDotID) return nullptr;
    ++st_.GDotID;
    auto owned = std::make_unique<TDot>();
    TDot* d = owned.get();
    d->ID = st_.GDotID;
    LabelRun(d, x0, x1, y);
    d->MinGray = platform::Wrap8(minw);
    d->MaxGray = platform::Wrap8(maxw);
    d->Outrect = {x0, y, x1 + 1, y};
    d->ActLine = {x0, x1};
    d->LastLine = {x0, x1};
    d->isblack = is_black;
    d->changed = true;
    d->border = x0 < rect_.Left + 2 || y < rect_.Top + 2 || x1 > rect_.Right - 2 || y > rect_.Bottom - 2;
    by_id_[d->ID] = d;
    joined_[d->ID] = d->ID;
    open_.push_back(d->ID);
    created_.push_back(std::move(owned));
    return d;
  }

  void AddLineToDot(TDot* adot, int32_t x0, int32_t x1, int32_t y, int32_t minw, int32_t maxw) {
    LabelRun(adot, x0, x1, y);
    const int32_t len = x1 - x0;
    if (adot->area >= 1) {
      const double mean = (static_cast<double>(adot->area - len) * adot->MinGray + static_cast<double>(len) * minw) /
                          adot->area;
      adot->MinGray = platform::Wrap8(platform::Round(mean));
    } else {
      adot->MinGray = platform::Wrap8(minw);
    }
    adot->MaxGray = platform::Wrap8(std::max<int32_t>(adot->MaxGray, maxw));
    adot->Outrect.Left = std::min(adot->Outrect.Left, x0);
    adot->Outrect.Right = std::max(adot->Outrect.Right, x1);
    adot->Outrect.Bottom = std::max(adot->Outrect.Bottom, y);
    if (x0 < adot->ActLine.x0 || adot->ActLine.x0 == 0) adot->ActLine.x0 = x0;
    if (x1 > adot->ActLine.x1 || adot->ActLine.x1 == 0) adot->ActLine.x1 = x1;
    adot->border = adot->border || x0 < rect_.Left + 2 || y < rect_.Top + 2 || x1 > rect_.Right - 2 ||
                   y > rect_.Bottom - 3;
    adot->changed = true;

    // Every later open dot of the same colour directly above the run joins this one.
    for (size_t i = above_; i < prev_.size() && prev_[i].x0 <= x1; ++i) {
      TDot* other = Above(prev_[i], adot->isblack);
      if (other && other->ID > adot->ID && !other->closed && other->Outrect.Bottom >= y - 1 &&
          Overlaps(other->LastLine, x0, x1)) {
        Merge(adot, other);
      }
    }
  }

  // After every row: the runs of this row become the previous row's, and a dot that received
  // no run in this row has ended.
  void UpdateDots() {
    size_t kept = 0;
    for (uint16_t id : open_) {
      TDot* d = by_id_[id];
      if (!d) continue;  // merged into another dot
      d->LastLine = d->ActLine;
      d->ActLine = {0, 0};
      if (!d->changed) {
        const int32_t w = d->Outrect.Right - d->Outrect.Left;
        const int32_t h = d->Outrect.Bottom - d->Outrect.Top;
        const double s = std::min(w, h);
        const double a = (s / 2) * (s / 2) * 3.14;
        double r = a != 0 ? d->area / a : 0;
        if (r > 1) r = 1 / r;
        d->radius = r * r;
        d->border = d->Outrect.Left < rect_.Left + 5 || d->Outrect.Top < rect_.Top + 5 ||
                    d->Outrect.Right > rect_.Right - 5 || d->Outrect.Bottom > rect_.Bottom - 5;
        d->closed = true;
        continue;
      }
      d->changed = false;
      open_[kept++] = id;
    }
    open_.resize(kept);
  }

  // Gives every pixel of a merged dot the label of the dot it finally joined.
  void Relabel() {
    if (!merged_) return;
    for (int32_t x = rect_.Left; x <= rect_.Right; ++x) {
      uint16_t* column = res_[x];
      for (int32_t y = rect_.Top; y <= rect_.Bottom; ++y) {
        const uint16_t label = LabelOf(column[y]);
        if (label == 0 || joined_[label] == label) continue;
        uint16_t root = label;
        while (joined_[root] != root) root = joined_[root];
        column[y] = static_cast<uint16_t>((column[y] & EdgeBits) | root);
      }
    }
  }

  // The dots in order of creation, linked; the detection gives up their ownership.
  TDot* TakeChain() {
    TDot* head = nullptr;
    TDot* tail = nullptr;
    for (auto& owned : created_) {
      if (!owned) continue;
      TDot* d = owned.release();
      d->next = nullptr;
      (tail ? tail->next : head) = d;
      tail = d;
    }
    created_.clear();
    return head;
  }

 private:
  // Counts the run's pixels to the dot (edge pixels to edgelen, the others to area) and gives
  // them its label.
  void LabelRun(TDot* d, int32_t x0, int32_t x1, int32_t y) {
    for (int32_t x = x0; x <= x1; ++x) {
      uint16_t& v = res_[x][y];
      if (IsEdge(v)) {
        ++d->edgelen;
      } else {
        ++d->area;
      }
      v = static_cast<uint16_t>(v | d->ID);
    }
  }

  // other joins keep, with its runs of the current row: a merged dot leaves nothing behind
  // that a later run could attach to. Its pixels, in every row it has, the current one
  // included, take keep's label when the detection ends (Relabel): runs find the dots above
  // them through the runs of the row above, never through the labels, so the labels need to
  // be right only at the end, and one pass then costs less than relabelling at every merge.
  void Merge(TDot* keep, TDot* other) {
    keep->area += other->area;
    keep->edgelen += other->edgelen;
    keep->Slur += other->Slur;
    keep->Outrect.Left = std::min(keep->Outrect.Left, other->Outrect.Left);
    keep->Outrect.Top = std::min(keep->Outrect.Top, other->Outrect.Top);
    keep->Outrect.Right = std::max(keep->Outrect.Right, other->Outrect.Right);
    keep->Outrect.Bottom = std::max(keep->Outrect.Bottom, other->Outrect.Bottom);
    keep->LastLine.x0 = std::min(keep->LastLine.x0, other->LastLine.x0);
    keep->LastLine.x1 = std::max(keep->LastLine.x1, other->LastLine.x1);
    if (other->ActLine.x0 != 0 || other->ActLine.x1 != 0) {
      if (keep->ActLine.x0 == 0 || other->ActLine.x0 < keep->ActLine.x0) keep->ActLine.x0 = other->ActLine.x0;
      if (keep->ActLine.x1 == 0 || other->ActLine.x1 > keep->ActLine.x1) keep->ActLine.x1 = other->ActLine.x1;
    }
    keep->border = keep->border || other->border;
    keep->changed = keep->changed || other->changed;

    merged_ = true;
    by_id_[other->ID] = nullptr;
    joined_[other->ID] = keep->ID;
    created_[static_cast<size_t>(other->ID - FirstDotID)].reset();
  }

  // One run of a row, with the label it got (0: none was left).
  struct Run {
    int32_t x0;
    int32_t x1;
    uint16_t id;
    bool black;
  };

  // The dot that now holds a run of the row above, when it has the wanted colour: the run's
  // pixels carry that dot's label, whatever merges happened since the run was labelled.
  TDot* Above(const Run& run, bool black) {
    if (run.id == 0 || run.black != black) return nullptr;
    uint16_t id = run.id;
    while (joined_[id] != id) id = joined_[id];
    return by_id_[id];
  }

  AnalyzeState& st_;
  TIntImage& res_;
  TRect rect_;
  std::vector<TDot*> by_id_;
  std::vector<uint16_t> joined_ = std::vector<uint16_t>(LabelSlots, 0);  // label -> the label it merged into
  std::vector<Run> prev_, cur_;  // the runs of the row above and of the current row
  size_t above_ = 0;             // the first run above that can still touch a run of this row
  bool merged_ = false;
  std::vector<uint16_t> open_;
  std::vector<std::unique_ptr<TDot>> created_;  // position = label - FirstDotID; empty once merged
};

}  // namespace

TDot* GetDots(AnalyzeState& st, const Bitmap& FromBit, Bitmap& NewBit, TIntImage& ResImage, const TIntImage& th,
              int32_t f, TRect aRect) {
  Require24Bit(FromBit, "GetDots");
  Require24Bit(NewBit, "GetDots");
  f = std::clamp(f, 0, 2);
  TrimImgSize(FromBit, aRect);
  aRect.Right = std::min({aRect.Right, NewBit.Width() - 1, ImWidth - 1});
  aRect.Bottom = std::min({aRect.Bottom, NewBit.Height() - 1, ImHeight - 1});
  st.GDotID = 1;
  if (aRect.Right - aRect.Left < 3 || aRect.Bottom - aRect.Top < 3) return nullptr;

  TDotDetection det(st, ResImage, aRect);
  const int32_t left = aRect.Left;
  const int32_t right = aRect.Right;
  // The last classified column is right - 2; the run open at the end of a row takes in the
  // column after it, as it always has.
  const int32_t row_end = right - 1;
  std::vector<uint8_t> colmax(static_cast<size_t>(right + 1)), colmin(static_cast<size_t>(right + 1));
  std::vector<uint8_t> nbmax(static_cast<size_t>(right + 1)), nbmin(static_cast<size_t>(right + 1));
  const size_t first = static_cast<size_t>(left + 1), last = static_cast<size_t>(right - 2);
  // The channel's bytes of the rows above, at and below the current one, each taken out of
  // its scan line once.
  std::vector<uint8_t> lines[3];
  const auto extract = [&](std::vector<uint8_t>& out, int32_t y) {
    out.resize(static_cast<size_t>(right + 1));
    const uint8_t* src = FromBit.ScanLine(y) + f;
    for (size_t x = static_cast<size_t>(left); x <= static_cast<size_t>(row_end); ++x) out[x] = src[3 * x];
  };
  extract(lines[0], aRect.Top);
  extract(lines[1], aRect.Top + 1);

  for (int32_t y = aRect.Top + 1; y <= aRect.Bottom - 2; ++y) {
    const uint8_t* row = FromBit.ScanLine(y);
    uint8_t* disp = NewBit.ScanLine(y);
    std::vector<uint8_t>& up = lines[(y - 1 - aRect.Top) % 3];
    std::vector<uint8_t>& mid = lines[(y - aRect.Top) % 3];
    std::vector<uint8_t>& down = lines[(y + 1 - aRect.Top) % 3];
    extract(down, y + 1);
    // The largest and smallest byte of every 3 x 3 neighbourhood of the row.
    for (size_t x = static_cast<size_t>(left); x <= static_cast<size_t>(row_end); ++x) {
      colmax[x] = std::max(std::max(up[x], mid[x]), down[x]);
      colmin[x] = std::min(std::min(up[x], mid[x]), down[x]);
    }
    for (size_t x = first; x <= last; ++x) {
      nbmax[x] = std::max(std::max(colmax[x - 1], colmax[x]), colmax[x + 1]);
      nbmin[x] = std::min(std::min(colmin[x - 1], colmin[x]), colmin[x + 1]);
    }
    // The display is the source with the edges coloured in.
    if (disp != row) std::memmove(disp + 3 * first, row + 3 * first, 3 * (last + 1 - first));

    bool black_open = false, white_open = false;
    int32_t xb = 0, xw = 0;
    int32_t d = 0, m = 0;
    bool prev_edge = IsEdge(ResImage[left][y]);
    for (int32_t x = left + 1; x <= right - 2; ++x) {
      const size_t px = 3 * static_cast<size_t>(x);
      const size_t ux = static_cast<size_t>(x);
      const int32_t c = mid[ux];
      const int32_t t = th[x][y];
      const bool dark = c < t;
      uint16_t v = 0;
      if (dark) {
        if (nbmax[ux] >= t) v = EdgeK;
      } else {
        if (nbmin[ux] < t) v = EdgeW;
      }
      ResImage[x][y] = v;
      if (v == 0 && !prev_edge) {
        const int32_t g = std::abs(c - mid[ux - 1]);
        d += 10 * g;
        m = std::max(m, g);
      }
      prev_edge = v != 0;
      if (dark) {
        if (!black_open) {
          black_open = true;
          xb = x;
        }
        if (white_open) {
          det.InsertLine(xw, x - 1, y, false, d / (x - xw), m);
          white_open = false;
          d = 0;
          m = 0;
        }
      } else {
        if (!white_open) {
          white_open = true;
          xw = x;
        }
        if (black_open) {
          det.InsertLine(xb, x - 1, y, true, d / (x - xb), m);
          black_open = false;
          d = 0;
          m = 0;
        }
      }
      if (v == EdgeK) {
        disp[px] = 0, disp[px + 1] = 0, disp[px + 2] = 255;
      } else if (v == EdgeW) {
        disp[px] = 0, disp[px + 1] = 255, disp[px + 2] = 255;
      }
    }
    if (black_open) {
      det.InsertLine(xb, row_end, y, true, d / (row_end + 2 - xb), m);
    } else if (white_open) {
      det.InsertLine(xw, row_end, y, false, d / (row_end + 2 - xw), m);
    }
    det.UpdateDots();
    det.NextRow();
  }
  det.Relabel();
  return det.TakeChain();
}

TDot* GetDots(const Bitmap& FromBit, Bitmap& NewBit, TIntImage& ResImage, const TIntImage& th, int32_t f,
              TRect aRect) {
  return GetDots(Analysis(), FromBit, NewBit, ResImage, th, f, aRect);
}

bool PixInRange(int32_t ID, int32_t x0, int32_t x1, int32_t y, const TIntImage& ResImage) {
  for (int32_t x = std::max(x0, 0); x <= x1 && x <= ImWidth; ++x) {
    if (LabelOf(At(ResImage, x, y)) == ID) return true;
  }
  return false;
}

// ---- Lookup and lists ----

TDot* GetDot(TDot* aDots, int32_t DotID) {
  for (TDot* d = aDots; d; d = d->next) {
    if (d->ID == DotID) return d;
  }
  return nullptr;
}

TSDotList* GetSDot(TSDotList* aDots, int32_t DotID) {
  for (TSDotList* e = aDots; e; e = e->next) {
    if (e->aDot && e->aDot->ID == DotID) return e;
  }
  return nullptr;
}

void CollectInnerIDs(TSDotList* list, std::bitset<LabelSlots>& ids) {
  std::vector<TSDotList*> todo;
  if (list) todo.push_back(list);
  while (!todo.empty()) {
    TSDotList* e = todo.back();
    todo.pop_back();
    for (; e; e = e->next) {
      if (!e->aDot || ids.test(e->aDot->ID)) continue;
      ids.set(e->aDot->ID);
      if (e->aDot->InnerDots) todo.push_back(e->aDot->InnerDots);
    }
  }
}

bool DotInInnerDotsRec(TSDotList* aDots, int32_t DotID) {
  if (DotID < 0 || DotID >= LabelSlots) return false;
  // Nested dots list their inner dots' inner dots too, so a plain recursive walk would visit
  // the same lists over and over; collecting each dot once keeps the test linear.
  std::bitset<LabelSlots> ids;
  CollectInnerIDs(aDots, ids);
  return ids.test(static_cast<size_t>(DotID));
}

TDotList* NewDotList(TDot* Dots, TDotList* next) {
  auto* e = new TDotList;
  e->dots = Dots;
  e->next = next;
  return e;
}

TSDotList* NewSDotList(TDot* Dots, TSDotList* next) {
  auto* e = new TSDotList;
  e->aDot = Dots;
  e->next = next;
  return e;
}

TDotIndex::TDotIndex(TDot* chain) : dots_(LabelSlots, nullptr) {
  for (TDot* d = chain; d; d = d->next) {
    const int32_t id = LabelOf(d->ID);
    if (!dots_[static_cast<size_t>(id)]) dots_[static_cast<size_t>(id)] = d;
  }
}

// ---- Inner dots ----

namespace {

// Appends the dot to the end of list unless it is there already; returns the entry.
TSDotList* AddIDToList(TSDotList*& list, TDot* dot, bool isInner) {
  TSDotList** tail = &list;
  for (; *tail; tail = &(*tail)->next) {
    if ((*tail)->aDot == dot) return *tail;
  }
  *tail = NewSDotList(dot, nullptr);
  (*tail)->isInner = isInner;
  return *tail;
}

// Scratch of the inner-dot searches: one slot per label, reset after each use.
struct InnerScratch {
  std::vector<TDotID*> entry_of{std::vector<TDotID*>(LabelSlots, nullptr)};
  std::vector<uint8_t> seen{std::vector<uint8_t>(LabelSlots, 0)};
};

// Finds or appends the label's entry of the temporary list; new entries start inner.
TDotID* AddToDotID(TDotID*& head, TDotID*& tail, InnerScratch& s, uint16_t id) {
  if (TDotID* e = s.entry_of[id]) return e;
  auto* e = new TDotID;
  e->ID = id;
  e->isInner = true;
  (tail ? tail->next : head) = e;
  tail = e;
  s.entry_of[id] = e;
  return e;
}

// The 2x2 test: an object stays inner only while the four pixels ending at (x, y) all belong
// to the outer dot or to the object itself.
void AddInnerPoint(TDotID* e, const TIntImage& res, int32_t x, int32_t y, uint16_t outer) {
  if (!e->isInner) return;
  const int32_t xs[4] = {x - 1, x, x - 1, x};
  const int32_t ys[4] = {y - 1, y - 1, y, y};
  for (int k = 0; k < 4; ++k) {
    const uint16_t l = LabelOf(At(res, xs[k], ys[k]));
    if (l != outer && l != e->ID) {
      e->isInner = false;
      return;
    }
  }
}

void GetInnerDotsPlain(const TDotIndex& idx, TDot* aDot, const TIntImage& res, InnerScratch& s) {
  TDotID* head = nullptr;
  TDotID* tail = nullptr;
  const TRect r = ScanArea(aDot->Outrect);
  for (int32_t y = r.Top; y <= r.Bottom; ++y) {
    for (int32_t x = r.Left; x <= r.Right; ++x) {
      const uint16_t v = res[x][y];
      if (!IsEdge(v) || LabelOf(v) == aDot->ID) continue;
      AddInnerPoint(AddToDotID(head, tail, s, LabelOf(v)), res, x, y, aDot->ID);
    }
  }
  for (TDotID* e = head; e; e = e->next) {
    s.entry_of[e->ID] = nullptr;
    if (!e->isInner) continue;
    TDot* inner = idx[e->ID];
    if (inner && inner != aDot && RectInside(inner->Outrect, aDot->Outrect)) {
      AddIDToList(aDot->InnerDots, inner, false);
    }
  }
  FreeDotIDList(head);
}

// Drops the entries whose isInner is false.
void RemoveNonID(TDot* aDot) {
  TSDotList** link = &aDot->InnerDots;
  while (*link) {
    if (!(*link)->isInner) {
      TSDotList* gone = *link;
      *link = gone->next;
      delete gone;
    } else {
      link = &(*link)->next;
    }
  }
}

void GetInnerDotsRecursive(const TDotIndex& idx, TDot* aDot, const TIntImage& res, InnerScratch& s) {
  FreeSDotList(aDot->InnerDots);
  aDot->InnerDots = nullptr;
  aDot->IDSearch = true;

  // Foreign labels on edge pixels, in the order they are first met.
  std::vector<uint16_t> found;
  const TRect r = ScanArea(aDot->Outrect);
  for (int32_t y = r.Top; y <= r.Bottom; ++y) {
    for (int32_t x = r.Left; x <= r.Right; ++x) {
      const uint16_t v = res[x][y];
      if (!IsEdge(v)) continue;
      const uint16_t l = LabelOf(v);
      if (l == aDot->ID || s.seen[l]) continue;
      s.seen[l] = 1;
      found.push_back(l);
    }
  }
  for (uint16_t l : found) s.seen[l] = 0;

  for (uint16_t l : found) {
    TDot* inner = idx[l];
    if (!inner || inner == aDot || !RectInside(inner->Outrect, aDot->Outrect)) continue;
    if (!inner->IDSearch) GetInnerDotsRecursive(idx, inner, res, s);
    // Every pixel of the 2x2 test belongs to the outer dot or to one of its listed inner
    // dots from this entry on, so the test always holds: the entry stays inner.
    AddIDToList(aDot->InnerDots, inner, true);
  }
  RemoveNonID(aDot);
}

}  // namespace

void GetInnerDots(TDot* GDots, TDot* aDot, const TIntImage& ResImage) {
  if (!aDot) return;
  TDotIndex idx(GDots);
  InnerScratch s;
  GetInnerDotsPlain(idx, aDot, ResImage, s);
}

void GetAllInnerDots(TDot* GDots, const TIntImage& ResImage) {
  TDotIndex idx(GDots);
  InnerScratch s;
  for (TDot* d = GDots; d; d = d->next) {
    if (!d->IDSearch) GetInnerDotsPlain(idx, d, ResImage, s);
  }
}

void GetInnerDotsRec(TDot* GDots, TDot* aDot, const TIntImage& ResImage) {
  if (!aDot) return;
  TDotIndex idx(GDots);
  InnerScratch s;
  GetInnerDotsRecursive(idx, aDot, ResImage, s);
}

void GetAllInnerDotsRec(TDot* GDots, const TIntImage& ResImage) {
  TDotIndex idx(GDots);
  InnerScratch s;
  for (TDot* d = GDots; d; d = d->next) {
    if (!d->IDSearch) GetInnerDotsRecursive(idx, d, ResImage, s);
  }
}

// ---- Freeing ----

void Freedots(TDot* chain) {
  while (chain) {
    TDot* next = chain->next;
    FreeSDotList(chain->InnerDots);
    delete chain;
    chain = next;
  }
}

void FreeSDotList(TSDotList* list) {
  while (list) {
    TSDotList* next = list->next;
    delete list;
    list = next;
  }
}

void FreeDotListSimple(TDotList* list) {
  while (list) {
    TDotList* next = list->next;
    delete list;
    list = next;
  }
}

void FreeDotIDList(TDotID* list) {
  while (list) {
    TDotID* next = list->next;
    delete list;
    list = next;
  }
}

}  // namespace analysis
