#include "platform/image/png_codec.h"

#include <png.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "platform/image/tests/png_builder.h"
#include "platform/image/tests/test_support.h"

namespace platform {
namespace {

using Kind = EImageError::Kind;
using testing::Deflate;
using testing::Ihdr;
using testing::MakePng;
using testing::PatternBitmap;
using testing::PngChunk;
using testing::PngFile;
using testing::PutBE32;
using testing::RawRows;
using testing::TempDir;
using testing::ThrowsImageError;

struct Bgr {
  uint8_t b, g, r;
};

std::vector<Bgr> Row(const Bitmap& bmp, int y) {
  std::vector<Bgr> out;
  const uint8_t* p = bmp.ScanLine(y);
  for (int x = 0; x < bmp.Width(); ++x) out.push_back({p[3 * x], p[3 * x + 1], p[3 * x + 2]});
  return out;
}

bool operator==(const Bgr& a, const Bgr& b) { return a.b == b.b && a.g == b.g && a.r == b.r; }
void PrintTo(const Bgr& c, std::ostream* os) { *os << "(b" << +c.b << " g" << +c.g << " r" << +c.r << ")"; }

Bgr Gray(uint8_t v) { return {v, v, v}; }

// The chunk types of a PNG file in order.
std::vector<std::string> ChunkTypes(const std::vector<uint8_t>& png) {
  std::vector<std::string> types;
  size_t pos = 8;
  while (pos + 12 <= png.size()) {
    const uint32_t len = static_cast<uint32_t>(png[pos]) << 24 | png[pos + 1] << 16 | png[pos + 2] << 8 | png[pos + 3];
    types.emplace_back(reinterpret_cast<const char*>(&png[pos + 4]), 4);
    pos += 12 + len;
  }
  return types;
}

TEST(PngWrite, TwentyFourBitIsRgbTruecolourWithoutAncillaryChunks) {
  const std::vector<uint8_t> png = EncodePng(PatternBitmap(17, 5));
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&png[12]), 4), "IHDR");
  EXPECT_EQ(png[24], 8);  // bit depth
  EXPECT_EQ(png[25], 2);  // colour type: truecolour without alpha
  EXPECT_EQ(png[28], 0);  // not interlaced
  for (const std::string& type : ChunkTypes(png)) {
    EXPECT_TRUE(type == "IHDR" || type == "IDAT" || type == "IEND") << type;
  }
  EXPECT_EQ(ChunkTypes(png).back(), "IEND");
}

// libpng's simplified reader, a separate path through the library, sees red as the
// bitmap's byte 2 and blue as byte 0.
TEST(PngWrite, SamplesAreRedGreenBlueOfTheBitmapBytes) {
  Bitmap bmp(2, 1);
  const std::array<uint8_t, 6> bytes{1, 2, 3, 250, 251, 252};
  std::memcpy(bmp.ScanLine(0), bytes.data(), bytes.size());
  const std::vector<uint8_t> png = EncodePng(bmp);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
  image.format = PNG_FORMAT_RGB;
  std::array<uint8_t, 6> rgb{};
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
  EXPECT_EQ(rgb, (std::array<uint8_t, 6>{3, 2, 1, 252, 251, 250}));
}

TEST(PngRoundTrip, TwentyFourBitIsByteExactAtEveryWidth) {
  for (const PngCompression how : {PngCompression::Small, PngCompression::Fast}) {
    for (int width = 1; width <= 9; ++width) {
      const Bitmap bmp = PatternBitmap(width, 4, PixelFormat::pf24bit, static_cast<uint32_t>(width));
      EXPECT_EQ(DecodePng(EncodePng(bmp, how)), bmp) << width;
    }
    const Bitmap big = PatternBitmap(1280, 1024);
    EXPECT_EQ(DecodePng(EncodePng(big, how)), big);
  }
}

TEST(PngRoundTrip, ThroughAFile) {
  TempDir dir;
  const Bitmap bmp = PatternBitmap(31, 7);
  SavePng(bmp, dir.File("x.png"));
  EXPECT_EQ(LoadPng(dir.File("x.png")), bmp);
}

