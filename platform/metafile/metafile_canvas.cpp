#include "platform/metafile/metafile_canvas.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "platform/base/cp1252.h"
#include "platform/fonts/canvas_text.h"

namespace platform {
namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

uint32_t PenStyleCode(TPenStyle s) {
  switch (s) {
    case TPenStyle::psSolid: return PS_SOLID;
    case TPenStyle::psDash: return PS_DASH;
    case TPenStyle::psDot: return PS_DOT;
    case TPenStyle::psDashDot: return PS_DASHDOT;
    case TPenStyle::psDashDotDot: return PS_DASHDOTDOT;
    case TPenStyle::psClear: return PS_NULL;
    case TPenStyle::psInsideFrame: return PS_INSIDEFRAME;
  }
  return PS_SOLID;
}

// The reference device is a whole number of 5-inch steps, so that its size in millimetres is
// a whole number too (5 in = 127 mm) and its resolution can be read back exactly.
int DeviceInches(int extent, int inch) {
  const int inches = (extent + inch - 1) / inch;
  return std::max(5, (inches + 4) / 5 * 5);
}

bool Fits16(const TPoint& p) {
  return p.X >= std::numeric_limits<int16_t>::min() && p.X <= std::numeric_limits<int16_t>::max() &&
         p.Y >= std::numeric_limits<int16_t>::min() && p.Y <= std::numeric_limits<int16_t>::max();
}

}  // namespace

MetafileCanvas::MetafileCanvas(Metafile& target, int dpi) : target_(target), dpi_(dpi) {
  if (dpi < 1 || dpi > kMaxMetafileResolution)
    throw std::invalid_argument("reference resolution " + std::to_string(dpi) + " dpi outside 1.." +
                                std::to_string(kMaxMetafileResolution));
  width_px_ = static_cast<int>(std::llround(static_cast<double>(target.Width()) * dpi / target.Inch()));
  height_px_ = static_cast<int>(std::llround(static_cast<double>(target.Height()) * dpi / target.Inch()));
}

void MetafileCanvas::CheckOpen() const {
  if (closed_) throw std::logic_error("drawing on a metafile canvas that has been closed");
}

void MetafileCanvas::Emit(const EmfRecord& record) {
  WriteEmfRecord(body_, record);
  ++record_count_;
}

uint32_t MetafileCanvas::TakeSlot() {
  for (size_t i = 1; i < slots_.size(); ++i) {
    if (!slots_[i]) {
      slots_[i] = true;
      return static_cast<uint32_t>(i);
    }
  }
  if (slots_.size() >= std::numeric_limits<uint16_t>::max())
    throw std::length_error("metafile handle table full");
  slots_.push_back(true);
  max_slots_ = std::max(max_slots_, slots_.size());
  return static_cast<uint32_t>(slots_.size() - 1);
}

void MetafileCanvas::FreeSlot(uint32_t slot) {
  Emit(EmrDeleteObject{slot});
  slots_[slot] = false;
}

void MetafileCanvas::ReleaseUnused() {
  for (size_t i = 1; i < slots_.size(); ++i) {
    if (!slots_[i]) continue;
    const auto slot = static_cast<uint32_t>(i);
    bool used = selected_.pen_slot == slot || selected_.brush_slot == slot || selected_.font_slot == slot;
    for (const Selection& s : saved_)
      used = used || s.pen_slot == slot || s.brush_slot == slot || s.font_slot == slot;
    if (!used) FreeSlot(slot);
  }
}

void MetafileCanvas::RealizePen() {
  const uint32_t rop2 = pen_.Mode == TPenMode::pmNot ? R2_NOT : R2_COPYPEN;
  if (rop2 != selected_.rop2) {
    Emit(EmrValue{EMR_SETROP2, rop2});
    selected_.rop2 = rop2;
  }
  if (selected_.pen && *selected_.pen == pen_) return;
  EmrCreatePen rec;
  rec.ihPen = TakeSlot();
  rec.PenStyle = PenStyleCode(pen_.Style);
  rec.Width = std::max(0, pen_.Width);
  rec.Color = static_cast<uint32_t>(pen_.Color) & 0x00FFFFFFu;
  Emit(rec);
  Emit(EmrSelectObject{rec.ihPen});
  selected_.pen = pen_;
  selected_.pen_slot = rec.ihPen;
  ReleaseUnused();
}

