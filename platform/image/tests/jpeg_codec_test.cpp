#include "platform/image/jpeg_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "platform/image/tests/libjpeg_writer.h"
#include "platform/image/tests/test_support.h"

namespace platform {
namespace {

using Kind = EImageError::Kind;
using testing::LibJpegFile;
using testing::TempDir;
using testing::ThrowsImageError;

// A smooth picture: JPEG's home ground, where a good quality stays close.
Bitmap Gradient(int width, int height) {
  Bitmap bmp(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<uint8_t>(x * 255 / (width - 1));
      row[3 * x + 1] = static_cast<uint8_t>(y * 255 / (height - 1));
      row[3 * x + 2] = static_cast<uint8_t>(128 + (x - y) / 4);
    }
  }
  return bmp;
}

int MaxDifference(const Bitmap& a, const Bitmap& b) {
  int worst = 0;
  for (int y = 0; y < a.Height(); ++y) {
    for (size_t i = 0; i < a.RowBytes(); ++i) worst = std::max(worst, std::abs(a.ScanLine(y)[i] - b.ScanLine(y)[i]));
  }
  return worst;
}

// The number of components in the frame header (SOF0 or SOF2).
int Components(const std::vector<uint8_t>& jpeg) {
  for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) return jpeg[i + 9];
  }
  return -1;
}

TEST(JpegRoundTrip, ColourStaysCloseAtGoodQuality) {
  const Bitmap bmp = Gradient(64, 48);
  const std::vector<uint8_t> jpeg = EncodeJpeg(bmp, 95);
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
  EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
  EXPECT_EQ(Components(jpeg), 3);
  const Bitmap back = DecodeJpeg(jpeg);
  ASSERT_EQ(back.Width(), 64);
  ASSERT_EQ(back.Height(), 48);
  EXPECT_EQ(back.GetPixelFormat(), PixelFormat::pf24bit);
  EXPECT_LE(MaxDifference(bmp, back), 6);
}

TEST(JpegWrite, QualityTradesSizeForFidelity) {
  const Bitmap bmp = Gradient(96, 96);
  const std::vector<uint8_t> low = EncodeJpeg(bmp, 10);
  const std::vector<uint8_t> high = EncodeJpeg(bmp, 95);
  EXPECT_LT(low.size(), high.size());
  EXPECT_GT(MaxDifference(bmp, DecodeJpeg(low)), MaxDifference(bmp, DecodeJpeg(high)));
  EXPECT_EQ(EncodeJpeg(bmp, 0), EncodeJpeg(bmp, 1));
  EXPECT_EQ(EncodeJpeg(bmp, -20), EncodeJpeg(bmp, 1));
  EXPECT_EQ(EncodeJpeg(bmp, 250), EncodeJpeg(bmp, 100));
}

TEST(JpegWrite, GrayBitmapsMakeGrayFiles) {
  Bitmap gray(16, 16, PixelFormat::pf8bit);
  for (int y = 0; y < 16; ++y) std::fill_n(gray.ScanLine(y), 16, static_cast<uint8_t>(y * 16));
  const std::vector<uint8_t> jpeg = EncodeJpeg(gray, 100);
  EXPECT_EQ(Components(jpeg), 1);
  const Bitmap back = DecodeJpeg(jpeg);
  for (int y = 0; y < 16; ++y) {
    const uint8_t* row = back.ScanLine(y);
    for (int x = 0; x < 16; ++x) {
      EXPECT_EQ(row[3 * x], row[3 * x + 1]);
      EXPECT_EQ(row[3 * x], row[3 * x + 2]);
      EXPECT_NEAR(row[3 * x], y * 16, 3);
    }
  }
  Bitmap mono(9, 2, PixelFormat::pf1bit);
  mono.ScanLine(0)[0] = 0xFF;
  mono.ScanLine(0)[1] = 0x80;
  const Bitmap m = DecodeJpeg(EncodeJpeg(mono, 100));
  EXPECT_GT(m.ScanLine(0)[3 * 8], 200);
  EXPECT_LT(m.ScanLine(1)[0], 60);

  Bitmap wide(8, 8, PixelFormat::pf32bit);
  wide.Fill(200);
  const Bitmap w = DecodeJpeg(EncodeJpeg(wide, 100));
  EXPECT_NEAR(w.ScanLine(4)[12], 200, 2);
}

