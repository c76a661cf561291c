#include "analysis/analyze_threshold.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <set>

#include "analysis/myimage_hist.h"
#include "analysis/tests/threshold_truth.h"

namespace analysis {
namespace {

// ---- Test images ----

// Deterministic noise in -6..6, so that populations are a few levels wide as in a camera image.
int Noise(int x, int y) {
  uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return static_cast<int>(h % 13) - 6;
}

// A halftone: 8 x 8 cells, in each a dot of 4 x 4 pixels at level `dot` on `paper`.
bool InDot(int x, int y) { return x % 8 < 4 && y % 8 < 4; }

Bitmap Image(int w, int h, const std::function<int(int, int)>& level) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const auto v = static_cast<uint8_t>(std::clamp(level(x, y), 0, 255));
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
    }
  }
  return b;
}

struct LocalResult {
  int32_t th = 0;
  uint8_t contrast = 0;
  int32_t proc = 0;
};

LocalResult Local(AnalyzeState& st, const Bitmap& bmp, int32_t limit, bool forceLocal, int32_t dim = 4,
                  int32_t q = 255) {
  LocalResult r;
  r.th = GetLocalTH(st, bmp, limit, 0, q, r.contrast, r.proc, forceLocal, 256, dim);
  return r;
}

// ---- GetFMittel ----

TEST(GetFMittel, InterpolatesBetweenTheCorners) {
  struct Case {
    int32_t dx, dy, A, B, C, D, x, y;
    double want;
  };
  const Case cases[] = {
      {10, 0, 100, 200, 0, 0, 5, 0, 150},     {10, 10, 0, 100, 100, 200, 5, 5, 100},
      {0, 0, 42, 7, 7, 7, 3, 3, 42},          {0, 8, 100, 20, 0, 0, 0, 2, 80},  // dx 0: B is the lower value
      {4, 4, 10, 20, 30, 40, 0, 0, 10},       {4, 4, 10, 20, 30, 40, 4, 0, 20},
      {4, 4, 10, 20, 30, 40, 0, 4, 30},       {4, 4, 10, 20, 30, 40, 4, 4, 40},
      {4, 2, 0, 1, 0, 1, 2, 1, 0.5},          {256, 204, 70, 171, 70, 171, 128, 102, 120.5},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(GetFMittel(c.dx, c.dy, c.A, c.B, c.C, c.D, c.x, c.y), c.want)
        << c.dx << " " << c.dy << " " << c.x << " " << c.y;
  }
}

// ---- FillLocalTh, BinLocalTh ----

TEST(LocalThresholdImage, FillThenBinarise) {
  AnalyzeState st;
  st.ThImage[ImWidth][ImHeight] = 5;
  FillLocalTh(st, 128);
  EXPECT_EQ(st.ThImage[0][0], 128);
  EXPECT_EQ(st.ThImage[ImWidth - 1][ImHeight - 1], 128);
  EXPECT_EQ(st.ThImage[ImWidth][ImHeight], 5);  // the spare column and row are not part of it

  Bitmap bmp = Image(256, 3, [](int x, int) { return x; });
  BinLocalTh(st, bmp);
  for (int x = 0; x < 256; ++x) {
    const uint8_t* p = bmp.ScanLine(1) + 3 * x;
    EXPECT_EQ(p[0], x >= 128 ? 255 : 0) << x;
    EXPECT_EQ(p[1], p[0]);
    EXPECT_EQ(p[2], p[0]);
  }
  // A bitmap larger than the threshold image: the part beyond it is left alone.
  Bitmap big = Image(ImWidth + 10, 2, [](int, int) { return 200; });
  BinLocalTh(st, big);
  EXPECT_EQ(big.ScanLine(0)[3 * (ImWidth + 5)], 200);
  EXPECT_EQ(big.ScanLine(0)[0], 255);
}

// ---- GetICPThreshold ----

