#pragma once
// Cells, line width and overlay drawing: routines that work on one object or one lattice cell
// rather than on the whole chain. A cell dot is built from the bright pixels of a rotated
// square lattice cell (pixel patterns, whose dots are not separable objects); the width of a
// line, or of the gap between two lines, comes from two lines fitted to their edge pixels;
// the bright-area fraction of an image weighs its corners down; the overlay routines colour a
// dot in the result bitmap or outline a lattice cell.
//
// Angles are degrees in image coordinates (y downwards). Colours are given as red, green and
// blue bytes; bitmaps are 24-bit.
#include <cstdint>

#include "analysis/analyze.h"
#include "analysis/analyze_dots.h"
#include "platform/base/numeric.h"
#include "platform/image/bitmap.h"
#include "platform/image/canvas.h"
#include "platform/image/geometry.h"

namespace analysis {

using platform::Extended;

// Turns aDot into the cell dot of the square cell of half diagonal `size` around the centre
// of its Outrect (shifted by xdx in x), rotated by angle: the cell's pixels lose their labels
// and get fresh edge bits against ThImg on channel f; its bright pixels take the dot's new
// label (the next of GDotID) and count to area or edgelen, and the Outrect grows over them.
// False, with nothing changed, for a centre within about 1.5 cells of the left or top border
// or 2.5 cells of the right or bottom border, or when no label is left.
bool GetDotInCellPolygon(AnalyzeState& st, const Bitmap& FromBit, TDot* aDot, int32_t xdx, double size, double angle,
                         int32_t f, TIntImage& ResImage, const TIntImage& ThImg);
bool GetDotInCellPolygon(const Bitmap& FromBit, TDot* aDot, int32_t xdx, double size, double angle, int32_t f,
                         TIntImage& ResImage, const TIntImage& ThImg);

// The outline of a lattice cell (corners at angle + 45, + 135, + 225, + 315 degrees, size
// pixels from center) in red; DrawICell the same around the cell's first corner.
void DrawCell(platform::Canvas& aCanvas, TPoint center, double size, double angle);
void DrawICell(platform::Canvas& aCanvas, TPoint center, double size, double angle);

// The width of the line object aDot in pixels (d), from the edge pixels met first from the
// left and from the right in each row of aRect within cr pixels of pc. The fitted edges are
// y = m0 x + c0 and y = m1 x + c1 (result 1) or, for steep lines, x = m y + c (result -1);
// 0 when either edge has 10 or fewer samples (d is then left alone). The line's pixels are
// painted (r, g, b) in ToBit, its edge pixels red.
int32_t DrawLine(Bitmap& ToBit, TDot* aDot, const TIntImage& ResImage, uint8_t r, uint8_t g, uint8_t b,
                 const TRect& aRect, TPoint pc, double cr, Extended& m0, Extended& c0, Extended& m1, Extended& c1,
                 Extended& d);
// The width of the gap between the line objects aDot and bDot: the last line pixels before the
// gap on either side are the samples; the gap's pixels are painted (r, g, b).
int32_t DrawNotLine(Bitmap& ToBit, TDot* aDot, TDot* bDot, const TIntImage& ResImage, uint8_t r, uint8_t g,
                    uint8_t b, const TRect& aRect, TPoint pc, double cr, Extended& m0, Extended& c0, Extended& m1,
                    Extended& c1, Extended& d);

// The share (0..1) of pixels whose channel `color` byte is above aTH, weighted 1 within 512
// pixels of the image centre and 1 / sqrt(distance - 450) beyond. 0 for an empty bitmap.
double GetWProc(const Bitmap& ToBit, int32_t aTH, int32_t color);

// Colours the dot's pixels: edge pixels red, the others (r, g, b).
void DrawDot(Bitmap& ToBit, TDot* aDot, const TIntImage& ResImage, uint8_t r, uint8_t g, uint8_t b);
// As DrawDot; with mask only the non-zero components of (r, g, b) are written. The pixels of
// the dot's inner dots (recursively) are painted at half the colour.
void DrawPlateDot(Bitmap& ToBit, TDot* aDot, const TIntImage& ResImage, uint8_t r, uint8_t g, uint8_t b, bool mask);

}  // namespace analysis
