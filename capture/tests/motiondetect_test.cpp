// The motion detector: counting changed pixels against the tolerance, the hold time on an
// injected clock, priming, property ranges and the painted masks.
#include "capture/motiondetect.h"

#include <gtest/gtest.h>

namespace capture {
namespace {

using platform::Bitmap;

Bitmap Gray(int w, int h, uint8_t level) {
  Bitmap b(w, h);
  b.Fill(level);
  return b;
}

// `count` pixels (row by row from the top left) of `b` raised by `delta` in every byte.
Bitmap Changed(const Bitmap& base, int count, int delta) {
  Bitmap b = base;
  for (int i = 0; i < count; ++i) {
    uint8_t* p = b.ScanLine(i / b.Width()) + 3 * (i % b.Width());
    for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(p[c] + delta);
  }
  return b;
}

struct Clocked {
  uint64_t now = 100000;
  TMotionDetect_bmp det;
  int begins = 0, ends = 0;
  Clocked() {
    det.SetTickSource([this] { return now; });
    det.onMotionBegin = [this](TMotionDetect*) { ++begins; };
    det.onMotionEnd = [this](TMotionDetect*) { ++ends; };
  }
};

TEST(MotionDetect, DefaultsAndRanges) {
  TMotionDetect_bmp d;
  EXPECT_EQ(d.detectionSecs(), 3);
  EXPECT_EQ(d.tolerance(), 1000u);
  EXPECT_EQ(d.sensivity(), 32);
  EXPECT_EQ(d.showMask(), smMotion);
  EXPECT_TRUE(d.detectLightness());
  EXPECT_EQ(d.pixelFormat(), pf24bit);
  EXPECT_EQ(d.width(), 0);
  d.setSensivity(0);
  EXPECT_EQ(d.sensivity(), 1);
  d.setSensivity(300);
  EXPECT_EQ(d.sensivity(), 255);
  d.setTolerance(5);
  EXPECT_EQ(d.tolerance(), 10u);
  d.setTolerance(int64_t{1} << 40);
  EXPECT_EQ(d.tolerance(), 2147483647u);
  d.setDetectionSecs(9);
  EXPECT_EQ(d.detectionSecs(), 5);
  d.setDetectionSecs(0);
  EXPECT_EQ(d.detectionSecs(), 1);
  const std::pair<TPixelFormat, int> formats[] = {{pf8bit, 1}, {pf16bit, 2}, {pf24bit, 3}, {pf32bit, 4}};
  for (const auto& [pf, res] : formats) {
    d.setPixelFormat(pf);
    EXPECT_EQ(d.pixelFormat(), pf);
    EXPECT_EQ(d.Res(), res);
  }
  d.setPixelFormat(pf1bit);
  EXPECT_EQ(d.pixelFormat(), pf24bit);
  EXPECT_EQ(d.Res(), 3);
}

TEST(MotionDetect, ToleranceDecides) {
  const Bitmap base = Gray(1280, 1024, 100);
  Clocked c;
  c.det.initialize(const_cast<Bitmap&>(base));
  Bitmap same = base;
  ASSERT_TRUE(c.det.feedFrame(same));
  EXPECT_EQ(c.det.Value(), 0u);
  EXPECT_FALSE(c.det.HasMotion());
  EXPECT_EQ(c.det.Lightness(), 100);

  Bitmap f999 = Changed(base, 999, 32);
  ASSERT_TRUE(c.det.feedFrame(f999));
  EXPECT_EQ(c.det.Value(), 999u);
  EXPECT_EQ(c.det.MaxDiff(), 32);
  EXPECT_FALSE(c.det.HasMotion());

  c.det.initialize(const_cast<Bitmap&>(base));
  Bitmap f1000 = Changed(base, 1000, 32);
  ASSERT_TRUE(c.det.feedFrame(f1000));
  EXPECT_EQ(c.det.Value(), 1000u);
  EXPECT_TRUE(c.det.HasMotion());
  EXPECT_EQ(c.begins, 1);

  // Differences below the sensitivity do not count.
  c.det.initialize(const_cast<Bitmap&>(base));
  Bitmap faint = Changed(base, 5000, 31);
  ASSERT_TRUE(c.det.feedFrame(faint));
  EXPECT_EQ(c.det.Value(), 0u);
  EXPECT_EQ(c.det.MaxDiff(), 31);
}

TEST(MotionDetect, LargestByteDifferenceDecides) {
  Bitmap base = Gray(8, 8, 50);
  TMotionDetect_bmp d;
  d.initialize(base);
  Bitmap f = base;
  f.ScanLine(3)[3 * 4] = 90;  // only the blue byte of one pixel, by 40
  ASSERT_TRUE(d.feedFrame(f));
  EXPECT_EQ(d.Value(), 1u);
  EXPECT_EQ(d.MaxDiff(), 40);
  Bitmap down = f;
  down.ScanLine(3)[3 * 4] = 10;  // 80 down: the distance counts, not the sign
  ASSERT_TRUE(d.feedFrame(down));
  EXPECT_EQ(d.MaxDiff(), 80);
}

TEST(MotionDetect, MotionIsHeldForTheDetectionTime) {
  const Bitmap a = Gray(64, 64, 20);
  const Bitmap b = Gray(64, 64, 200);
  Clocked c;
  c.det.setTolerance(10);
  c.det.initialize(const_cast<Bitmap&>(a));
  c.det.setDetectionSecs(1);
  Bitmap frame = b;
  ASSERT_TRUE(c.det.feedFrame(frame));  // t = 0: begins, may end after t = 1000
  EXPECT_TRUE(c.det.HasMotion());
  c.now += 500;
  frame = b;
  c.det.feedFrame(frame);  // quiet at 0.5 s: still moving
  EXPECT_TRUE(c.det.HasMotion());
  c.now += 300;
  frame = a;
  c.det.feedFrame(frame);  // motion again at 0.8 s does not extend the hold
  c.now += 200;
  frame = a;
  c.det.feedFrame(frame);  // quiet exactly at 1 s: not past it yet
  EXPECT_TRUE(c.det.HasMotion());
  c.now += 1;
  frame = a;
  c.det.feedFrame(frame);
  EXPECT_FALSE(c.det.HasMotion());
  EXPECT_EQ(c.begins, 1);
  EXPECT_EQ(c.ends, 1);
}

TEST(MotionDetect, PrimingReportsNothing) {
  Clocked c;
  c.det.setTolerance(10);
  Bitmap first = Gray(32, 32, 255);  // every pixel differs from the cleared buffer
  c.det.initialize(first);
  EXPECT_FALSE(c.det.HasMotion());
  EXPECT_EQ(c.det.Value(), 0u);
  EXPECT_EQ(c.begins, 0);
  // A frame of another size clears the buffers: the next comparison is against black.
  Bitmap bigger = Gray(40, 32, 255);
  ASSERT_TRUE(c.det.feedFrame(bigger));
  EXPECT_EQ(c.det.width(), 40);
  EXPECT_EQ(c.det.Value(), 40u * 32);
  EXPECT_TRUE(c.det.HasMotion());
}

TEST(MotionDetect, RefusesWhatItCannotCompare) {
  TMotionDetect_bmp d;
  Bitmap gray8(16, 16, platform::PixelFormat::pf8bit);
  EXPECT_FALSE(d.feedFrame(gray8));
  Bitmap tiny = Gray(1, 16, 0);
  EXPECT_FALSE(d.feedFrame(tiny));
  Bitmap out;
  EXPECT_FALSE(d.getImage(out, true));
  d.setPixelFormat(pf8bit);
  EXPECT_TRUE(d.feedFrame(gray8));
  Bitmap wide(70000, 2);
  d.setPixelFormat(pf24bit);
  EXPECT_FALSE(d.feedFrame(wide));
  d.setPixelFormat(pf16bit);
  EXPECT_FALSE(d.getImage(out, false));  // no bitmap holds 16-bit pixels
}

TEST(MotionDetect, PaintedMasks) {
  Bitmap base = Gray(4, 2, 10);
  TMotionDetect_bmp d;
  d.initialize(base);
  Bitmap next = base;
  auto set = [](Bitmap& b, int x, int y, uint8_t v) {
    uint8_t* p = b.ScanLine(y) + 3 * x;
    p[0] = p[1] = p[2] = v;
  };
  set(next, 0, 0, 210);  // difference 200
  set(next, 1, 0, 42);   // difference 32: counted, not painted (painting needs more)
  set(next, 2, 0, 30);   // difference 20
  ASSERT_TRUE(d.feedFrame(next));
  EXPECT_EQ(d.Value(), 2u);

  Bitmap img = Gray(4, 2, 60);
  int raised = 0;
  d.onGetImage = [&](Bitmap&) { ++raised; };
  ASSERT_TRUE(d.getImage(img, false));
  EXPECT_EQ(raised, 1);
  const uint8_t* row = img.ScanLine(0);
  EXPECT_EQ(row[0], 0);  // blue
  EXPECT_EQ(row[1], 0);  // green
  EXPECT_EQ(row[2], 255);  // red: min(60 + 200, 255)
  for (int i = 3; i < 12; ++i) EXPECT_EQ(row[i], 60) << i;  // untouched
  ASSERT_TRUE(d.getImage(img, true));  // repainted from the stored frame first
  EXPECT_EQ(img.ScanLine(0)[2], 255);
  EXPECT_EQ(img.ScanLine(0)[5], 42);
  EXPECT_EQ(img.ScanLine(1)[0], 10);

  d.setShowMask(smFullMask);
  d.initialize(base);
  Bitmap again = next;
  d.feedFrame(again);
  Bitmap full = Gray(4, 2, 60);
  d.getImage(full, false);
  EXPECT_EQ(full.ScanLine(0)[3 * 2 + 1], 80);  // green tinted by 20
  EXPECT_EQ(full.ScanLine(0)[3 * 2 + 2], 0);
  EXPECT_EQ(full.ScanLine(0)[3 * 2 + 0], 0);
  EXPECT_EQ(full.ScanLine(1)[1], 60);  // difference 0: green + 0

  // Only new changes: a pixel that changed in this frame and the last one is not marked.
  d.setShowMask(smMotionNew);
  d.initialize(base);
  Bitmap f1 = next;
  d.feedFrame(f1);
  Bitmap f2 = next;
  set(f2, 0, 0, 10);  // changed again (back by 200)
  set(f2, 3, 1, 250);  // newly changed
  d.feedFrame(f2);
  Bitmap marks = Gray(4, 2, 0);
  d.getImage(marks, false);
  EXPECT_EQ(marks.ScanLine(0)[2], 0);
  EXPECT_EQ(marks.ScanLine(1)[3 * 3 + 2], 240);

  // smNone writes and paints no mask.
  d.setShowMask(smNone);
  Bitmap plain = Gray(4, 2, 60);
  d.getImage(plain, false);
  EXPECT_EQ(plain, Gray(4, 2, 60));
}

}  // namespace
}  // namespace capture
