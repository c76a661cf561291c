#include "analysis/analyze_cells.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "analysis/tests/dots_fixture.h"

namespace analysis {
namespace {

using namespace analysis::fixture;

int CountLabel(const AnalyzeState& st, int id) {
  int n = 0;
  for (int x = 0; x < ImWidth; ++x)
    for (int y = 0; y < ImHeight; ++y) n += LabelOf(st.GResult[x][y]) == id;
  return n;
}

TEST(GetDotInCellPolygon, BuildsTheCellFromItsBrightPixels) {
  struct Case {
    double size, angle;
    bool dark_block;  // a dark 4 x 4 block inside the cell
    int area, edge;
  };
  const Case cases[] = {
      {10 * std::numbers::sqrt2, 0, false, 400, 0},  // the square 90..109 x 90..109
      {10 * std::numbers::sqrt2, 0, true, 400 - 36, 20},
      {10, 45, false, 200, 0},  // the diamond: rows of 0, 2, ..., 18, 20, 18, ..., 2 pixels
  };
  for (const Case& c : cases) {
    State st;
    Bitmap img = Filled(200, 200, 255);
    if (c.dark_block)
      for (int y = 95; y < 99; ++y)
        for (int x = 95; x < 99; ++x) SetGray(img, x, y, 0);
    LooseDots loose;
    TDot* dot = loose.Add({100, 100});
    dot->Outrect = {98, 98, 102, 102};
    dot->iarea = 7;
    st->GDotID = 40;
    ASSERT_TRUE(GetDotInCellPolygon(*st, img, dot, 0, c.size, c.angle, 0, st->GResult, st->ThImage));
    EXPECT_EQ(dot->ID, 41);
    EXPECT_EQ(st->GDotID, 41);
    EXPECT_EQ(dot->area, c.area);
    EXPECT_EQ(dot->edgelen, c.edge);
    EXPECT_EQ(dot->fsize, c.area);
    EXPECT_EQ(dot->fedge, c.edge);
    EXPECT_EQ(dot->iarea, 0);
    EXPECT_EQ(dot->swp, (TPoint{100, 100}));
    EXPECT_EQ(CountLabel(*st, 41), c.area + c.edge);
    if (c.angle == 0) {
      EXPECT_EQ(dot->Outrect, (TRect{90, 90, 109, 109}));
      EXPECT_EQ(LabelOf(st->GResult[90][90]), 41);
      EXPECT_EQ(st->GResult[110][100], 0);
    }
    if (c.dark_block) {
      EXPECT_EQ(st->GResult[95][95], EdgeK) << "dark cell pixels are edge-marked, not labelled";
    }
  }
}

TEST(GetDotInCellPolygon, RefusesCellsAtTheBorderAndWithoutLabels) {
  State st;
  const Bitmap img = Filled(200, 200, 255);
  LooseDots loose;
  TDot* dot = loose.Add({20, 100});
  dot->Outrect = {10, 98, 30, 102};  // centre x 20; the left limit is nearest(1.5 x 12 + 1) = 19
  EXPECT_TRUE(GetDotInCellPolygon(*st, img, dot, 0, 12, 0, 0, st->GResult, st->ThImage));
  dot->Outrect = {10, 98, 30, 102};
  EXPECT_FALSE(GetDotInCellPolygon(*st, img, dot, -2, 12, 0, 0, st->GResult, st->ThImage));
  TDot* far = loose.Add({100, 100});
  far->Outrect = {150, 98, 160, 102};  // centre x 155: right limit 19 + (200 - 48 - 3) = 168
  EXPECT_TRUE(GetDotInCellPolygon(*st, img, far, 13, 12, 0, 0, st->GResult, st->ThImage) == (155 + 13 < 168));
  const uint16_t id = far->ID;
  st->GDotID = MaxDotID;
  EXPECT_FALSE(GetDotInCellPolygon(*st, img, far, 0, 12, 0, 0, st->GResult, st->ThImage));
  EXPECT_EQ(far->ID, id);
  EXPECT_EQ(st->GDotID, MaxDotID);
}

// Dark pixels with a bright pixel in their 3 x 3 neighbourhood, found independently.
struct Edge {
  double x, y;
};

// Orthogonal least squares: the line through the centroid along the main axis.
struct FitLine {
  double mx, my, tx, ty;
  double Distance(double x, double y) const { return std::fabs((x - mx) * ty - (y - my) * tx); }
};

FitLine Fit(const std::vector<Edge>& pts) {
  double mx = 0, my = 0;
  for (const Edge& p : pts) mx += p.x, my += p.y;
  mx /= pts.size(), my /= pts.size();
  double sxx = 0, syy = 0, sxy = 0;
  for (const Edge& p : pts) {
    sxx += (p.x - mx) * (p.x - mx);
    syy += (p.y - my) * (p.y - my);
    sxy += (p.x - mx) * (p.y - my);
  }
  const double theta = 0.5 * std::atan2(2 * sxy, sxx - syy);
  return {mx, my, std::cos(theta), std::sin(theta)};
}

TEST(DrawLine, WidthOfStraightBarsAgreesWithAnIndependentFit) {
  struct Case {
    double tilt;  // degrees from vertical
    double width;
    int result;   // 0: either orientation
  };
  // Where the circle cuts a slanted bar, rows hold only one of its edges, and the passes take
  // that edge's pixels as samples of both sides; the orientation test of a bar near the 0.5
  // slope limit (30 degrees) then goes either way, and the width stays right.
  for (const Case& c : {Case{0, 8, -1}, Case{30, 12, 0}, Case{12, 9.5, -1}, Case{50, 10, 1}, Case{75, 7, 1}}) {
    SCOPED_TRACE(c.tilt);
    const int w = 220, h = 220;
    const double t = c.tilt * std::numbers::pi / 180, cs = std::cos(t), sn = std::sin(t);
    const TPoint pc{110, 110};
    const auto across = [&](double x, double y) { return (x - pc.X) * cs - (y - pc.Y) * sn; };
    Bitmap img = Filled(w, h, 255);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (std::fabs(across(x, y)) < c.width / 2) SetGray(img, x, y, 0);
    State st;
    Detect(*st, img);
    TDot* bar = GetDot(st->GDotList, LabelOf(st->GResult[pc.X][pc.Y]));
    ASSERT_NE(bar, nullptr);
    const double cr = 70;
    Bitmap disp = img;
    Extended m0, c0, m1, c1, d = -1;
    const int32_t result = DrawLine(disp, bar, st->GResult, 0, 255, 0, {0, 0, w - 1, h - 1}, pc, cr, m0, c0, m1, c1, d);
    if (c.result) {
      EXPECT_EQ(result, c.result);
    } else {
      EXPECT_NE(result, 0);
    }

    std::vector<Edge> left, right;
    for (int y = 1; y < h - 1; ++y)
      for (int x = 1; x < w - 1; ++x) {
        if (Px(img, x, y) != 0 || std::hypot(x - pc.X, y - pc.Y) >= cr) continue;
        bool edge = false;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) edge = edge || Px(img, x + dx, y + dy) != 0;
        if (edge) (across(x, y) < 0 ? left : right).push_back({double(x), double(y)});
      }
    const FitLine l = Fit(left), r = Fit(right);
    const double width = (r.Distance(l.mx, l.my) + l.Distance(r.mx, r.my)) / 2;
    EXPECT_NEAR(static_cast<double>(d), width, 0.3);
    EXPECT_NEAR(static_cast<double>(d), c.width - 1, 1.0) << "about one pixel less than the bar";
    // The bar's inside is painted green, its edge red.
    const uint8_t* p = disp.ScanLine(pc.Y) + 3 * pc.X;
    EXPECT_TRUE(p[0] == 0 && p[1] == 255 && p[2] == 0);
  }
}

TEST(DrawNotLine, GapBetweenTwoBarsIsMeasuredFromTheLastLinePixels) {
  Bitmap img = Filled(120, 160, 255);
  for (int y = 0; y < 160; ++y)
    for (int x : {40, 41, 42, 43, 44, 45, 46, 47, 68, 69, 70, 71, 72, 73, 74, 75}) SetGray(img, x, y, 0);
  State st;
  Detect(*st, img);
  TDot* a = GetDot(st->GDotList, LabelOf(st->GResult[44][80]));
  TDot* b = GetDot(st->GDotList, LabelOf(st->GResult[72][80]));
  ASSERT_TRUE(a && b && a != b);
  Bitmap disp = img;
  Extended m0, c0, m1, c1, d = -1;
  EXPECT_EQ(DrawNotLine(disp, a, b, st->GResult, 0, 0, 255, {0, 0, 119, 159}, {57, 80}, 15, m0, c0, m1, c1, d), -1);
  EXPECT_NEAR(static_cast<double>(d), 21, 1e-9);
  EXPECT_NEAR(static_cast<double>(c0), 47, 1e-9);
  EXPECT_NEAR(static_cast<double>(c1), 68, 1e-9);
  const uint8_t* p = disp.ScanLine(80) + 3 * 57;
  EXPECT_TRUE(p[0] == 255 && p[1] == 0 && p[2] == 0) << "the gap is painted";
  // Too few samples: nothing measured, d left alone.
  d = -1;
  EXPECT_EQ(DrawNotLine(disp, a, b, st->GResult, 0, 0, 255, {0, 0, 119, 159}, {57, 80}, 11, m0, c0, m1, c1, d), 0);
  EXPECT_EQ(d, -1);
}

TEST(GetWProc, WeighsTheCornersDown) {
  EXPECT_DOUBLE_EQ(GetWProc(Filled(ImWidth, ImHeight, 200), 100, 0), 1);
  EXPECT_DOUBLE_EQ(GetWProc(Filled(ImWidth, ImHeight, 50), 100, 0), 0);
  Bitmap centre = Filled(ImWidth, ImHeight, 0), corner = Filled(ImWidth, ImHeight, 0);
  SetGray(centre, 640, 512, 255);
  SetGray(corner, 0, 0, 255);
  EXPECT_NEAR(GetWProc(corner, 100, 0) / GetWProc(centre, 100, 0), 1 / std::sqrt(std::hypot(640, 512) - 450), 1e-12);
}

TEST(DrawPlateDot, PaintsTheDotItsEdgeAndItsInnerDots) {
  Bitmap img = Filled(40, 40, 255);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      const int d2 = (x - 20) * (x - 20) + (y - 20) * (y - 20);
      if (d2 >= 16 && d2 <= 100) SetGray(img, x, y, 0);
    }
  State st;
  Detect(*st, img);
  GetAllInnerDotsRec(st->GDotList, st->GResult);
  TDot* ring = GetDot(st->GDotList, LabelOf(st->GResult[20][13]));
  ASSERT_NE(ring, nullptr);
  Bitmap disp = img;
  DrawPlateDot(disp, ring, st->GResult, 0, 255, 0, true);
  const auto px = [&](int x, int y) {
    const uint8_t* p = disp.ScanLine(y) + 3 * x;
    return std::vector<int>{p[0], p[1], p[2]};
  };
  EXPECT_EQ(px(20, 13), (std::vector<int>{0, 255, 0})) << "interior: only green written";
  EXPECT_EQ(px(20, 10), (std::vector<int>{0, 0, 255})) << "outer edge: red";
  EXPECT_EQ(px(20, 20), (std::vector<int>{0, 127, 0})) << "the hole: half the colour";
  EXPECT_EQ(px(2, 2), (std::vector<int>{255, 255, 255})) << "the ground is left alone";

