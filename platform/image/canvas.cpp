#include "platform/image/canvas.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace platform {

namespace {

ICanvasTextRenderer* g_text_renderer = nullptr;

// Floor of num / den for den > 0.
int64_t FloorDiv(int64_t num, int64_t den) {
  int64_t q = num / den;
  if ((num % den != 0) && (num < 0)) --q;
  return q;
}

// Blue, green and red of a pixel of any bitmap format.
void ReadBGR(const Bitmap& b, int x, int y, uint8_t out[3]) {
  const uint8_t* row = b.ScanLine(y);
  switch (b.GetPixelFormat()) {
    case PixelFormat::pf24bit:
      out[0] = row[3 * x], out[1] = row[3 * x + 1], out[2] = row[3 * x + 2];
      break;
    case PixelFormat::pf32bit:
      out[0] = row[4 * x], out[1] = row[4 * x + 1], out[2] = row[4 * x + 2];
      break;
    case PixelFormat::pf8bit:
      out[0] = out[1] = out[2] = row[x];
      break;
    case PixelFormat::pf1bit:
      out[0] = out[1] = out[2] = (row[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
      break;
  }
}

}  // namespace

ICanvasTextRenderer* SetCanvasTextRenderer(ICanvasTextRenderer* renderer) {
  ICanvasTextRenderer* before = g_text_renderer;
  g_text_renderer = renderer;
  return before;
}

ICanvasTextRenderer* CanvasTextRenderer() { return g_text_renderer; }

Canvas::Canvas(Bitmap& target) : target_(target) {
  const PixelFormat pf = target.GetPixelFormat();
  if (pf == PixelFormat::pf24bit) {
    bytes_ = 3;
  } else if (pf == PixelFormat::pf32bit) {
    bytes_ = 4;
  } else {
    throw std::invalid_argument("a canvas draws on 24-bit and 32-bit bitmaps only");
  }
}

TColor Canvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= target_.Width() || y >= target_.Height()) return -1;
  const uint8_t* p = target_.ScanLine(y) + static_cast<size_t>(bytes_) * static_cast<size_t>(x);
  return RGBColor(p[2], p[1], p[0]);
}

void Canvas::SetPixel(int x, int y, TColor color) { Plot(x, y, color, TCanvasPenMode::pmCopy); }

void Canvas::Plot(int x, int y, TColor color, TCanvasPenMode mode) {
  if (x < 0 || y < 0 || x >= target_.Width() || y >= target_.Height()) return;
  uint8_t* p = target_.ScanLine(y) + static_cast<size_t>(bytes_) * static_cast<size_t>(x);
  if (mode == TCanvasPenMode::pmNot) {
    p[0] = static_cast<uint8_t>(255 - p[0]);
    p[1] = static_cast<uint8_t>(255 - p[1]);
    p[2] = static_cast<uint8_t>(255 - p[2]);
  } else {
    p[0] = GetBValue(color);
    p[1] = GetGValue(color);
    p[2] = GetRValue(color);
  }
}

void Canvas::HSpan(int y, int x0, int x1, TColor color) {
  if (y < 0 || y >= target_.Height()) return;
  x0 = std::max(x0, 0);
  x1 = std::min(x1, target_.Width());
  if (x0 >= x1) return;
  uint8_t* p = target_.ScanLine(y) + static_cast<size_t>(bytes_) * static_cast<size_t>(x0);
  for (int x = x0; x < x1; ++x, p += bytes_) {
    p[0] = GetBValue(color);
    p[1] = GetGValue(color);
    p[2] = GetRValue(color);
  }
}

void Canvas::MoveTo(int x, int y) { pen_pos_ = {x, y}; }

void Canvas::LineTo(int x, int y) {
  PenStroke stroke(*this);
  PenLine(pen_pos_, {x, y});
  pen_pos_ = {x, y};
}

