#include "analysis/analyze_dots.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "analysis/tests/dots_fixture.h"

namespace analysis {
namespace {

using namespace analysis::fixture;

// ---- An independent labelling: classes and 4-connected components by flood fill ----

struct Reference {
  int left = 0, top = 0, right = 0, bottom = 0;  // the labelled area, inclusive
  std::vector<int> comp;                         // component per pixel of the bitmap, -1 outside
  std::vector<bool> dark;
  std::vector<uint16_t> edge;                    // expected edge bits
  int components = 0;
  int w = 0;
  int At(int x, int y) const { return comp[static_cast<size_t>(y * w + x)]; }
};

// Classes as the detection defines them (dark: byte below the pixel's threshold), in the
// columns left+1..right-2 and rows top+1..bottom-2 of the clamped rectangle; the column after
// them takes the class of the pixel before it (the run open at the end of a row ends there).
Reference Label(const Bitmap& img, const TIntImage& th, TRect r) {
  Reference ref;
  const int w = img.Width(), h = img.Height();
  ref.w = w;
  r.Left = std::max(r.Left, 0), r.Top = std::max(r.Top, 0);
  r.Right = std::min(r.Right, w - 1), r.Bottom = std::min(r.Bottom, h - 1);
  ref.left = r.Left + 1, ref.right = r.Right - 1, ref.top = r.Top + 1, ref.bottom = r.Bottom - 2;
  const size_t n = static_cast<size_t>(w * h);
  ref.comp.assign(n, -1);
  ref.dark.assign(n, false);
  ref.edge.assign(n, 0);
  const auto idx = [w](int x, int y) { return static_cast<size_t>(y * w + x); };
  for (int y = ref.top; y <= ref.bottom; ++y) {
    for (int x = ref.left; x <= ref.right - 1; ++x) {
      const int c = Px(img, x, y), t = th[x][y];
      ref.dark[idx(x, y)] = c < t;
      bool other = false;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) other = other || ((Px(img, x + dx, y + dy) < t) != (c < t));
      if (other) ref.edge[idx(x, y)] = c < t ? EdgeK : EdgeW;
    }
    ref.dark[idx(ref.right, y)] = ref.dark[idx(ref.right - 1, y)];
  }
  for (int y = ref.top; y <= ref.bottom; ++y) {
    for (int x = ref.left; x <= ref.right; ++x) {
      if (ref.comp[idx(x, y)] >= 0) continue;
      const int id = ref.components++;
      std::vector<std::pair<int, int>> stack{{x, y}};
      ref.comp[idx(x, y)] = id;
      while (!stack.empty()) {
        auto [cx, cy] = stack.back();
        stack.pop_back();
        const int nx[4] = {cx - 1, cx + 1, cx, cx};
        const int ny[4] = {cy, cy, cy - 1, cy + 1};
        for (int k = 0; k < 4; ++k) {
          if (nx[k] < ref.left || nx[k] > ref.right || ny[k] < ref.top || ny[k] > ref.bottom) continue;
          const size_t j = idx(nx[k], ny[k]);
          if (ref.comp[j] >= 0 || ref.dark[j] != ref.dark[idx(cx, cy)]) continue;
          ref.comp[j] = id;
          stack.push_back({nx[k], ny[k]});
        }
      }
    }
  }
  return ref;
}

// The detection's labels form the same partition as the reference, and every dot's counts,
// colour and bounding rectangle agree with its component.
void ExpectSamePartition(const AnalyzeState& st, const Bitmap& img, const Bitmap& disp, const Reference& ref) {
  std::map<int, int> comp_of_label, label_of_comp;
  std::map<int, int> pixels;
  std::map<int, TRect> box;
  std::map<int, bool> dark;
  for (int y = 0; y < img.Height(); ++y) {
    for (int x = 0; x < img.Width(); ++x) {
      const uint16_t v = st.GResult[x][y];
      const int c = ref.At(x, y);
      if (c < 0) {
        ASSERT_EQ(v, 0) << "outside the area at " << x << "," << y;
        continue;
      }
      const int label = LabelOf(v);
      ASSERT_NE(label, 0) << x << "," << y;
      auto [a, fresh_a] = comp_of_label.emplace(label, c);
      auto [b, fresh_b] = label_of_comp.emplace(c, label);
      ASSERT_EQ(a->second, c) << "label " << label << " spans two components at " << x << "," << y;
      ASSERT_EQ(b->second, label) << "component split at " << x << "," << y;
      ASSERT_EQ(v & EdgeBits, ref.edge[static_cast<size_t>(y * img.Width() + x)]) << x << "," << y;
      ++pixels[c];
      dark[c] = ref.dark[static_cast<size_t>(y * img.Width() + x)];
      auto [r, fresh_r] = box.emplace(c, TRect{x, y, x, y});
      r->second = {std::min(r->second.Left, x), std::min(r->second.Top, y), std::max(r->second.Right, x),
                   std::max(r->second.Bottom, y)};
      if (x < ref.right) {
        const uint8_t* p = disp.ScanLine(y) + 3 * x;
        const uint16_t e = v & EdgeBits;
        const uint8_t want[3] = {e ? uint8_t{0} : Px(img, x, y, 0),
                                 e == EdgeK ? uint8_t{0} : e == EdgeW ? uint8_t{255} : Px(img, x, y, 1),
                                 e ? uint8_t{255} : Px(img, x, y, 2)};
        ASSERT_TRUE(p[0] == want[0] && p[1] == want[1] && p[2] == want[2]) << "display at " << x << "," << y;
      }
    }
  }
  EXPECT_EQ(static_cast<int>(label_of_comp.size()), ref.components);
  const std::vector<TDot*> dots = Dots(st.GDotList);
  ASSERT_EQ(static_cast<int>(dots.size()), ref.components);
  uint16_t previous = 0;
  for (const TDot* d : dots) {
    EXPECT_GT(d->ID, previous) << "chain in order of creation";
    previous = d->ID;
    ASSERT_TRUE(comp_of_label.count(d->ID)) << d->ID;
    const int c = comp_of_label[d->ID];
    EXPECT_EQ(d->area + d->edgelen, pixels[c]) << d->ID;
    const TRect b = box[c];
    EXPECT_EQ(d->isblack, dark[c]) << d->ID;
    EXPECT_EQ(d->Outrect.Left, b.Left);
    EXPECT_EQ(d->Outrect.Top, b.Top);
    EXPECT_EQ(d->Outrect.Bottom, b.Bottom);
    EXPECT_TRUE(d->Outrect.Right == b.Right || d->Outrect.Right == b.Right + 1) << d->ID;
  }
}

TEST(GetDots, LabellingEqualsAFloodFillOnRandomImages) {
  struct Case {
    int w, h;
    double dark;       // share of dark pixels
    bool local_th;     // random gray values against random per-pixel thresholds
    TRect rect;        // Right < 0: the whole bitmap
    unsigned seed;
  };
  const Case cases[] = {
      {64, 48, 0.5, false, {0, 0, -1, -1}, 1},   // near percolation: long winding objects, many merges
      {64, 48, 0.3, false, {0, 0, -1, -1}, 2},
      {64, 48, 0.7, false, {0, 0, -1, -1}, 3},
      {80, 60, 0.5, true, {0, 0, -1, -1}, 4},
      {80, 60, 0.45, false, {7, 5, 70, 52}, 5},  // a rectangle inside the bitmap
      {50, 40, 0.55, true, {-10, -3, 500, 900}, 6},  // a rectangle larger than the bitmap
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seed);
    State st;
    std::mt19937 rng(c.seed);
    std::uniform_real_distribution<double> u(0, 1);
    Bitmap img(c.w, c.h);
    for (int y = 0; y < c.h; ++y) {
      for (int x = 0; x < c.w; ++x) {
        if (c.local_th) {
          const int t = 1 + static_cast<int>(u(rng) * 254);
          st->ThImage[x][y] = static_cast<uint16_t>(t);
          Px(img, x, y, 0) = static_cast<uint8_t>(u(rng) < c.dark ? u(rng) * t : t + u(rng) * (255 - t));
          Px(img, x, y, 1) = static_cast<uint8_t>(u(rng) * 255);
          Px(img, x, y, 2) = static_cast<uint8_t>(u(rng) * 255);
        } else {
          SetGray(img, x, y, u(rng) < c.dark ? 0 : 255);
        }
      }
    }
    const TRect rect = c.rect.Right < 0 ? TRect{0, 0, c.w, c.h} : c.rect;
    ClearResult(*st);
    Bitmap disp(c.w, c.h);
    st->GDotList = GetDots(*st, img, disp, st->GResult, st->ThImage, 0, rect);
    ExpectSamePartition(*st, img, disp, Label(img, st->ThImage, rect));
  }
}

