#include "platform/image/canvas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

namespace platform {
namespace {

using Pixels = std::set<std::pair<int, int>>;

// The pixels of a bitmap that differ from the background colour.
Pixels Marked(const Canvas& c, int w, int h, TColor background = clBlack) {
  Pixels s;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (c.Pixel(x, y) != background) s.insert({x, y});
  return s;
}

TEST(Canvas, LinesTakeTheNearestPixelPerStepAndLeaveOutTheEnd) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> coord(0, 39);
  for (int trial = 0; trial < 200; ++trial) {
    const TPoint a{coord(rng), coord(rng)}, b{coord(rng), coord(rng)};
    Bitmap bmp(40, 40);
    Canvas c(bmp);
    c.Pen().Color = clWhite;
    c.MoveTo(a.X, a.Y);
    c.LineTo(b.X, b.Y);
    EXPECT_EQ(c.PenPos(), b);
    const Pixels got = Marked(c, 40, 40, clBlack);
    const int dx = b.X - a.X, dy = b.Y - a.Y;
    const int steps = std::max(std::abs(dx), std::abs(dy));
    ASSERT_EQ(static_cast<int>(got.size()), steps) << "one pixel per step, the end left out";
    for (auto [x, y] : got) {
      // Within half a pixel of the exact line across its shorter axis.
      if (std::abs(dx) >= std::abs(dy)) {
        const double ideal = a.Y + double(x - a.X) * dy / dx;
        EXPECT_LE(std::abs(y - ideal), 0.5) << trial;
        EXPECT_NE(x, b.X);
      } else {
        const double ideal = a.X + double(y - a.Y) * dx / dy;
        EXPECT_LE(std::abs(x - ideal), 0.5) << trial;
        EXPECT_NE(y, b.Y);
      }
    }
  }
}

TEST(Canvas, LongLinesAreClippedToTheSamePixels) {
  // The same lines drawn on a bitmap large enough to hold them and, shifted, on a small one.
  const int off = 700;
  Bitmap big(1500, 1500), small(100, 80);
  Canvas cb(big), cs(small);
  for (Canvas* c : {&cb, &cs}) {
    c->Pen().Color = clWhite;
    c->Pen().Width = 2;
  }
  const std::vector<std::pair<TPoint, TPoint>> lines = {
      {{-650, -300}, {690, 420}}, {{50, -690}, {60, 690}}, {{-690, 79}, {690, 0}}, {{640, 600}, {-640, -600}}};
  for (auto [a, b] : lines) {
    cb.MoveTo(a.X + off, a.Y + off);
    cb.LineTo(b.X + off, b.Y + off);
    cs.MoveTo(a.X, a.Y);
    cs.LineTo(b.X, b.Y);
  }
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 100; ++x) ASSERT_EQ(cs.Pixel(x, y), cb.Pixel(x + off, y + off)) << x << "," << y;
  EXPECT_GT(Marked(cs, 100, 80).size(), 100u);
}

TEST(Canvas, InvertPenTouchesEveryPixelOnce) {
  const std::vector<TPoint> poly{{3, 2}, {30, 9}, {12, 25}, {2, 18}};
  Bitmap copy(40, 40), inv(40, 40);
  Canvas cc(copy), ci(inv);
  for (Canvas* c : {&cc, &ci}) {
    c->Brush().Style = TCanvasBrushStyle::bsClear;
    c->Pen().Width = 3;
  }
  cc.Pen().Color = clWhite;
  ci.Pen().Mode = TCanvasPenMode::pmNot;
  cc.Polygon(poly);
  ci.Polygon(poly);
  EXPECT_EQ(copy, inv) << "inverting black gives white where the copy pen draws white";
  ci.Polygon(poly);
  EXPECT_EQ(inv, Bitmap(40, 40)) << "a second inversion restores the image";
}

TEST(Canvas, ShapesFillTheirPixelsAndOutlineWithThePen) {
  Bitmap bmp(30, 30);
  Canvas c(bmp);
  c.Pen().Color = clRed;
  c.Brush().Color = clLime;
  c.Rectangle(2, 3, 8, 7);  // pixels 2..7 x 3..6
  EXPECT_EQ(c.Pixel(2, 3), clRed);
  EXPECT_EQ(c.Pixel(7, 6), clRed);
  EXPECT_EQ(c.Pixel(4, 5), clLime);
  EXPECT_EQ(c.Pixel(8, 5), clBlack);
  EXPECT_EQ(c.Pixel(5, 7), clBlack);

  // A polygon fills exactly its winding region plus its outline.
  Bitmap p(30, 30);
  Canvas cp(p);
  cp.Pen().Mode = TCanvasPenMode::pmNot;  // on black: white outline
  cp.Brush().Color = clBlue;
  const std::vector<TPoint> tri{{2, 2}, {25, 6}, {9, 27}};
  cp.Polygon(tri);
  const TRegion r = TRegion::Polygon(tri);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) {
      const TColor px = cp.Pixel(x, y);
      if (px == clBlue) {
        EXPECT_TRUE(r.Contains(x, y)) << x << "," << y;
      }
      if (px == clBlack) {
        EXPECT_FALSE(r.Contains(x, y)) << x << "," << y;
      }
    }

  // An ellipse is symmetric in its box and about as large as pi a b.
  Bitmap e(40, 40);
  Canvas ce(e);
  ce.Pen().Color = clWhite;
  ce.Brush().Color = clWhite;
  ce.Ellipse(5, 8, 35, 28);  // 30 x 20
  const Pixels in = Marked(ce, 40, 40);
  EXPECT_NEAR(static_cast<double>(in.size()), 3.14159265 * 15 * 10, 40);
  for (auto [x, y] : in) {
    EXPECT_TRUE(in.count({5 + 34 - x, y})) << "mirror in x";
    EXPECT_TRUE(in.count({x, 8 + 27 - y})) << "mirror in y";
    EXPECT_TRUE(x >= 5 && x < 35 && y >= 8 && y < 28);
  }
}

