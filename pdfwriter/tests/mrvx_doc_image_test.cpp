#include <gtest/gtest.h>
#include <tiffio.h>

#include <array>
#include <chrono>

#include <cstdlib>
#include <sstream>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/mrvx_image.h"
#include "pdfwriter/mrvx_zlib.h"
#include "pdfwriter/tests/image_doc_tools.h"
#include "platform/image/bmp_codec.h"
#include "platform/image/image_error.h"
#include "platform/image/jpeg_codec.h"

namespace pdfwriter {
namespace {

using testing::MemDoc;
using testing::RunTool;
using testing::TempDir;

void Put24(platform::Bitmap& b, int x, int y, uint8_t r, uint8_t g, uint8_t bl) {
  uint8_t* p = b.ScanLine(y) + 3 * x;
  p[0] = bl;
  p[1] = g;
  p[2] = r;
}

// 2 x 2: red, green / blue, white.
platform::Bitmap Quadrants() {
  platform::Bitmap b(2, 2);
  Put24(b, 0, 0, 255, 0, 0);
  Put24(b, 1, 0, 0, 255, 0);
  Put24(b, 0, 1, 0, 0, 255);
  Put24(b, 1, 1, 255, 255, 255);
  return b;
}

platform::Bitmap Solid(int w, int h, uint8_t r, uint8_t g, uint8_t bl) {
  platform::Bitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) Put24(b, x, y, r, g, bl);
  return b;
}

std::string Lines(const TMRVXPage& page, size_t from) {
  std::string s;
  for (size_t i = from; i < page.PageContent().size(); ++i) s += page.PageContent()[i] + "|";
  return s;
}

TEST(Images, FlateSamplesAndDictionaryOfA24BitBitmap) {
  platform::Bitmap b(2, 1);
  Put24(b, 0, 0, 0, 0, 255);  // blue
  Put24(b, 1, 0, 255, 0, 0);  // red
  EXPECT_EQ(FlateSamples(b), std::string("\x00\x00\xFF\xFF\x00\x00", 6));

  MemDoc d;
  d.doc.BeginDoc();
  EXPECT_EQ(d.doc.AddImage(b, TMRVXImageCompressionType::icFlate), 0);
  const TMRVXImage& img = *d.doc.XImages()[0].ImageObject;
  EXPECT_EQ(FlateDecode(img.Stream), FlateSamples(b));
  d.doc.EndDoc();
  const std::string obj = testing::ObjectAt(d.out, img.ID.ObjectNumber);
  EXPECT_NE(obj.find("<< /Type /XObject /Subtype /Image /Filter [ /FlateDecode ] /ColorSpace /DeviceRGB /Width 2 "
                     "/Height 1 /BitsPerComponent 8 /Name /Im0 /Length "),
            std::string::npos)
      << obj.substr(0, 200);
}

TEST(Images, EightAndOneBitBitmapsBecomeIndexedWithAFullPalette) {
  platform::Bitmap gray(3, 1, platform::PixelFormat::pf8bit);
  gray.ScanLine(0)[0] = 0;
  gray.ScanLine(0)[1] = 7;
  gray.ScanLine(0)[2] = 255;
  platform::Bitmap mono(9, 1, platform::PixelFormat::pf1bit);
  mono.ScanLine(0)[0] = 0x40;  // pixel 1 white, the rest black
  mono.ScanLine(0)[1] = 0x80;  // pixel 8 white
  EXPECT_EQ(FlateSamples(gray), std::string("\x00\x07\xFF", 3));
  EXPECT_EQ(FlateSamples(mono), std::string("\x00\x01\x00\x00\x00\x00\x00\x00\x01", 9));

  TMRVXDictionaryObject holder(nullptr);
  const auto pal = TMRVXImage::CreateIndexedColorArray(mono, &holder);
  ASSERT_EQ(pal->Count(), 4u);
  const auto* s = static_cast<const TMRVXStringObject*>(pal->GetIndexedItem(3));
  EXPECT_TRUE(s->IsHexadecimal);
  ASSERT_EQ(s->Value.size(), 256u * 7);
  EXPECT_EQ(s->Value.substr(0, 21), "000000 FFFFFF 000000 ");
  const auto graypal = TMRVXImage::CreateIndexedColorArray(gray, &holder);
  EXPECT_EQ(static_cast<const TMRVXStringObject*>(graypal->GetIndexedItem(3))->Value.substr(7 * 255), "FFFFFF ");
  try {
    TMRVXImage::CreateIndexedColorArray(Quadrants(), &holder);
    ADD_FAILURE();
  } catch (const EMRVXError& e) {
    EXPECT_STREQ(e.what(), "Not supported pixel format.");
  }
}

TEST(Images, RegistrationNamesAndResourcesOfThePage) {
  MemDoc d;
  d.doc.BeginDoc();
  // A name a loaded page already uses is skipped.
  d.doc.CurrentPage()->XObjectObj()->AddNameValue("Im0", "Taken");
  d.doc.AddPage();
  d.doc.SetCurrentPageNum(0);
  const platform::Bitmap b = Quadrants();
  EXPECT_EQ(d.doc.AddImage(b, TMRVXImageCompressionType::icFlate), 0);
  EXPECT_EQ(d.doc.AddImage(b, TMRVXImageCompressionType::icJpeg), 1);
  EXPECT_EQ(d.doc.XImages()[0].Name, "Im1");
  EXPECT_EQ(d.doc.XImages()[1].Name, "Im2");

  TMRVXPage& page = *d.doc.CurrentPage();
  const size_t before = page.XObjectObj()->Count();
  page.ShowImage(1, 0, 0, 10, 10, 0);
  page.ShowImage(1, 20, 0, 10, 10, 0);
  EXPECT_EQ(page.XObjectObj()->Count(), before + 1);
  EXPECT_THROW(page.ShowImage(2, 0, 0, 1, 1, 0), EMRVXError);
  EXPECT_THROW(page.ShowImage(-1, 0, 0, 1, 1, 0), EMRVXError);

  // Deleting the only page that shows an image, then showing it on another page, writes it.
  d.doc.DeletePage(0);
  EXPECT_TRUE(d.doc.XImages()[1].ImageObject->IsDeleted);
  d.doc.CurrentPage()->ShowImage(1, 0, 0, 10, 10, 0);
  d.doc.EndDoc();
  EXPECT_EQ(d.out.find("null"), std::string::npos);
  EXPECT_NE(d.out.find("/Name /Im2"), std::string::npos);
  TempDir dir;
  testing::WriteFile(dir.File("again.pdf"), d.out);
  testing::ExpectQpdfOk(dir.File("again.pdf"));
}

TEST(Images, ShowImageOperators) {
  MemDoc d;
  d.doc.BeginDoc();
  const platform::Bitmap b = Solid(400, 200, 1, 2, 3);
  d.doc.AddImage(b, TMRVXImageCompressionType::icFlate);
  TMRVXPage& page = *d.doc.CurrentPage();
  const struct {
    bool keep;
    Extended w, h, angle;
    const char* lines;
  } cases[] = {
      {false, 200, 100, 0, "q|1 0 0 1 100 692 cm|200 0 0 100 0 0 cm|/Im0 Do|Q|"},
      {false, 200, 100, 0.0005, "q|1 0 0 1 100 692 cm|200 0 0 100 0 0 cm|/Im0 Do|Q|"},
      {false, 200, 100, 90, "q|1 0 0 1 100 692 cm|0 1 -1 0 0 0 cm|200 0 0 100 0 0 cm|/Im0 Do|Q|"},
      {true, 100, 100, 0, "q|1 0 0 1 100 742 cm|100 0 0 50 0 0 cm|/Im0 Do|Q|"},
      {true, 1000, 300, 0, "q|1 0 0 1 100 292 cm|1000 0 0 500 0 0 cm|/Im0 Do|Q|"},
  };
  for (const auto& c : cases) {
    d.doc.KeepImageAspectRatio = c.keep;
    const size_t from = page.PageContent().size();
    page.ShowImage(0, 100, 50, c.w, c.h, c.angle);
    EXPECT_EQ(Lines(page, from), c.lines) << c.w << " " << c.h << " " << c.angle;
  }
}

TEST(Images, PopplerShowsEveryEncodingWithItsColours) {
  TempDir dir;
  MemDoc d;
  d.doc.BeginDoc();
  TMRVXPage& page = *d.doc.CurrentPage();
  const platform::Bitmap quad = Quadrants();
  platform::Bitmap gray(2, 1, platform::PixelFormat::pf8bit);
  gray.ScanLine(0)[1] = 200;
  platform::Bitmap mono(2, 1, platform::PixelFormat::pf1bit);
  mono.ScanLine(0)[0] = 0x40;
  const platform::Bitmap orange = Solid(16, 16, 255, 128, 0);
  platform::Bitmap gray_pic(16, 16, platform::PixelFormat::pf8bit);
  gray_pic.Fill(100);
  const TMRVXJpegImage gray_jpeg = TMRVXJpegImage::FromData(platform::EncodeJpeg(gray_pic, 100));
  EXPECT_EQ(gray_jpeg.Components(), 1);

  page.ShowImage(d.doc.AddImage(quad, TMRVXImageCompressionType::icFlate), 0, 0, 200, 200, 0);
  page.ShowImage(d.doc.AddImage(gray, TMRVXImageCompressionType::icFlate), 300, 0, 200, 100, 0);
  page.ShowImage(d.doc.AddImage(mono, TMRVXImageCompressionType::icFlate), 300, 200, 200, 100, 0);
  page.ShowImage(d.doc.AddImage(orange, TMRVXImageCompressionType::icJpeg), 0, 300, 200, 200, 0);
  const int gj = d.doc.AddImage(gray_jpeg, TMRVXImageCompressionType::icJpeg);
  page.ShowImage(gj, 300, 300, 100, 100, 0);
  // JPEG data goes in as it is.
  EXPECT_EQ(d.doc.XImages()[static_cast<size_t>(gj)].ImageObject->Stream,
            std::string(gray_jpeg.Data().begin(), gray_jpeg.Data().end()));
  page.ShowImage(0, 100, 700, 100, 100, 90);  // turned counter-clockwise about its lower-left corner
  d.doc.EndDoc();

  const std::string path = dir.File("images.pdf");
  testing::WriteFile(path, d.out);
  testing::SaveSample("images-flate-indexed-jpeg.pdf", d.out);
  testing::ExpectQpdfOk(path);
  const auto list = RunTool("pdfimages -list " + path);
  ASSERT_EQ(list.exit_code, 0) << list.output;
  std::istringstream lines(list.output);
  std::string line, kinds;
  std::getline(lines, line);
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string page_no, num, type, w, h, color, comp, bpc, enc;
    f >> page_no >> num >> type >> w >> h >> color >> comp >> bpc >> enc;
    kinds += w + "x" + h + " " + color + " " + comp + " " + bpc + " " + enc + "|";
  }
  EXPECT_EQ(kinds,
            "2x2 rgb 3 8 image|2x1 index 1 8 image|2x1 index 1 8 image|16x16 rgb 3 8 jpeg|16x16 gray 1 8 jpeg|"
            "2x2 rgb 3 8 image|");