TEST(PngRoundTrip, OtherFormatsLoadAsTwentyFourBit) {
  Bitmap gray(3, 1, PixelFormat::pf8bit);
  gray.ScanLine(0)[0] = 0;
  gray.ScanLine(0)[1] = 100;
  gray.ScanLine(0)[2] = 255;
  const Bitmap g = DecodePng(EncodePng(gray));
  EXPECT_EQ(g.GetPixelFormat(), PixelFormat::pf24bit);
  EXPECT_EQ(Row(g, 0), (std::vector<Bgr>{Gray(0), Gray(100), Gray(255)}));

  Bitmap mono(10, 1, PixelFormat::pf1bit);
  mono.ScanLine(0)[0] = 0xA0;  // pixels 0 and 2 white
  mono.ScanLine(0)[1] = 0x40;  // pixel 9 white
  const Bitmap m = DecodePng(EncodePng(mono));
  std::vector<Bgr> expected(10, Gray(0));
  expected[0] = expected[2] = expected[9] = Gray(255);
  EXPECT_EQ(Row(m, 0), expected);

  Bitmap wide(2, 1, PixelFormat::pf32bit);
  const std::array<uint8_t, 8> bytes{10, 20, 30, 0, 40, 50, 60, 255};
  std::memcpy(wide.ScanLine(0), bytes.data(), bytes.size());
  const Bitmap w = DecodePng(EncodePng(wide));
  EXPECT_EQ(Row(w, 0), (std::vector<Bgr>{{10, 20, 30}, {40, 50, 60}}));
}

TEST(PngWrite, EmptyBitmapsAreRefused) {
  TempDir dir;
  EXPECT_TRUE(ThrowsImageError([] { EncodePng(Bitmap()); }, Kind::Unsupported));
  EXPECT_TRUE(ThrowsImageError([&] { SavePng(Bitmap(0, 3), dir.File("e.png")); }, Kind::Unsupported));
  EXPECT_FALSE(std::filesystem::exists(dir.File("e.png")));
}