TEST(GetICPThreshold, MatchesTheIndependentImplementation) {
  const auto cases = testing::RunThresholdTruth(4711, 80, true);
  int checked = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    const testing::ThresholdCase& c = cases[i];
    if (!c.eightBit) continue;
    SCOPED_TRACE(::testing::Message() << "case " << i << " q " << c.q);
    const THist before = *c.hist;
    int32_t prozent = -1, l = -1, r = -1, kont = -1;
    EXPECT_EQ(GetICPThreshold(*c.hist, c.q, prozent, l, r, kont), c.ith);
    EXPECT_EQ(prozent, c.iprozent);
    EXPECT_EQ(l, c.il);
    EXPECT_EQ(r, c.ir);
    EXPECT_EQ(kont, c.ikont);
    EXPECT_EQ(c.hist->Hist, before.Hist);
    ++checked;
  }
  EXPECT_EQ(checked, 80);
}

// As with the two-peak threshold, a larger bright population pushes the right peak up (the
// iteration keeps it at least a quarter of the valley edge above that edge); the threshold, the
// dark peak and the share stay right.
TEST(GetICPThreshold, TwoPopulationsGiveValleyAndShareBelow) {
  struct Case {
    int dark, bright;
    int32_t q;
    int darkColumns;  // of 200
  };
  for (const Case c : {Case{60, 200, 255, 130}, Case{40, 150, 170, 110}, Case{30, 210, 255, 150},
                       Case{60, 200, 255, 70}, Case{40, 150, 170, 40}}) {
    SCOPED_TRACE(::testing::Message() << c.dark << "/" << c.bright << " q " << c.q << " dark " << c.darkColumns);
    const Bitmap bmp =
        Image(200, 100, [&](int x, int y) { return (x < c.darkColumns ? c.dark : c.bright) + Noise(x, y); });
    THist h;
    GetHistogram(bmp, h, TRect{0, 0, 199, 99}, 0, 256);
    int32_t prozent = 0, l = 0, r = 0, kont = 0;
    const int32_t th = GetICPThreshold(h, c.q, prozent, l, r, kont);
    EXPECT_GT(th, c.dark + 6);
    EXPECT_LT(th, c.bright - 6);
    EXPECT_NEAR(l, c.dark, 2);
    if (c.darkColumns >= 100) {
      EXPECT_NEAR(r, c.bright, 2);
    } else {
      EXPECT_GE(r, c.bright - 2);
    }
    EXPECT_EQ(kont, r - l);
    EXPECT_EQ(prozent, c.darkColumns * 5);  // share below, in per mille
  }
}

// Black mask areas put the dark peak below bin 10; its mass window starts before bin 0 and must
// read empty bins there.
TEST(GetICPThreshold, DarkPeakAtTheBottomStaysInsideTheRecord) {
  THist h;
  h.Hist[0] = 40000;
  h.Hist[1] = 20000;
  h.Hist[2] = 9000;
  h.Hist[3] = 2000;
  for (int i = 170; i <= 190; ++i) h.Hist[static_cast<size_t>(i)] = 3000;
  int32_t prozent = 0, l = 0, r = 0, kont = 0;
  const int32_t th = GetICPThreshold(h, 255, prozent, l, r, kont);
  EXPECT_GT(th, 3);
  EXPECT_LT(th, 170);
  EXPECT_GE(l, 0);
  EXPECT_LE(r, 254);
}

// ---- GetFFTTH ----

TEST(GetFFTTH, QuantileOfTheBlueByte) {
  const Bitmap flat = Image(40, 30, [](int, int) { return 100; });
  EXPECT_EQ(GetFFTTH(flat, TRect{0, 0, 39, 29}, 0.5), 101);
  // Columns 0..99 of value x: Histsum 99 x 9 = 891, each bin holds 10: the sum first exceeds
  // 0.8 x 891 = 712.8 at bin 71 (720).
  const Bitmap ramp = Image(100, 10, [](int x, int) { return x; });
  EXPECT_EQ(GetFFTTH(ramp, TRect{0, 0, 99, 9}, 0.8), 72);
  // Nothing counted: the walk stops at the end.
  EXPECT_EQ(GetFFTTH(ramp, TRect{500, 500, 600, 600}, 0.5), 9999);
}

// ---- GetLocalTH ----

