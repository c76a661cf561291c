#include "analysis/myimage_hist.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>

#include "analysis/myimage.h"

namespace analysis {
namespace {

Bitmap Made(int w, int h, const std::function<void(int, int, uint8_t*)>& pixel) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) pixel(x, y, b.ScanLine(y) + 3 * x);
  return b;
}

void SetGray(uint8_t* p, uint8_t v) { p[0] = p[1] = p[2] = v; }

TEST(GetHistogram, CountsTheChosenChannel) {
  // Every pixel has blue 30, green 90, red 60: mean 60, largest 90.
  const Bitmap bmp = Made(12, 11, [](int, int, uint8_t* p) {
    p[0] = 30;
    p[1] = 90;
    p[2] = 60;
  });
  const TRect all{0, 0, 11, 10};
  struct Case {
    int32_t color, bin;
  };
  for (const Case c : {Case{0, 30}, Case{1, 90}, Case{2, 60}, Case{3, 60}, Case{4, 90}, Case{7, 60}}) {
    THist h;
    GetHistogram(bmp, h, all, c.color, 256);
    EXPECT_EQ(h.Hist[static_cast<size_t>(c.bin)], 132) << c.color;
    EXPECT_EQ(h.MaxPos, c.bin) << c.color;
    EXPECT_EQ(h.MaxHist, 132) << c.color;
    EXPECT_EQ(h.Histsum, 110) << c.color;  // (11 - 0) x (10 - 0), not the pixel count
  }
}

TEST(GetHistogram, ContrastSpansTheOuterEighths) {
  // Left half 10, right half 200, 20 x 20: Histsum 361, an eighth 45. Bin 10 reaches each
  // count first in scan order and is the main peak; the lower walk stops there, the upper walk
  // adds bin 200 and stops below it: Contrast 199 - 10.
  const Bitmap bmp = Made(20, 20, [](int x, int, uint8_t* p) { SetGray(p, x < 10 ? 10 : 200); });
  THist h;
  GetHistogram(bmp, h, TRect{0, 0, 19, 19}, 0, 256);
  EXPECT_EQ(h.MaxPos, 10);
  EXPECT_EQ(h.Contrast, 189);
  // A 10 x 10 rectangle has Histsum 81, below 101: no contrast.
  GetHistogram(bmp, h, TRect{5, 5, 14, 14}, 0, 256);
  EXPECT_EQ(h.Histsum, 81);
  EXPECT_EQ(h.Contrast, 0);
}

TEST(GetHistogram, HMaxExcludesAndBelow256FillsGaps) {
  // Only 0 and 255.
  const Bitmap bmp = Made(16, 16, [](int x, int, uint8_t* p) { SetGray(p, x % 2 ? 255 : 0); });
  THist h;
  GetHistogram(bmp, h, TRect{0, 0, 15, 15}, 0, 256);
  EXPECT_EQ(h.Hist[0], 128);
  EXPECT_EQ(h.Hist[255], 128);
  for (int i = 1; i < 255; ++i) ASSERT_EQ(h.Hist[static_cast<size_t>(i)], 0) << i;

  GetHistogram(bmp, h, TRect{0, 0, 15, 15}, 0, 255);
  EXPECT_EQ(h.Hist[255], 0);
  // Each empty bin takes half of the filled one before it plus the empty one after it.
  int32_t want = 128;
  for (int i = 1; i < 255; ++i) {
    want /= 2;
    ASSERT_EQ(h.Hist[static_cast<size_t>(i)], want) << i;
  }
  EXPECT_EQ(h.MaxHist, 128);  // taken while counting, before the gaps were filled
}

TEST(GetHistogram, RectanglePastTheBitmapCountsOnlyWhatIsInside) {
  const Bitmap bmp = Made(8, 6, [](int, int, uint8_t* p) { SetGray(p, 77); });
  THist h;
  h.Hist[3] = 99;  // the record is cleared first
  GetHistogram(bmp, h, TRect{-4, -3, 20, 30}, 0, 256);
  EXPECT_EQ(h.Hist[77], 48);
  EXPECT_EQ(h.Hist[3], 0);
  EXPECT_EQ(h.Histsum, 24 * 33);
  GetHistogram(bmp, h, TRect{10, 10, 20, 20}, 0, 256);
  EXPECT_EQ(h.Hist[77], 0);
}

