#include "platform/fonts/canvas_text.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/base/cp1252.h"
#include "platform/fonts/font_provider.h"

namespace platform {

namespace {

struct Layout {
  TFontRef font;
  int em = 1;
  int ascent = 0;
  int descent = 0;
  std::vector<uint32_t> glyphs;
  std::vector<int> advances;
  int width = 0;
};

int ScalePx(int per1000, int em) { return static_cast<int>(std::lround(static_cast<double>(per1000) * em / 1000.0)); }

std::vector<char32_t> CodePoints(std::u16string_view text) {
  std::vector<char32_t> cps;
  cps.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      cps.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      cps.push_back(u);
    }
  }
  return cps;
}

Layout Prepare(const TCanvasFont& font, std::u16string_view text) {
  Layout l;
  l.font = FontProvider::Default().FindOrFallback(font.Name, font.Style);
  const FontFace& face = *l.font.Face;
  const TFontMetrics& m = face.Metrics();
  if (font.Height > 0) {
    // A positive height is the whole cell; the em is what is left of it.
    l.em = std::max(1, static_cast<int>(std::lround(static_cast<double>(font.Height) * 1000.0 / std::max(1, m.Height))));
  } else {
    l.em = FontEmPixels(font);
  }
  l.ascent = ScalePx(m.Ascent, l.em);
  l.descent = ScalePx(m.Descent, l.em);
  for (char32_t cp : CodePoints(text)) {
    const uint32_t g = face.GlyphIndex(cp);
    const int adv = face.PixelAdvance(g, l.em, l.font.SyntheticBold);
    l.glyphs.push_back(g);
    l.advances.push_back(adv);
    l.width += adv;
  }
  return l;
}

struct Rgb {
  uint8_t r, g, b;
};

Rgb ColorOf(TColor c) {
  if (c < 0) c = 0;
  return {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>((c >> 8) & 0xFF), static_cast<uint8_t>((c >> 16) & 0xFF)};
}

uint8_t Mix(uint8_t dst, uint8_t src, int coverage) {
  return static_cast<uint8_t>(dst + ((static_cast<int>(src) - dst) * coverage + (src >= dst ? 127 : -127)) / 255);
}

// Writes one pixel of a row with a coverage of 0..255; the caller has clipped x.
void Plot(uint8_t* row, PixelFormat pf, int x, Rgb c, int coverage) {
  if (coverage <= 0) return;
  switch (pf) {
    case PixelFormat::pf24bit:
    case PixelFormat::pf32bit: {
      uint8_t* p = row + static_cast<size_t>(x) * (pf == PixelFormat::pf24bit ? 3 : 4);
      p[0] = Mix(p[0], c.b, coverage);
      p[1] = Mix(p[1], c.g, coverage);
      p[2] = Mix(p[2], c.r, coverage);
      break;
    }
    case PixelFormat::pf8bit: {
      const uint8_t gray = static_cast<uint8_t>((c.r * 299 + c.g * 587 + c.b * 114 + 500) / 1000);
      row[x] = Mix(row[x], gray, coverage);
      break;
    }
    case PixelFormat::pf1bit: {
      if (coverage < 128) break;
      const bool white = (c.r * 299 + c.g * 587 + c.b * 114) >= 128 * 1000;
      const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
      if (white) {
        row[x >> 3] |= bit;
      } else {
        row[x >> 3] &= static_cast<uint8_t>(~bit);
      }
      break;
    }
  }
}

TRect Intersect(const TRect& a, const TRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
}

void FillBox(Bitmap& bmp, const TRect& box, const TRect& clip, Rgb c) {
  const TRect r = Intersect(box, clip);
  for (int y = r.Top; y < r.Bottom; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (int x = r.Left; x < r.Right; ++x) Plot(row, bmp.GetPixelFormat(), x, c, 255);
  }
}

// a + b clamped, so that coordinates far outside the bitmap cannot overflow.
int Add(int a, long long b) {
  return static_cast<int>(std::clamp<long long>(static_cast<long long>(a) + b, -(1LL << 30), 1LL << 30));
}

}  // namespace

