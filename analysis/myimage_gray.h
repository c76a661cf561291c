#pragma once
// Gray and density images of a high-range image, related to the zero reference (a picture of
// the empty light field taken with the same optics, so that uneven illumination cancels out)
// or to a value range, each with the histogram the threshold routine needs.
//
// Every conversion first makes its result bitmap a copy of its source (size and all pixels)
// and then overwrites the pixels, so the result always has the source's size; only
// GetGraybmpAndHistZero changes its source as well. Source and result must be different
// bitmaps unless a routine says otherwise. A zero image smaller than the source covers only
// its own pixels: the pixels beyond it are treated like zero-reference pixels of 0 (level 0,
// black, never divided by). All bitmaps are 24-bit (another format: std::invalid_argument).
//
// Relative high-range values are in units of 1/10,000: 10,000 is a pixel as bright as the zero
// reference (or as the maximum of the range). They saturate at 16,777,215, the largest value
// a pixel holds: a dark zero-reference pixel under a bright pixel must stay bright, not wrap
// round into a dark value.
#include <array>
#include <cstdint>

#include "analysis/analyze_hist.h"
#include "platform/image/bitmap.h"

namespace analysis {

using platform::Bitmap;

// The largest high-range value.
constexpr uint32_t HRMaxValue = 0xFFFFFF;

// Display-range pair of the gray conversion: m is the slope (320 means slope 1 on the
// display curve of GetGrayBmp16Hist), c the offset.
struct TBRConv {
  int32_t m;
  int32_t c;
};

// The pair per analysis page (0 LAMS mask, 1 plate, 2 structure, 3 film, 4 calibration,
// 5 any other), shared by the capture finish, the display and the measurement commands; the
// pair a conversion used is also stored in the image header.
inline constexpr std::array<TBRConv, 6> BRConv{{{280, 0}, {300, -20}, {280, 0}, {300, -20}, {255, 0}, {255, 0}}};

// rBild := sBild related to the zero image ZBild: rnd(v x 10000 / z), 0 where z is 0.
// rBild may be sBild itself.
void Get16bitBmpZero(const Bitmap& sBild, const Bitmap& ZBild, Bitmap& rBild);

// dBild := sBild rescaled to its range: rnd((v - d) / (max - d) x 10000) with d = min when
// min < max, else max - 1 (max 0 counts as 1); negative results become 0. dBild may be
// sBild itself.
void Get16BitBmp(const Bitmap& sBild, Bitmap& dBild, int32_t max, int32_t min);

// abmp := gray image of dbmp between min and max, histogram of 10,001 levels: level
// (v - min) / (max - min) x 10000, rounded (0 at or below min; above 10000 counted in 10000).
// The gray byte is the level scaled to 0..255 (rounded), 255 above the range. MaxHist and
// MaxPos over levels 0..10000. max 0 counts as 1, min not below max becomes max - 1.
void GetGraybmpAndHist(THist& aHist, const Bitmap& dbmp, Bitmap& abmp, double max, double min);

// The capture finish's conversion. Where the zero image bgimg has a pixel above 0:
// r = rnd((v / z)^gamma x 10000) replaces the pixel of ibmp (ibmp becomes the image relative
// to the zero reference), level = m x r / 10000 + c (at least 0); a level of 10000 or more
// is counted in level 10000 with gray 255, else the rounded level, limited to 255, is both
// the counted level and the gray byte of dbmp. Where the zero image is 0 or missing: level 0,
// gray 0, ibmp unchanged. MaxHist and MaxPos over levels 0..256. Finally the origin marker
// (bytes 6..8 of ibmp's top row) becomes 1. max and min are accepted for the callers'
// symmetry with the sibling conversions; the conversion does not need them.
void GetGraybmpAndHistZero(THist& aHist, Bitmap& ibmp, Bitmap& dbmp, const Bitmap& bgimg, double m, double c,
                           double max, double min, double gamma);

// The display curve: w = rnd(c + (m / 320) x D x (v / D)^gamma) with D = high - low (taken as
// 1 when high is not above low), level o = rnd(dim x (w - low) / D) limited to 0..dim (dim
// at most 10000), gray min(o, 255); histogram of dim + 1 levels with MaxHist and MaxPos over
// them. max and min receive the range of w over the inner rectangle x 20..1279, y 20..1023
// (min starts at 16,777,215 and takes any smaller w, so a negative offset c can make it
// negative; max starts at 0 and takes larger non-negative w).
void GetGrayBmp16Hist(uint32_t low, uint32_t high, uint32_t dim, THist& aHist, const Bitmap& sbmp, Bitmap& dbmp,
                      double m, double c, double gamma, int32_t& max, int32_t& min);

// Density image against the zero reference: d = -100 x log10(v / z), at least 0; above 255
// counted in level 255 with gray 255, else the rounded value is level and gray; a pixel of 0
// gives 255; where z is 0 or missing: level 0, gray 0. MaxHist and MaxPos over levels 0..256.
// max and min are accepted for the callers' symmetry; the density does not need them.
void GetDensbmpAndHistZero(THist& aHist, const Bitmap& dbmp, Bitmap& abmp, const Bitmap& bgimg, double max,
                           double min);

// Density image of a relative image: d = -f x log10(v / 10000) - k, at least 0; above 255
// counted in level 255 with gray 255, else the rounded value is level and gray; a pixel of 0
// gives 255. MaxHist and MaxPos over levels 0..256.
void GetDens16bmpAndHist(THist& aHist, const Bitmap& dbmp, Bitmap& abmp, double f, double k);

}  // namespace analysis