void MetafileCanvas::RealizeBrush() {
  if (selected_.brush && *selected_.brush == brush_) return;
  EmrCreateBrushIndirect rec;
  rec.ihBrush = TakeSlot();
  rec.BrushStyle = brush_.Style == TBrushStyle::bsClear ? BS_NULL : BS_SOLID;
  rec.Color = static_cast<uint32_t>(brush_.Color) & 0x00FFFFFFu;
  Emit(rec);
  Emit(EmrSelectObject{rec.ihBrush});
  selected_.brush = brush_;
  selected_.brush_slot = rec.ihBrush;
  ReleaseUnused();
}

TCanvasFont CanvasFontOf(const TMetafileFont& f, int dpi) {
  TCanvasFont c;
  c.Name = f.Name;
  c.Size = f.Size;
  c.Height = f.Height;
  c.Style = f.Style;
  c.Color = f.Color;
  c.PixelsPerInch = dpi;
  return c;
}

void MetafileCanvas::RealizeFont() {
  if (selected_.font && *selected_.font == font_) return;
  const uint32_t slot = TakeSlot();
  // The wide logical font: height, width, escapement, orientation, weight, the italic,
  // underline, strike-out and character-set bytes, four precision bytes, 32 face characters.
  std::vector<uint8_t> p;
  Put32(p, slot);
  const int height =
      font_.Height != 0 ? font_.Height : -static_cast<int>(std::lround(static_cast<double>(font_.Size) * dpi_ / 72));
  Put32(p, static_cast<uint32_t>(height));
  Put32(p, 0);
  Put32(p, static_cast<uint32_t>(font_.Orientation));
  Put32(p, static_cast<uint32_t>(font_.Orientation));
  Put32(p, (font_.Style & 1) ? 700 : 400);
  p.push_back((font_.Style & 2) ? 1 : 0);
  p.push_back((font_.Style & 4) ? 1 : 0);
  p.push_back((font_.Style & 8) ? 1 : 0);
  p.push_back(font_.Charset);
  p.insert(p.end(), 4, 0);
  std::u16string face = Utf8ToUtf16(font_.Name);
  face.resize(31);
  face.push_back(0);
  for (char16_t c : face) Put16(p, c);
  Emit(EmrUnknown{EMR_EXTCREATEFONTINDIRECTW, std::move(p)});
  Emit(EmrSelectObject{slot});
  selected_.font = font_;
  selected_.font_slot = slot;
  ReleaseUnused();
}

int MetafileCanvas::TextWidth(std::u16string_view text) const {
  return TextExtent(CanvasFontOf(font_, dpi_), text).Width;
}

int MetafileCanvas::TextHeight(std::u16string_view text) const {
  return TextExtent(CanvasFontOf(font_, dpi_), text).Height;
}