  const testing::PageRaster r = testing::RenderPage(path, dir.File("images"));
  ASSERT_EQ(r.width, 595);
  const auto expect = [&r](int x, int y, int red, int green, int blue, int tol) {
    EXPECT_NEAR(r.At(x, y, 0), red, tol) << x << "," << y;
    EXPECT_NEAR(r.At(x, y, 1), green, tol) << x << "," << y;
    EXPECT_NEAR(r.At(x, y, 2), blue, tol) << x << "," << y;
  };
  expect(50, 50, 255, 0, 0, 0);
  expect(150, 50, 0, 255, 0, 0);
  expect(50, 150, 0, 0, 255, 0);
  expect(150, 150, 255, 255, 255, 0);
  expect(350, 50, 0, 0, 0, 0);
  expect(450, 50, 200, 200, 200, 0);
  expect(350, 250, 0, 0, 0, 0);
  expect(450, 250, 255, 255, 255, 0);
  expect(100, 400, 255, 128, 0, 6);
  expect(350, 350, 100, 100, 100, 3);
  expect(25, 775, 255, 0, 0, 0);
  expect(25, 725, 0, 255, 0, 0);
  expect(75, 775, 0, 0, 255, 0);
  expect(75, 725, 255, 255, 255, 0);
}

TEST(Images, FilesAreLoadedByTheirExtension) {
  TempDir dir;
  const platform::Bitmap pic = Solid(8, 4, 10, 20, 30);
  platform::SaveBmp(pic, dir.File("p.bmp"));
  platform::SaveJpeg(pic, dir.File("p.jpg"), 95);
  platform::SaveJpeg(pic, dir.File("p.JPG"), 95);

  MemDoc d;
  d.doc.BeginDoc();
  EXPECT_EQ(d.doc.AddImage(dir.File("p.bmp"), TMRVXImageCompressionType::icFlate), 0);
  EXPECT_EQ(FlateDecode(d.doc.XImages()[0].ImageObject->Stream), FlateSamples(pic));
  EXPECT_EQ(d.doc.AddImage(dir.File("p.jpg"), TMRVXImageCompressionType::icJpeg), 1);
  EXPECT_EQ(d.doc.XImages()[1].ImageObject->Stream, testing::ReadFile(dir.File("p.jpg")));
  EXPECT_EQ(d.doc.AddImage(dir.File("p.jpg"), TMRVXImageCompressionType::icFlate), 2);  // decoded
  EXPECT_EQ(d.doc.XImages()[2].Width, 8);
  EXPECT_EQ(d.doc.AddImage(dir.File("p.bmp"), TMRVXImageCompressionType::icJpeg), 3);  // encoded
  // The extension is compared exactly: ".JPG" is read as a bitmap, which it is not.
  EXPECT_THROW(d.doc.AddImage(dir.File("p.JPG"), TMRVXImageCompressionType::icFlate), platform::EImageError);
  EXPECT_THROW(d.doc.AddImage(dir.File("missing.bmp"), TMRVXImageCompressionType::icFlate), platform::EImageError);
  EXPECT_EQ(d.doc.XImages().size(), 4u);
  d.doc.EndDoc();
  const std::string path = dir.File("files.pdf");
  testing::WriteFile(path, d.out);
  testing::ExpectQpdfOk(path);
}

