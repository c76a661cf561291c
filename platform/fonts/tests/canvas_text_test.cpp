#include "platform/fonts/canvas_text.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

Bitmap White(int w, int h, PixelFormat pf = PixelFormat::pf24bit) {
  Bitmap b(w, h, pf);
  b.Fill(0xFF);
  return b;
}

bool IsWhite(const Bitmap& b, int x, int y) {
  const uint8_t* p = b.ScanLine(y) + 3 * x;
  return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

bool Inside(const TRect& r, int x, int y) { return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom; }

TEST(CanvasTextTest, NarrowElevenPointTextStaysInsideItsMeasuredBoxAndTheBackgroundFillsIt) {
  TCanvasFont font;
  font.Name = "Arial Narrow";
  font.Size = 11;
  const std::u16string text = u"Dot area 12.5 % Hxg";
  const TTextExtent ext = TextExtent(font, text);
  EXPECT_EQ(FontEmPixels(font), 15);
  EXPECT_GT(ext.Width, 60);
  EXPECT_EQ(ext.Height, ext.Ascent + ext.Descent);
  EXPECT_GE(ext.Height, 15);

  Bitmap b = White(240, 60);
  TTextOptions opt;
  opt.Opaque = true;
  opt.Background = 0x00FFFF;  // yellow
  const TRect box = TextOut(b, 20, 15, text, font, opt);
  EXPECT_EQ(box, (TRect{20, 15, 20 + ext.Width, 15 + ext.Height}));
  int dark = 0;
  for (int y = 0; y < b.Height(); ++y) {
    for (int x = 0; x < b.Width(); ++x) {
      const uint8_t* p = b.ScanLine(y) + 3 * x;
      if (!Inside(box, x, y)) {
        ASSERT_TRUE(IsWhite(b, x, y)) << x << "," << y;
        continue;
      }
      // Inside: the background or ink blended onto it, never the white that was there.
      ASSERT_EQ(p[0], 0) << x << "," << y;
      EXPECT_EQ(p[1], p[2]);
      if (p[2] < 64) ++dark;
    }
  }
  EXPECT_GT(dark, 50);
}

TEST(CanvasTextTest, AlignmentPlacesTheBoxAroundTheReferencePoint) {
  TCanvasFont font;
  font.Size = 14;
  const TTextExtent e = TextExtent(font, u"Quirvel");
  struct Case {
    TTextAlign h;
    TTextBaseline v;
    TRect expected;
  };
  for (const Case& c : {Case{TTextAlign::taLeft, TTextBaseline::tbTop, {100, 50, 100 + e.Width, 50 + e.Height}},
                        Case{TTextAlign::taRight, TTextBaseline::tbTop, {100 - e.Width, 50, 100, 50 + e.Height}},
                        Case{TTextAlign::taCenter, TTextBaseline::tbBaseline,
                             {100 - e.Width / 2, 50 - e.Ascent, 100 - e.Width / 2 + e.Width, 50 + e.Descent}},
                        Case{TTextAlign::taLeft, TTextBaseline::tbBottom, {100, 50 - e.Height, 100 + e.Width, 50}}}) {
    Bitmap b = White(200, 100);
    TTextOptions opt;
    opt.Align = c.h;
    opt.VAlign = c.v;
    EXPECT_EQ(TextOut(b, 100, 50, u"Quirvel", font, opt), c.expected);
    for (int y = 0; y < b.Height(); ++y) {
      for (int x = 0; x < b.Width(); ++x) {
        if (!Inside(c.expected, x, y)) {
          ASSERT_TRUE(IsWhite(b, x, y)) << x << "," << y;
        }
      }
    }
  }
}

TEST(CanvasTextTest, ClippingKeepsEveryPixelOutsideTheClipAndTheBitmap) {
  TCanvasFont font;
  font.Size = 40;
  font.Color = 0x0000FF;  // red
  font.Style = fsUnderline | fsStrikeOut;
  Bitmap b = White(80, 40);
  TTextOptions opt;
  opt.Opaque = true;
  opt.Background = 0;
  opt.Clip = TRect{10, 10, 50, 30};
  TextOut(b, -30, -20, u"WMWMWMWM", font, opt);
  TextOut(b, 60, 30, u"WMWMWMWM", font, opt);
  TextOut(b, 1 << 30, -(1 << 30), u"W", font, opt);
  for (int y = 0; y < b.Height(); ++y) {
    for (int x = 0; x < b.Width(); ++x) {
      if (!Inside(*opt.Clip, x, y)) {
        ASSERT_TRUE(IsWhite(b, x, y)) << x << "," << y;
      }
    }
  }
  EXPECT_FALSE(IsWhite(b, 15, 15));
}

TEST(CanvasTextTest, ColourStyleAndPixelFormats) {
  TCanvasFont font;
  font.Size = 20;
  font.Color = 0x0000FF;  // red
  Bitmap rgb = White(200, 40);
  TextOut(rgb, 2, 2, u"Red", font);
  bool red = false;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 200; ++x) {
      const uint8_t* p = rgb.ScanLine(y) + 3 * x;
      if (p[2] == 255 && p[1] < 40 && p[0] < 40) red = true;
      ASSERT_EQ(p[2], 255);  // red stays full wherever red ink lands on white
    }
  }
  EXPECT_TRUE(red);

  TCanvasFont bold = font;
  bold.Style = fsBold;
  EXPECT_GT(TextExtent(bold, u"Measurement").Width, TextExtent(font, u"Measurement").Width);
  TCanvasFont big = font;
  big.Height = -40;
  EXPECT_GT(TextExtent(big, u"M").Width, TextExtent(font, u"M").Width);
  TCanvasFont cell = font;
  cell.Height = 30;
  EXPECT_EQ(TextExtent(cell, u"M").Height, 30);

  font.Color = 0;
  for (PixelFormat pf : {PixelFormat::pf8bit, PixelFormat::pf1bit, PixelFormat::pf32bit}) {
    Bitmap b = White(100, 30, pf);
    const TRect box = TextOut(b, 0, 0, u"Ink", font);
    int ink = 0;
    for (int y = 0; y < 30; ++y) {
      const uint8_t* row = b.ScanLine(y);
      for (int x = 0; x < 100; ++x) {
        bool dark = false;
        if (pf == PixelFormat::pf8bit) dark = row[x] < 128;
        if (pf == PixelFormat::pf1bit) dark = !(row[x >> 3] & (0x80 >> (x & 7)));
        if (pf == PixelFormat::pf32bit) dark = row[4 * x] < 128;
        if (dark) {
          ++ink;
          EXPECT_TRUE(Inside(box, x, y));
        }
      }
    }
    EXPECT_GT(ink, 20) << BitsPerPixel(pf);
  }
}

TEST(CanvasTextTest, UnderlineRunsUnderTheWholeBox) {
  TCanvasFont font;
  font.Size = 20;
  font.Style = fsUnderline;
  Bitmap b = White(200, 50);
  const TRect box = TextOut(b, 10, 5, u"a b", font);
  const TTextExtent e = TextExtent(font, u"a b");
  bool found = false;
  for (int y = box.Top + e.Ascent; y < box.Bottom && !found; ++y) {
    bool full = true;
    for (int x = box.Left; x < box.Right; ++x) full = full && !IsWhite(b, x, y);
    found = full;
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace platform