TEST(GetHist, CountsBlueOverTheWholeBitmapAndFindsTheThreshold) {
  // A quarter of the pixels bright (200), the rest dark (40), green and red noise ignored.
  const Bitmap bmp = Made(40, 40, [](int x, int y, uint8_t* p) {
    p[0] = (x < 20 && y < 20) ? 200 : 40;
    p[1] = static_cast<uint8_t>(x * 7);
    p[2] = static_cast<uint8_t>(y * 3);
  });
  THist h;
  GetHistTH(h, bmp);
  EXPECT_EQ(h.Hist[200], 400);
  EXPECT_EQ(h.Hist[40], 1200);
  EXPECT_EQ(h.MaxPos, 40);
  EXPECT_EQ(h.MaxHist, 1200);
  EXPECT_EQ(h.Histsum, 0);
  EXPECT_EQ(h.Contrast, 0);
  EXPECT_GT(h.TH, 40);
  EXPECT_LT(h.TH, 200);
  EXPECT_EQ(h.pc, 2500);
}

Bitmap HighRange(int w, int h, const std::function<uint32_t(int, int)>& value) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) Set16BitValue(b.ScanLine(y), x, value(x, y));
  return b;
}

TEST(GetHRTH, ValleyCentreOfTheBins) {
  // All values at th: everything in bin 16; the other 253 bins weigh equally:
  // rnd(8 x 32369 / 253 + th - 128) = th + 896.
  EXPECT_EQ(GetHRTH(HighRange(30, 20, [](int, int) { return 5000u; }), 5000), 5896);
  // All values far below th: everything in bin 0, bins 1..254 weigh equally: centre 127.5,
  // 8 x 127.5 - 128 = 892.
  EXPECT_EQ(GetHRTH(HighRange(30, 20, [](int, int) { return 0u; }), 3000), 3892);
  // Nothing but bins 1..254 filled evenly: no valley, th comes back.
  EXPECT_EQ(GetHRTH(HighRange(254, 1, [](int x, int) { return static_cast<uint32_t>(8 * x - 120 + 1000); }), 1000),
            1000);
}

TEST(BinImg, WhiteShareRoundsHalvesToEven) {
  // 200 x 100 pixels: 1 white pixel is 0.5 / 100 %, which goes to 0; 3 are 1.5, which go to 2.
  for (auto [white, share] : {std::pair{1, 0}, std::pair{3, 2}, std::pair{5000, 2500}}) {
    const Bitmap src = Made(200, 100, [&](int x, int y, uint8_t* p) { SetGray(p, y * 200 + x < white ? 130 : 129); });
    Bitmap out(200, 100);
    EXPECT_EQ(BinImg(src, out, 129), share) << white;
    EXPECT_EQ(out.ScanLine(0)[0], 255);
    EXPECT_EQ(out.ScanLine(0)[2], 255);
    EXPECT_EQ(out.ScanLine(99)[3 * 199], 0);
  }
  Bitmap none;
  EXPECT_EQ(BinImg(none, none, 0), 0);
}

TEST(HRBinImg, BlackOnlyInsideTheBand) {
  // Values 0..9 per column; band 3 < v <= 6 is black.
  const Bitmap src = HighRange(10, 4, [](int x, int) { return static_cast<uint32_t>(x + 65536); });
  Bitmap out(10, 4);
  EXPECT_EQ(HRBinImg(src, out, 65536 + 6, 3), 7000);
  for (int x = 0; x < 10; ++x) {
    const bool black = x > 3 && x <= 6;
    EXPECT_EQ(out.ScanLine(2)[3 * x + 1], black ? 0 : 255) << x;
  }
  // In place, the value is read whole before the pixel is written.
  Bitmap same = src;
  EXPECT_EQ(HRBinImg(same, same, 65536 + 6, 3), 7000);
  EXPECT_EQ(same, out);
}

TEST(HistogramBuilders, OnlyTwentyFourBitBitmaps) {
  const Bitmap gray8(4, 4, platform::PixelFormat::pf8bit);
  Bitmap ok(4, 4);
  THist h;
  EXPECT_THROW(GetHistogram(gray8, h, TRect{0, 0, 3, 3}, 0, 256), std::invalid_argument);
  EXPECT_THROW(GetHist(h, gray8), std::invalid_argument);
  EXPECT_THROW(GetHRTH(gray8, 0), std::invalid_argument);
  EXPECT_THROW(BinImg(gray8, ok, 0), std::invalid_argument);
}

}  // namespace
}  // namespace analysis