TEST(Images, RefusedPicturesRegisterNothing) {
  MemDoc d;
  const platform::Bitmap pic = Solid(4, 4, 1, 2, 3);
  EXPECT_THROW(d.doc.AddImage(pic, TMRVXImageCompressionType::icFlate), EMRVXError);  // not started
  d.doc.BeginDoc();
  const std::vector<uint8_t> jpeg = platform::EncodeJpeg(pic, 90);
  const struct {
    std::vector<uint8_t> data;
  } bad[] = {
      {{}},
      {{0xFF, 0xD8}},
      {{'G', 'I', 'F', '8', '9', 'a', 0, 0}},
      {std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 30)},  // cut before its frame header
      {{0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x40, 0x08}},             // a segment longer than the data
      {{0xFF, 0xD8, 0xFF, 0xC3, 0x00, 0x0B, 8, 0, 1, 0, 1, 1, 1, 0x11, 0}},  // lossless
  };
  for (const auto& b : bad) {
    try {
      TMRVXJpegImage::FromData(b.data);
      ADD_FAILURE() << b.data.size();
    } catch (const EMRVXError& e) {
      EXPECT_STREQ(e.what(), "Unsupported image format.");
    }
  }
  const auto expect_error = [&](const std::function<void()>& f, const char* message) {
    try {
      f();
      ADD_FAILURE() << message;
    } catch (const EMRVXError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  };
  const platform::Bitmap empty;
  expect_error([&] { d.doc.AddImage(empty, TMRVXImageCompressionType::icFlate); }, "Unsupported image format.");
  expect_error([&] { d.doc.AddImage(pic, TMRVXImageCompressionType::icCCITT42); }, "Image format must be B/W.");
  expect_error([&] { d.doc.AddImage(pic, TMRVXImageCompressionType::icJpeg, true); }, "Image format must be B/W.");
  expect_error([&] { d.doc.AddImage(pic, TMRVXImageCompressionType::icFlate, false, 5); }, "Incorrect mask index.");
  EXPECT_TRUE(d.doc.XImages().empty());
  d.doc.AddImage(pic, TMRVXImageCompressionType::icFlate);
  // An image that is not a stencil cannot be a mask.
  expect_error([&] { d.doc.AddImage(pic, TMRVXImageCompressionType::icFlate, false, 0); }, "Incorrect mask index.");
  EXPECT_EQ(d.doc.XImages().size(), 1u);
  d.doc.EndDoc();
}