TEST(GetDots, AnObjectJoinedUnderARunOfTheCurrentRowStaysOneObject) {
  // D comes first (row 1); E is found in row 2. In row 4 one run touches both, so E merges
  // into D while E's left arm already has a run in row 4: that run must move to D as well, or
  // row 5 starts a second object under it.
  std::vector<std::string> rows(9, std::string(30, '.'));
  const auto dark = [&](int y, int x0, int x1) {
    for (int x = x0; x <= x1; ++x) rows[static_cast<size_t>(y)][static_cast<size_t>(x)] = '#';
  };
  for (int y = 1; y <= 3; ++y) dark(y, 20, 22);
  dark(2, 2, 10);
  dark(3, 2, 3), dark(3, 9, 10);
  dark(4, 2, 3), dark(4, 9, 22);
  dark(5, 2, 3);
  State st;
  const Bitmap img = FromRows(rows);
  Detect(*st, img);
  std::vector<TDot*> black;
  for (TDot* d : Dots(st->GDotList))
    if (d->isblack) black.push_back(d);
  ASSERT_EQ(black.size(), 1u);
  EXPECT_EQ(black[0]->area + black[0]->edgelen, 40);
  int labelled = 0;
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 30; ++x)
      if (rows[static_cast<size_t>(y)][static_cast<size_t>(x)] == '#') {
        EXPECT_EQ(LabelOf(st->GResult[x][y]), black[0]->ID) << x << "," << y;
        ++labelled;
      }
  EXPECT_EQ(labelled, 40);
}

