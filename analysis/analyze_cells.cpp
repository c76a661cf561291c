#include "analysis/analyze_cells.h"
#include "analysis/myimage.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/mymath.h"
#include "platform/image/region.h"

namespace analysis {

using platform::Round;

namespace {

constexpr double kDeg = std::numbers::pi / 180;
constexpr size_t kMaxSamples = 3000;

uint16_t At(const TIntImage& img, int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x > ImWidth || y > ImHeight) return 0;
  return img[x][y];
}

void Paint(Bitmap& bmp, int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) {
  if (x < 0 || y < 0 || x >= bmp.Width() || y >= bmp.Height()) return;
  uint8_t* p = bmp.ScanLine(y) + 3 * static_cast<size_t>(x);
  p[0] = b, p[1] = g, p[2] = r;
}

// The corners of the cell of half diagonal size around c: at angle + 45 + 90 k degrees.
std::vector<TPoint> CellCorners(TPoint c, double size, double angle) {
  std::vector<TPoint> pts;
  for (int k = 0; k < 4; ++k) {
    const double t = (angle + 45 + 90 * k) * kDeg;
    pts.push_back({Round(c.X + size * std::cos(t)), Round(c.Y + size * std::sin(t))});
  }
  return pts;
}

// Edge samples of one side of a line: x and y, at most kMaxSamples.
struct Samples {
  std::vector<double> u, v;
  void Add(int32_t x, int32_t y) {
    if (u.size() >= kMaxSamples) return;
    u.push_back(x);
    v.push_back(y);
  }
  size_t size() const { return u.size(); }
};

// Fits both edges and gives the mean distance of each sample's point on its own line from the
// other line. Steep lines are fitted as x over y.
int32_t FitWidth(Samples& left, Samples& right, Extended& m0, Extended& c0, Extended& m1, Extended& c1, Extended& d) {
  if (left.size() <= 10 || right.size() <= 10) return 0;
  int32_t result = 1;
  if (std::fabs(left.u.back() - left.u.front()) < std::fabs(left.v.back() - left.v.front()) / 2) {
    std::swap(left.u, left.v);
    std::swap(right.u, right.v);
    result = -1;
  }
  regression(m0, c0, left.u, left.v, static_cast<int32_t>(left.size()));
  regression(m1, c1, right.u, right.v, static_cast<int32_t>(right.size()));
  Extended sum = 0;
  for (double u : left.u) sum += AbstandPunktGerade(u, m0 * u + c0, m1, c1);
  for (double u : right.u) sum += AbstandPunktGerade(u, m1 * u + c1, m0, c0);
  d = sum / static_cast<Extended>(left.size() + right.size());
  return result;
}

}  // namespace

bool GetDotInCellPolygon(AnalyzeState& st, const Bitmap& FromBit, TDot* aDot, int32_t xdx, double size, double angle,
                         int32_t f, TIntImage& ResImage, const TIntImage& ThImg) {
  if (!aDot) return false;
  Require24Bit(FromBit, "GetDotInCellPolygon");
  f = std::clamp(f, 0, 2);
  const int32_t w = FromBit.Width(), h = FromBit.Height();
  const int32_t left = Round(1.5 * size + 1), top = left;
  const int32_t aw = Round(w - 4 * size) - 3, ah = Round(h - 4 * size) - 3;
  const TPoint c{(aDot->Outrect.Left + aDot->Outrect.Right) / 2 + xdx, (aDot->Outrect.Top + aDot->Outrect.Bottom) / 2};
  if (!(c.X >= left && c.X < left + aw && c.Y >= top && c.Y < top + ah)) return false;
  if (st.GDotID >= MaxDotID) return false;

  const platform::TRegion cell = platform::TRegion::Polygon(CellCorners(c, size, angle));
  aDot->ID = ++st.GDotID;
  aDot->area = aDot->edgelen = aDot->Slur = aDot->fsize = aDot->fedge = aDot->iarea = aDot->iedge = 0;
  aDot->radius = 0;
  aDot->swp = c;

  // The 3x3 tests need a pixel on every side, inside the bitmap and the label image.
  const int32_t xmax = std::min(w, ImWidth) - 2, ymax = std::min(h, ImHeight) - 2;
  const int32_t y0 = std::max(Round(c.Y - 1.5 * size), 1), y1 = std::min(Round(c.Y + 1.5 * size), ymax);
  const int32_t x0 = std::max(Round(c.X - 1.5 * size), 1), x1 = std::min(Round(c.X + 1.5 * size), xmax);
  for (int32_t y = y0; y <= y1; ++y) {
    const uint8_t* rows[3] = {FromBit.ScanLine(y - 1), FromBit.ScanLine(y), FromBit.ScanLine(y + 1)};
    for (int32_t x = x0; x <= x1; ++x) {
      if (!cell.Contains(x, y)) continue;
      const int32_t v = rows[1][3 * x + f];
      const int32_t t = ThImg[x][y];
      bool other = false;
      for (const uint8_t* row : rows)
        for (int32_t xx = x - 1; xx <= x + 1; ++xx) other = other || ((row[3 * xx + f] < t) != (v < t));
      uint16_t value = other ? (v < t ? EdgeK : EdgeW) : 0;
      if (v >= t) {
        if (other) {
          ++aDot->edgelen;
        } else {
          ++aDot->area;
        }
        value = static_cast<uint16_t>(value | aDot->ID);
        aDot->Outrect.Left = std::min(aDot->Outrect.Left, x);
        aDot->Outrect.Top = std::min(aDot->Outrect.Top, y);
        aDot->Outrect.Right = std::max(aDot->Outrect.Right, x);
        aDot->Outrect.Bottom = std::max(aDot->Outrect.Bottom, y);
      }
      ResImage[x][y] = value;
    }
  }
  aDot->fsize = aDot->area;
  aDot->fedge = aDot->edgelen;
  return true;
}

