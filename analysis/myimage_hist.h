#pragma once
// Histogram builders of the image model, the valley threshold for high-range values and the
// two binarisations the camera tab uses to check a threshold.
//
// All of them read 24-bit bitmaps through whole scan lines and never read or write outside a
// bitmap: a rectangle reaching past the bitmap is counted over its part inside, and two
// bitmaps of different sizes are worked over the pixels both have. Another pixel format is a
// programming error (std::invalid_argument).
#include <cstdint>

#include "analysis/analyze_hist.h"
#include "platform/image/bitmap.h"
#include "platform/image/geometry.h"

namespace analysis {

using platform::Bitmap;
using platform::TRect;

// Counts one value per pixel of aRect (Right and Bottom inclusive) into a cleared aHist:
// color 0, 1, 2 = the blue, green or red byte, 4 = the largest of the three, 3 or anything
// else = (blue + green + red) div 3. Values of HMax and above are not counted. Sets MaxHist
// and MaxPos (the bin that first reached the largest count in scan order), Histsum =
// (Right - Left) x (Bottom - Top) of the rectangle as given, and Contrast, the spread between
// the lower and the upper eighth of the counts (0 when Histsum is below 101). With HMax below
// 256 empty bins 1..HMax-1 are filled from their neighbours first, so that a histogram of a
// sparse image (a stretched display image) has no holes for the threshold to fall into.
void GetHistogram(const Bitmap& FromBit, THist& aHist, TRect aRect, int32_t color, int32_t HMax);

// Counts the blue byte of every pixel of dbmp into a cleared aHist; MaxHist and MaxPos over
// bins 0..256. Histsum and Contrast stay 0.
void GetHist(THist& aHist, const Bitmap& dbmp);

// GetHist, then GetThreshold over bins 0..257 so that TH, l, r and pc are set.
void GetHistTH(THist& aHist, const Bitmap& dbmp);

// Refines a threshold th of high-range values: 256 bins of 8 values each with th in bin 16
// (bin = (v + 128 - th) div 8, clamped to 0..255); the result is the centre of the valley's
// depth below the largest bin over bins 1..254, translated back to values, or th when there
// is no valley.
int32_t GetHRTH(const Bitmap& dbmp, int32_t th);

// White (255 in all three bytes) where the blue byte of FromBit is above Th, else black.
// Result: the white share in 1/100 % (0 for an empty bitmap).
int32_t BinImg(const Bitmap& FromBit, Bitmap& ToBit, int32_t Th);

// Black where the high-range value v of FromBit lies in Th - d < v <= Th, else white.
// Result: the white share in 1/100 % (0 for an empty bitmap).
int32_t HRBinImg(const Bitmap& FromBit, Bitmap& ToBit, int32_t Th, int32_t d);

}  // namespace analysis