void Canvas::PenPixel(int x, int y) {
  if (x < 0 || y < 0 || x >= target_.Width() || y >= target_.Height()) return;
  if (collect_) {
    collect_->push_back(static_cast<uint32_t>(y) * static_cast<uint32_t>(target_.Width()) + static_cast<uint32_t>(x));
  } else {
    Plot(x, y, pen_.Color, pen_.Mode);
  }
}

// Wide segments overlap where they meet; the invert pen would flip those pixels back. Its
// pixels are therefore gathered over the whole stroke and inverted once each at the end.
Canvas::PenStroke::PenStroke(Canvas& c) : c_(c) {
  if (c_.pen_.Mode == TCanvasPenMode::pmNot && !c_.collect_) c_.collect_ = &pixels_;
}

Canvas::PenStroke::~PenStroke() {
  if (c_.collect_ != &pixels_) return;
  c_.collect_ = nullptr;
  std::sort(pixels_.begin(), pixels_.end());
  pixels_.erase(std::unique(pixels_.begin(), pixels_.end()), pixels_.end());
  const uint32_t w = static_cast<uint32_t>(c_.target_.Width());
  for (uint32_t i : pixels_) c_.Plot(static_cast<int>(i % w), static_cast<int>(i / w), 0, TCanvasPenMode::pmNot);
}

// Walks the longer axis from `from` up to `to` (excluded). Only the steps whose pixels can
// reach the bitmap are visited, so a line thousands of pixels long costs what its visible
// part costs.
void Canvas::PenLine(TPoint from, TPoint to) {
  const int64_t dx = int64_t{to.X} - from.X, dy = int64_t{to.Y} - from.Y;
  if (dx == 0 && dy == 0) return;
  const bool xmajor = std::llabs(dx) >= std::llabs(dy);
  const int64_t major = xmajor ? dx : dy;
  const int64_t minor = xmajor ? dy : dx;
  const int64_t m0 = xmajor ? from.X : from.Y;
  const int64_t n0 = xmajor ? from.Y : from.X;
  const int64_t len = std::llabs(major);
  const int64_t sign = major > 0 ? 1 : -1;
  const int width = std::max(pen_.Width, 1);
  const int64_t before = (width - 1) / 2;
  const int64_t major_limit = xmajor ? target_.Width() : target_.Height();
  const int64_t minor_limit = xmajor ? target_.Height() : target_.Width();

  // Steps k = 0..len-1 with m = m0 + sign k inside 0..major_limit-1.
  int64_t k_lo = 0, k_hi = len - 1;
  if (sign > 0) {
    k_lo = std::max(k_lo, -m0);
    k_hi = std::min(k_hi, major_limit - 1 - m0);
  } else {
    k_lo = std::max(k_lo, m0 - (major_limit - 1));
    k_hi = std::min(k_hi, m0);
  }
  for (int64_t k = k_lo; k <= k_hi; ++k) {
    const int64_t m = m0 + sign * k;
    // n = n0 + round(k * minor / len), halves up: floor((2 k minor + len) / (2 len)).
    const int64_t n = n0 + FloorDiv(2 * k * minor + len, 2 * len);
    for (int64_t w = 0; w < width; ++w) {
      const int64_t nn = n - before + w;
      if (nn < 0 || nn >= minor_limit) continue;
      if (xmajor) {
        PenPixel(static_cast<int>(m), static_cast<int>(nn));
      } else {
        PenPixel(static_cast<int>(nn), static_cast<int>(m));
      }
    }
  }
}

void Canvas::Polyline(std::span<const TPoint> points) {
  if (points.empty()) return;
  PenStroke stroke(*this);
  for (size_t i = 0; i + 1 < points.size(); ++i) PenLine(points[i], points[i + 1]);
  // The last point is part of a polyline (each segment leaves out only its own end).
  const TPoint last = points.back();
  if (points.size() == 1 || !(points[points.size() - 2] == last)) {
    const int width = std::max(pen_.Width, 1);
    const int before = (width - 1) / 2;
    // Widen across the last segment's shorter axis, as its other pixels are.
    bool xmajor = true;
    if (points.size() >= 2) {
      const TPoint prev = points[points.size() - 2];
      xmajor = std::llabs(int64_t{last.X} - prev.X) >= std::llabs(int64_t{last.Y} - prev.Y);
    }
    for (int w = 0; w < width; ++w) {
      if (xmajor) {
        PenPixel(last.X, last.Y - before + w);
      } else {
        PenPixel(last.X - before + w, last.Y);
      }
    }
  }
  pen_pos_ = last;
}