TEST(GetLocalTH, UniformImageGivesOneThresholdEverywhereButTheUnreachedRows) {
  auto st = std::make_unique<AnalyzeState>();
  const Bitmap bmp = Image(ImWidth, ImHeight, [](int, int) { return 128; });
  const LocalResult r = Local(*st, bmp, 200, false);
  const int32_t th = st->Ths[0][0].TH;
  for (int tx = 0; tx <= 4; ++tx)
    for (int ty = 0; ty <= 4; ++ty) ASSERT_EQ(st->Ths[tx][ty].TH, th) << tx << "," << ty;
  EXPECT_EQ(r.th, th);
  EXPECT_EQ(st->GlobalTH, th);
  for (int x = 0; x < ImWidth; ++x) {
    for (int y = 0; y < ImHeight; ++y) ASSERT_EQ(st->ThImage[x][y], y <= 1020 ? th : 0) << x << "," << y;
  }
  // Tile centres: tiles are twice the grid step and overlap by half, clipped at the border.
  EXPECT_EQ(st->Ths[0][0].x, (0 + 511) / 2);
  EXPECT_EQ(st->Ths[0][0].y, (0 + 407) / 2);
  EXPECT_EQ(st->Ths[2][3].x, (384 + 895) / 2);
  EXPECT_EQ(st->Ths[2][3].y, (510 + 917) / 2);
  EXPECT_EQ(st->Ths[4][4].x, (896 + 1279) / 2);
  EXPECT_EQ(st->Ths[5][3].TH, st->Ths[4][3].TH);  // the copy column

  // dim 6 leaves rows 1019..1023 and columns 1183..1187 unreached.
  Local(*st, bmp, 200, false, 6);
  std::set<int> rows;
  std::set<int> columns;
  for (int x = 0; x < ImWidth; ++x) {
    for (int y = 0; y < ImHeight; ++y) {
      if (st->ThImage[x][y] == 0) {
        if (x < 1183 || x > 1187) rows.insert(y);
        if (y < 1019) columns.insert(x);
      } else {
        ASSERT_EQ(st->ThImage[x][y], st->GlobalTH) << x << "," << y;
      }
    }
  }
  ASSERT_NE(st->GlobalTH, 0);
  EXPECT_EQ(rows, (std::set<int>{1019, 1020, 1021, 1022, 1023}));
  EXPECT_EQ(columns, (std::set<int>{1183, 1184, 1185, 1186, 1187}));
}

// Every interpolated threshold lies between the smallest and the largest tile threshold.
void ExpectWithinTiles(const AnalyzeState& st, int dim) {
  int32_t low = INT32_MAX;
  int32_t high = INT32_MIN;
  for (int tx = 0; tx <= dim; ++tx) {
    for (int ty = 0; ty <= dim; ++ty) {
      low = std::min(low, st.Ths[tx][ty].TH);
      high = std::max(high, st.Ths[tx][ty].TH);
    }
  }
  for (int x = 0; x < ImWidth; ++x) {
    for (int y = 0; y <= ImHeight - dim; ++y) {
      ASSERT_GE(st.ThImage[x][y], low) << x << "," << y;
      ASSERT_LE(st.ThImage[x][y], high) << x << "," << y;
    }
  }
}