  Bitmap plain = Filled(40, 40, 77);
  DrawDot(plain, ring, st->GResult, 10, 20, 30);
  EXPECT_EQ(plain.ScanLine(13)[3 * 20 + 2], 10);
  EXPECT_EQ(plain.ScanLine(13)[3 * 20 + 0], 30);
  EXPECT_EQ(plain.ScanLine(20)[3 * 20], 77) << "DrawDot leaves inner dots alone";
}

TEST(DrawCell, OutlinesTheRotatedCell) {
  Bitmap bmp(60, 60);
  platform::Canvas c(bmp);
  DrawCell(c, {30, 30}, 10 * std::numbers::sqrt2, 0);  // corners at 20 and 40
  EXPECT_EQ(c.Pixel(40, 40), platform::clRed);
  EXPECT_EQ(c.Pixel(20, 20), platform::clRed);
  EXPECT_EQ(c.Pixel(30, 20), platform::clRed);
  EXPECT_EQ(c.Pixel(30, 30), platform::clBlack);
  DrawICell(c, {30, 30}, 10 * std::numbers::sqrt2, 0);  // around corner (40, 40)
  EXPECT_EQ(c.Pixel(50, 50), platform::clRed);
  EXPECT_EQ(c.Pixel(30, 50), platform::clRed);
}

}  // namespace
}  // namespace analysis