// A TIFF of RGB directories; pixel (x, y) of directory d is colour(d, x, y).
void WriteTiff(const std::string& path, const std::vector<std::pair<uint32_t, uint32_t>>& sizes,
               uint32_t (*colour)(size_t, uint32_t, uint32_t)) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  for (size_t d = 0; d < sizes.size(); ++d) {
    const auto [w, h] = sizes[d];
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, d == 0 ? COMPRESSION_NONE : COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 64);
    std::vector<uint8_t> row(w * 3);
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t c = colour(d, x, y);
        row[3 * x] = static_cast<uint8_t>(c >> 16);
        row[3 * x + 1] = static_cast<uint8_t>(c >> 8);
        row[3 * x + 2] = static_cast<uint8_t>(c);
      }
      ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, 0), 1);
    }
    ASSERT_EQ(TIFFWriteDirectory(t), 1);
  }
  TIFFClose(t);
}

// Directory 0: left half red, right half blue; directory 1: rows 0..1199 green, the rest gray.
uint32_t TiffColour(size_t d, uint32_t x, uint32_t y) {
  if (d == 0) return x < 2 ? 0xFF0000 : 0x0000FF;
  return y < 1200 ? 0x00FF00 : 0x808080;
}

TEST(Images, TiffDirectoriesArePagesAndTallPicturesStrips) {
  TempDir dir;
  const std::string tiff = dir.File("scan.tif");
  WriteTiff(tiff, {{4, 3}, {3, 2500}}, TiffColour);

  MemDoc d;
  d.doc.BeginDoc();
  d.doc.AddTiffFromFile(tiff, TMRVXImageCompressionType::icFlate, TTIFFPaintType::tptResizePage);
  EXPECT_EQ(d.doc.PagesCount(), 2);
  ASSERT_EQ(d.doc.XImages().size(), 4u);
  EXPECT_EQ(d.doc.XImages()[0].Width, 4);
  EXPECT_EQ(d.doc.XImages()[1].Height, 1200);
  EXPECT_EQ(d.doc.XImages()[2].Height, 1200);
  EXPECT_EQ(d.doc.XImages()[3].Height, 102);
  // The strips share a row: the second starts with row 1199 (green), the third with row 2398.
  EXPECT_EQ(FlateDecode(d.doc.XImages()[2].ImageObject->Stream).substr(0, 3), std::string("\x00\xFF\x00", 3));
  EXPECT_EQ(FlateDecode(d.doc.XImages()[2].ImageObject->Stream).substr(3 * 3, 3), std::string("\x80\x80\x80", 3));
  const std::string strips = Lines(*d.doc.CurrentPage(), 0);
  EXPECT_NE(strips.find("|1 0 0 1 0 1300 cm|3 0 0 1200 0 0 cm|/Im1 Do|"), std::string::npos) << strips;
  EXPECT_NE(strips.find("|1 0 0 1 0 101 cm|3 0 0 1200 0 0 cm|/Im2 Do|"), std::string::npos) << strips;
  EXPECT_NE(strips.find("|1 0 0 1 0 0 cm|3 0 0 102 0 0 cm|/Im3 Do|"), std::string::npos) << strips;
  d.doc.EndDoc();

  const std::string path = dir.File("tiff.pdf");
  testing::WriteFile(path, d.out);
  testing::ExpectQpdfOk(path);
  const auto info = RunTool("pdfinfo -f 1 -l 2 " + path);
  EXPECT_NE(info.output.find("Page    1 size:  4 x 3 pts"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("Page    2 size:  3 x 2500 pts"), std::string::npos) << info.output;
  const testing::PageRaster r = testing::RenderPage(path, dir.File("tiff"));
  ASSERT_EQ(r.width, 4);
  EXPECT_EQ(r.At(0, 1, 0), 255);
  EXPECT_EQ(r.At(3, 1, 2), 255);
  EXPECT_EQ(r.At(3, 1, 0), 0);

  // The picture takes the page's width: 3 pixels become 595 points.
  MemDoc e;
  e.doc.BeginDoc();
  e.doc.AddTiffFromFile(tiff, TMRVXImageCompressionType::icJpeg, TTIFFPaintType::tptResizeImage);
  EXPECT_EQ(e.doc.PagesCount(), 2);
  const std::string scaled = Lines(*e.doc.CurrentPage(), 0);
  EXPECT_NE(scaled.find("|1 0 0 1 0 -237158 cm|595 0 0 238000 0 0 cm|/Im1 Do|"), std::string::npos) << scaled;
  e.doc.EndDoc();
}

TEST(Images, BrokenTiffFilesAreRefused) {
  TempDir dir;
  MemDoc d;
  d.doc.BeginDoc();
  const auto expect_error = [&](const std::string& file, const std::string& prefix) {
    try {
      d.doc.AddTiffFromFile(file, TMRVXImageCompressionType::icFlate, TTIFFPaintType::tptResizePage);
      ADD_FAILURE() << file;
    } catch (const EMRVXError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
    }
  };
  expect_error(dir.File("missing.tif"), "Invalid tiff file name");
  testing::WriteFile(dir.File("text.tif"), "not a tiff at all");
  expect_error(dir.File("text.tif"), "Invalid tiff file name");
  // A TIFF whose strips are cut off after its header and directory.
  WriteTiff(dir.File("cut.tif"), {{64, 64}}, TiffColour);
  std::string data = testing::ReadFile(dir.File("cut.tif"));
  const std::string whole = data;
  // Uncompressed strips sit between the 8-byte header and the directory at the end.
  data.replace(8, 64 * 64 * 3, std::string());
  testing::WriteFile(dir.File("cut.tif"), data);
  expect_error(dir.File("cut.tif"), "Invalid tiff");
  // A directory that claims a giant gray picture in one uncompressed strip, followed by 1000
  // bytes: above 64 megapixels refused before anything is reserved, below it refused at the
  // first strip that is not there (libtiff would otherwise go on through every strip).
  const auto claim = [&](uint32_t w, uint32_t h) {
    std::string t = "II*";
    t += '\0';
    const auto u16 = [&](uint32_t v) { t += static_cast<char>(v & 0xFF), t += static_cast<char>(v >> 8 & 0xFF); };
    const auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    u32(8);
    const std::vector<std::array<uint32_t, 3>> entries = {
        {256, 4, w}, {257, 4, h}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1}, {273, 4, 8 + 2 + 9 * 12 + 4},
        {277, 3, 1}, {278, 4, h}, {279, 4, w * h}};
    u16(static_cast<uint32_t>(entries.size()));
    for (const auto& [tag, type, value] : entries) {
      u16(tag), u16(type), u32(1);
      if (type == 3) u16(value), u16(0);
      else u32(value);
    }
    u32(0);
    t += std::string(1000, '\x80');
    return t;
  };
  testing::WriteFile(dir.File("giant.tif"), claim(16383, 16383));
  expect_error(dir.File("giant.tif"), "Invalid tiff image. Too large (16383 x 16383)");
  testing::WriteFile(dir.File("short.tif"), claim(8000, 8000));
  const auto start = std::chrono::steady_clock::now();
  expect_error(dir.File("short.tif"), "Invalid tiff image.");
  // A guard against the old run through every missing strip, not a speed goal.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(d.doc.XImages().empty());
  d.doc.EndDoc();
}


