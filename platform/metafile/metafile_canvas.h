#pragma once
// The recording canvas: drawing calls become enhanced-metafile records instead of pixels.
// It draws on a reference device of `dpi` pixels per inch (96 unless told otherwise) that is
// as large as the surface needs: there is no screen behind it, so no screen size limits what
// can be recorded. Coordinates are reference-device pixels, x to the right, y downwards.
//
// Pens and brushes are realised lazily, the way a GDI canvas does it: a record that creates
// the pen (or brush) is written only when a drawing call needs it and it differs from the one
// selected, followed by its selection and the deletion of the one it replaces. A canvas on
// which nothing was drawn therefore records only the header and the end record.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/color.h"
#include "platform/image/geometry.h"
#include "platform/metafile/metafile.h"

namespace platform {

enum class TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum class TPenMode { pmCopy, pmNot };
enum class TBrushStyle { bsSolid, bsClear };

struct TPen {
  TColor Color = 0;
  int Width = 1;
  TPenStyle Style = TPenStyle::psSolid;
  TPenMode Mode = TPenMode::pmCopy;
  friend bool operator==(const TPen&, const TPen&) = default;
};

// The font text is recorded in. Height in pixels (negative: the em height, positive: the cell
// height) wins over Size in points; Orientation turns the text counter-clockwise in tenths of
// a degree.
struct TMetafileFont {
  std::string Name = "Arial";
  int Size = 10;
  int Height = 0;
  uint8_t Style = 0;  // bold 1, italic 2, underline 4, strike-out 8
  TColor Color = 0;
  uint8_t Charset = 1;  // the default character set
  int Orientation = 0;
  friend bool operator==(const TMetafileFont&, const TMetafileFont&) = default;
};

struct TBrush {
  TColor Color = 0xFFFFFF;
  TBrushStyle Style = TBrushStyle::bsSolid;
  friend bool operator==(const TBrush&, const TBrush&) = default;
};

class MetafileCanvas {
 public:
  // Records for `target`, whose extent and units per inch give the surface. Throws
  // std::invalid_argument for a dpi outside 1..kMaxMetafileResolution.
  explicit MetafileCanvas(Metafile& target, int dpi = 96);
  // A canvas that was never closed leaves its metafile as it was.
  ~MetafileCanvas() = default;
  MetafileCanvas(const MetafileCanvas&) = delete;
  MetafileCanvas& operator=(const MetafileCanvas&) = delete;

  int Dpi() const { return dpi_; }
  // The surface in reference-device pixels.
  int Width() const { return width_px_; }
  int Height() const { return height_px_; }

  TPen& Pen() { return pen_; }
  TBrush& Brush() { return brush_; }
  TMetafileFont& Font() { return font_; }
  TPoint PenPos() const { return pen_pos_; }

  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  // The shapes fill with the brush and outline with the pen; boxes exclude their right and
  // bottom edges as GDI's do.
  void Rectangle(int x1, int y1, int x2, int y2);
  void Ellipse(int x1, int y1, int x2, int y2);
  void RoundRect(int x1, int y1, int x2, int y2, int corner_width, int corner_height);
  void Polygon(std::span<const TPoint> points);
  void Polyline(std::span<const TPoint> points);
  // Elliptic arcs in the box, counter-clockwise from the direction of (x3, y3) to that of (x4, y4).
  void Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  void Chord(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  void Pie(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);

  // One line of text with its top-left corner at (x, y), in the font's colour; a solid brush
  // paints the text box behind it in the brush colour, a clear brush leaves it transparent.
  // Measuring goes through the installed fonts (EFontError when there are none).
  void TextOut(int x, int y, std::u16string_view text);
  // The advance of the text in pixels.
  int TextWidth(std::u16string_view text) const;
  // The cell height of the font (ascent and descent) in pixels.
  int TextHeight(std::u16string_view text) const;

  void IntersectClipRect(int x1, int y1, int x2, int y2);
  void SaveDC();
  // A negative value restores relative to the current level (-1 the last saved state).
  void RestoreDC(int saved);

  // Writes header, records and end record into the metafile. Drawing after Close throws
  // std::logic_error; closing twice is allowed and does nothing the second time.
  void Close();
  bool Closed() const { return closed_; }

 private:
  void Emit(const EmfRecord& record);
  void RealizePen();
  void RealizeBrush();
  uint32_t TakeSlot();
  void FreeSlot(uint32_t slot);
  void Extend(int x, int y);
  void ExtendBox(int x1, int y1, int x2, int y2);
  void CheckOpen() const;
  void ArcRecord(uint32_t type, bool filled, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  void PolyRecord(bool polygon, std::span<const TPoint> points);
  void ReleaseUnused();
  void RealizeFont();

  // What a saved device-context state holds selected; objects it names stay alive until the
  // state is gone, because restoring it selects them again.
  struct Selection {
    std::optional<TPen> pen;
    std::optional<TBrush> brush;
    std::optional<TMetafileFont> font;
    uint32_t pen_slot = 0;
    uint32_t brush_slot = 0;
    uint32_t font_slot = 0;
    uint32_t rop2 = R2_COPYPEN;
    uint32_t text_color = 0;
    uint32_t bk_mode = OPAQUE;
    uint32_t bk_color = 0xFFFFFF;
  };

  Metafile& target_;
  int dpi_;
  int width_px_;
  int height_px_;
  TPen pen_;
  TBrush brush_;
  TMetafileFont font_;
  TPoint pen_pos_;
  Selection selected_;
  std::vector<Selection> saved_;
  std::vector<bool> slots_{true};  // slot 0 belongs to the metafile itself
  size_t max_slots_ = 1;
  std::vector<uint8_t> body_;
  uint32_t record_count_ = 0;
  bool has_bounds_ = false;
  EmfRect bounds_;
  bool closed_ = false;
};

}  // namespace platform
