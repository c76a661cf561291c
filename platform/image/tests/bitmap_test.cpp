#include "platform/image/bitmap.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

#include "platform/image/tests/test_support.h"

namespace platform {
namespace {

using testing::PatternBitmap;

TEST(Bitmap, StartsEmptyWithoutScanLines) {
  Bitmap bmp;
  EXPECT_TRUE(bmp.Empty());
  EXPECT_EQ(bmp.Width(), 0);
  EXPECT_EQ(bmp.Height(), 0);
  EXPECT_EQ(bmp.GetPixelFormat(), PixelFormat::pf24bit);
  EXPECT_THROW(bmp.ScanLine(0), std::out_of_range);
  EXPECT_TRUE(Bitmap(5, 0).Empty());
  EXPECT_TRUE(Bitmap(0, 5).Empty());
  EXPECT_THROW(Bitmap(0, 5).ScanLine(0), std::out_of_range);
}

TEST(Bitmap, RowsArePaddedToFourBytes) {
  struct Case { PixelFormat pf; int width; size_t stride; size_t rowBytes; };
  for (const Case c : {Case{PixelFormat::pf24bit, 1, 4, 3}, {PixelFormat::pf24bit, 2, 8, 6},
                       {PixelFormat::pf24bit, 3, 12, 9}, {PixelFormat::pf24bit, 4, 12, 12},
                       {PixelFormat::pf24bit, 1280, 3840, 3840}, {PixelFormat::pf24bit, 1279, 3840, 3837},
                       {PixelFormat::pf8bit, 1, 4, 1}, {PixelFormat::pf8bit, 5, 8, 5},
                       {PixelFormat::pf1bit, 1, 4, 1}, {PixelFormat::pf1bit, 32, 4, 4},
                       {PixelFormat::pf1bit, 33, 8, 5}, {PixelFormat::pf32bit, 3, 12, 12}}) {
    const Bitmap bmp(c.width, 3, c.pf);
    EXPECT_EQ(bmp.Stride(), c.stride) << c.width << " px of " << BitsPerPixel(c.pf) << " bits";
    EXPECT_EQ(bmp.RowBytes(), c.rowBytes) << c.width << " px of " << BitsPerPixel(c.pf) << " bits";
  }
}

TEST(Bitmap, RowZeroIsTheFirstRowInMemory) {
  Bitmap bmp(7, 4);
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(bmp.ScanLine(y), bmp.Bits() + static_cast<size_t>(y) * bmp.Stride());
  }
  EXPECT_THROW(bmp.ScanLine(4), std::out_of_range);
  EXPECT_THROW(bmp.ScanLine(-1), std::out_of_range);
}

TEST(Bitmap, NewBitmapsAreBlack) {
  const Bitmap bmp(13, 5);
  for (size_t i = 0; i < bmp.Stride() * 5; ++i) ASSERT_EQ(bmp.Bits()[i], 0) << i;
}

TEST(Bitmap, NegativeSizesAreRefused) {
  EXPECT_THROW(Bitmap(-1, 3), std::invalid_argument);
  EXPECT_THROW(Bitmap(3, -1), std::invalid_argument);
  Bitmap bmp = PatternBitmap(4, 4);
  const Bitmap before = bmp;
  EXPECT_THROW(bmp.SetSize(-2, 4), std::invalid_argument);
  EXPECT_EQ(bmp, before);
}

TEST(Bitmap, CopiesAreDeep) {
  Bitmap a = PatternBitmap(9, 6);
  Bitmap b = a;
  EXPECT_EQ(a, b);
  EXPECT_NE(a.Bits(), b.Bits());
  b.ScanLine(2)[5] ^= 0xFF;
  EXPECT_NE(a, b);
  Bitmap c(1, 1);
  c = a;
  c.ScanLine(0)[0] ^= 1;
  EXPECT_NE(a, c);
}

TEST(Bitmap, MovingLeavesAnEmptyBitmap) {
  Bitmap a = PatternBitmap(9, 6);
  const Bitmap copy = a;
  Bitmap b = std::move(a);
  EXPECT_EQ(b, copy);
  EXPECT_TRUE(a.Empty());  // NOLINT(bugprone-use-after-move): the moved-from state is specified
  EXPECT_THROW(a.ScanLine(0), std::out_of_range);
}

TEST(Bitmap, SetSizeKeepsTheOverlapAndBlackensTheRest) {
  const Bitmap original = PatternBitmap(6, 5);
  Bitmap bmp = original;
  bmp.SetSize(9, 3);
  ASSERT_EQ(bmp.Width(), 9);
  ASSERT_EQ(bmp.Height(), 3);
  for (int y = 0; y < 3; ++y) {
    for (int i = 0; i < 27; ++i) {
      const uint8_t expected = i < 18 ? original.ScanLine(y)[i] : 0;
      ASSERT_EQ(bmp.ScanLine(y)[i], expected) << "row " << y << " byte " << i;
    }
  }
  bmp.SetSize(4, 6);
  for (int y = 0; y < 6; ++y) {
    for (int i = 0; i < 12; ++i) {
      const uint8_t expected = y < 3 ? original.ScanLine(y)[i] : 0;
      ASSERT_EQ(bmp.ScanLine(y)[i], expected) << "row " << y << " byte " << i;
    }
  }
  bmp.SetSize(0, 0);
  EXPECT_TRUE(bmp.Empty());
  EXPECT_EQ(bmp.GetPixelFormat(), PixelFormat::pf24bit);
}

TEST(Bitmap, SetSizeKeepsThePixelFormat) {
  Bitmap bmp(3, 3, PixelFormat::pf8bit);
  bmp.ScanLine(1)[1] = 77;
  bmp.SetSize(5, 2);
  EXPECT_EQ(bmp.GetPixelFormat(), PixelFormat::pf8bit);
  EXPECT_EQ(bmp.ScanLine(1)[1], 77);
  EXPECT_EQ(bmp.Stride(), 8u);
}

TEST(Bitmap, OneBitShrinkClearsTheCutOffBits) {
  Bitmap bmp(16, 1, PixelFormat::pf1bit);
  bmp.Fill(0xFF);
  bmp.SetSize(3, 1);
  bmp.SetSize(16, 1);
  EXPECT_EQ(bmp.ScanLine(0)[0], 0xE0);  // three white pixels, then the black that came back
  EXPECT_EQ(bmp.ScanLine(0)[1], 0x00);
}

TEST(Bitmap, EqualityIgnoresPadding) {
  Bitmap a(5, 2);  // 15 bytes of pixels, 16 in a row
  Bitmap b(5, 2);
  a.ScanLine(1)[15] = 9;
  EXPECT_EQ(a, b);
  a.ScanLine(1)[14] = 9;
  EXPECT_NE(a, b);
  Bitmap m1(3, 1, PixelFormat::pf1bit);
  Bitmap m2(3, 1, PixelFormat::pf1bit);
  m1.ScanLine(0)[0] = 0x1F;  // only bits beyond the third pixel
  EXPECT_EQ(m1, m2);
  EXPECT_NE(Bitmap(2, 2, PixelFormat::pf8bit), Bitmap(2, 2, PixelFormat::pf24bit));
  EXPECT_NE(Bitmap(2, 3), Bitmap(3, 2));
  EXPECT_EQ(Bitmap(0, 5), Bitmap(0, 5));
  EXPECT_NE(Bitmap(0, 5), Bitmap(0, 4));
}

}  // namespace
}  // namespace platform
