#include "analysis/analyze_dotsize.h"
#include "analysis/myimage.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <vector>

#include "platform/base/numeric.h"

namespace analysis {

namespace {

uint16_t At(const TIntImage& img, int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x > ImWidth || y > ImHeight) return 0;
  return img[x][y];
}

// The dot's bounding rectangle inside the image area of the label image and, when given, of
// the bitmap the gray values come from.
TRect ScanArea(const TRect& r, const Bitmap* bmp = nullptr) {
  TRect a{std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, ImWidth - 1), std::min(r.Bottom, ImHeight - 1)};
  if (bmp) {
    a.Right = std::min(a.Right, bmp->Width() - 1);
    a.Bottom = std::min(a.Bottom, bmp->Height() - 1);
  }
  return a;
}

// All nine pixels of the 3x3 neighbourhood carry one of the accepted labels.
template <typename Accept>
bool Enclosed(const TIntImage& res, int32_t x, int32_t y, Accept accept) {
  for (int32_t yy = y - 1; yy <= y + 1; ++yy) {
    for (int32_t xx = x - 1; xx <= x + 1; ++xx) {
      if (!accept(LabelOf(At(res, xx, yy)))) return false;
    }
  }
  return true;
}

// The labels of the dot's own inner-dot list, without their inner dots.
std::bitset<LabelSlots> OwnInnerIDs(const TDot* d) {
  std::bitset<LabelSlots> ids;
  for (TSDotList* e = d->InnerDots; e; e = e->next) {
    if (e->aDot) ids.set(LabelOf(e->aDot->ID));
  }
  return ids;
}

// The pass over the bounding rectangle that both size routines share: own pixels, inner-dot
// pixels and enclosed edge pixels count to the area and the centre; the remaining own edge
// pixels to the edge. own_pixel is called for every own pixel without edge bits.
template <typename OwnPixel>
void CountDot(TDot* d, TIntImage& res, const TRect& r, const std::bitset<LabelSlots>& inner, int32_t& area,
              int32_t& edgelen, int64_t& sx, int64_t& sy, OwnPixel own_pixel) {
  const uint16_t id = d->ID;
  const auto mine = [&](uint16_t l) { return l == id || inner.test(l); };
  for (int32_t y = r.Top; y <= r.Bottom; ++y) {
    for (int32_t x = r.Left; x <= r.Right; ++x) {
      uint16_t& v = res[x][y];
      const uint16_t l = LabelOf(v);
      if (v == id) {
        ++area;
        sx += x;
        sy += y;
        own_pixel(x, y);
      } else if (l != id && inner.test(l)) {
        ++d->iarea;
        ++area;
        sx += x;
        sy += y;
      } else if (l == id) {
        if (Enclosed(res, x, y, mine)) {
          v = static_cast<uint16_t>(v | EdgeBits);
          ++d->iedge;
          ++area;
          sx += x;
          sy += y;
        } else {
          ++edgelen;
        }
      }
    }
  }
}

}  // namespace

void GetDotSize(TDot* aDot, const Bitmap& FromBit, TIntImage& ResImage, int32_t THDotVoid, int32_t Color,
                int32_t& area, int32_t& edgelen) {
  area = 0;
  edgelen = 0;
  if (!aDot) return;
  Require24Bit(FromBit, "GetDotSize");
  Color = std::clamp(Color, 0, 2);
  aDot->iarea = 0;
  aDot->iedge = 0;

  std::bitset<LabelSlots> inner;
  CollectInnerIDs(aDot->InnerDots, inner);
  inner.reset(LabelOf(aDot->ID));

  const TRect r = ScanArea(aDot->Outrect, &FromBit);
  int64_t sx = 0, sy = 0;
  int64_t n = 0, s = 0, q = 0;
  CountDot(aDot, ResImage, r, inner, area, edgelen, sx, sy, [&](int32_t x, int32_t y) {
    const uint8_t* p = FromBit.ScanLine(y) + 3 * static_cast<size_t>(x);
    const int64_t g = (p[0] + p[1] + p[2]) / 3;
    ++n;
    s += g;
    q += g * g;
    if (p[Color] > THDotVoid) ++aDot->iarea;
  });

  if (area > 0) {
    aDot->swp = {static_cast<int32_t>(sx / area), static_cast<int32_t>(sy / area)};
    if (n < 2) {
      aDot->MeanGray = platform::Wrap8(s);
      aDot->StdGray = 0;
    } else {
      const int64_t m = s / n;
      aDot->MeanGray = platform::Wrap8(m);
      const double nn = static_cast<double>(n);
      const double v = nn * (static_cast<double>(q) / nn - static_cast<double>(m * m)) / (nn - 1);
      aDot->StdGray = static_cast<uint8_t>(std::clamp(platform::Round(v / area), 0, 255));
    }
  }

  // The outline: the distances of the remaining edge pixels (exactly one edge bit) from the
  // centre.
  int32_t k = 0;
  double sr = 0, sr2 = 0, hd = 0, ld = 1280;
  const uint16_t id = aDot->ID;
  for (int32_t y = r.Top; y <= r.Bottom; ++y) {
    for (int32_t x = r.Left; x <= r.Right; ++x) {
      const uint16_t v = ResImage[x][y];
      if (LabelOf(v) != id || (v & EdgeBits) == 0 || (v & EdgeBits) == EdgeBits) continue;
      const double dx = x - aDot->swp.X, dy = y - aDot->swp.Y;
      const double dist = std::sqrt(dx * dx + dy * dy);
      ++k;
      sr += dist;
      sr2 += dist * dist;
      hd = std::max(hd, dist);
      ld = std::min(ld, dist);
    }
  }
  aDot->roundness = 0;
  if (k >= 2) {
    const double mean = sr / k;
    const double var = k * (sr2 / k - mean * mean) / (k - 1);
    if (var > 0) aDot->roundness = std::sqrt(var);
  }
  aDot->Slur = ld > 0 ? platform::Round(hd) : 0;
}