// Every colour type and depth PNG allows loads as 24-bit with the sample values unchanged
// (16-bit: the high byte), alpha and transparency dropped, no gamma applied.
TEST(PngRead, EveryColourTypeExpandsToTwentyFourBit) {
  const std::vector<uint8_t> palette{10, 20, 30, 40, 50, 60, 70, 80, 90};
  struct Case {
    const char* name;
    std::vector<uint8_t> png;
    std::vector<Bgr> expected;
  };
  const std::vector<Case> cases{
      {"gray 8", MakePng(3, 1, 8, 0, {{0, 128, 255}}), {Gray(0), Gray(128), Gray(255)}},
      {"gray 1", MakePng(10, 1, 1, 0, {{0xA0, 0xC0}}),
       {Gray(255), Gray(0), Gray(255), Gray(0), Gray(0), Gray(0), Gray(0), Gray(0), Gray(255), Gray(255)}},
      {"gray 2", MakePng(4, 1, 2, 0, {{0x1B}}), {Gray(0), Gray(85), Gray(170), Gray(255)}},
      {"gray 4", MakePng(2, 1, 4, 0, {{0x3F}}), {Gray(51), Gray(255)}},
      {"gray 16", MakePng(2, 1, 16, 0, {{0x12, 0x34, 0xAB, 0xCD}}), {Gray(0x12), Gray(0xAB)}},
      {"gray+alpha 8", MakePng(2, 1, 8, 4, {{10, 0, 200, 255}}), {Gray(10), Gray(200)}},
      {"gray+alpha 16", MakePng(1, 1, 16, 4, {{0x77, 0x01, 0x00, 0x00}}), {Gray(0x77)}},
      {"rgb 16", MakePng(1, 1, 16, 2, {{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}}), {{0x55, 0x33, 0x11}}},
      {"rgba 8", MakePng(2, 1, 8, 6, {{1, 2, 3, 0, 4, 5, 6, 128}}), {{3, 2, 1}, {6, 5, 4}}},
      {"rgba 16", MakePng(1, 1, 16, 6, {{0xA1, 0, 0xB2, 0, 0xC3, 0, 0, 0}}), {{0xC3, 0xB2, 0xA1}}},
      {"palette 8", MakePng(3, 1, 8, 3, {{2, 0, 1}}, {{"PLTE", palette}}), {{90, 80, 70}, {30, 20, 10}, {60, 50, 40}}},
      {"palette 1", MakePng(3, 1, 1, 3, {{0x40}}, {{"PLTE", palette}}), {{30, 20, 10}, {60, 50, 40}, {30, 20, 10}}},
      {"palette with transparency", MakePng(2, 1, 8, 3, {{0, 1}}, {{"PLTE", palette}, {"tRNS", {0, 128}}}),
       {{30, 20, 10}, {60, 50, 40}}},
      {"gray with transparency", MakePng(2, 1, 8, 0, {{5, 6}}, {{"tRNS", {0, 5}}}), {Gray(5), Gray(6)}},
      {"rgb with transparency", MakePng(1, 1, 8, 2, {{7, 8, 9}}, {{"tRNS", {0, 7, 0, 8, 0, 9}}}), {{9, 8, 7}}},
      {"palette index beyond the palette", MakePng(2, 1, 8, 3, {{1, 200}}, {{"PLTE", palette}}),
       {{60, 50, 40}, Gray(0)}},
      {"rgb with gamma and sRGB chunks", MakePng(1, 1, 8, 2, {{200, 100, 50}}, {{"gAMA", {0, 0, 0xB1, 0x8F}}, {"sRGB", {0}}}),
       {{50, 100, 200}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bitmap bmp;
    ASSERT_NO_THROW(bmp = DecodePng(c.png));
    EXPECT_EQ(bmp.GetPixelFormat(), PixelFormat::pf24bit);
    ASSERT_EQ(bmp.Height(), 1);
    EXPECT_EQ(Row(bmp, 0), c.expected);
  }
}

TEST(PngRead, InterlacedFilesLoadWhole) {
  const Bitmap expected = PatternBitmap(11, 9, PixelFormat::pf24bit, 7);
  // The seven Adam7 passes: start and step in x and y.
  const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  std::vector<uint8_t> raw;
  for (const auto& p : passes) {
    for (int y = p[1]; y < expected.Height(); y += p[3]) {
      if (p[0] >= expected.Width()) break;
      raw.push_back(0);
      for (int x = p[0]; x < expected.Width(); x += p[2]) {
        const uint8_t* px = expected.ScanLine(y) + 3 * x;
        raw.insert(raw.end(), {px[2], px[1], px[0]});
      }
    }
  }
  const auto png = PngFile({{"IHDR", Ihdr(11, 9, 8, 2, 1)}, {"IDAT", Deflate(raw)}, {"IEND", {}}});
  EXPECT_EQ(DecodePng(png), expected);
}

// A 4 x 3 RGB file whose image data comes in two IDAT chunks.
std::vector<uint8_t> SmallPng() {
  const std::vector<uint8_t> z = Deflate(RawRows({{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
                                                  {13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24},
                                                  {25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36}}));
  const size_t half = z.size() / 2;
  return PngFile({{"IHDR", Ihdr(4, 3, 8, 2)},
                  {"IDAT", {z.begin(), z.begin() + static_cast<std::ptrdiff_t>(half)}},
                  {"IDAT", {z.begin() + static_cast<std::ptrdiff_t>(half), z.end()}},
                  {"IEND", {}}});
}

TEST(PngRead, EveryCutOfAFileIsTruncated) {
  const std::vector<uint8_t> png = SmallPng();
  ASSERT_NO_THROW(DecodePng(png));
  for (size_t length = 0; length < png.size(); ++length) {
    const std::vector<uint8_t> cut(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_TRUE(ThrowsImageError([&] { DecodePng(cut); }, Kind::Truncated)) << "cut at " << length;
  }
}

TEST(PngRead, EveryDamagedByteIsNoticed) {
  const std::vector<uint8_t> png = SmallPng();
  for (size_t i = 0; i < png.size(); ++i) {
    std::vector<uint8_t> bad = png;
    bad[i] ^= 0x10;
    EXPECT_THROW(DecodePng(bad), EImageError) << "byte " << i;
  }
}

TEST(PngRead, DamagedFilesTable) {
  const std::vector<uint8_t> rows = RawRows({{1, 2, 3}});
  struct Case {
    const char* name;
    std::vector<uint8_t> png;
    Kind kind;
  };
  const std::vector<Case> cases{
      {"not a PNG", {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0}, Kind::Corrupt},
      {"text", {'h', 'e', 'l', 'l', 'o'}, Kind::Corrupt},
      {"signature only", PngFile({}), Kind::Truncated},
      {"image data not deflate", PngFile({{"IHDR", Ihdr(1, 1, 8, 2)}, {"IDAT", {1, 2, 3, 4, 5, 6}}, {"IEND", {}}}),
       Kind::Corrupt},
      {"too few rows", MakePng(1, 5, 8, 2, {{1, 2, 3}}), Kind::Corrupt},
      {"unknown filter type", PngFile({{"IHDR", Ihdr(1, 1, 8, 2)}, {"IDAT", Deflate({7, 1, 2, 3})}, {"IEND", {}}}),
       Kind::Corrupt},
      {"zero width", PngFile({{"IHDR", Ihdr(0, 1, 8, 2)}, {"IDAT", Deflate(rows)}, {"IEND", {}}}), Kind::Corrupt},
      {"rgb of 4 bits", PngFile({{"IHDR", Ihdr(1, 1, 4, 2)}, {"IDAT", Deflate(rows)}, {"IEND", {}}}), Kind::Corrupt},
      {"palette without PLTE", MakePng(1, 1, 8, 3, {{0}}), Kind::Corrupt},
      {"no image data", PngFile({{"IHDR", Ihdr(1, 1, 8, 2)}, {"IEND", {}}}), Kind::Corrupt},
      {"wider than any image we read", PngFile({{"IHDR", Ihdr(100000, 1, 8, 2)}, {"IDAT", Deflate(rows)}, {"IEND", {}}}),
       Kind::Corrupt},
      {"more pixels than we read", PngFile({{"IHDR", Ihdr(65535, 65535, 8, 2)}, {"IDAT", Deflate(rows)}, {"IEND", {}}}),
       Kind::Unsupported},
      {"size the data cannot hold",
       PngFile({{"IHDR", Ihdr(8000, 8000, 8, 2)}, {"IDAT", Deflate(rows)}, {"IEND", {}}}), Kind::Truncated},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(ThrowsImageError([&] { DecodePng(c.png); }, c.kind)) << c.name;
  }
  std::vector<uint8_t> badCrc = MakePng(1, 1, 8, 2, {{1, 2, 3}});
  badCrc[29] ^= 1;  // the IHDR checksum
  EXPECT_TRUE(ThrowsImageError([&] { DecodePng(badCrc); }, Kind::Corrupt));
}

TEST(PngLoad, ErrorsNameTheFile) {
  TempDir dir;
  EXPECT_TRUE(ThrowsImageError([&] { LoadPng(dir.File("missing.qvr")); }, Kind::NotFound));
  std::vector<uint8_t> png = SmallPng();
  png.resize(png.size() - 5);
  {
    std::FILE* f = std::fopen(dir.File("cut.png").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(png.data(), 1, png.size(), f);
    std::fclose(f);
  }
  try {
    LoadPng(dir.File("cut.png"));
    FAIL() << "loaded a cut file";
  } catch (const EImageError& e) {
    EXPECT_EQ(e.kind(), Kind::Truncated);
    EXPECT_EQ(e.fileName(), dir.File("cut.png"));
    EXPECT_NE(std::string(e.what()).find("cut.png"), std::string::npos);
  }
}

}  // namespace
}  // namespace platform
