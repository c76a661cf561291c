// Camera frame conversions into 24-bit bottom-up bitmaps, against published BT.601 colour-bar
// values and against pictures of known colours.
#include "platform/video/frame_convert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/image/jpeg_codec.h"
#include "platform/video/media_type.h"

namespace platform::video {
namespace {

struct Bar {
  const char* name;
  uint8_t y, u, v;
  Bgr expected;
};

// 100 % colour bars in 8-bit studio-range BT.601 (Y, Cb, Cr).
TEST(YuvToBgr, ColourBars) {
  const Bar bars[] = {
      {"white", 235, 128, 128, {255, 255, 255}}, {"yellow", 210, 16, 146, {0, 255, 255}},
      {"cyan", 170, 166, 16, {255, 255, 0}},     {"green", 145, 54, 34, {0, 255, 0}},
      {"magenta", 106, 202, 222, {255, 0, 255}}, {"red", 81, 90, 240, {0, 0, 255}},
      {"blue", 41, 240, 110, {255, 0, 0}},       {"black", 16, 128, 128, {0, 0, 0}},
  };
  for (const Bar& bar : bars) {
    const Bgr got = YuvToBgr(bar.y, bar.u, bar.v);
    EXPECT_LE(std::abs(got.b - bar.expected.b), 2) << bar.name;
    EXPECT_LE(std::abs(got.g - bar.expected.g), 2) << bar.name;
    EXPECT_LE(std::abs(got.r - bar.expected.r), 2) << bar.name;
  }
  // Below black and above white clamp instead of wrapping.
  EXPECT_EQ(YuvToBgr(0, 128, 128), (Bgr{0, 0, 0}));
  EXPECT_EQ(YuvToBgr(255, 128, 128), (Bgr{255, 255, 255}));
}

TEST(YuvToBgr, GrayRoundTripsWithinOneLevel) {
  for (int g = 0; g < 256; ++g) {
    const Bgr p = YuvToBgr(GrayToY(static_cast<uint8_t>(g)), 128, 128);
    EXPECT_LE(std::abs(p.r - g), 1) << g;
    EXPECT_EQ(p.r, p.g);
    EXPECT_EQ(p.g, p.b);
  }
}

TEST(YuyvToBgrDib, RowsEndBottomUpWithPaddingAndOddWidth) {
  // 3 x 2 pixels (odd width: the second pair holds one pixel). Top row: white and black
  // (neutral chroma), red; bottom row: blue, blue, green.
  const std::vector<uint8_t> yuyv = {
      235, 128, 16, 128, 81, 90, 81, 240,  //
      41, 240, 41, 110, 145, 54, 145, 34,
  };
  std::vector<uint8_t> dst(DibStride(3, 24) * 2, 0xEE);
  ASSERT_EQ(DibStride(3, 24), 12u);
  ASSERT_TRUE(YuyvToBgrDib(yuyv, 8, 3, 2, dst));
  auto pixel = [&](int dibRow, int x) {
    const uint8_t* p = dst.data() + 12 * static_cast<size_t>(dibRow) + 3 * static_cast<size_t>(x);
    return Bgr{p[0], p[1], p[2]};
  };
  auto near = [](Bgr a, Bgr b) { return std::abs(a.b - b.b) <= 2 && std::abs(a.g - b.g) <= 2 && std::abs(a.r - b.r) <= 2; };
  // DIB row 0 is the bottom row.
  EXPECT_TRUE(near(pixel(0, 0), Bgr{255, 0, 0}));
  EXPECT_TRUE(near(pixel(0, 1), Bgr{255, 0, 0}));
  EXPECT_TRUE(near(pixel(0, 2), Bgr{0, 255, 0}));
  EXPECT_EQ(pixel(1, 0), (Bgr{255, 255, 255}));
  EXPECT_EQ(pixel(1, 1), (Bgr{0, 0, 0}));
  EXPECT_TRUE(near(pixel(1, 2), Bgr{0, 0, 255}));
  for (size_t pad : {9u, 10u, 11u, 21u, 22u, 23u}) EXPECT_EQ(dst[pad], 0) << pad;
}

TEST(YuyvToBgrDib, RefusesShortBuffers) {
  std::vector<uint8_t> src(4 * 4 * 2 - 1, 128);  // one byte short of 4 x 4 pixels
  std::vector<uint8_t> dst(DibStride(4, 24) * 4);
  EXPECT_FALSE(YuyvToBgrDib(src, 8, 4, 4, dst));
  src.push_back(128);
  EXPECT_TRUE(YuyvToBgrDib(src, 8, 4, 4, dst));
  EXPECT_FALSE(YuyvToBgrDib(src, 6, 4, 4, dst));  // a stride shorter than a row
  dst.pop_back();
  EXPECT_FALSE(YuyvToBgrDib(src, 8, 4, 4, dst));
  EXPECT_FALSE(YuyvToBgrDib(src, 8, 0, 4, dst));
}

// A picture of four coloured quarters, as a camera would send it in one MJPEG frame.
Bitmap Quarters(int w, int h) {
  Bitmap bmp(w, h);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const bool right = x >= w / 2;
      const bool bottom = y >= h / 2;
      row[3 * x + 0] = right ? 200 : 20;   // blue
      row[3 * x + 1] = bottom ? 180 : 40;  // green
      row[3 * x + 2] = (right != bottom) ? 220 : 60;
    }
  }
  return bmp;
}