void GetDotSizeMask(TDot* aDot, TIntImage& ResImage, int32_t& area, double ad, int32_t& edgelen) {
  area = 0;
  edgelen = 0;
  if (!aDot) return;
  aDot->iarea = 0;
  aDot->iedge = 0;
  std::bitset<LabelSlots> inner = OwnInnerIDs(aDot);
  inner.reset(LabelOf(aDot->ID));

  int64_t sx = 0, sy = 0;
  int32_t pixels = 0, edge = 0;
  CountDot(aDot, ResImage, ScanArea(aDot->Outrect), inner, pixels, edge, sx, sy, [](int32_t, int32_t) {});
  if (pixels > 0) {
    aDot->swp = {static_cast<int32_t>(sx / pixels), static_cast<int32_t>(sy / pixels)};
    pixels = platform::Round(pixels + aDot->iedge + aDot->edgelen * ad);
  }
  // The out-values may be the dot's own fields, so they are written last.
  area = pixels;
  edgelen = edge;
}

namespace {

using FindDot = std::function<TDot*(int32_t)>;

// Merges aDot into the object around it: the first foreign label beside one of its edge
// pixels (the object around a speck). An object on the border of the analysed area is not
// merged: it keeps its pixels and its label. Such an object is the ground of a screen or a dot
// cut by the border; handing it to the object beside it would give a measured dot the ground's
// pixels, and passing the ground on from one border object to the next would relabel it again
// and again.
//
// The pixels relabelled are those of aDot's label connected to the ones inside its rectangle,
// so that pixels an earlier merge gave it outside that rectangle go with it; the target's
// rectangle grows over them.
void MergeIntoSurrounding(const FindDot& find, TDot* aDot, TIntImage& res) {
  if (!aDot || aDot->border) return;
  const uint16_t id = aDot->ID;
  const TRect r = ScanArea(aDot->Outrect);

  // The surrounding object: the first foreign label beside an edge pixel of the dot.
  uint16_t t = 0;
  for (int32_t y = r.Top; y <= r.Bottom && t == 0; ++y) {
    for (int32_t x = r.Left; x <= r.Right && t == 0; ++x) {
      const uint16_t v = res[x][y];
      if (LabelOf(v) != id || !IsEdge(v)) continue;
      const auto foreign = [&](int32_t xx, int32_t yy) {
        const uint16_t l = LabelOf(At(res, xx, yy));
        return l != id && l != 0 ? l : uint16_t{0};
      };
      if (x >= 3) t = foreign(x - 1, y);
      if (t == 0 && y >= 3) t = foreign(x, y - 1);
      if (t == 0 && x < 1278) t = foreign(x + 1, y);
      if (t == 0 && y < 1278) t = foreign(x, y + 1);
    }
  }
  if (t == 0) return;

  const auto joint = [&](uint16_t l) { return l == t || l == id; };
  int32_t a = 0, e = 0;
  // The merged pixels, found by growing from the ones inside the rectangle over the label
  // (8-connected); a pixel leaves the label as it is taken, which marks it as visited.
  std::vector<TPoint> merged;
  std::vector<TPoint> todo;
  TRect box{ImWidth, ImHeight, -1, -1};
  const auto take = [&](int32_t x, int32_t y) {
    uint16_t& v = res[x][y];
    if (LabelOf(v) != id) return;
    if (!IsEdge(v)) {
      v = t;
      ++a;
    } else if (Enclosed(res, x, y, joint)) {
      // An edge pixel of the merged dot that the joint object surrounds is interior now.
      v = t;
      ++a;
    } else {
      v = static_cast<uint16_t>(t | EdgeBits);
      ++e;
    }
    merged.push_back({x, y});
    todo.push_back({x, y});
    box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x), std::max(box.Bottom, y)};
  };
  for (int32_t y = r.Top; y <= r.Bottom; ++y)
    for (int32_t x = r.Left; x <= r.Right; ++x) take(x, y);
  while (!todo.empty()) {
    const TPoint p = todo.back();
    todo.pop_back();
    for (int32_t yy = std::max(p.Y - 1, 0); yy <= std::min(p.Y + 1, ImHeight - 1); ++yy)
      for (int32_t xx = std::max(p.X - 1, 0); xx <= std::min(p.X + 1, ImWidth - 1); ++xx) take(xx, yy);
  }
  // Edge pixels of the target beside the merged pixels that the joint object now surrounds
  // become interior.
  for (const TPoint& p : merged) {
    for (int32_t yy = std::max(p.Y - 1, 0); yy <= std::min(p.Y + 1, ImHeight - 1); ++yy) {
      for (int32_t xx = std::max(p.X - 1, 0); xx <= std::min(p.X + 1, ImWidth - 1); ++xx) {
        uint16_t& v = res[xx][yy];
        if (LabelOf(v) == t && IsEdge(v) && Enclosed(res, xx, yy, joint)) {
          v = t;
          --e;
          ++a;
        }
      }
    }
  }
  if (TDot* target = find(t)) {
    target->area += a;
    target->edgelen += e;
    if (!merged.empty()) {
      TRect& o = target->Outrect;
      o = {std::min(o.Left, box.Left), std::min(o.Top, box.Top), std::max(o.Right, box.Right),
           std::max(o.Bottom, box.Bottom)};
    }
  }
}

