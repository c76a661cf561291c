#pragma once
// Local and adaptive thresholds. Illumination and plate relief vary across the field of view,
// so one global threshold is not enough for dot detection: the per-pixel threshold image
// ThImage of the analysis state is filled either with one value, or from thresholds found
// per tile of a regular grid and interpolated bilinearly between the tiles, falling back to
// one global threshold when neighbouring tiles disagree too much.
//
// The routines that work on the analysis state come twice: with the state as first argument
// and, for the callers of the measurement commands, on the process-wide state Analysis().
// Bitmaps are 24-bit (another format: std::invalid_argument); the threshold image covers at
// most ImWidth x ImHeight pixels, so larger bitmaps are worked over that part only.
#include <cstdint>

#include "analysis/analyze.h"
#include "analysis/analyze_hist.h"
#include "platform/image/bitmap.h"
#include "platform/image/geometry.h"

namespace analysis {

using platform::Bitmap;
using platform::TRect;

// ThImage := TH for columns 0..1279 and rows 0..1023 (stored as 16 bits).
void FillLocalTh(AnalyzeState& st, int32_t TH);
void FillLocalTh(int32_t TH);

// Binarises abmp in place: 255 in all three bytes where the blue byte is at least
// ThImage[x][y], else 0. Pixels beyond the threshold image keep their content.
void BinLocalTh(AnalyzeState& st, Bitmap& abmp);
void BinLocalTh(Bitmap& abmp);

// Bilinear interpolation between the corner values A (0, 0), B (dx, 0), C (0, dy) and
// D (dx, dy) at (x, y). With dy = 0 only A and B count along x, with dx = 0 only A and B
// count along y (B is then the lower value), with both 0 the result is A.
double GetFMittel(int32_t dx, int32_t dy, int32_t A, int32_t B, int32_t C, int32_t D, int32_t x, int32_t y);

// The tile threshold: the integer 8-bit variant of GetThreshold with its bins bounded by q
// (the upper bin bound of the second population). prozent receives the share of counts below
// the threshold over bins 2..254 in per mille, l and r the dark and the bright peak, kont
// = r - l. The record is not changed.
int32_t GetICPThreshold(const THist& Hist, int32_t q, int32_t& prozent, int32_t& l, int32_t& r, int32_t& kont);

// The p-quantile of the blue byte over aRect: the first bin at which the running count
// exceeds p x Histsum of the rectangle, plus 1 (at most 9999).
int32_t GetFFTTH(const Bitmap& FromBit, TRect aRect, double p);

// Fills ThImage from the tile grid of dim + 1 by dim + 1 overlapping tiles (dim 1..9; tiles
// twice the grid step wide and high) and returns the mean threshold, also kept as GlobalTH.
// f is the channel of the tile histograms (0 blue, 1 green, 2 red, 3 mean, 4 maximum), HMax
// their bin limit, q the bound of GetICPThreshold. Contrast receives the mean tile contrast,
// proc the mean per-mille share below the tile thresholds.
//
// Unless ForzeLocal is set, a grid in which a tile's threshold differs from its right, lower
// or lower-right neighbour's by more than Limit is rejected: then one threshold of the whole
// image (blue channel, isolated spikes and notches of the histogram smoothed away) fills
// ThImage, GlobalTH and the result, Contrast is that histogram's contrast and proc the share
// above the threshold in 1/100 %.
//
// The interpolation leaves a few pixels at 0, as the measurement drivers expect: the rows
// from Height - dim + 1 down (with dim 4 on the standard image rows 1021..1023), and with
// dim 6 also columns 1183..1187.
int32_t GetLocalTH(AnalyzeState& st, const Bitmap& FromBit, int32_t Limit, int32_t f, int32_t q, uint8_t& Contrast,
                   int32_t& proc, bool ForzeLocal, int32_t HMax, int32_t dim);
int32_t GetLocalTH(const Bitmap& FromBit, int32_t Limit, int32_t f, int32_t q, uint8_t& Contrast, int32_t& proc,
                   bool ForzeLocal, int32_t HMax, int32_t dim);

// For every pixel at least dim (at most 10) away from the border: counts the pixels of the
// (2 dim + 1)^2 window around it whose byte `channel` (0 blue, 1 green, 2 red) exceeds the
// centre's threshold th[x][y]; ToBit's pixel becomes 255 when the count exceeds level, else
// 0. Border pixels of ToBit keep their content. FromBit and ToBit may be the same bitmap.
void DilatationLTH(const Bitmap& FromBit, Bitmap& ToBit, const TIntImage& th, int32_t channel, int32_t dim,
                   int32_t level);

}  // namespace analysis
