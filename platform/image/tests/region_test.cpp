#include "platform/image/region.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace platform {
namespace {

// The winding number of the pixel centre (px, py), edge by edge: each edge that crosses the
// row through the centre (from its upper end, in, to its lower end, out) strictly right of the
// centre adds +1 going down and -1 going up. Exact in integers.
int Winding(const std::vector<TPoint>& poly, int64_t px, int64_t py) {
  int w = 0;
  for (size_t i = 0; i < poly.size(); ++i) {
    const TPoint a = poly[i], b = poly[(i + 1) % poly.size()];
    if (a.Y < b.Y) {  // going down
      if (a.Y <= py && py < b.Y && (a.X - px) * (b.Y - a.Y) + (py - a.Y) * (b.X - a.X) > 0) ++w;
    } else if (b.Y < a.Y) {  // going up
      if (b.Y <= py && py < a.Y && (b.X - px) * (a.Y - b.Y) + (py - b.Y) * (a.X - b.X) > 0) --w;
    }
  }
  return w;
}

TEST(TRegion, EveryPixelAgreesWithTheWindingNumberOfItsCentre) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> coord(-6, 40);
  std::uniform_int_distribution<int> count(3, 11);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<TPoint> poly(static_cast<size_t>(count(rng)));
    for (TPoint& p : poly) p = {coord(rng), coord(rng)};
    if (trial % 3 == 0)  // many vertices and edges on whole rows and columns
      for (TPoint& p : poly) p = {p.X / 8 * 8, p.Y / 8 * 8};
    const TRegion r = TRegion::Polygon(poly);
    int64_t count_in = 0;
    for (int y = -10; y <= 45; ++y)
      for (int x = -10; x <= 45; ++x) {
        const bool want = Winding(poly, x, y) != 0;
        ASSERT_EQ(r.Contains(x, y), want) << "trial " << trial << " pixel " << x << "," << y;
        count_in += want;
      }
    EXPECT_EQ(r.PixelCount(), count_in);
  }
}

TEST(TRegion, ShapesSharingAnEdgeShareNoPixel) {
  // A square cut along its diagonal, and a star whose arms overlap (winding 2 inside).
  const std::vector<TPoint> square{{0, 0}, {9, 0}, {9, 7}, {0, 7}};
  const std::vector<TPoint> upper{{0, 0}, {9, 0}, {9, 7}};
  const std::vector<TPoint> lower{{0, 0}, {9, 7}, {0, 7}};
  const TRegion s = TRegion::Polygon(square), u = TRegion::Polygon(upper), l = TRegion::Polygon(lower);
  EXPECT_EQ(s.PixelCount(), 63);
  EXPECT_EQ(s.Bounds(), (TRect{0, 0, 9, 7}));
  for (int y = -1; y <= 8; ++y)
    for (int x = -1; x <= 10; ++x) EXPECT_EQ(s.Contains(x, y), u.Contains(x, y) + l.Contains(x, y)) << x << "," << y;

  const TRegion star = TRegion::Polygon(std::vector<TPoint>{{10, 0}, {16, 20}, {0, 7}, {20, 7}, {4, 20}});
  EXPECT_TRUE(star.Contains(10, 10)) << "the centre has winding number 2";
  EXPECT_EQ(TRegion::Rect({2, 3, 5, 4}).PixelCount(), 3);
  EXPECT_TRUE(TRegion::Polygon(std::vector<TPoint>{{0, 0}, {5, 5}}).Empty());
  EXPECT_TRUE(TRegion::Polygon(std::vector<TPoint>{{0, 3}, {5, 3}, {9, 3}}).Empty());
}

}  // namespace
}  // namespace platform