void Canvas::Polygon(std::span<const TPoint> points) {
  if (points.empty()) return;
  if (brush_.Style == TCanvasBrushStyle::bsSolid) FillRegion(TRegion::Polygon(points));
  PenStroke stroke(*this);
  for (size_t i = 0; i < points.size(); ++i) PenLine(points[i], points[(i + 1) % points.size()]);
}

void Canvas::FillRect(const TRect& r) {
  for (int y = std::max(r.Top, 0); y < std::min(r.Bottom, target_.Height()); ++y) HSpan(y, r.Left, r.Right, brush_.Color);
}

void Canvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (x2 == x1 || y2 == y1) return;
  const int w = std::max(pen_.Width, 1);
  const bool solid = brush_.Style == TCanvasBrushStyle::bsSolid;
  for (int y = std::max(y1, 0); y < std::min(y2, target_.Height()); ++y) {
    for (int x = std::max(x1, 0); x < std::min(x2, target_.Width()); ++x) {
      const bool outline = x < x1 + w || x >= x2 - w || y < y1 + w || y >= y2 - w;
      if (outline) {
        Plot(x, y, pen_.Color, pen_.Mode);
      } else if (solid) {
        Plot(x, y, brush_.Color, TCanvasPenMode::pmCopy);
      }
    }
  }
}

void Canvas::Ellipse(int x1, int y1, int x2, int y2) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (x2 == x1 || y2 == y1) return;
  // In doubled coordinates the centre is (x1 + x2 - 1, y1 + y2 - 1) and the half axes are
  // x2 - x1 and y2 - y1: pixel centres inside satisfy (X/a)^2 + (Y/b)^2 <= 1 exactly.
  const int64_t a = int64_t{x2} - x1, b = int64_t{y2} - y1;
  const int64_t cx = int64_t{x1} + x2 - 1, cy = int64_t{y1} + y2 - 1;
  const auto inside = [&](int64_t x, int64_t y) {
    const int64_t X = 2 * x - cx, Y = 2 * y - cy;
    return X * X * b * b + Y * Y * a * a <= a * a * b * b;
  };
  const int w = std::max(pen_.Width, 1);
  const bool solid = brush_.Style == TCanvasBrushStyle::bsSolid;
  for (int y = std::max(y1, 0); y < std::min(y2, target_.Height()); ++y) {
    for (int x = std::max(x1, 0); x < std::min(x2, target_.Width()); ++x) {
      if (!inside(x, y)) continue;
      // On the outline when a pixel within the pen width (4-neighbour steps) is outside.
      bool outline = false;
      for (int d = 1; d <= w && !outline; ++d) {
        outline = !inside(x - d, y) || !inside(x + d, y) || !inside(x, y - d) || !inside(x, y + d);
      }
      if (outline) {
        Plot(x, y, pen_.Color, pen_.Mode);
      } else if (solid) {
        Plot(x, y, brush_.Color, TCanvasPenMode::pmCopy);
      }
    }
  }
}

void Canvas::FillRegion(const TRegion& region) {
  const int top = std::max(region.Top(), 0), bottom = std::min(region.Bottom(), target_.Height());
  for (int y = top; y < bottom; ++y) {
    for (const TRegion::Span& s : region.Row(y)) HSpan(y, s.left, s.right, brush_.Color);
  }
}