// Left half printed lighter than the right half. Accepted, the threshold follows the light;
// rejected, one global threshold fills everything; forced, the tiles are used in any case.
TEST(GetLocalTH, SplitImageLocalGlobalAndForced) {
  auto st = std::make_unique<AnalyzeState>();
  const Bitmap bmp = Image(ImWidth, ImHeight, [](int x, int y) {
    const int shift = x < ImWidth / 2 ? 0 : 90;
    return (InDot(x, y) ? 20 : 110) + shift + Noise(x, y);
  });

  Local(*st, bmp, 200, false);
  const int32_t leftTh = st->Ths[0][2].TH;
  const int32_t rightTh = st->Ths[4][2].TH;
  EXPECT_GT(leftTh, 26);
  EXPECT_LT(leftTh, 104);
  EXPECT_GT(rightTh, 116);
  EXPECT_LT(rightTh, 194);
  // The tile centres are the interpolation's anchors, the bands carry the border tiles' values.
  for (int tx = 0; tx < 4; ++tx)
    for (int ty = 0; ty < 4; ++ty) EXPECT_EQ(st->ThImage[tx * 256 + 128][ty * 204 + 102], st->Ths[tx][ty].TH);
  EXPECT_EQ(st->ThImage[10][510], leftTh);
  EXPECT_EQ(st->ThImage[ImWidth - 10][510], rightTh);
  ExpectWithinTiles(*st, 4);
  // Across the step the threshold rises with the light.
  for (int x = 384; x < 896; ++x) ASSERT_GE(st->ThImage[x][510], st->ThImage[x - 1][510]) << x;
  EXPECT_GT(st->ThImage[896][510], st->ThImage[384][510] + 60);

  // The middle tiles straddle the step, so their neighbours differ by more than 20.
  const LocalResult global = Local(*st, bmp, 20, false);
  EXPECT_EQ(st->GlobalTH, global.th);
  for (int x = 0; x <= ImWidth; ++x)
    for (int y = 0; y <= ImHeight; ++y) ASSERT_EQ(st->ThImage[x][y], global.th) << x << "," << y;
  // The global threshold separates the paper of the left half from the dots of the right
  // half; only the left dots lie below it.
  EXPECT_GT(global.th, 20 + 6);
  EXPECT_LT(global.th, 110 - 6);
  // The share above, in 1/100 %, of the histogram the threshold was found on: the spike
  // smoothing moves a few counts, so it is close to the image's 87.5 % without being exact.
  EXPECT_NEAR(global.proc, 8750, 5);

  Local(*st, bmp, 20, true);
  EXPECT_EQ(st->ThImage[10][510], leftTh);
  EXPECT_EQ(st->ThImage[ImWidth - 10][510], rightTh);
}

TEST(GetLocalTH, GradientRaisesTheThresholdAcrossTheImage) {
  auto st = std::make_unique<AnalyzeState>();
  const Bitmap bmp = Image(ImWidth, ImHeight, [](int x, int y) {
    const int shift = x * 100 / ImWidth;
    return (InDot(x, y) ? 15 : 120) + shift + Noise(x, y);
  });
  Local(*st, bmp, 200, false);
  for (int tx = 1; tx <= 4; ++tx) EXPECT_GT(st->Ths[tx][2].TH, st->Ths[tx - 1][2].TH) << tx;
  ExpectWithinTiles(*st, 4);
  // Along the anchor rows the threshold never falls with growing light.
  for (int y : {102, 306, 510, 714})
    for (int x = 1; x < ImWidth; ++x) ASSERT_GE(st->ThImage[x][y], st->ThImage[x - 1][y]) << x << "," << y;
  EXPECT_GE(st->GlobalTH, st->Ths[0][2].TH);
  EXPECT_LE(st->GlobalTH, st->Ths[4][2].TH);
}

// Solid areas give tiles without contrast: their thresholds are whatever an empty valley gives
// and disagree with their neighbours, so the whole image falls back to one threshold.
TEST(GetLocalTH, TilesWithoutContrastFallBackToTheGlobalThreshold) {
  auto st = std::make_unique<AnalyzeState>();
  // Top half solid black, bottom half paper with levels 228..232 in equal numbers (a flat top,
  // which the spike smoothing leaves alone).
  const Bitmap bmp = Image(ImWidth, ImHeight, [](int x, int y) { return y < ImHeight / 2 ? 0 : 228 + x % 5; });
  const LocalResult r = Local(*st, bmp, 150, false);
  int32_t low = INT32_MAX;
  int32_t high = 0;
  for (int tx = 0; tx <= 4; ++tx) {
    low = std::min(low, st->Ths[tx][0].TH);
    high = std::max(high, st->Ths[tx][4].TH);
  }
  EXPECT_GT(high - low, 150);
  EXPECT_EQ(st->ThImage[0][0], r.th);
  EXPECT_EQ(st->ThImage[ImWidth - 1][ImHeight - 1], r.th);
  EXPECT_EQ(st->GlobalTH, r.th);
  EXPECT_GT(r.th, 0);
  EXPECT_LT(r.th, 228);
  EXPECT_EQ(r.proc, 5000);
}

