// The metafile translator's drawing records (part of the MRVXWmf module): position and lines,
// point lists, Bezier curves, mixed point types, shapes, arcs, path brackets, clipping, region
// fills and pixels. Every record's counts are checked against its size before a point is read.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "pdfwriter/mrvx_doc_page.h"
#include "pdfwriter/mrvx_wmf.h"

namespace pdfwriter {
namespace {

constexpr Extended kPi = std::numbers::pi_v<Extended>;

int32_t RoundEven(Extended v) {
  const Extended r = std::nearbyint(v);
  if (!(r >= INT32_MIN) || !(r <= INT32_MAX)) return r > 0 ? INT32_MAX : INT32_MIN;
  return static_cast<int32_t>(r);
}

float Fl(int32_t v) { return static_cast<float>(v); }

}  // namespace

// ---- position and lines ----

void TMRVXWmf::VEMRMOVETOEX(const Rec& R) {
  CurrentVal = {R.I32(8), R.I32(12)};
  if (!FPathContinue) return;
  SetTextContinue(false);
  MoveToCurrent();
}

void TMRVXWmf::VEMRLINETO(const Rec& R) {
  const platform::EmfPoint p{R.I32(8), R.I32(12)};
  if (!FPathContinue) MoveToCurrent();
  LineToP(Fl(p.X), Fl(p.Y));
  CurrentVal = p;
  if (!FPathContinue) StrokeOrPath();
}

// ---- point lists ----

void TMRVXWmf::VEMRPOLY(const Rec& R, bool Small) {
  const uint32_t type = R.Type();
  const uint32_t kind = Small ? type - 83 : type;  // the 16-bit forms are the 32-bit ones + 83
  const uint32_t count = R.U32(24);
  R.NeedItems(28, count, Small ? 4 : 8);
  const auto pt = [&](size_t i) { return R.Point(28, i, Small); };
  const auto line_to = [&](size_t i) {
    const platform::EmfPoint p = pt(i);
    LineToP(Fl(p.X), Fl(p.Y));
  };
  const auto move_to = [&](size_t i) {
    const platform::EmfPoint p = pt(i);
    MoveToP(Fl(p.X), Fl(p.Y));
  };
  const auto curve = [&](size_t i) {
    const platform::EmfPoint a = pt(i), b = pt(i + 1), c = pt(i + 2);
    FPage->CurveToC(ScaleX(Fl(a.X), true), ScaleY(Fl(a.Y), true), ScaleX(Fl(b.X), true), ScaleY(Fl(b.Y), true),
                    ScaleX(Fl(c.X), true), ScaleY(Fl(c.Y), true));
  };

  switch (kind) {
    case 4:  // POLYLINE
    case 3:  // POLYGON
      if (count == 0) return;
      FPage->NewPath();
      move_to(0);
      for (size_t i = 1; i < count; ++i) line_to(i);
      if (FPathContinue) return;
      if (kind == 4) {
        StrokeOrPath();
      } else {
        FPage->ClosePath();
        FSOrPath();
      }
      return;
    case 6:  // POLYLINETO
      if (count == 0) return;
      if (!FPathContinue) {
        FPage->NewPath();
        MoveToCurrent();
      }
      for (size_t i = 0; i < count; ++i) line_to(i);
      CurrentVal = pt(count - 1);
      if (!FPathContinue) StrokeOrPath();
      return;
    case 2:  // POLYBEZIER
      if (count < 4) return;
      move_to(0);
      for (size_t i = 1; i + 3 <= count; i += 3) curve(i);
      if (!FPathContinue) StrokeOrPath();
      return;
    case 5:  // POLYBEZIERTO
      if (count < 3) return;
      if (!FPathContinue) MoveToCurrent();
      for (size_t i = 0; i + 3 <= count; i += 3) {
        curve(i);
        CurrentVal = pt(i + 2);
      }
      if (!FPathContinue) StrokeOrPath();
      return;
    default:
      return;
  }
}

void TMRVXWmf::VEMRPOLYPOLY(const Rec& R, bool Small, bool Polygon) {
  const uint32_t polys = R.U32(24);
  const uint32_t total = R.U32(28);
  R.NeedItems(32, polys, 4);
  const size_t points_at = 32 + 4 * static_cast<size_t>(polys);
  R.NeedItems(points_at, total, Small ? 4 : 8);
  uint64_t sum = 0;
  for (uint32_t k = 0; k < polys; ++k) sum += R.U32(32 + 4 * static_cast<size_t>(k));
  if (sum > total) R.Fail();

  FPage->NewPath();
  size_t at = 0;
  for (uint32_t k = 0; k < polys; ++k) {
    const uint32_t n = R.U32(32 + 4 * static_cast<size_t>(k));
    if (n == 0) continue;
    const platform::EmfPoint first = R.Point(points_at, at, Small);
    MoveToP(Fl(first.X), Fl(first.Y));
    for (size_t i = 1; i < n; ++i) {
      const platform::EmfPoint p = R.Point(points_at, at + i, Small);
      LineToP(Fl(p.X), Fl(p.Y));
    }
    if (Polygon) LineToP(Fl(first.X), Fl(first.Y));
    at += n;
  }
  if (Polygon) FSOrPath();
  else if (!FPathContinue) StrokeOrPath();
}

void TMRVXWmf::VEMRPOLYDRAW(const Rec& R, bool Small) {
  const uint32_t count = R.U32(24);
  const size_t each = Small ? 4 : 8;
  R.NeedItems(28, count, each + 1);  // the points and one type byte per point
  const size_t types_at = 28 + each * static_cast<size_t>(count);
  const auto pt = [&](size_t i) { return R.Point(28, i, Small); };
  const auto type_of = [&](size_t i) { return R.U8(types_at + i); };

  if (!FPathContinue) FPage->NewPath();
  MoveToCurrent();
  platform::EmfPoint start = CurrentVal;
  size_t i = 0;
  while (i < count) {
    const uint8_t t = type_of(i);
    if (t == 6) {
      start = pt(i);
      MoveToP(Fl(start.X), Fl(start.Y));
      CurrentVal = start;
      i += 1;
    } else if (t & 2) {
      const platform::EmfPoint p = pt(i);
      LineToP(Fl(p.X), Fl(p.Y));
      CurrentVal = p;
      if (t & 1) {
        LineToP(Fl(start.X), Fl(start.Y));
        CurrentVal = start;
      }
      i += 1;
    } else if ((t & 4) && i + 2 < count) {
      const platform::EmfPoint a = pt(i), b = pt(i + 1), c = pt(i + 2);
      FPage->CurveToC(ScaleX(Fl(a.X), true), ScaleY(Fl(a.Y), true), ScaleX(Fl(b.X), true),
                      ScaleY(Fl(b.Y), true), ScaleX(Fl(c.X), true), ScaleY(Fl(c.Y), true));
      CurrentVal = c;
      if (type_of(i + 2) & 1) {
        LineToP(Fl(start.X), Fl(start.Y));
        CurrentVal = start;
      }
      i += 3;
    } else {
      // Unknown types, and a Bezier point without the two that complete its curve, are skipped.
      i += 1;
    }
  }
  if (!FPathContinue) StrokeOrPath();
}

// ---- shapes ----

void TMRVXWmf::PaintShape() {
  if (FPathContinue) return;
  if (CurrentPen.lopnWidth != 0 && CurrentPen.lopnStyle != 5) {
    if (IsNullBrush) FPage->Stroke();
    else FPage->FillAndStroke();
  } else {
    if (IsNullBrush) FPage->NewPath();
    else FPage->Fill();
  }
}

void TMRVXWmf::VEMRRECTANGLE(const Rec& R) {
  const int32_t l = R.I32(8), t = R.I32(12), r = R.I32(16), b = R.I32(20);
  if (l == r || t == b) {
    FPage->NewPath();
    return;
  }
  FPage->MFRectangle(ScaleX(Fl(l), true), ScaleY(Fl(t), true), ScaleX(Fl(r), true), ScaleY(Fl(b), true));
  PaintShape();
}

void TMRVXWmf::VEMRROUNDRECT(const Rec& R) {
  const int32_t l = R.I32(8), t = R.I32(12), r = R.I32(16), b = R.I32(20);
  const int32_t cx = R.I32(24), cy = R.I32(28);
  FPage->RoundRect(RoundEven(ScaleX(Fl(l), true)), RoundEven(ScaleY(Fl(t), true)), RoundEven(ScaleX(Fl(r), true)),
                   RoundEven(ScaleY(Fl(b), true)),
                   RoundEven(static_cast<Extended>(cx) * ZoomX() * ZScaleX * PosiX),
                   RoundEven(static_cast<Extended>(cy) * ZoomY() * ZScaleY * PosiY));
  PaintShape();
}

void TMRVXWmf::VEMRELLIPSE(const Rec& R) {
  const int32_t l = R.I32(8), t = R.I32(12), r = R.I32(16), b = R.I32(20);
  FPage->FMEllipse(ScaleX(Fl(l), true), ScaleY(Fl(t), true), ScaleX(Fl(r), true), ScaleY(Fl(b), true));
  PaintShape();
}

// ---- arcs ----

void TMRVXWmf::DirectedArc(float L, float T, float Rt, float B, float AX, float AY, float BX, float BY, bool Pie,
                           float& StartX, float& StartY) {
  const float l = ScaleX(L, true), t = ScaleY(T, true), r = ScaleX(Rt, true), b = ScaleY(B, true);
  const float ax = ScaleX(AX, true), ay = ScaleY(AY, true), bx = ScaleX(BX, true), by = ScaleY(BY, true);
  if (Pie) {
    if (IsCounterClockwise) FPage->DrawPie(l, t, r, b, bx, by, ax, ay);
    else FPage->DrawPie(l, t, r, b, ax, ay, bx, by);
    return;
  }
  const TMRVXCurrPoint p = IsCounterClockwise ? FPage->DrawArc(l, t, r, b, bx, by, ax, ay)
                                              : FPage->DrawArc(l, t, r, b, ax, ay, bx, by);
  StartX = static_cast<float>(p.X);
  StartY = static_cast<float>(p.Y);
}

void TMRVXWmf::VEMRARCS(const Rec& R) {
  const uint32_t type = R.Type();
  const float l = Fl(R.I32(8)), t = Fl(R.I32(12)), r = Fl(R.I32(16)), b = Fl(R.I32(20));
  const float ax = Fl(R.I32(24)), ay = Fl(R.I32(28)), bx = Fl(R.I32(32)), by = Fl(R.I32(36));
  float sx = 0, sy = 0;
  DirectedArc(l, t, r, b, ax, ay, bx, by, type == 47, sx, sy);
  if (type == 46) FPage->LineTo(sx, sy);  // CHORD: straight back to where the arc began
  if (FPathContinue) return;
  if (type == 45) StrokeOrPath();
  else FSOrPath();
}

void TMRVXWmf::VEMRARCTO(const Rec& R) {
  const Extended l = R.I32(8), t = R.I32(12), r = R.I32(16), b = R.I32(20);
  const Extended ax = R.I32(24), ay = R.I32(28), bx = R.I32(32), by = R.I32(36);
  MoveToCurrent();
  const Extended cx = (l + r) / 2, cy = (t + b) / 2;
  Extended rx = std::fabs(l - r) / 2, ry = std::fabs(t - b) / 2;
  if (!(rx > 0)) rx = 0;
  if (!(ry > 0)) ry = 0;
  const Extended s = std::atan2(-(ay - cy) * rx, (ax - cx) * ry);
  const Extended e = std::atan2(-(by - cy) * rx, (bx - cx) * ry);
  LineToP(static_cast<float>(cx + rx * std::cos(s)), static_cast<float>(cy - ry * std::sin(s)));
  float sx = 0, sy = 0;
  DirectedArc(Fl(R.I32(8)), Fl(R.I32(12)), Fl(R.I32(16)), Fl(R.I32(20)), static_cast<float>(ax),
              static_cast<float>(ay), static_cast<float>(bx), static_cast<float>(by), false, sx, sy);
  CurrentVal = {RoundEven(cx + rx * std::cos(e)), RoundEven(cy - ry * std::sin(e))};
  if (!FPathContinue) StrokeOrPath();
}

void TMRVXWmf::VEMRANGLEARC(const Rec& R) {
  const Extended x = R.I32(8), y = R.I32(12), radius = R.U32(16);
  const Extended alpha = static_cast<Extended>(R.F32(20)) * kPi / 180;
  Extended beta = static_cast<Extended>(R.F32(24)) * kPi / 180;
  if (!std::isfinite(alpha) || !std::isfinite(beta)) return;
  MoveToCurrent();
  LineToP(static_cast<float>(x + radius * std::cos(alpha)), static_cast<float>(y - radius * std::sin(alpha)));
  // The arc covers the sweep only (a full circle here would draw what was never recorded); it
  // is built from pieces of at most a quarter turn, which the Bezier form approximates well.
  beta = std::clamp(beta, -2 * kPi, 2 * kPi);
  const Extended cx = ScaleX(static_cast<float>(x), true), cy = ScaleY(static_cast<float>(y), true);
  const Extended rx = radius * ZoomX() * ZScaleX * PosiX, ry = radius * ZoomY() * ZScaleY * PosiY;
  const int pieces = std::max(1, static_cast<int>(std::ceil(std::fabs(beta) / (kPi / 2) - 1e-9L)));
  for (int k = 0; k < pieces; ++k)
    FPage->CurveArc(cx, cy, rx, ry, alpha + beta * k / pieces, beta / pieces, false);
  CurrentVal = {RoundEven(x + radius * std::cos(alpha + beta)), RoundEven(y - radius * std::sin(alpha + beta))};
  if (!FPathContinue) StrokeOrPath();
}

// ---- path brackets and clipping ----

void TMRVXWmf::VEMRBEGINPATH() {
  SetPathContinue(true);
  FPage->NewPath();
  MoveToCurrent();
}

void TMRVXWmf::VEMRINTERSECTCLIPRECT(const Rec& R) {
  const float l = ScaleX(Fl(R.I32(8)), true), t = ScaleY(Fl(R.I32(12)), true);
  const float r = ScaleX(Fl(R.I32(16)), true), b = ScaleY(Fl(R.I32(20)), true);
  TMRVXRectangle box{l, t, r, b};
  if (IsCliped) {
    // The clip narrows: a second rectangle inside the level the first one holds intersects
    // with it, as the recording device intersects them.
    if (InterSectClipRect) {
      box.Left = std::max(box.Left, ClipRect.Left);
      box.Top = std::max(box.Top, ClipRect.Top);
      box.Right = std::min(box.Right, ClipRect.Right);
      box.Bottom = std::min(box.Bottom, ClipRect.Bottom);
    }
  } else {
    FPage->GStateSave();
    IsCliped = true;
  }
  FPage->NewPath();
  FPage->MFRectangle(static_cast<float>(box.Left), static_cast<float>(box.Top), static_cast<float>(box.Right),
                     static_cast<float>(box.Bottom));
  InterSectClipRect = true;
  ClipRect = box;
  FPage->Clip();
  FPage->NewPath();
}

void TMRVXWmf::VEMREXTSELECTCLIPRGN(const Rec& R) {
  const uint32_t size = R.U32(8);
  R.NeedItems(16, size, 1);
  uint32_t count = 0;
  if (size != 0) {
    if (size < 32) R.Fail();
    count = R.U32(24);
    if (count > (size - 32) / 16) R.Fail();
  }
  if (IsCliped) {
    IsCliped = false;
    FPage->GStateRestore();
    SendLineWidth();
    SetPenColor();
    SetBrushColor(false);
    MadeClip = true;
  }
  if (size == 0) return;
  FPage->GStateSave();
  FPage->NewPath();
  IsCliped = true;
  InterSectClipRect = false;
  for (uint32_t k = 0; k < count; ++k) {
    const size_t at = 48 + 16 * static_cast<size_t>(k);
    FPage->MFRectangle(ScaleX(Fl(R.I32(at)), false) + 1, ScaleY(Fl(R.I32(at + 4)), false) + 1,
                       ScaleX(Fl(R.I32(at + 8)), false), ScaleY(Fl(R.I32(at + 12)), false));
  }
  FPage->Clip();
  FPage->NewPath();
}

void TMRVXWmf::VEMRSELECTCLIPPATH() {
  if (IsCliped) {
    FPage->GStateRestore();
    SendLineWidth();
    SetPenColor();
    SetBrushColor(false);
    MadeClip = true;
  }
  FPage->GStateSave();
  IsCliped = true;
  FPage->Clip();
  InterSectClipRect = false;
  FPage->NewPath();
  SetPathContinue(false);
}

// ---- regions and pixels ----

void TMRVXWmf::VEMRFILLRGN(const Rec& R) {
  const uint32_t size = R.U32(24);
  const uint32_t brush_index = R.U32(28);
  R.NeedItems(32, size, 1);
  if (size == 0) return;
  if (size < 32) R.Fail();
  const uint32_t count = R.U32(40);
  if (count > (size - 32) / 16) R.Fail();

  // The region is painted with the brush the record names, not with whatever fill was last
  // sent; a brush that is not in the table leaves the selected brush to decide.
  bool null_brush = IsNullBrush;
  std::optional<uint32_t> colour;
  if (const TMRVXGdiObject* obj = Slot(brush_index)) {
    if (const auto* b = std::get_if<TMRVXLogBrush>(obj)) {
      null_brush = b->lbStyle == 1;
      colour = b->lbColor;
    }
  }
  FPage->NewPath();
  for (uint32_t k = 0; k < count; ++k) {
    const size_t at = 64 + 16 * static_cast<size_t>(k);
    FPage->MFRectangle(ScaleX(Fl(R.I32(at)), false), ScaleY(Fl(R.I32(at + 4)), false),
                       ScaleX(Fl(R.I32(at + 8)), false), ScaleY(Fl(R.I32(at + 12)), false));
  }
  if (!null_brush) {
    const bool other = colour && (*colour & 0xFFFFFF) != (CurrentFill & 0xFFFFFF);
    if (other) FPage->SetRGBFillColor(static_cast<TColor>(*colour & 0xFFFFFF));
    FPage->Fill();
    if (other) FPage->SetRGBFillColor(static_cast<TColor>(CurrentFill & 0xFFFFFF));
  }
  FPage->NewPath();
}

void TMRVXWmf::VEMRSETPIXELV(const Rec& R) {
  const int32_t x = R.I32(8), y = R.I32(12);
  const uint32_t colour = R.U32(16);
  FPage->NewPath();
  const bool other_colour = static_cast<TColor>(colour) != CurrentPen.lopnColor;
  if (other_colour) FPage->SetRGBStrokeColor(static_cast<TColor>(colour & 0xFFFFFF));
  const bool other_width = CurrentPen.lopnWidth != 1;
  if (other_width) FPage->SetLineWidth(1);
  const float px = ScaleX(Fl(x), true), py = ScaleY(Fl(y), true);
  FPage->MoveTo(px, py);
  FPage->LineTo(px + 0.01f, py + 0.01f);
  // A pixel is set whatever the pen: the null pen does not hide it.
  FPage->Stroke();
  if (other_width) SendLineWidth();
  if (other_colour) SetPenColor();
}

}  // namespace pdfwriter
