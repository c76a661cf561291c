#pragma once
// Text on a bitmap, the way a canvas's text-out draws it: one line in a font of a family,
// size, style and colour, placed by a reference point and an alignment, optionally on an
// opaque background box. Faces come from the same provider as the PDF writer's, so overlays
// and reports show the same fonts. The bitmap canvas calls this for its text operations.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/color.h"
#include "platform/fonts/font_face.h"
#include "platform/image/bitmap.h"
#include "platform/image/geometry.h"

namespace platform {

struct TCanvasFont {
  std::string Name = "Arial";  // family; a family that is not installed falls back to the Unicode font
  int Size = 10;               // points, used when Height is 0
  int Height = 0;              // pixels: negative the em height, positive the cell height
  TFontStyles Style = 0;
  TColor Color = 0;
  int PixelsPerInch = 96;      // the device the size in points refers to
};

enum class TTextAlign { taLeft, taCenter, taRight };
enum class TTextBaseline { tbTop, tbBaseline, tbBottom };

struct TTextOptions {
  TTextAlign Align = TTextAlign::taLeft;          // where x is: left edge, centre or right edge
  TTextBaseline VAlign = TTextBaseline::tbTop;    // where y is: top of the cell, baseline or bottom
  bool Opaque = false;                            // fill the text box with Background first
  TColor Background = 0xFFFFFF;
  std::optional<TRect> Clip;                      // pixels outside stay untouched (Right/Bottom excluded)
};

// The box of a line of text in pixels: the sum of the advances, and the cell height
// (ascent + descent) of the font.
struct TTextExtent {
  int Width = 0;
  int Height = 0;
  int Ascent = 0;
  int Descent = 0;
};

// The em height in pixels that a canvas font asks for (at least 1).
int FontEmPixels(const TCanvasFont& font);

TTextExtent TextExtent(const TCanvasFont& font, std::u16string_view text);
TTextExtent TextExtentUtf8(const TCanvasFont& font, std::string_view text);

// Measuring and drawing throw EFontError only when no font at all can be found or the face
// found is damaged.
//
// Draws the text and returns its box (Right and Bottom excluded), whether or not it was
// clipped. Underline and strike-out follow the style. Works on every pixel format of
// Bitmap: 24 and 32 bits blend the colour by coverage, 8 bits blend its gray value, 1 bit
// sets the pixels covered at least half.
TRect TextOut(Bitmap& bitmap, int x, int y, std::u16string_view text, const TCanvasFont& font,
              const TTextOptions& options = {});
TRect TextOutUtf8(Bitmap& bitmap, int x, int y, std::string_view text, const TCanvasFont& font,
                  const TTextOptions& options = {});

}  // namespace platform
