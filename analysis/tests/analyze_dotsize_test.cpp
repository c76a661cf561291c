#include "analysis/analyze_dotsize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "analysis/tests/dots_fixture.h"

namespace analysis {
namespace {

using namespace analysis::fixture;

struct P {
  int x, y;
};

bool HasNeighbourNotIn(const std::vector<std::vector<bool>>& in, int x, int y) {
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      if (!in[static_cast<size_t>(y + dy)][static_cast<size_t>(x + dx)]) return true;
  return false;
}

TEST(GetDotSize, SolidDiskCountsInteriorOutlineCentreGrayAndShape) {
  // A dark disk of radius 7 with gray values 10..59 inside; every outline pixel has a bright
  // neighbour, so none is enclosed.
  const int w = 41, cx = 19, cy = 21;
  Bitmap img = Filled(w, w, 255);
  std::vector<std::vector<bool>> in(w, std::vector<bool>(w, false));
  for (int y = 0; y < w; ++y)
    for (int x = 0; x < w; ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= 49) {
        in[static_cast<size_t>(y)][static_cast<size_t>(x)] = true;
        SetGray(img, x, y, static_cast<uint8_t>(10 + (7 * x + 3 * y) % 50));
      }
  std::vector<P> interior, outline;
  for (int y = 1; y < w - 1; ++y)
    for (int x = 1; x < w - 1; ++x)
      if (in[static_cast<size_t>(y)][static_cast<size_t>(x)])
        (HasNeighbourNotIn(in, x, y) ? outline : interior).push_back({x, y});

  State st;
  Detect(*st, img);
  GetAllInnerDotsRec(st->GDotList, st->GResult);
  TDot* dot = GetDot(st->GDotList, LabelOf(st->GResult[cx][cy]));
  ASSERT_NE(dot, nullptr);
  int32_t area = -1, edge = -1;
  const int32_t void_level = 40;
  GetDotSize(dot, img, st->GResult, void_level, 0, area, edge);

  EXPECT_EQ(area, static_cast<int>(interior.size()));
  EXPECT_EQ(edge, static_cast<int>(outline.size()));
  EXPECT_EQ(dot->iedge, 0);
  long sx = 0, sy = 0, s = 0, q = 0;
  int voids = 0;
  for (const P& p : interior) {
    sx += p.x, sy += p.y;
    const int g = Px(img, p.x, p.y);
    s += g, q += g * g;
    voids += g > void_level;
  }
  const long n = static_cast<long>(interior.size());
  EXPECT_EQ(dot->iarea, voids);
  EXPECT_EQ(dot->swp, (TPoint{static_cast<int>(sx / n), static_cast<int>(sy / n)}));
  EXPECT_EQ(dot->MeanGray, s / n);
  const double m = static_cast<double>(s / n);
  const double var = n * (static_cast<double>(q) / n - m * m) / (n - 1);
  EXPECT_EQ(dot->StdGray, std::min(255, static_cast<int>(std::nearbyint(var / area))));
  std::vector<double> r;
  for (const P& p : outline) r.push_back(std::hypot(p.x - dot->swp.X, p.y - dot->swp.Y));
  double mean = 0, hd = 0;
  for (double v : r) mean += v, hd = std::max(hd, v);
  mean /= r.size();
  double ss = 0;
  for (double v : r) ss += (v - mean) * (v - mean);
  EXPECT_NEAR(dot->roundness, std::sqrt(ss / (r.size() - 1)), 1e-9);
  EXPECT_LT(dot->roundness, 0.5);
  EXPECT_EQ(dot->Slur, static_cast<int>(std::nearbyint(hd)));

  // No void above 255.
  GetDotSize(dot, img, st->GResult, 255, 0, area, edge);
  EXPECT_EQ(dot->iarea, 0);
}

// A dark ring with a bright hole, and the independent classification of its pixels.
struct Ring {
  Bitmap img = Filled(50, 50, 255);
  int hole = 0, enclosed = 0, outer = 0, interior = 0;
  Ring() {
    std::vector<std::vector<int>> cls(50, std::vector<int>(50, 0));  // 0 ground, 1 ring, 2 hole
    for (int y = 0; y < 50; ++y)
      for (int x = 0; x < 50; ++x) {
        const int d2 = (x - 24) * (x - 24) + (y - 25) * (y - 25);
        cls[static_cast<size_t>(y)][static_cast<size_t>(x)] = d2 < 25 ? 2 : d2 <= 144 ? 1 : 0;
        if (cls[static_cast<size_t>(y)][static_cast<size_t>(x)] == 1) SetGray(img, x, y, 0);
        hole += d2 < 25;
      }
    for (int y = 1; y < 49; ++y)
      for (int x = 1; x < 49; ++x) {
        if (cls[static_cast<size_t>(y)][static_cast<size_t>(x)] != 1) continue;
        bool ground = false, hole_nb = false;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int c = cls[static_cast<size_t>(y + dy)][static_cast<size_t>(x + dx)];
            ground = ground || c == 0;
            hole_nb = hole_nb || c == 2;
          }
        if (ground) {
          ++outer;
        } else if (hole_nb) {
          ++enclosed;
        } else {
          ++interior;
        }
      }
  }
};

TEST(GetDotSize, TheHoleOfARingCountsToItsAreaAndItsInnerOutlineIsEnclosed) {
  Ring ring;
  State st;
  Detect(*st, ring.img);
  GetAllInnerDotsRec(st->GDotList, st->GResult);
  TDot* dot = GetDot(st->GDotList, LabelOf(st->GResult[24][15]));
  TDot* hole = GetDot(st->GDotList, LabelOf(st->GResult[24][25]));
  ASSERT_TRUE(dot && hole);
  const int detected_edge = dot->edgelen;
  EXPECT_EQ(detected_edge, ring.outer + ring.enclosed);

  int32_t area = 0, edge = 0;
  GetDotSize(dot, ring.img, st->GResult, 255, 0, area, edge);
  EXPECT_EQ(area, ring.interior + ring.enclosed + ring.hole);
  EXPECT_EQ(edge, ring.outer);
  EXPECT_EQ(dot->iarea, ring.hole);
  EXPECT_EQ(dot->iedge, ring.enclosed);
  EXPECT_EQ(dot->swp, (TPoint{24, 25}));
  EXPECT_EQ(st->GResult[24][20], EdgeBits | dot->ID) << "inner outline re-marked with both bits";
  EXPECT_EQ(LabelOf(st->GResult[24][25]), hole->ID) << "the hole keeps its label";
  // Only the outer outline has exactly one edge bit now: Slur is the outer radius.
  EXPECT_EQ(dot->Slur, 12);
}

TEST(GetDotSizeMask, CountsEnclosedEdgeTwiceAndWeighsTheDetectionEdge) {
  for (double ad : {0.0, 1.9}) {
    Ring ring;
    State st;
    Detect(*st, ring.img);
    GetAllInnerDotsRec(st->GDotList, st->GResult);
    TDot* dot = GetDot(st->GDotList, LabelOf(st->GResult[24][15]));
    ASSERT_NE(dot, nullptr);
    const int detected_edge = dot->edgelen;
    GetDotSizeMask(dot, st->GResult, dot->fsize, ad, dot->fedge);
    const int pixels = ring.interior + ring.enclosed + ring.hole;
    EXPECT_EQ(dot->fsize, static_cast<int>(std::nearbyint(pixels + ring.enclosed + detected_edge * ad))) << ad;
    EXPECT_EQ(dot->fedge, ring.outer);
    EXPECT_EQ(dot->iedge, ring.enclosed);
    EXPECT_EQ(dot->iarea, ring.hole);
  }
}

TEST(GetDotSize, NilDotGivesZero) {
  State st;
  int32_t area = 5, edge = 5;
  GetDotSize(nullptr, Filled(4, 4, 0), st->GResult, 255, 0, area, edge);
  EXPECT_EQ(area, 0);
  EXPECT_EQ(edge, 0);
  area = edge = 5;
  GetDotSizeMask(nullptr, st->GResult, area, 1, edge);
  EXPECT_EQ(area, 0);
  EXPECT_EQ(edge, 0);
}

// Every labelled pixel of the area belongs to a dot of the chain or carries one of the labels
// `ids` (objects left out of the chain with their pixels).
void ExpectPartition(const AnalyzeState& st, int w, int h, std::set<int> ids = {}) {
  for (TDot* d : Dots(st.GDotList)) ids.insert(d->ID);
  for (int y = 1; y <= h - 3; ++y)
    for (int x = 1; x <= w - 2; ++x) ASSERT_TRUE(ids.count(LabelOf(st.GResult[x][y]))) << x << "," << y;
}

TEST(RemoveSmallObjects, SpecksJoinTheObjectAroundThem) {
  const int w = 60, h = 50;
  Bitmap img = Filled(w, h, 255);
  const auto block = [&](int x0, int y0, int x1, int y1, uint8_t v) {
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) SetGray(img, x, y, v);
  };
  block(44, 8, 48, 12, 0);    // a 5 x 5 dot, the topmost
  block(20, 15, 31, 26, 0);   // a 12 x 12 dot
  block(26, 21, 26, 21, 255); // a bright speck inside it
  block(40, 35, 41, 35, 0);   // a dark speck of two pixels on the ground
  State st;
  Detect(*st, img);
  TDot* big = GetDot(st->GDotList, LabelOf(st->GResult[22][17]));
  TDot* small = GetDot(st->GDotList, LabelOf(st->GResult[46][10]));
  ASSERT_TRUE(big && small);
  const int big_area = big->area, big_total = big->area + big->edgelen;
  const int small_area = small->area;
  const uint16_t ground = LabelOf(st->GResult[2][2]);
  ASSERT_EQ(Dots(st->GDotList).size(), 5u);