bool GetDotInCellPolygon(const Bitmap& FromBit, TDot* aDot, int32_t xdx, double size, double angle, int32_t f,
                         TIntImage& ResImage, const TIntImage& ThImg) {
  return GetDotInCellPolygon(Analysis(), FromBit, aDot, xdx, size, angle, f, ResImage, ThImg);
}

void DrawCell(platform::Canvas& aCanvas, TPoint center, double size, double angle) {
  const std::vector<TPoint> pts = CellCorners(center, size, angle);
  aCanvas.Pen().Color = platform::clRed;
  aCanvas.MoveTo(pts[0].X, pts[0].Y);
  for (int k = 1; k <= 4; ++k) aCanvas.LineTo(pts[static_cast<size_t>(k % 4)].X, pts[static_cast<size_t>(k % 4)].Y);
}

void DrawICell(platform::Canvas& aCanvas, TPoint center, double size, double angle) {
  const double t = (angle + 45) * kDeg;
  DrawCell(aCanvas, {Round(center.X + size * std::cos(t)), Round(center.Y + size * std::sin(t))}, size, angle);
}

int32_t DrawLine(Bitmap& ToBit, TDot* aDot, const TIntImage& ResImage, uint8_t r, uint8_t g, uint8_t b,
                 const TRect& aRect, TPoint pc, double cr, Extended& m0, Extended& c0, Extended& m1, Extended& c1,
                 Extended& d) {
  Require24Bit(ToBit, "DrawLine");
  m0 = c0 = m1 = c1 = 0;
  if (!aDot) return 0;
  Samples left, right;
  const uint16_t id = aDot->ID;
  // One pixel of a pass: painted when it is the line's; true for an edge pixel met before the
  // line's interior (a sample).
  const auto visit = [&](int32_t x, int32_t y, bool& inside) {
    if (PTAbstand({x, y}, pc, 1) >= cr) return false;
    const uint16_t v = At(ResImage, x, y);
    if (LabelOf(v) != id) return false;
    if (!IsEdge(v)) {
      Paint(ToBit, x, y, r, g, b);
      inside = true;
      return false;
    }
    Paint(ToBit, x, y, 255, 0, 0);
    return !inside;
  };
  for (int32_t y = aRect.Top; y <= aRect.Bottom; ++y) {
    bool inside = false;
    for (int32_t x = aDot->Outrect.Left; x <= aDot->Outrect.Right; ++x)
      if (visit(x, y, inside)) left.Add(x, y);
    inside = false;
    for (int32_t x = aRect.Right; x >= aRect.Left; --x)
      if (visit(x, y, inside)) right.Add(x, y);
  }
  return FitWidth(left, right, m0, c0, m1, c1, d);
}

