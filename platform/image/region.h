#pragma once
// Polygon regions with the nonzero winding rule, as sets of pixels.
//
// Pixel rule: pixel (x, y) is the unit square centred on the integer point (x, y); it is in
// the region when its centre is inside the polygon. A centre that lies exactly on an edge is
// in when the edge is a left or a top edge of the region and out when it is a right or a
// bottom edge, so that two polygons sharing an edge never share a pixel and the rectangle
// (0, 0)-(w, 0)-(w, h)-(0, h) holds exactly the pixels 0..w-1 x 0..h-1.
//
// Formally: the centre's winding number counts the edges that cross the horizontal line
// through it strictly to its right, each edge taken over the half-open range of rows from its
// upper end (in) to its lower end (out), +1 going down and -1 going up; horizontal edges
// cross nothing. The pixel is in when that number is not 0. Crossings are computed exactly in
// integers, so the rule holds at every vertex and on every edge.
#include <cstdint>
#include <span>
#include <vector>

#include "platform/image/geometry.h"

namespace platform {

class TRegion {
 public:
  // The empty region.
  TRegion() = default;

  // The region of a closed polygon (the last vertex joins the first) under the winding rule.
  // Fewer than three vertices give the empty region.
  static TRegion Polygon(std::span<const TPoint> points);
  // The pixels left..right-1 x top..bottom-1.
  static TRegion Rect(const TRect& r);

  bool Empty() const { return rows_.empty(); }
  // PtInRegion: whether pixel (x, y) is in the region.
  bool Contains(int32_t x, int32_t y) const;
  // The smallest rectangle holding every pixel of the region (Right and Bottom excluded);
  // all zero for the empty region.
  TRect Bounds() const;
  // Number of pixels in the region.
  int64_t PixelCount() const;

  // Runs of pixels left..right-1 of one row.
  struct Span {
    int32_t left;
    int32_t right;
  };
  // The spans of row y, left to right, disjoint and not touching; empty outside the region.
  std::span<const Span> Row(int32_t y) const;
  int32_t Top() const { return top_; }
  int32_t Bottom() const { return top_ + static_cast<int32_t>(rows_.size()); }  // excluded

 private:
  int32_t top_ = 0;
  std::vector<std::vector<Span>> rows_;
};

}  // namespace platform
