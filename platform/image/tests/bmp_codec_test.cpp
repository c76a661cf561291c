#include "platform/image/bmp_codec.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "platform/image/tests/test_support.h"

namespace platform {
namespace {

using Kind = EImageError::Kind;
using testing::PatternBitmap;
using testing::TempDir;
using testing::ThrowsImageError;

uint32_t LE32(const std::vector<uint8_t>& d, size_t at) {
  return static_cast<uint32_t>(d[at]) | static_cast<uint32_t>(d[at + 1]) << 8 | static_cast<uint32_t>(d[at + 2]) << 16 |
         static_cast<uint32_t>(d[at + 3]) << 24;
}
uint16_t LE16(const std::vector<uint8_t>& d, size_t at) { return static_cast<uint16_t>(d[at] | d[at + 1] << 8); }

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A BMP with a 40-byte info header; palette entries are 4 bytes each, rows as given.
struct BmpSpec {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t colorsUsed = 0;
  std::vector<uint8_t> afterHeader;  // masks and palette
  std::vector<uint8_t> pixels;
  int64_t pixelOffset = -1;  // -1: right after what comes before
};

std::vector<uint8_t> MakeBmp(const BmpSpec& s) {
  const uint32_t offset = s.pixelOffset >= 0 ? static_cast<uint32_t>(s.pixelOffset)
                                             : static_cast<uint32_t>(54 + s.afterHeader.size());
  std::vector<uint8_t> out{'B', 'M'};
  Put32(out, static_cast<uint32_t>(offset + s.pixels.size()));
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(s.width));
  Put32(out, static_cast<uint32_t>(s.height));
  Put16(out, 1);
  Put16(out, s.bitCount);
  Put32(out, s.compression);
  Put32(out, static_cast<uint32_t>(s.pixels.size()));
  Put32(out, 2835);
  Put32(out, 2835);
  Put32(out, s.colorsUsed);
  Put32(out, 0);
  out.insert(out.end(), s.afterHeader.begin(), s.afterHeader.end());
  out.resize(std::max<size_t>(out.size(), offset), 0);
  out.insert(out.end(), s.pixels.begin(), s.pixels.end());
  return out;
}

std::vector<uint8_t> Bytes(const Bitmap& bmp, int y) {
  return {bmp.ScanLine(y), bmp.ScanLine(y) + bmp.RowBytes()};
}

TEST(BmpWrite, TwentyFourBitBottomUpLayout) {
  Bitmap bmp(3, 2);
  const std::array<uint8_t, 9> top{1, 2, 3, 4, 5, 6, 7, 8, 9};
  const std::array<uint8_t, 9> bottom{11, 12, 13, 14, 15, 16, 17, 18, 19};
  std::memcpy(bmp.ScanLine(0), top.data(), 9);
  std::memcpy(bmp.ScanLine(1), bottom.data(), 9);
  const std::vector<uint8_t> f = EncodeBmp(bmp);
  ASSERT_EQ(f.size(), 54u + 2 * 12);
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(LE32(f, 2), f.size());  // file size
  EXPECT_EQ(LE32(f, 10), 54u);      // pixel offset
  EXPECT_EQ(LE32(f, 14), 40u);      // info header
  EXPECT_EQ(LE32(f, 18), 3u);
  EXPECT_EQ(LE32(f, 22), 2u);  // positive height: bottom-up
  EXPECT_EQ(LE16(f, 26), 1u);
  EXPECT_EQ(LE16(f, 28), 24u);
  EXPECT_EQ(LE32(f, 30), 0u);   // BI_RGB
  EXPECT_EQ(LE32(f, 34), 24u);  // image bytes
  // The bottom row is stored first, each row padded to 12 bytes.
  EXPECT_TRUE(std::equal(bottom.begin(), bottom.end(), f.begin() + 54));
  EXPECT_TRUE(std::equal(top.begin(), top.end(), f.begin() + 66));
  EXPECT_EQ(f[63], 0);
  EXPECT_EQ(f[77], 0);
}

TEST(BmpRoundTrip, TwentyFourBitIsByteExact) {
  for (int width = 1; width <= 8; ++width) {
    const Bitmap bmp = PatternBitmap(width, 5, PixelFormat::pf24bit, static_cast<uint32_t>(width));
    EXPECT_EQ(DecodeBmp(EncodeBmp(bmp)), bmp) << width;
  }
  TempDir dir;
  const Bitmap bmp = PatternBitmap(1280, 1024);
  SaveBmp(bmp, dir.File("big.bmp"));
  EXPECT_EQ(std::filesystem::file_size(dir.File("big.bmp")), 54u + 3840u * 1024u);
  EXPECT_EQ(LoadBmp(dir.File("big.bmp")), bmp);
}

TEST(BmpRoundTrip, OtherFormatsLoadAsTwentyFourBit) {
  Bitmap gray(3, 2, PixelFormat::pf8bit);
  gray.ScanLine(0)[0] = 9;
  gray.ScanLine(1)[2] = 200;
  const std::vector<uint8_t> g8 = EncodeBmp(gray);
  EXPECT_EQ(LE16(g8, 28), 8u);
  const Bitmap g = DecodeBmp(g8);
  EXPECT_EQ(Bytes(g, 0), (std::vector<uint8_t>{9, 9, 9, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(g, 1), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 200, 200, 200}));

  Bitmap mono(3, 1, PixelFormat::pf1bit);
  mono.ScanLine(0)[0] = 0x40;
  EXPECT_EQ(Bytes(DecodeBmp(EncodeBmp(mono)), 0), (std::vector<uint8_t>{0, 0, 0, 255, 255, 255, 0, 0, 0}));

  Bitmap wide(2, 1, PixelFormat::pf32bit);
  const std::array<uint8_t, 8> px{1, 2, 3, 4, 5, 6, 7, 8};
  std::memcpy(wide.ScanLine(0), px.data(), 8);
  EXPECT_EQ(Bytes(DecodeBmp(EncodeBmp(wide)), 0), (std::vector<uint8_t>{1, 2, 3, 5, 6, 7}));
}

TEST(BmpRead, VariantsOfOtherWriters) {
  // 8-bit palette, bottom-up, two colours used.
  BmpSpec pal;
  pal.width = 2;
  pal.height = 2;
  pal.bitCount = 8;
  pal.colorsUsed = 2;
  pal.afterHeader = {10, 20, 30, 0, 40, 50, 60, 0};
  pal.pixels = {1, 0, 0, 0, /* top row: */ 0, 1, 0, 0};
  const Bitmap p = DecodeBmp(MakeBmp(pal));
  EXPECT_EQ(Bytes(p, 0), (std::vector<uint8_t>{10, 20, 30, 40, 50, 60}));
  EXPECT_EQ(Bytes(p, 1), (std::vector<uint8_t>{40, 50, 60, 10, 20, 30}));

  // 4-bit with a full 16-colour palette.
  BmpSpec nib;
  nib.width = 3;
  nib.bitCount = 4;
  for (int i = 0; i < 16; ++i) nib.afterHeader.insert(nib.afterHeader.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
  nib.pixels = {0x2F, 0x70, 0, 0};
  EXPECT_EQ(Bytes(DecodeBmp(MakeBmp(nib)), 0), (std::vector<uint8_t>{2, 2, 2, 15, 15, 15, 7, 7, 7}));

  // 24-bit top-down (negative height).
  BmpSpec td;
  td.width = 1;
  td.height = -2;
  td.pixels = {1, 2, 3, 0, 4, 5, 6, 0};
  const Bitmap t = DecodeBmp(MakeBmp(td));
  EXPECT_EQ(Bytes(t, 0), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(Bytes(t, 1), (std::vector<uint8_t>{4, 5, 6}));

  // 32-bit with the standard bit-field masks after the header.
  BmpSpec bf;
  bf.bitCount = 32;
  bf.compression = 3;
  Put32(bf.afterHeader, 0xFF0000);
  Put32(bf.afterHeader, 0xFF00);
  Put32(bf.afterHeader, 0xFF);
  bf.pixels = {7, 8, 9, 255};
  EXPECT_EQ(Bytes(DecodeBmp(MakeBmp(bf)), 0), (std::vector<uint8_t>{7, 8, 9}));

  // The last row without its padding, as some writers leave it.
  BmpSpec tight;
  tight.width = 1;
  tight.height = 2;
  tight.pixels = {1, 2, 3, 0, 4, 5, 6};
  EXPECT_EQ(Bytes(DecodeBmp(MakeBmp(tight)), 0), (std::vector<uint8_t>{4, 5, 6}));

  // OS/2 core header, 24-bit.
  std::vector<uint8_t> core{'B', 'M'};
  Put32(core, 26 + 4);
  Put32(core, 0);
  Put32(core, 26);
  Put32(core, 12);
  Put16(core, 1);
  Put16(core, 1);
  Put16(core, 1);
  Put16(core, 24);
  core.insert(core.end(), {11, 22, 33, 0});
  EXPECT_EQ(Bytes(DecodeBmp(core), 0), (std::vector<uint8_t>{11, 22, 33}));
}

TEST(BmpRead, LyingAndUnsupportedHeadersTable) {
  struct Case {
    const char* name;
    BmpSpec spec;
    Kind kind;
  };
  auto spec = [](auto change) {
    BmpSpec s;
    s.width = 2;
    s.height = 2;
    s.pixels.assign(16, 0x80);
    change(s);
    return s;
  };
  const std::vector<Case> cases{
      {"more rows than stored", spec([](BmpSpec& s) { s.height = 3; }), Kind::Truncated},
      {"wider than stored", spec([](BmpSpec& s) { s.width = 5; }), Kind::Truncated},
      {"pixels beyond the end", spec([](BmpSpec& s) { s.pixelOffset = 5000; s.pixels.clear(); }), Kind::Truncated},
      {"pixels inside the header", spec([](BmpSpec& s) { s.pixelOffset = 20; }), Kind::Corrupt},
      {"zero width", spec([](BmpSpec& s) { s.width = 0; }), Kind::Corrupt},
      {"negative width", spec([](BmpSpec& s) { s.width = -2; }), Kind::Corrupt},
      {"zero height", spec([](BmpSpec& s) { s.height = 0; }), Kind::Corrupt},
      {"height of -2^31", spec([](BmpSpec& s) { s.height = INT32_MIN; }), Kind::Unsupported},
      {"a million pixels wide", spec([](BmpSpec& s) { s.width = 1000000; }), Kind::Unsupported},
      {"palette larger than 8 bits allow", spec([](BmpSpec& s) { s.bitCount = 8; s.colorsUsed = 300; }), Kind::Corrupt},
      {"palette beyond the end", spec([](BmpSpec& s) { s.bitCount = 8; s.colorsUsed = 0; }), Kind::Truncated},
      {"pixel outside the palette",
       spec([](BmpSpec& s) { s.bitCount = 8; s.colorsUsed = 1; s.afterHeader = {1, 2, 3, 0}; }), Kind::Corrupt},
      {"16 bits per pixel", spec([](BmpSpec& s) { s.bitCount = 16; }), Kind::Unsupported},
      {"7 bits per pixel", spec([](BmpSpec& s) { s.bitCount = 7; }), Kind::Unsupported},
      {"run-length compressed", spec([](BmpSpec& s) { s.bitCount = 8; s.compression = 1; }), Kind::Unsupported},
      {"bit fields on 24 bits", spec([](BmpSpec& s) { s.compression = 3; }), Kind::Unsupported},
      {"unusual masks", spec([](BmpSpec& s) {
         s.bitCount = 32;
         s.compression = 3;
         Put32(s.afterHeader, 0xFF);
         Put32(s.afterHeader, 0xFF00);
         Put32(s.afterHeader, 0xFF0000);
       }), Kind::Unsupported},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(ThrowsImageError([&] { DecodeBmp(MakeBmp(c.spec)); }, c.kind)) << c.name;
  }
  std::vector<uint8_t> odd = MakeBmp(spec([](BmpSpec&) {}));
  odd[14] = 64;  // an OS/2 2.x header
  EXPECT_TRUE(ThrowsImageError([&] { DecodeBmp(odd); }, Kind::Unsupported));
  EXPECT_TRUE(ThrowsImageError([] { DecodeBmp(std::vector<uint8_t>{'B', 'A', 0, 0}); }, Kind::Corrupt));
  EXPECT_TRUE(ThrowsImageError([] { DecodeBmp(std::vector<uint8_t>{0x89, 'P', 'N', 'G'}); }, Kind::Corrupt));
}

TEST(BmpRead, EveryCutOfAFileFails) {
  const std::vector<uint8_t> bmp = EncodeBmp(PatternBitmap(3, 3));
  for (size_t length = 0; length < bmp.size() - 3; ++length) {  // the last 3 bytes are padding
    const std::vector<uint8_t> cut(bmp.begin(), bmp.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_TRUE(ThrowsImageError([&] { DecodeBmp(cut); }, Kind::Truncated)) << "cut at " << length;
  }
}

TEST(BmpLoad, MissingFileAndWriteErrors) {
  TempDir dir;
  EXPECT_TRUE(ThrowsImageError([&] { LoadBmp(dir.File("nope.bmp")); }, Kind::NotFound));
  EXPECT_TRUE(ThrowsImageError([&] { SaveBmp(PatternBitmap(2, 2), dir.File("none/x.bmp")); }, Kind::WriteFailed));
  EXPECT_TRUE(ThrowsImageError([&] { SaveBmp(Bitmap(), dir.File("x.bmp")); }, Kind::Unsupported));
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.bmp")));
}

}  // namespace
}  // namespace platform