uint32_t HalfWhite(size_t, uint32_t x, uint32_t) { return x < 4 ? 0xF0F0F0 : 0x303030; }

TEST(Images, FaxPagesFromTiffAndMaskedPictures) {
  TempDir dir;
  const std::string tiff = dir.File("mono.tif");
  WriteTiff(tiff, {{8, 2}}, HalfWhite);
  MemDoc d;
  d.doc.BeginDoc();
  d.doc.AddTiffFromFile(tiff, TMRVXImageCompressionType::icCCITT42, TTIFFPaintType::tptResizePage);
  // The mask's black half lets the red picture through, its white half keeps the page.
  platform::Bitmap stencil(2, 1, platform::PixelFormat::pf1bit);
  stencil.ScanLine(0)[0] = 0x40;
  d.doc.AddPage();
  TMRVXPage& page = *d.doc.CurrentPage();
  const int mask = d.doc.AddImage(stencil, TMRVXImageCompressionType::icFlate, true);
  const platform::Bitmap red = Solid(2, 1, 255, 0, 0);
  const int masked = d.doc.AddImage(red, TMRVXImageCompressionType::icFlate, false, d.doc.XImages()[mask].Index);
  page.ShowImage(masked, 0, 0, 200, 100, 0);
  d.doc.EndDoc();
  const std::string dict = testing::ObjectAt(d.out, d.doc.XImages()[static_cast<size_t>(masked)].ImageObject->ID.ObjectNumber);
  EXPECT_NE(dict.find("/Mask "), std::string::npos) << dict;
  // A stencil mask has one bit per sample and no colour space of its own.
  const std::string stencil_dict = testing::ObjectAt(d.out, d.doc.XImages()[static_cast<size_t>(mask)].ImageObject->ID.ObjectNumber);
  EXPECT_EQ(stencil_dict.find("/ColorSpace"), std::string::npos) << stencil_dict;
  EXPECT_NE(stencil_dict.find("/BitsPerComponent 1 "), std::string::npos) << stencil_dict;
  EXPECT_NE(stencil_dict.find("/ImageMask true "), std::string::npos) << stencil_dict;
  const std::string fax = testing::ObjectAt(d.out, d.doc.XImages()[0].ImageObject->ID.ObjectNumber);
  EXPECT_NE(fax.find("/ColorSpace /DeviceGray /Filter [ /CCITTFaxDecode ] /Width 8 /Height 2 /BitsPerComponent 1 "
                     "/DecodeParms [ << /K -1 /Columns 8 /Rows 2 >>  ] "),
            std::string::npos)
      << fax;

  const std::string path = dir.File("fax.pdf");
  testing::WriteFile(path, d.out);
  testing::SaveSample("images-fax-and-mask.pdf", d.out);
  testing::ExpectQpdfOk(path);
  const testing::PageRaster r = testing::RenderPage(path, dir.File("fax"));
  ASSERT_EQ(r.width, 8);
  EXPECT_EQ(r.At(1, 1, 1), 255);
  EXPECT_EQ(r.At(6, 1, 1), 0);
  const testing::PageRaster m = testing::RenderPage(path, dir.File("masked"), "-f 2 -l 2");
  ASSERT_EQ(m.width, 595);
  EXPECT_EQ(m.At(50, 50, 0), 255);
  EXPECT_EQ(m.At(50, 50, 1), 0);
  EXPECT_EQ(m.At(150, 50, 1), 255);
}

}  // namespace
}  // namespace pdfwriter
