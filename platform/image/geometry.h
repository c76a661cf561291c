#pragma once
// Integer points and rectangles in pixel coordinates (x to the right, y downwards), shared by
// the bitmaps, the drawing canvas and the analysis.
#include <cstdint>

namespace platform {

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend constexpr bool operator==(const TPoint&, const TPoint&) = default;
};

// Whether Right and Bottom are inclusive or one past the edge is up to each user and said
// there: the image helpers clamp inclusive pixel coordinates, a canvas fills up to but
// excluding Right and Bottom.
struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

}  // namespace platform