int32_t DrawNotLine(Bitmap& ToBit, TDot* aDot, TDot* bDot, const TIntImage& ResImage, uint8_t r, uint8_t g,
                    uint8_t b, const TRect& aRect, TPoint pc, double cr, Extended& m0, Extended& c0, Extended& m1,
                    Extended& c1, Extended& d) {
  Require24Bit(ToBit, "DrawNotLine");
  m0 = c0 = m1 = c1 = 0;
  const int32_t ida = aDot ? aDot->ID : -1, idb = bDot ? bDot->ID : -1;
  Samples left, right;
  // One pixel of a pass: s is 1 on the lines and 2 inside the gap; true for the first gap
  // edge pixel after a line (its neighbour towards the line is the sample).
  const auto visit = [&](int32_t x, int32_t y, int& s) {
    if (PTAbstand({x, y}, pc, 1) >= cr) return false;
    const uint16_t v = At(ResImage, x, y);
    const int32_t l = LabelOf(v);
    if (l == ida || l == idb) {
      s = 1;
      return false;
    }
    if (IsEdge(v)) {
      Paint(ToBit, x, y, 255, 0, 0);
      return s == 1;
    }
    if (s > 0) {
      Paint(ToBit, x, y, r, g, b);
      s = 2;
    }
    return false;
  };
  for (int32_t y = aRect.Top; y <= aRect.Bottom; ++y) {
    int s = 0;
    for (int32_t x = aRect.Left; x <= aRect.Right; ++x)
      if (visit(x, y, s)) left.Add(x - 1, y);
    s = 0;
    for (int32_t x = aRect.Right; x >= aRect.Left; --x)
      if (visit(x, y, s)) right.Add(x + 1, y);
  }
  return FitWidth(left, right, m0, c0, m1, c1, d);
}

double GetWProc(const Bitmap& ToBit, int32_t aTH, int32_t color) {
  Require24Bit(ToBit, "GetWProc");
  color = std::clamp(color, 0, 2);
  const int32_t cx = ToBit.Width() / 2, cy = ToBit.Height() / 2;
  double total = 0, bright = 0;
  for (int32_t y = 0; y < ToBit.Height(); ++y) {
    const uint8_t* row = ToBit.ScanLine(y);
    for (int32_t x = 0; x < ToBit.Width(); ++x) {
      const double rho = std::hypot(x - cx, y - cy);
      const double wgt = rho <= 512 ? 1 : 1 / std::sqrt(rho - 450);
      total += wgt;
      if (row[3 * x + color] > aTH) bright += wgt;
    }
  }
  return total > 0 ? bright / total : 0;
}

namespace {

// The dot's bounding rectangle within the bitmap and the label image.
TRect PaintArea(const TDot* d, const Bitmap& bmp) {
  return {std::max(d->Outrect.Left, 0), std::max(d->Outrect.Top, 0),
          std::min({d->Outrect.Right, bmp.Width() - 1, ImWidth - 1}),
          std::min({d->Outrect.Bottom, bmp.Height() - 1, ImHeight - 1})};
}

}  // namespace

void DrawDot(Bitmap& ToBit, TDot* aDot, const TIntImage& ResImage, uint8_t r, uint8_t g, uint8_t b) {
  Require24Bit(ToBit, "DrawDot");
  if (!aDot) return;
  const TRect a = PaintArea(aDot, ToBit);
  for (int32_t y = a.Top; y <= a.Bottom; ++y)
    for (int32_t x = a.Left; x <= a.Right; ++x) {
      const uint16_t v = ResImage[x][y];
      if (LabelOf(v) != aDot->ID) continue;
      if (IsEdge(v)) {
        Paint(ToBit, x, y, 255, 0, 0);
      } else {
        Paint(ToBit, x, y, r, g, b);
      }
    }
}

void DrawPlateDot(Bitmap& ToBit, TDot* aDot, const TIntImage& ResImage, uint8_t r, uint8_t g, uint8_t b, bool mask) {
  Require24Bit(ToBit, "DrawPlateDot");
  if (!aDot) return;
  std::bitset<LabelSlots> inner;
  CollectInnerIDs(aDot->InnerDots, inner);
  const TRect a = PaintArea(aDot, ToBit);
  for (int32_t y = a.Top; y <= a.Bottom; ++y)
    for (int32_t x = a.Left; x <= a.Right; ++x) {
      const uint16_t v = ResImage[x][y];
      const uint16_t l = LabelOf(v);
      if (l == aDot->ID) {
        if (IsEdge(v)) {
          Paint(ToBit, x, y, 255, 0, 0);
        } else if (mask) {
          uint8_t* p = ToBit.ScanLine(y) + 3 * static_cast<size_t>(x);
          if (b) p[0] = b;
          if (g) p[1] = g;
          if (r) p[2] = r;
        } else {
          Paint(ToBit, x, y, r, g, b);
        }
      } else if (inner.test(l)) {
        Paint(ToBit, x, y, r / 2, g / 2, b / 2);
      }
    }
}

}  // namespace analysis