// The frame without its Huffman table segments (many cameras leave them out).
std::vector<uint8_t> WithoutHuffmanTables(const std::vector<uint8_t>& jpeg) {
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  size_t i = 2;
  while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
    const uint8_t marker = jpeg[i + 1];
    const size_t len = static_cast<size_t>(jpeg[i + 2]) << 8 | jpeg[i + 3];
    if (marker == 0xDA) break;  // scan data follows
    if (marker != 0xC4) out.insert(out.end(), jpeg.begin() + static_cast<long>(i), jpeg.begin() + static_cast<long>(i + 2 + len));
    i += 2 + len;
  }
  out.insert(out.end(), jpeg.begin() + static_cast<long>(i), jpeg.end());
  return out;
}

TEST(MjpegToBgrDib, DecodesUprightIntoBottomUpRows) {
  const int w = 32, h = 16;
  const Bitmap picture = Quarters(w, h);
  const std::vector<uint8_t> jpeg = EncodeJpeg(picture, 100);
  const std::vector<uint8_t> bare = WithoutHuffmanTables(jpeg);
  ASSERT_LT(bare.size(), jpeg.size());
  for (const auto* frame : {&jpeg, &bare}) {
    std::vector<uint8_t> dst(DibStride(w, 24) * h);
    ASSERT_TRUE(MjpegToBgrDib(*frame, w, h, dst));
    for (int y = 0; y < h; ++y) {
      const uint8_t* want = picture.ScanLine(y);
      const uint8_t* got = dst.data() + DibStride(w, 24) * static_cast<size_t>(h - 1 - y);
      for (int x = 2; x < w - 2; ++x) {
        if (y == h / 2 - 1 || y == h / 2 || x == w / 2 - 1 || x == w / 2) continue;  // block edges blur
        for (int c = 0; c < 3; ++c) ASSERT_LE(std::abs(got[3 * x + c] - want[3 * x + c]), 6) << x << "," << y;
      }
    }
  }
}

TEST(MjpegToBgrDib, DropsDamagedOrMismatchedFrames) {
  const int w = 32, h = 16;
  const std::vector<uint8_t> jpeg = EncodeJpeg(Quarters(w, h), 90);
  std::vector<uint8_t> dst(DibStride(w, 24) * h);
  const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2));
  EXPECT_FALSE(MjpegToBgrDib(cut, w, h, dst));
  EXPECT_FALSE(MjpegToBgrDib(std::vector<uint8_t>{0xFF, 0xD8, 0x00}, w, h, dst));
  EXPECT_FALSE(MjpegToBgrDib(jpeg, w * 2, h, dst));  // another size than the mode
  std::vector<uint8_t> small(dst.size() - 1);
  EXPECT_FALSE(MjpegToBgrDib(jpeg, w, h, small));
  EXPECT_TRUE(MjpegToBgrDib(jpeg, w, h, dst));
}

}  // namespace
}  // namespace platform::video