void MetafileCanvas::TextOut(int x, int y, std::u16string_view text) {
  CheckOpen();
  RealizeFont();
  const uint32_t color = static_cast<uint32_t>(font_.Color) & 0x00FFFFFFu;
  if (color != selected_.text_color) {
    Emit(EmrValue{EMR_SETTEXTCOLOR, color});
    selected_.text_color = color;
  }
  const bool opaque = brush_.Style == TBrushStyle::bsSolid;
  const uint32_t mode = opaque ? OPAQUE : TRANSPARENT;
  if (mode != selected_.bk_mode) {
    Emit(EmrValue{EMR_SETBKMODE, mode});
    selected_.bk_mode = mode;
  }
  const uint32_t bk = static_cast<uint32_t>(brush_.Color) & 0x00FFFFFFu;
  if (opaque && bk != selected_.bk_color) {
    Emit(EmrValue{EMR_SETBKCOLOR, bk});
    selected_.bk_color = bk;
  }

  const TCanvasFont cf = CanvasFontOf(font_, dpi_);
  const TTextExtent box = TextExtent(cf, text);
  // Every character's advance, so that the text's extent survives the recording.
  std::vector<int32_t> dx;
  dx.reserve(text.size());
  int sum = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const int w = TextExtent(cf, text.substr(0, i + 1)).Width - sum;
    dx.push_back(w);
    sum += w;
  }
  const EmfRect rect = text.empty() ? EmfRect{0, 0, -1, -1} : EmfRect{x, y, x + sum, y + box.Height};

  // Bounds, graphics mode, x and y scale, then the text block: reference point, count, string
  // offset, options, rectangle and spacing-array offset; the characters and the spacing follow.
  constexpr uint32_t kTextAt = 76;
  const uint32_t dx_at = kTextAt + static_cast<uint32_t>((text.size() * 2 + 3) / 4 * 4);
  std::vector<uint8_t> p;
  const EmfRect bounds = text.empty() ? EmfRect{0, 0, -1, -1} : EmfRect{x, y, x + sum - 1, y + box.Height - 1};
  for (int32_t v : {bounds.Left, bounds.Top, bounds.Right, bounds.Bottom}) Put32(p, static_cast<uint32_t>(v));
  Put32(p, 1);  // compatible graphics mode
  Put32(p, 0);
  Put32(p, 0);
  Put32(p, static_cast<uint32_t>(x));
  Put32(p, static_cast<uint32_t>(y));
  Put32(p, static_cast<uint32_t>(text.size()));
  Put32(p, kTextAt);
  Put32(p, 0);  // no options: the background follows the background mode
  // The rectangle is the text box when the background is painted, empty otherwise.
  const EmfRect rcl = opaque ? rect : EmfRect{0, 0, -1, -1};
  for (int32_t v : {rcl.Left, rcl.Top, rcl.Right, rcl.Bottom}) Put32(p, static_cast<uint32_t>(v));
  Put32(p, text.empty() ? 0 : dx_at);
  for (char16_t c : text) Put16(p, c);
  while (p.size() + 8 < dx_at) p.push_back(0);
  if (!text.empty())
    for (int32_t w : dx) Put32(p, static_cast<uint32_t>(w));
  Emit(EmrUnknown{EMR_EXTTEXTOUTW, std::move(p)});
  if (!text.empty()) ExtendBox(rect.Left, rect.Top, rect.Right, rect.Bottom);
}

void MetafileCanvas::Extend(int x, int y) {
  if (!has_bounds_) {
    bounds_ = {x, y, x, y};
    has_bounds_ = true;
    return;
  }
  bounds_.Left = std::min(bounds_.Left, x);
  bounds_.Top = std::min(bounds_.Top, y);
  bounds_.Right = std::max(bounds_.Right, x);
  bounds_.Bottom = std::max(bounds_.Bottom, y);
}

void MetafileCanvas::ExtendBox(int x1, int y1, int x2, int y2) {
  // Boxes exclude their right and bottom edges; the header's bounds are inclusive.
  const int l = std::min(x1, x2), r = std::max(x1, x2), t = std::min(y1, y2), b = std::max(y1, y2);
  Extend(l, t);
  Extend(r > l ? r - 1 : r, b > t ? b - 1 : b);
}

void MetafileCanvas::MoveTo(int x, int y) {
  CheckOpen();
  Emit(EmrPointRecord{EMR_MOVETOEX, {x, y}});
  pen_pos_ = {x, y};
}

void MetafileCanvas::LineTo(int x, int y) {
  CheckOpen();
  RealizePen();
  Emit(EmrPointRecord{EMR_LINETO, {x, y}});
  Extend(pen_pos_.X, pen_pos_.Y);
  Extend(x, y);
  pen_pos_ = {x, y};
}

void MetafileCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  CheckOpen();
  RealizePen();
  RealizeBrush();
  Emit(EmrBox{EMR_RECTANGLE, {x1, y1, x2, y2}});
  ExtendBox(x1, y1, x2, y2);
}

void MetafileCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  CheckOpen();
  RealizePen();
  RealizeBrush();
  Emit(EmrBox{EMR_ELLIPSE, {x1, y1, x2, y2}});
  ExtendBox(x1, y1, x2, y2);
}

void MetafileCanvas::RoundRect(int x1, int y1, int x2, int y2, int corner_width, int corner_height) {
  CheckOpen();
  RealizePen();
  RealizeBrush();
  Emit(EmrRoundRect{{x1, y1, x2, y2}, {corner_width, corner_height}});
  ExtendBox(x1, y1, x2, y2);
}

void MetafileCanvas::ArcRecord(uint32_t type, bool filled, int x1, int y1, int x2, int y2, int x3, int y3, int x4,
                               int y4) {
  CheckOpen();
  RealizePen();
  if (filled) RealizeBrush();
  EmrArc rec;
  rec.Type = type;
  rec.Box = {x1, y1, x2, y2};
  rec.Start = {x3, y3};
  rec.End = {x4, y4};
  Emit(rec);
  ExtendBox(x1, y1, x2, y2);
}

