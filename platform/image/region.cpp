#include "platform/image/region.h"

#include <algorithm>
#include <limits>

namespace platform {

namespace {

// A crossing of an edge with a row: at x = num / den (den > 0), direction +1 down, -1 up.
struct Crossing {
  int64_t num;
  int64_t den;
  int dir;
};

// Floor of num / den for den > 0.
int64_t FloorDiv(int64_t num, int64_t den) {
  int64_t q = num / den;
  if ((num % den != 0) && (num < 0)) --q;
  return q;
}

// The first pixel whose centre lies at or right of the crossing: ceil(num / den).
int64_t Key(const Crossing& c) { return -FloorDiv(-c.num, c.den); }

}  // namespace

TRegion TRegion::Polygon(std::span<const TPoint> points) {
  TRegion r;
  if (points.size() < 3) return r;
  int64_t top = std::numeric_limits<int64_t>::max(), bottom = std::numeric_limits<int64_t>::min();
  for (const TPoint& p : points) {
    top = std::min<int64_t>(top, p.Y);
    bottom = std::max<int64_t>(bottom, p.Y);
  }
  if (top == bottom) return r;
  r.top_ = static_cast<int32_t>(top);
  r.rows_.resize(static_cast<size_t>(bottom - top));  // the bottom-most row is a lower end: out

  std::vector<Crossing> xs;
  for (int64_t y = top; y < bottom; ++y) {
    xs.clear();
    for (size_t i = 0; i < points.size(); ++i) {
      const TPoint a = points[i];
      const TPoint b = points[(i + 1) % points.size()];
      if (a.Y == b.Y) continue;
      const bool down = b.Y > a.Y;
      const TPoint& up_end = down ? a : b;
      const TPoint& low_end = down ? b : a;
      if (y < up_end.Y || y >= low_end.Y) continue;
      // x = up.X + (y - up.Y) (low.X - up.X) / (low.Y - up.Y)
      const int64_t den = int64_t{low_end.Y} - up_end.Y;
      const int64_t num = int64_t{up_end.X} * den + (y - up_end.Y) * (int64_t{low_end.X} - up_end.X);
      xs.push_back({num, den, down ? 1 : -1});
    }
    // Pixel x counts the crossings strictly right of its centre; since the directions of a
    // row sum to 0, that is minus the sum over the crossings at or left of it. A crossing
    // joins that sum from the first pixel at or right of it on, so sorting by that pixel lets
    // a walk from the left collect the spans.
    std::sort(xs.begin(), xs.end(), [](const Crossing& p, const Crossing& q) { return Key(p) < Key(q); });
    std::vector<Span>& row = r.rows_[static_cast<size_t>(y - top)];
    int winding = 0;
    size_t k = 0;
    while (k < xs.size()) {
      const int64_t x = Key(xs[k]);
      const bool was_in = winding != 0;
      while (k < xs.size() && Key(xs[k]) == x) winding += xs[k++].dir;
      const bool now_in = winding != 0;
      if (!was_in && now_in) {
        row.push_back({static_cast<int32_t>(x), static_cast<int32_t>(x)});
      } else if (was_in && !now_in) {
        row.back().right = static_cast<int32_t>(x);
      }
    }
  }
  // Trim empty rows at both ends.
  size_t first = 0;
  while (first < r.rows_.size() && r.rows_[first].empty()) ++first;
  size_t last = r.rows_.size();
  while (last > first && r.rows_[last - 1].empty()) --last;
  r.rows_ = std::vector<std::vector<Span>>(r.rows_.begin() + static_cast<ptrdiff_t>(first),
                                           r.rows_.begin() + static_cast<ptrdiff_t>(last));
  r.top_ += static_cast<int32_t>(first);
  if (r.rows_.empty()) r.top_ = 0;
  return r;
}

TRegion TRegion::Rect(const TRect& rc) {
  TRegion r;
  if (rc.Right <= rc.Left || rc.Bottom <= rc.Top) return r;
  r.top_ = rc.Top;
  r.rows_.assign(static_cast<size_t>(rc.Bottom - rc.Top), std::vector<Span>{{rc.Left, rc.Right}});
  return r;
}

std::span<const TRegion::Span> TRegion::Row(int32_t y) const {
  if (y < top_ || y >= Bottom()) return {};
  return rows_[static_cast<size_t>(y - top_)];
}

bool TRegion::Contains(int32_t x, int32_t y) const {
  const std::span<const Span> row = Row(y);
  auto it = std::upper_bound(row.begin(), row.end(), x, [](int32_t v, const Span& s) { return v < s.left; });
  if (it == row.begin()) return false;
  --it;
  return x < it->right;
}

TRect TRegion::Bounds() const {
  if (rows_.empty()) return {};
  int32_t left = std::numeric_limits<int32_t>::max(), right = std::numeric_limits<int32_t>::min();
  for (const auto& row : rows_) {
    if (row.empty()) continue;
    left = std::min(left, row.front().left);
    right = std::max(right, row.back().right);
  }
  return {left, top_, right, Bottom()};
}

int64_t TRegion::PixelCount() const {
  int64_t n = 0;
  for (const auto& row : rows_)
    for (const Span& s : row) n += s.right - s.left;
  return n;
}

}  // namespace platform