  st->GDotList = RemoveSmallObjects(st->GDotList, st->GDotList, st->GResult, 3);
  const std::vector<TDot*> left = Dots(st->GDotList);
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0], small);
  EXPECT_EQ(left[1], big);
  ExpectPartition(*st, w, h, {ground});
  // The speck and the eight pixels around it are interior pixels of the big dot now.
  for (int y = 20; y <= 22; ++y)
    for (int x = 25; x <= 27; ++x) EXPECT_EQ(st->GResult[x][y], big->ID) << x << "," << y;
  EXPECT_EQ(big->area, big_area + 9);
  EXPECT_EQ(big->area + big->edgelen, big_total + 1);
  // The ground touches the border: it is dropped from the chain but never handed to a dot
  // beside it. The dark speck on it joins the ground's label.
  EXPECT_EQ(small->area, small_area);
  EXPECT_EQ(LabelOf(st->GResult[2][2]), ground);
  EXPECT_EQ(LabelOf(st->GResult[40][35]), ground);
  for (int y = 8; y <= 12; ++y)
    for (int x = 44; x <= 48; ++x) EXPECT_EQ(LabelOf(st->GResult[x][y]), small->ID) << x << "," << y;
}

TEST(ObjectFilters, RejectBySizeColourAndBorder) {
  // Dark squares of side 3..8 and bright squares (holes) inside dark frames.
  const int w = 120, h = 40;
  Bitmap img = Filled(w, h, 255);
  std::vector<int> sides = {3, 4, 5, 6, 8};
  int x = 8;
  for (int s : sides) {
    for (int yy = 10; yy < 10 + s; ++yy)
      for (int xx = x; xx < x + s; ++xx) SetGray(img, xx, yy, 0);
    x += s + 6;
  }
  // A dark frame of 12 x 12 with a 6 x 6 bright hole.
  for (int yy = 22; yy < 34; ++yy)
    for (int xx = 80; xx < 92; ++xx)
      SetGray(img, xx, yy, (xx >= 83 && xx < 89 && yy >= 25 && yy < 31) ? 255 : 0);

  const auto survivors = [&](auto filter) {
    State st;
    Detect(*st, img);
    st->GDotList = filter(*st);
    std::multiset<std::pair<bool, int>> out;  // colour, pixel area
    for (TDot* d : Dots(st->GDotList)) out.insert({d->isblack, d->area});
    return out;
  };
  // A square of side s has (s - 2)^2 interior pixels and 4s - 4 edge pixels; the frame 36
  // interior pixels between its outer and its inner outline; the hole 16 interior pixels.
  // The ground touches the border: it leaves the chain without joining a square.
  using S = std::multiset<std::pair<bool, int>>;
  EXPECT_EQ(survivors([](AnalyzeState& st) {
              return RemoveSmallBigObjects(st.GDotList, st.GDotList, st.GResult, 5, 40, 10, 100);
            }),
            (S{{true, 9}, {true, 16}, {true, 36}, {true, 36}, {false, 16}}));
  EXPECT_EQ(survivors([](AnalyzeState& st) {
              return RemoveLargeObjects(st.GDotList, st.GDotList, st.GResult, true, 0, 1000000);
            }),
            (S{{false, 16}}));
  EXPECT_EQ(survivors([](AnalyzeState& st) {
              return RemoveLargeObjects(st.GDotList, st.GDotList, st.GResult, false, 4, 40);
            }),
            (S{{true, 4}, {true, 9}, {true, 16}}));
}

}  // namespace
}  // namespace analysis
