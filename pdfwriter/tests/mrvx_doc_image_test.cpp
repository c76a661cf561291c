#include <gtest/gtest.h>

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
  expect_error([&] { d.doc.AddImage(pic, TMRVXImageCompressionType::icCCITT42); }, "CCITT encoding is not available.");
  expect_error([&] { d.doc.AddImage(pic, TMRVXImageCompressionType::icJpeg, true); }, "CCITT encoding is not available.");
  expect_error([&] { d.doc.AddImage(pic, TMRVXImageCompressionType::icFlate, false, 5); }, "Incorrect mask index.");
  EXPECT_TRUE(d.doc.XImages().empty());
  d.doc.AddImage(pic, TMRVXImageCompressionType::icFlate);
  // An image that is not a stencil cannot be a mask.
  expect_error([&] { d.doc.AddImage(pic, TMRVXImageCompressionType::icFlate, false, 0); }, "Incorrect mask index.");
  EXPECT_EQ(d.doc.XImages().size(), 1u);
  d.doc.EndDoc();
}

}  // namespace
}  // namespace pdfwriter