TEST(JpegRead, DamagedFiles) {
  const std::vector<uint8_t> jpeg = EncodeJpeg(Gradient(32, 32), 80);
  for (size_t length = 0; length < jpeg.size(); length += 7) {
    const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_TRUE(ThrowsImageError([&] { DecodeJpeg(cut); }, Kind::Truncated)) << "cut at " << length;
  }
  EXPECT_TRUE(ThrowsImageError([] { DecodeJpeg(std::vector<uint8_t>{'B', 'M', 1, 2}); }, Kind::Corrupt));
  // Garbage where a marker should be.
  std::vector<uint8_t> junk = jpeg;
  junk.insert(junk.begin() + 2, {0x12, 0x34, 0x56});
  EXPECT_TRUE(ThrowsImageError([&] { DecodeJpeg(junk); }, Kind::Corrupt));
  // A frame header that claims zero lines.
  std::vector<uint8_t> empty = jpeg;
  for (size_t i = 2; i + 8 < empty.size(); ++i) {
    if (empty[i] == 0xFF && empty[i + 1] == 0xC0) {
      empty[i + 5] = 0;
      empty[i + 6] = 0;
      break;
    }
  }
  EXPECT_THROW(DecodeJpeg(empty), EImageError);
}

// A progressive file of the given picture, written by libjpeg itself.
std::vector<uint8_t> ProgressiveJpeg(const Bitmap& bmp) {
  return LibJpegFile(bmp, [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); });
}

// The picture size in the frame header (SOF0 or SOF2) replaced.
std::vector<uint8_t> ClaimSize(std::vector<uint8_t> jpeg, uint16_t width, uint16_t height) {
  for (size_t i = 2; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
      jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
      jpeg[i + 6] = static_cast<uint8_t>(height);
      jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
      jpeg[i + 8] = static_cast<uint8_t>(width);
      return jpeg;
    }
  }
  ADD_FAILURE() << "no frame header";
  return jpeg;
}

// A few hundred bytes that claim a giant picture: refused before its pixels are reserved
// (above 64 megapixels), or ended as soon as the data runs out (below it), baseline and
// progressive alike.
TEST(JpegRead, HugeClaimsEndBeforeTheirRows) {
  const std::vector<uint8_t> baseline = EncodeJpeg(Gradient(16, 16), 80);
  const std::vector<uint8_t> progressive = ProgressiveJpeg(Gradient(64, 64));
  EXPECT_LE(MaxDifference(Gradient(64, 64), DecodeJpeg(progressive)), 10);  // read whole, scan by scan
  for (const auto* file : {&baseline, &progressive}) {
    EXPECT_LT(file->size(), 2000u);
    EXPECT_TRUE(ThrowsImageError([&] { DecodeJpeg(ClaimSize(*file, 16383, 16383)); }, Kind::Unsupported));
    const auto start = std::chrono::steady_clock::now();
    // The data meets its end marker (or its end) long before the rows.
    try {
      DecodeJpeg(ClaimSize(*file, 8000, 8000));
      ADD_FAILURE() << "accepted";
    } catch (const EImageError& e) {
      EXPECT_TRUE(e.kind() == Kind::Truncated || e.kind() == Kind::Corrupt) << e.what();
    }
    // A guard against the old seconds-long decoding of made-up rows, not a speed goal.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

TEST(JpegFile, SaveAndLoad) {
  TempDir dir;
  const Bitmap bmp = Gradient(40, 30);
  SaveJpeg(bmp, dir.File("a.jpg"), 90);
  EXPECT_LE(MaxDifference(bmp, LoadJpeg(dir.File("a.jpg"))), 10);
  EXPECT_TRUE(ThrowsImageError([&] { LoadJpeg(dir.File("b.jpg")); }, Kind::NotFound));
  EXPECT_TRUE(ThrowsImageError([&] { SaveJpeg(bmp, dir.File("no/b.jpg")); }, Kind::WriteFailed));
  EXPECT_TRUE(ThrowsImageError([&] { SaveJpeg(Bitmap(), dir.File("c.jpg")); }, Kind::Unsupported));
}

}  // namespace
}  // namespace platform