TEST(GetLocalTH, OddSizesStayInsideTheThresholdImage) {
  auto st = std::make_unique<AnalyzeState>();
  for (auto [w, h] : {std::pair{3, 2}, std::pair{1, 1}, std::pair{ImWidth + 300, ImHeight + 100}, std::pair{700, 40}}) {
    const Bitmap bmp = Image(w, h, [](int x, int y) { return (InDot(x, y) ? 40 : 180) + Noise(x, y); });
    for (int dim : {0, 1, 4, 9, 20}) {
      for (bool force : {false, true}) {
        const LocalResult r = Local(*st, bmp, 200, force, dim);
        EXPECT_GE(r.th, 0);
        EXPECT_LE(r.th, 10000);
      }
    }
  }
}

// ---- DilatationLTH ----

// The window count written out directly, as a reference for the sliding implementation.
void NaiveDilatation(const Bitmap& from, Bitmap& to, const TIntImage& th, int channel, int dim, int level) {
  for (int y = dim; y < from.Height() - dim; ++y) {
    for (int x = dim; x < from.Width() - dim; ++x) {
      int count = 0;
      for (int v = y - dim; v <= y + dim; ++v)
        for (int u = x - dim; u <= x + dim; ++u) count += from.ScanLine(v)[3 * u + channel] > th[x][y];
      uint8_t* p = to.ScanLine(y) + 3 * x;
      p[0] = p[1] = p[2] = count > level ? 255 : 0;
    }
  }
}

TEST(DilatationLTH, MatchesTheDirectWindowCount) {
  auto th = std::make_unique<TIntImage>();
  Bitmap from(61, 47);
  for (int y = 0; y < 47; ++y) {
    for (int x = 0; x < 61; ++x) {
      uint8_t* p = from.ScanLine(y) + 3 * x;
      p[0] = static_cast<uint8_t>((x * 37 + y * 11) % 256);
      p[1] = static_cast<uint8_t>(InDot(x, y) ? 30 : 200);
      p[2] = static_cast<uint8_t>(128 + Noise(x, y) * 20);
      // A threshold that wanders, jumps, and reaches past the byte range.
      th->e[x][y] = static_cast<uint16_t>(x < 50 ? 100 + (x * 3 + y) % 60 : 300);
    }
  }
  for (int channel : {0, 1, 2}) {
    for (int dim : {0, 1, 3, 9, 10}) {
      for (int level : {0, 5, 47}) {
        Bitmap want(61, 47);
        want.Fill(77);
        Bitmap got = want;
        NaiveDilatation(from, want, *th, channel, dim, level);
        DilatationLTH(from, got, *th, channel, dim, level);
        ASSERT_EQ(got, want) << "channel " << channel << " dim " << dim << " level " << level;
        Bitmap inPlace = from;
        DilatationLTH(inPlace, inPlace, *th, channel, dim, level);
        Bitmap fromBorder = from;
        NaiveDilatation(from, fromBorder, *th, channel, dim, level);
        ASSERT_EQ(inPlace, fromBorder) << "in place, channel " << channel << " dim " << dim;
      }
    }
  }
  // dim is limited to 10: a larger one behaves as 10.
  Bitmap want(61, 47);
  Bitmap got(61, 47);
  NaiveDilatation(from, want, *th, 1, 10, 3);
  DilatationLTH(from, got, *th, 1, 25, 3);
  EXPECT_EQ(got, want);
}

TEST(LocalThresholds, OnlyTwentyFourBitBitmaps) {
  AnalyzeState st;
  Bitmap gray8(8, 8, platform::PixelFormat::pf8bit);
  Bitmap ok(8, 8);
  uint8_t contrast = 0;
  int32_t proc = 0;
  EXPECT_THROW(BinLocalTh(st, gray8), std::invalid_argument);
  EXPECT_THROW(GetLocalTH(st, gray8, 200, 0, 255, contrast, proc, false, 256, 4), std::invalid_argument);
  EXPECT_THROW(DilatationLTH(gray8, ok, st.ThImage, 0, 1, 1), std::invalid_argument);
}

}  // namespace
}  // namespace analysis