void Canvas::FloodFill(int x, int y, TColor color, TCanvasFillStyle style) {
  const int w = target_.Width(), h = target_.Height();
  if (x < 0 || y < 0 || x >= w || y >= h) return;
  color &= 0xFFFFFF;
  const TColor fill = brush_.Color & 0xFFFFFF;
  const auto fillable = [&](int px, int py) {
    const TColor c = Pixel(px, py);
    return style == TCanvasFillStyle::fsSurface ? c == color : c != color;
  };
  if (!fillable(x, y)) return;
  // Border mode could run forever on pixels that already have the fill colour; a map of
  // visited pixels stops it.
  std::vector<uint8_t> done(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  std::vector<TPoint> stack{{x, y}};
  while (!stack.empty()) {
    const TPoint p = stack.back();
    stack.pop_back();
    if (done[static_cast<size_t>(p.Y) * w + p.X] || !fillable(p.X, p.Y)) continue;
    int l = p.X, r = p.X;
    while (l > 0 && !done[static_cast<size_t>(p.Y) * w + l - 1] && fillable(l - 1, p.Y)) --l;
    while (r + 1 < w && !done[static_cast<size_t>(p.Y) * w + r + 1] && fillable(r + 1, p.Y)) ++r;
    for (int xx = l; xx <= r; ++xx) done[static_cast<size_t>(p.Y) * w + xx] = 1;
    HSpan(p.Y, l, r + 1, fill);
    for (int ny : {p.Y - 1, p.Y + 1}) {
      if (ny < 0 || ny >= h) continue;
      bool run = false;
      for (int xx = l; xx <= r; ++xx) {
        const bool open = !done[static_cast<size_t>(ny) * w + xx] && fillable(xx, ny);
        if (open && !run) stack.push_back({xx, ny});
        run = open;
      }
    }
  }
}

void Canvas::Draw(int x, int y, const Bitmap& src) {
  for (int sy = 0; sy < src.Height(); ++sy) {
    const int ty = y + sy;
    if (ty < 0 || ty >= target_.Height()) continue;
    for (int sx = 0; sx < src.Width(); ++sx) {
      const int tx = x + sx;
      if (tx < 0 || tx >= target_.Width()) continue;
      uint8_t bgr[3];
      ReadBGR(src, sx, sy, bgr);
      Plot(tx, ty, RGBColor(bgr[2], bgr[1], bgr[0]), TCanvasPenMode::pmCopy);
    }
  }
}

void Canvas::StretchDraw(const TRect& dest, const Bitmap& src) {
  const int64_t dw = int64_t{dest.Right} - dest.Left, dh = int64_t{dest.Bottom} - dest.Top;
  if (dw <= 0 || dh <= 0 || src.Empty()) return;
  for (int y = std::max(dest.Top, 0); y < std::min(dest.Bottom, target_.Height()); ++y) {
    const int sy = static_cast<int>(FloorDiv((2 * (int64_t{y} - dest.Top) + 1) * src.Height(), 2 * dh));
    for (int x = std::max(dest.Left, 0); x < std::min(dest.Right, target_.Width()); ++x) {
      const int sx = static_cast<int>(FloorDiv((2 * (int64_t{x} - dest.Left) + 1) * src.Width(), 2 * dw));
      uint8_t bgr[3];
      ReadBGR(src, sx, sy, bgr);
      Plot(x, y, RGBColor(bgr[2], bgr[1], bgr[0]), TCanvasPenMode::pmCopy);
    }
  }
}

TRect Canvas::TextOut(int x, int y, std::string_view text) {
  if (!g_text_renderer) return {x, y, x, y};
  TRect box = g_text_renderer->TextOut(target_, x, y, text, font_);
  pen_pos_ = {box.Right, y};
  return box;
}

int Canvas::TextWidth(std::string_view text) const {
  return g_text_renderer ? g_text_renderer->TextExtent(text, font_).X : 0;
}

int Canvas::TextHeight(std::string_view text) const {
  return g_text_renderer ? g_text_renderer->TextExtent(text, font_).Y : 0;
}

}  // namespace platform