// Walks the chain, merges and frees every rejected dot, and returns the new head.
template <typename Reject>
TDot* FilterChain(TDot* GDots, TDot* root, TIntImage& res, Reject reject) {
  TDotIndex idx(GDots);
  const FindDot find = [&](int32_t id) { return idx[id]; };
  TDot* head = root;
  TDot** link = &head;
  while (*link) {
    TDot* d = *link;
    if (reject(*d)) {
      MergeIntoSurrounding(find, d, res);
      idx.Forget(d->ID);
      *link = d->next;
      d->next = nullptr;
      Freedots(d);
    } else {
      link = &d->next;
    }
  }
  return head;
}

bool Ragged(const TDot& d) { return static_cast<double>(d.edgelen) / d.area > 5; }

}  // namespace

void RemoveSmallObject(TDot* GDots, TDot* aDot, TIntImage& ResImage) {
  MergeIntoSurrounding([GDots](int32_t id) { return GetDot(GDots, id); }, aDot, ResImage);
}

TDot* RemoveSmallObjects(TDot* GDots, TDot* root, TIntImage& ResImage, int32_t Size) {
  return FilterChain(GDots, root, ResImage, [&](const TDot& d) {
    return d.edgelen + d.area < Size || d.area < 3 || Ragged(d) || d.border;
  });
}

TDot* RemoveSmallBigObjects(TDot* GDots, TDot* root, TIntImage& ResImage, int32_t bsmall, int32_t bbig,
                            int32_t wsmall, int32_t wbig) {
  return FilterChain(GDots, root, ResImage, [&](const TDot& d) {
    return (d.isblack && (d.area < bsmall || d.area > bbig)) || (!d.isblack && (d.area < wsmall || d.area > wbig)) ||
           d.area <= 2 || Ragged(d) || d.border;
  });
}

TDot* RemoveLargeObjects(TDot* GDots, TDot* root, TIntImage& ResImage, bool isBlack, int32_t small, int32_t large) {
  return FilterChain(GDots, root, ResImage, [&](const TDot& d) {
    return d.edgelen + d.area > large || d.area < small || d.isblack == isBlack || d.border;
  });
}

}  // namespace analysis