int FontEmPixels(const TCanvasFont& font) {
  if (font.Height < 0) return std::max(1, -font.Height);
  // Points to pixels rounded the way MulDiv rounds: (size * ppi + 36) / 72.
  const long long px = (static_cast<long long>(std::max(0, font.Size)) * std::max(1, font.PixelsPerInch) + 36) / 72;
  return static_cast<int>(std::clamp<long long>(px, 1, 4000));
}

TTextExtent TextExtent(const TCanvasFont& font, std::u16string_view text) {
  const Layout l = Prepare(font, text);
  return {l.width, l.ascent + l.descent, l.ascent, l.descent};
}

TTextExtent TextExtentUtf8(const TCanvasFont& font, std::string_view text) {
  return TextExtent(font, Utf8ToUtf16(text));
}

TRect TextOut(Bitmap& bitmap, int x, int y, std::u16string_view text, const TCanvasFont& font,
              const TTextOptions& options) {
  const Layout l = Prepare(font, text);
  int left = x;
  if (options.Align == TTextAlign::taCenter) left = Add(x, -(l.width / 2));
  if (options.Align == TTextAlign::taRight) left = Add(x, -l.width);
  int baseline = Add(y, l.ascent);
  if (options.VAlign == TTextBaseline::tbBaseline) baseline = y;
  if (options.VAlign == TTextBaseline::tbBottom) baseline = Add(y, -l.descent);
  const TRect box{left, Add(baseline, -l.ascent), Add(left, l.width), Add(baseline, l.descent)};

  TRect clip{0, 0, bitmap.Width(), bitmap.Height()};
  if (options.Clip) clip = Intersect(clip, *options.Clip);
  if (clip.Left >= clip.Right || clip.Top >= clip.Bottom) return box;

  if (options.Opaque) FillBox(bitmap, box, clip, ColorOf(options.Background));

  const Rgb color = ColorOf(font.Color);
  const FontFace& face = *l.font.Face;
  TGlyphImage img;
  int pen = left;
  for (size_t i = 0; i < l.glyphs.size(); ++i) {
    if (face.RenderGlyph(l.glyphs[i], l.em, l.font.SyntheticBold, l.font.SyntheticItalic, img)) {
      const int gx = Add(pen, img.Left);
      const int gy = Add(baseline, -img.Top);
      const int y0 = std::max(clip.Top, gy), y1 = std::min(clip.Bottom, Add(gy, img.Rows));
      const int x0 = std::max(clip.Left, gx), x1 = std::min(clip.Right, Add(gx, img.Width));
      for (int py = y0; py < y1; ++py) {
        const uint8_t* cov = img.Coverage.data() + static_cast<size_t>(py - gy) * img.Pitch;
        uint8_t* row = bitmap.ScanLine(py);
        for (int px = x0; px < x1; ++px) Plot(row, bitmap.GetPixelFormat(), px, color, cov[px - gx]);
      }
    }
    pen = Add(pen, l.advances[i]);
  }

  const TFontMetrics& m = face.Metrics();
  if (font.Style & fsUnderline) {
    const int thick = std::max(1, ScalePx(m.UnderlineThickness, l.em));
    const int top = Add(baseline, std::max(1, -ScalePx(m.UnderlinePosition, l.em)) - thick / 2);
    FillBox(bitmap, {box.Left, top, box.Right, Add(top, thick)}, clip, color);
  }
  if (font.Style & fsStrikeOut) {
    const int thick = std::max(1, ScalePx(m.StrikeoutSize, l.em));
    const int top = Add(baseline, -ScalePx(m.StrikeoutPosition, l.em));
    FillBox(bitmap, {box.Left, top, box.Right, Add(top, thick)}, clip, color);
  }
  return box;
}

TRect TextOutUtf8(Bitmap& bitmap, int x, int y, std::string_view text, const TCanvasFont& font,
                  const TTextOptions& options) {
  return TextOut(bitmap, x, y, Utf8ToUtf16(text), font, options);
}

}  // namespace platform
