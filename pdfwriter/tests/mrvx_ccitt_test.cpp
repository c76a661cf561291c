#include "pdfwriter/mrvx_ccitt.h"

#include <gtest/gtest.h>

#include <random>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/mrvx_types.h"
#include "pdfwriter/tests/image_doc_tools.h"

namespace pdfwriter {
namespace {

// Bits as text ("0011..."), the way the code tables are written.
std::string BitText(const std::string& bytes) {
  std::string s;
  for (unsigned char c : bytes)
    for (int i = 7; i >= 0; --i) s.push_back(((c >> i) & 1) ? '1' : '0');
  return s;
}

// A 1-bit bitmap from rows of '.' (white) and '#' (black).
platform::Bitmap Mono(const std::vector<std::string>& rows) {
  platform::Bitmap b(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), platform::PixelFormat::pf1bit);
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[y].size(); ++x)
      if (rows[y][x] == '.') b.ScanLine(static_cast<int>(y))[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  return b;
}

std::string Encode(const platform::Bitmap& b, int type) {
  TVCCITTCompression c;
  std::string out;
  c.CompressImage(b, type, out);
  return out;
}

TEST(CCITT, CodesOfKnownRows) {
  const struct {
    std::vector<std::string> rows;
    int type;
    std::string bits;  // then zero padding to a byte
  } cases[] = {
      {{"........"}, 31, "10011"},                     // white 8
      {{"#......."}, 31, "00110101" "010" "1111"},    // white 0, black 1, white 7
      {{"........."}, 31, "10100"},                    // width 9: white 9, the 7 spare bits not coded
      {{std::string(2700, '.')}, 31, "000000011111" "10010" "001000"},  // 2560 + 128 + 12
      {{"........"}, 42, "1" "000000000001" "000000000001"},            // V0, end of block
      {{"........", "........"}, 32, "000000000001" "0" "1" "000000000001" "0" "1"},
      // Horizontal mode (white 2, black 5), then V0 on the reference's change at 7.
      {{"..#####.", "..#####."}, 42, "001" "0111" "0011" "1" "1" "1" "1" "000000000001000000000001"},
  };
  for (const auto& c : cases) {
    const std::string bits = BitText(Encode(Mono(c.rows), c.type));
    std::string want = c.bits;
    while (want.size() % 8) want.push_back('0');
    EXPECT_EQ(bits, want) << c.rows[0].substr(0, 10) << " " << c.type;
  }
}

TEST(CCITT, RefusedInput) {
  TVCCITTCompression c;
  std::string out;
  const auto expect_error = [](const std::function<void()>& f, const char* message) {
    try {
      f();
      ADD_FAILURE() << message;
    } catch (const EMRVXError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  };
  expect_error([&] { c.CompressImage(platform::Bitmap(4, 4), 42, out); }, "Image format must be B/W.");
  expect_error([&] { c.Execute(Mono({"...."})); }, "Output stream is empty.");
  c.FStream = &out;
  expect_error([&] { c.Execute(platform::Bitmap(2, 2, platform::PixelFormat::pf8bit)); }, "Incorrect image format.");
  c.Execute(platform::Bitmap(0, 5, platform::PixelFormat::pf1bit));
  EXPECT_TRUE(out.empty());
}

// Random rows with short and long runs (up to the width), as 1-bit bitmaps.
platform::Bitmap RandomRuns(int width, int height, unsigned seed) {
  std::mt19937 rng(seed);
  platform::Bitmap b(width, height, platform::PixelFormat::pf1bit);
  for (int y = 0; y < height; ++y) {
    // Rows alike their predecessor in places exercise the vertical and pass modes.
    if (y > 0 && rng() % 3 == 0) {
      std::copy(b.ScanLine(y - 1), b.ScanLine(y - 1) + b.RowBytes(), b.ScanLine(y));
      const int x = static_cast<int>(rng() % static_cast<unsigned>(width));
      b.ScanLine(y)[x / 8] ^= static_cast<uint8_t>(0x80 >> (x % 8));
      continue;
    }
    int x = 0;
    bool white = rng() % 2;
    while (x < width) {
      const unsigned kind = rng() % 10;
      int run = kind < 6 ? 1 + static_cast<int>(rng() % 8) : kind < 9 ? 1 + static_cast<int>(rng() % 200)
                                                                     : 1 + static_cast<int>(rng() % 2800);
      run = std::min(run, width - x);
      if (white)
        for (int i = x; i < x + run; ++i) b.ScanLine(y)[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
      x += run;
      white = !white;
    }
  }
  return b;
}

TEST(CCITT, PopplerDecodesEveryEncodingToTheSamePixels) {
  const int w = 2803, h = 40;  // runs past 2560 and a partial last byte
  const platform::Bitmap pic = RandomRuns(w, h, 7);
  const platform::Bitmap mask = RandomRuns(w, 8, 11);
  testing::TempDir dir;
  // The same picture through Flate is the reference: its pixels are known, and poppler places a
  // picture the same way whatever its filter. The mask is a stencil painted black.
  const auto render = [&](TMRVXImageCompressionType type) {
    testing::MemDoc d;
    d.doc.BeginDoc();
    TMRVXPage& page = *d.doc.CurrentPage();
    page.SetPageWidth(w);
    page.SetPageHeight(h + 8);
    page.ShowImage(d.doc.AddImage(pic, type), 0, 0, w, h, 0);
    const bool fax = type != TMRVXImageCompressionType::icFlate;
    page.SetRGBFillColor(0);
    page.ShowImage(d.doc.AddImage(mask, type, fax), 0, h, w, 8, 0);
    d.doc.EndDoc();
    const std::string name = "fax" + std::to_string(static_cast<int>(type));
    const std::string path = dir.File(name + ".pdf");
    testing::WriteFile(path, d.out);
    testing::ExpectQpdfOk(path);
    return testing::RenderPage(path, dir.File(name));
  };
  const testing::PageRaster flate = render(TMRVXImageCompressionType::icFlate);
  ASSERT_EQ(flate.width, w);
  ASSERT_EQ(flate.height, h + 8);
  // The reference itself: black and white where the picture's left part says so.
  for (int x = 0; x < 1000; ++x) {
    const bool white = (pic.ScanLine(5)[x / 8] >> (7 - x % 8)) & 1;
    EXPECT_EQ(flate.At(x, 5, 1) >= 128, white) << x;
  }
  for (const auto type : {TMRVXImageCompressionType::icCCITT31, TMRVXImageCompressionType::icCCITT32,
                          TMRVXImageCompressionType::icCCITT42}) {
    const testing::PageRaster fax = render(type);
    int picture = 0, stencil = 0;
    for (int y = 0; y < h + 8; ++y) {
      for (int x = 0; x < w; ++x) {
        if (y < h) {
          picture += fax.At(x, y, 1) != flate.At(x, y, 1);
        } else {
          // A stencil is drawn sharp: black exactly where the mask is black.
          const bool white = (mask.ScanLine(y - h)[x / 8] >> (7 - x % 8)) & 1;
          stencil += fax.At(x, y, 1) != (white ? 255 : 0);
        }
      }
    }
    EXPECT_EQ(picture, 0) << static_cast<int>(type);
    EXPECT_EQ(stencil, 0) << static_cast<int>(type);
  }
}

}  // namespace
}  // namespace pdfwriter