void MetafileCanvas::Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  ArcRecord(EMR_ARC, false, x1, y1, x2, y2, x3, y3, x4, y4);
}
void MetafileCanvas::Chord(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  ArcRecord(EMR_CHORD, true, x1, y1, x2, y2, x3, y3, x4, y4);
}
void MetafileCanvas::Pie(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  ArcRecord(EMR_PIE, true, x1, y1, x2, y2, x3, y3, x4, y4);
}

void MetafileCanvas::PolyRecord(bool polygon, std::span<const TPoint> points) {
  CheckOpen();
  if (points.empty()) return;
  RealizePen();
  if (polygon) RealizeBrush();
  const bool small = std::all_of(points.begin(), points.end(), Fits16);
  EmrPoly rec;
  rec.Type = polygon ? (small ? EMR_POLYGON16 : EMR_POLYGON) : (small ? EMR_POLYLINE16 : EMR_POLYLINE);
  rec.Points.reserve(points.size());
  EmfRect b{points[0].X, points[0].Y, points[0].X, points[0].Y};
  for (const TPoint& p : points) {
    rec.Points.push_back({p.X, p.Y});
    b.Left = std::min(b.Left, p.X);
    b.Top = std::min(b.Top, p.Y);
    b.Right = std::max(b.Right, p.X);
    b.Bottom = std::max(b.Bottom, p.Y);
  }
  rec.Bounds = b;
  Emit(rec);
  Extend(b.Left, b.Top);
  Extend(b.Right, b.Bottom);
}

void MetafileCanvas::Polygon(std::span<const TPoint> points) { PolyRecord(true, points); }
void MetafileCanvas::Polyline(std::span<const TPoint> points) { PolyRecord(false, points); }

void MetafileCanvas::IntersectClipRect(int x1, int y1, int x2, int y2) {
  CheckOpen();
  Emit(EmrBox{EMR_INTERSECTCLIPRECT, {x1, y1, x2, y2}});
}

void MetafileCanvas::SaveDC() {
  CheckOpen();
  Emit(EmrSaveDC{});
  saved_.push_back(selected_);
}

void MetafileCanvas::RestoreDC(int saved) {
  CheckOpen();
  const int depth = static_cast<int>(saved_.size());
  // The level that becomes current again: 1 is the first state saved.
  const int level = saved < 0 ? depth + saved + 1 : saved;
  if (saved == 0 || level < 1 || level > depth)
    throw std::invalid_argument("no saved drawing state " + std::to_string(saved) + " to restore");
  Emit(EmrValue{EMR_RESTOREDC, static_cast<uint32_t>(saved)});
  selected_ = saved_[static_cast<size_t>(level - 1)];
  saved_.resize(static_cast<size_t>(level - 1));
  ReleaseUnused();
}

void MetafileCanvas::Close() {
  if (closed_) return;
  closed_ = true;
  saved_.clear();
  selected_ = Selection{};
  ReleaseUnused();

  EmrHeader h;
  h.Bounds = has_bounds_ ? bounds_ : EmfRect{0, 0, -1, -1};
  h.Frame = target_.FrameRect();
  const int inch = target_.Inch();
  const int kx = DeviceInches(target_.Width(), inch);
  const int ky = DeviceInches(target_.Height(), inch);
  h.Device = {kx * dpi_, ky * dpi_};
  h.Millimeters = {kx / 5 * 127, ky / 5 * 127};
  h.Micrometers = {kx * 25400, ky * 25400};
  h.Handles = static_cast<uint16_t>(max_slots_);
  h.Records = record_count_ + 2;

  std::vector<uint8_t> header;
  WriteEmfRecord(header, h);
  std::vector<uint8_t> eof;
  WriteEmfRecord(eof, EmrEof{});
  h.Bytes = static_cast<uint32_t>(header.size() + body_.size() + eof.size());
  header.clear();
  WriteEmfRecord(header, h);

  std::vector<uint8_t> data;
  data.reserve(h.Bytes);
  data.insert(data.end(), header.begin(), header.end());
  data.insert(data.end(), body_.begin(), body_.end());
  data.insert(data.end(), eof.begin(), eof.end());
  body_.clear();
  target_.SetData(std::move(data));
}

}  // namespace platform