TEST(GetDots, LabelsStopAtTheLastOneInsteadOfWrapping) {
  // Isolated dark pixels on every second column and row: over 15,000 objects.
  const int n = 250;
  Bitmap img = Filled(n, n, 255);
  for (int y = 2; y < n; y += 2)
    for (int x = 2; x < n; x += 2) SetGray(img, x, y, 0);
  State st;
  Detect(*st, img);
  EXPECT_EQ(st->GDotID, MaxDotID);
  const std::vector<TDot*> dots = Dots(st->GDotList);
  ASSERT_EQ(static_cast<int>(dots.size()), MaxDotID - FirstDotID + 1);
  std::map<int, int> pixels;
  int unlabelled = 0;
  for (int y = 1; y <= n - 3; ++y)
    for (int x = 1; x <= n - 2; ++x) {
      const int l = LabelOf(st->GResult[x][y]);
      if (l == 0) ++unlabelled;
      ++pixels[l];
    }
  EXPECT_GT(unlabelled, 5000);
  for (size_t i = 0; i < dots.size(); ++i) {
    EXPECT_EQ(dots[i]->ID, FirstDotID + static_cast<int>(i));
    EXPECT_EQ(pixels[dots[i]->ID], dots[i]->area + dots[i]->edgelen) << dots[i]->ID;
  }
  // The first object is the bright ground, the others single dark pixels (all edge).
  EXPECT_FALSE(dots[0]->isblack);
  EXPECT_TRUE(dots[1]->isblack);
  EXPECT_EQ(dots[1]->area, 0);
  EXPECT_EQ(dots[1]->edgelen, 1);
}

TEST(GetDots, AUShapeLosesOneDotWhenItsArmsJoin) {
  const Bitmap img = FromRows({
      "..............",
      "..##.....##...",
      "..##.....##...",
      "..##.....##...",
      "..#########...",
      "..............",
      "..............",
      "..............",
  });
  State st;
  Detect(*st, img);
  std::vector<TDot*> black;
  for (TDot* d : Dots(st->GDotList))
    if (d->isblack) black.push_back(d);
  ASSERT_EQ(black.size(), 1u);
  // Row 1 starts five objects: ground, left arm, the pocket between the arms, right arm and
  // the ground right of it. The right arm joins the left one in row 4, the right ground joins
  // the left ground in row 5.
  EXPECT_EQ(st->GDotID, 6);
  EXPECT_EQ(black[0]->ID, 3);  // the earlier arm keeps its label
  EXPECT_EQ(black[0]->area + black[0]->edgelen, 6 + 6 + 9);
  EXPECT_EQ(Dots(st->GDotList).size(), 3u);
}

TEST(GetDots, BorderIsJudgedAgainstTheRectangleWhenADotCloses) {
  Bitmap img = Filled(60, 40, 255);
  const auto square = [&](int x0, int y0) {
    for (int y = y0; y < y0 + 4; ++y)
      for (int x = x0; x < x0 + 4; ++x) SetGray(img, x, y, 0);
  };
  square(6, 10);   // left edge at 6: within 5 of the rectangle's left edge 2
  square(25, 15);  // well inside
  square(52, 20);  // right edge at 55: within 5 of the rectangle's right edge 58
  State st;
  Detect(*st, img, {2, 2, 58, 38});
  std::map<int, bool> border;
  for (TDot* d : Dots(st->GDotList))
    if (d->isblack) border[d->Outrect.Left] = d->border;
  EXPECT_TRUE(border.at(6));
  EXPECT_FALSE(border.at(25));
  EXPECT_TRUE(border.at(52));
}

