#pragma once
// The drawing surface of a bitmap: a pen (colour, width, copy or invert), a brush (solid or
// clear), lines and polylines, rectangles, ellipses and polygons, flood fill, copying and
// stretching other bitmaps, and text through a renderer the fonts layer registers.
//
// Pixels are our own rasterisation, in pixel coordinates with x to the right and y downwards:
//  - A line from p to q covers, for every step along its longer axis from p up to but not
//    including q, the pixel nearest to the exact line on the shorter axis (halves round
//    towards +infinity). A pen of width w > 1 widens each of those pixels to w pixels across
//    the line's shorter axis, starting (w - 1) / 2 pixels before it. Lines may reach far
//    outside the bitmap; only the pixels inside are touched.
//  - Shapes in a box (x1, y1, x2, y2) cover the pixels x1..x2-1 and y1..y2-1.
//  - A polygon fills the pixels of its winding region (platform/image/region.h) and then
//    draws its closed outline with the pen.
// Each primitive touches a pixel at most once, so the invert pen leaves no pixel inverted
// twice by one call.
//
// Colours are 0x00BBGGRR. The canvas draws on 24-bit and 32-bit bitmaps (the fourth byte of
// a 32-bit pixel is left alone); other formats are refused when the canvas is made.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/color.h"
#include "platform/image/bitmap.h"
#include "platform/image/geometry.h"
#include "platform/image/region.h"

namespace platform {

// pmCopy writes the pen colour; pmNot inverts the pixel under the pen (every byte b becomes
// 255 - b), whatever the colour.
enum class TCanvasPenMode { pmCopy, pmNot };
enum class TCanvasBrushStyle { bsSolid, bsClear };
// fsSurface fills the pixels of the given colour connected to the start; fsBorder fills the
// pixels connected to the start up to pixels of the given colour.
enum class TCanvasFillStyle { fsSurface, fsBorder };

struct TCanvasPen {
  TColor Color = clBlack;
  int Width = 1;
  TCanvasPenMode Mode = TCanvasPenMode::pmCopy;
};

struct TCanvasBrush {
  TColor Color = clWhite;
  TCanvasBrushStyle Style = TCanvasBrushStyle::bsSolid;
};

enum class TCanvasTextAlign { taLeft, taCenter, taRight };

// The text state of a canvas. Name, size and style are handed to the registered renderer as
// they stand; Style holds the bits 1 bold, 2 italic, 4 underline, 8 strike-out.
struct TCanvasTextStyle {
  std::string Name = "Arial";
  int Size = 10;      // points, used when Height is 0
  int Height = 0;     // pixels: negative the em height, positive the cell height
  uint8_t Style = 0;
  TColor Color = clBlack;
  int PixelsPerInch = 96;
  TCanvasTextAlign Align = TCanvasTextAlign::taLeft;
  bool Opaque = false;         // fill the text box with Background first
  TColor Background = clWhite;
};

// What draws and measures text for every canvas. The fonts layer registers one at start-up;
// until then text is neither drawn nor measured.
class ICanvasTextRenderer {
 public:
  virtual ~ICanvasTextRenderer() = default;
  // Draws one line of UTF-8 text with its top at y and x as the alignment says; returns the
  // box it covers (Right and Bottom excluded).
  virtual TRect TextOut(Bitmap& bitmap, int x, int y, std::string_view text, const TCanvasTextStyle& style) = 0;
  // Width and height of the line's box.
  virtual TPoint TextExtent(std::string_view text, const TCanvasTextStyle& style) = 0;
};

// Registers the renderer (not owned; nullptr removes it) and returns the one before.
ICanvasTextRenderer* SetCanvasTextRenderer(ICanvasTextRenderer* renderer);
ICanvasTextRenderer* CanvasTextRenderer();

class Canvas {
 public:
  // Draws on target, which must outlive the canvas. Throws std::invalid_argument for a
  // bitmap that is neither 24-bit nor 32-bit.
  explicit Canvas(Bitmap& target);

  Bitmap& Target() { return target_; }
  TCanvasPen& Pen() { return pen_; }
  TCanvasBrush& Brush() { return brush_; }
  TCanvasTextStyle& Font() { return font_; }
  TPoint PenPos() const { return pen_pos_; }

  // The colour of a pixel; -1 outside the bitmap. SetPixel ignores pixels outside.
  TColor Pixel(int x, int y) const;
  void SetPixel(int x, int y, TColor color);

  void MoveTo(int x, int y);
  // A line from the pen position to (x, y), without (x, y); the pen position moves there.
  void LineTo(int x, int y);
  // Lines through the points in order (each without its end point, the last point
  // included); the pen position is not used and ends at the last point.
  void Polyline(std::span<const TPoint> points);
  // Fills the winding region of the points with the brush, then draws the closed outline.
  void Polygon(std::span<const TPoint> points);
  // Fills the box with the brush and draws its outline (the box's outermost pixels, pen
  // width inwards) with the pen.
  void Rectangle(int x1, int y1, int x2, int y2);
  // Fills the box with the brush colour, no outline.
  void FillRect(const TRect& r);
  // The ellipse inscribed in the box: pixels whose centre lies inside it are filled with the
  // brush; those among them within the pen width of its outside are drawn with the pen.
  void Ellipse(int x1, int y1, int x2, int y2);
  // Fills the region's pixels with the brush colour.
  void FillRegion(const TRegion& region);
  // Flood fill with the brush colour from (x, y), 4-connected.
  void FloodFill(int x, int y, TColor color, TCanvasFillStyle style);

  // Copies src with its top-left pixel at (x, y); src may be any pixel format.
  void Draw(int x, int y, const Bitmap& src);
  // Scales src into the box dest (Right and Bottom excluded) by nearest pixel: destination
  // pixel x takes source pixel floor((x - Left + 1/2) * src width / box width).
  void StretchDraw(const TRect& dest, const Bitmap& src);

  // Text through the registered renderer with the canvas's font; without a renderer nothing
  // is drawn and the box is empty at (x, y).
  TRect TextOut(int x, int y, std::string_view text);
  int TextWidth(std::string_view text) const;
  int TextHeight(std::string_view text) const;

 private:
  // One stroke of the pen over several segments (see canvas.cpp).
  class PenStroke {
   public:
    explicit PenStroke(Canvas& c);
    ~PenStroke();
    PenStroke(const PenStroke&) = delete;
    PenStroke& operator=(const PenStroke&) = delete;

   private:
    Canvas& c_;
    std::vector<uint32_t> pixels_;
  };

  void Plot(int x, int y, TColor color, TCanvasPenMode mode);
  void PenPixel(int x, int y);
  void PenLine(TPoint from, TPoint to);
  void HSpan(int y, int x0, int x1, TColor color);  // pixels x0..x1-1

  Bitmap& target_;
  int bytes_;  // 3 or 4
  TCanvasPen pen_;
  TCanvasBrush brush_;
  TCanvasTextStyle font_;
  TPoint pen_pos_;
  std::vector<uint32_t>* collect_ = nullptr;  // pen pixels of the stroke in progress
};

}  // namespace platform