TEST(Canvas, FloodFillStopsAtFourConnectedWalls) {
  Bitmap bmp(20, 20);
  Canvas c(bmp);
  c.Pen().Color = clWhite;
  // A closed diamond of diagonal steps: 4-connected filling cannot leak through it.
  const std::vector<TPoint> diamond{{10, 2}, {17, 9}, {10, 16}, {3, 9}};
  c.Brush().Style = TCanvasBrushStyle::bsClear;
  c.Polygon(diamond);
  c.Brush().Color = clRed;
  c.Brush().Style = TCanvasBrushStyle::bsSolid;
  c.FloodFill(10, 9, clBlack, TCanvasFillStyle::fsSurface);
  EXPECT_EQ(c.Pixel(10, 9), clRed);
  EXPECT_EQ(c.Pixel(1, 1), clBlack) << "outside stays";
  EXPECT_EQ(c.Pixel(10, 2), clWhite) << "the wall stays";
  // Border mode: everything up to the white pixels, the red inside included.
  c.Brush().Color = clBlue;
  c.FloodFill(10, 9, clWhite, TCanvasFillStyle::fsBorder);
  EXPECT_EQ(c.Pixel(10, 9), clBlue);
  EXPECT_EQ(c.Pixel(1, 1), clBlack);
  c.FloodFill(1, 1, clWhite, TCanvasFillStyle::fsBorder);
  EXPECT_EQ(c.Pixel(1, 1), clBlue);
  EXPECT_EQ(c.Pixel(19, 19), clBlue);
  EXPECT_EQ(c.Pixel(10, 2), clWhite);
}

TEST(Canvas, DrawAndStretchDrawCopyPixels) {
  Bitmap src(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      uint8_t* p = src.ScanLine(y) + 3 * x;
      p[0] = static_cast<uint8_t>(10 * x), p[1] = static_cast<uint8_t>(100 + y), p[2] = 7;
    }
  Bitmap dst(10, 8, PixelFormat::pf32bit);
  Canvas c(dst);
  c.Draw(-1, 7, src);  // only pixels (1..2, 0) land at (0..1, 7)
  EXPECT_EQ(c.Pixel(0, 7), RGBColor(7, 100, 10));
  EXPECT_EQ(c.Pixel(1, 7), RGBColor(7, 100, 20));
  EXPECT_EQ(c.Pixel(2, 7), clBlack);
  c.StretchDraw({0, 0, 6, 4}, src);  // twice as large: every source pixel becomes 2 x 2
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(c.Pixel(x, y), RGBColor(7, uint8_t(100 + y / 2), uint8_t(10 * (x / 2))));
  Bitmap gray(4, 4, PixelFormat::pf8bit);
  gray.ScanLine(3)[1] = 200;
  c.StretchDraw({0, 0, 2, 2}, gray);  // half size: destination (0, 1) takes source (1, 3)
  EXPECT_EQ(c.Pixel(0, 1), RGBColor(200, 200, 200));
  EXPECT_THROW(Canvas{gray}, std::invalid_argument);
}

struct FakeText : ICanvasTextRenderer {
  std::string last;
  TCanvasTextStyle style;
  TRect TextOut(Bitmap&, int x, int y, std::string_view text, const TCanvasTextStyle& s) override {
    last = text;
    style = s;
    return {x, y, x + 7 * static_cast<int>(text.size()), y + 12};
  }
  TPoint TextExtent(std::string_view text, const TCanvasTextStyle&) override {
    return {7 * static_cast<int>(text.size()), 12};
  }
};

TEST(Canvas, TextGoesThroughTheRegisteredRenderer) {
  Bitmap bmp(50, 20);
  Canvas c(bmp);
  ASSERT_EQ(CanvasTextRenderer(), nullptr);
  EXPECT_EQ(c.TextOut(3, 4, "none"), (TRect{3, 4, 3, 4}));
  EXPECT_EQ(c.TextWidth("none"), 0);
  EXPECT_EQ(bmp, Bitmap(50, 20));

  FakeText fake;
  SetCanvasTextRenderer(&fake);
  c.Font().Name = "Arial Narrow";
  c.Font().Color = clRed;
  EXPECT_EQ(c.TextOut(3, 4, "12.5 %"), (TRect{3, 4, 45, 16}));
  EXPECT_EQ(fake.last, "12.5 %");
  EXPECT_EQ(fake.style.Name, "Arial Narrow");
  EXPECT_EQ(fake.style.Color, clRed);
  EXPECT_EQ(c.TextHeight("x"), 12);
  EXPECT_EQ(SetCanvasTextRenderer(nullptr), &fake);
}

}  // namespace
}  // namespace platform