TEST(GetDots, SinglePixelIsAllEdge) {
  Bitmap img = Filled(12, 12, 255);
  SetGray(img, 5, 5, 0);
  State st;
  Detect(*st, img);
  TDot* dot = nullptr;
  for (TDot* d : Dots(st->GDotList))
    if (d->isblack) dot = d;
  ASSERT_NE(dot, nullptr);
  EXPECT_EQ(dot->area, 0);
  EXPECT_EQ(dot->edgelen, 1);
  EXPECT_EQ(st->GResult[5][5], EdgeK | dot->ID);
  EXPECT_EQ(st->GResult[4][4] & EdgeBits, EdgeW);
  EXPECT_EQ(GetDot(st->GDotList, st->GResult[5][5]), nullptr) << "a value with edge bits is no label";
  EXPECT_EQ(GetDot(st->GDotList, dot->ID), dot);
}

// A dark ring (radii 5 and 11) with a bright hole; another dark dot beside it.
Bitmap RingImage() {
  Bitmap img = Filled(50, 40, 255);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 50; ++x) {
      const int d2 = (x - 18) * (x - 18) + (y - 18) * (y - 18);
      if (d2 >= 25 && d2 <= 121) SetGray(img, x, y, 0);
      if (x >= 38 && x <= 42 && y >= 15 && y <= 19) SetGray(img, x, y, 0);
    }
  return img;
}

struct RingParts {
  TDot* ring = nullptr;
  TDot* hole = nullptr;
  TDot* ground = nullptr;
  TDot* other = nullptr;
};

RingParts Parts(AnalyzeState& st) {
  RingParts p;
  p.ring = GetDot(st.GDotList, LabelOf(st.GResult[18][8]));
  p.hole = GetDot(st.GDotList, LabelOf(st.GResult[18][18]));
  p.ground = GetDot(st.GDotList, LabelOf(st.GResult[2][2]));
  p.other = GetDot(st.GDotList, LabelOf(st.GResult[40][17]));
  return p;
}

std::set<TDot*> Inner(const TDot* d) {
  std::set<TDot*> s;
  for (TSDotList* e = d->InnerDots; e; e = e->next) s.insert(e->aDot);
  return s;
}

TEST(InnerDots, TheHoleOfARingIsItsInnerDotInBothSearches) {
  State st;
  const Bitmap img = RingImage();
  Detect(*st, img);
  RingParts p = Parts(*st);
  ASSERT_TRUE(p.ring && p.hole && p.ground && p.other);
  ASSERT_NE(p.ring, p.other);
  EXPECT_TRUE(p.ring->isblack);
  EXPECT_FALSE(p.hole->isblack);
  EXPECT_EQ(Dots(st->GDotList).size(), 4u);

  GetAllInnerDots(st->GDotList, st->GResult);
  EXPECT_EQ(Inner(p.ring), std::set<TDot*>{p.hole});
  // The plain search wants an object to touch nothing but the outer dot: the hole touches
  // only the ring, and the ring touches the hole as well as the ground.
  EXPECT_EQ(Inner(p.ground), (std::set<TDot*>{p.other}));
  EXPECT_TRUE(Inner(p.hole).empty());
  EXPECT_FALSE(p.ring->IDSearch) << "the plain search leaves the flag alone";

  GetAllInnerDotsRec(st->GDotList, st->GResult);
  EXPECT_EQ(Inner(p.ring), std::set<TDot*>{p.hole});
  EXPECT_EQ(Inner(p.ground), (std::set<TDot*>{p.ring, p.other, p.hole}));
  EXPECT_TRUE(DotInInnerDotsRec(p.ground->InnerDots, p.hole->ID));
  EXPECT_TRUE(DotInInnerDotsRec(p.ring->InnerDots, p.hole->ID));
  EXPECT_FALSE(DotInInnerDotsRec(p.ring->InnerDots, p.other->ID));
  for (TDot* d : Dots(st->GDotList)) EXPECT_TRUE(d->IDSearch);
}

TEST(InnerDots, NestedRingsListEveryLevel) {
  // Concentric rings: the recursive search lists every object inside a ring, and the
  // membership test follows the nesting.
  Bitmap img = Filled(130, 130, 255);
  for (int y = 0; y < 130; ++y)
    for (int x = 0; x < 130; ++x) {
      const double r = std::hypot(x - 65, y - 65);
      if (r < 60 && static_cast<int>(r) / 3 % 2 == 1) SetGray(img, x, y, 0);
    }
  State st;
  Detect(*st, img);
  GetAllInnerDotsRec(st->GDotList, st->GResult);
  TDot* outer = GetDot(st->GDotList, LabelOf(st->GResult[65][65 - 58]));
  TDot* centre = GetDot(st->GDotList, LabelOf(st->GResult[65][65]));
  ASSERT_TRUE(outer && centre);
  EXPECT_TRUE(DotInInnerDotsRec(outer->InnerDots, centre->ID));
  // Every object but the ground, the outermost ring and the ring's own label is inside it.
  EXPECT_EQ(Inner(outer).size(), Dots(st->GDotList).size() - 2);
}

}  // namespace
}  // namespace analysis
