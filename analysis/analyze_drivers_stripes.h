#pragma once
// The structure page's measurements of plate surfaces that are not dot screens.
//
// Stripe analysis: a raster of 10 µm steps is laid over the gray image; at every raster point
// the share of bright pixels in a window of 97 x 97 pixels is measured (in per mille). The
// raster becomes a small gray picture (one pixel per cell) and its horizontal gradient; the
// dark shares summed per raster column give a profile across the image, in which the engraved
// stripe is located; the structure value is the weighted mean of the histogram of the dark
// shares inside the stripe. The window draws what these routines compute.
//
// Line pattern: the black share of the image and the two strongest frequencies of its
// spectrum, with their periods.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "analysis/analyze.h"
#include "analysis/analyze_drivers_mask.h"
#include "platform/image/bitmap.h"

namespace analysis {

// Half the side of the measuring window (the window is 97 x 97 pixels).
inline constexpr int32_t StripeDim = 48;
// The raster table: at most this many columns and rows of cells. A calibration that would
// make more (a ruling of below about 39,200 pixels per inch) ends the raster at the table's
// edge.
inline constexpr int32_t StripeMaxCols = 80;
inline constexpr int32_t StripeMaxRows = 64;
// Entries of the column profile and bins of the value histogram (0..100).
inline constexpr int32_t StripeBins = 101;

struct TStripeCell {
  int32_t value = 0;  // bright pixels of the window, per mille (0..1000)
  int32_t x = 0;      // where the cell's number is written on the annotated image
  int32_t y = 0;      // (the window's centre column, and 10 pixels below its centre row)
};

struct TStripeRaster {
  double step = 0;  // raster step in pixels (10 µm)
  int32_t cols = 0;
  int32_t rows = 0;
  std::array<int32_t, StripeMaxCols> xs{};  // centre column of every raster column
  std::array<int32_t, StripeMaxRows> ys{};  // centre row of every raster row
  std::array<std::array<TStripeCell, StripeMaxRows>, StripeMaxCols> cells{};  // [column][row]
  int32_t mean = 0;                                                           // rounded mean cell value
};

// The gray of a cell (0..255) and its dark share in percent (0..100).
int32_t StripeGray(int32_t value);
int32_t StripeDark(int32_t gray);

// The first raster column: starting from the image's middle column, up to 11 rounds of the
// centre (weighted with the squared sums) of the dark sums 255 - blue of the 97 columns around
// the current column, over the rows dim + 1 + j .. height - dim - 2 + j of round j; each round
// takes the centre's index (0..96) as the new column and the search ends when it stays.
int32_t StripeStartColumn(const platform::Bitmap& A);

// The raster over A against the threshold image: columns x0 + rnd(k step) while below width -
// dim, rows dim + rnd(k step) while below height - dim (at most the table's size), step =
// PixelperInch x 10 / 25400. A cell's value is rnd(b x 1000 / n), n the window's pixels inside
// the image and b those whose blue byte is above the threshold image there; the counts come
// from a summed-area table of that test. progress gets rnd(y x 100 / (height - 2 dim)) once
// per raster row. Only the part of A the threshold image covers is measured.
void MakeStripeRaster(const platform::Bitmap& A, const TIntImage& th, double PixelperInch, int32_t x0,
                      TStripeRaster& r, const std::function<void(int32_t)>& progress);

// The raster as a picture of columns x rows pixels, one gray pixel per cell.
platform::Bitmap StripeRasterImage(const TStripeRaster& r);
// The horizontal gradient of the raster picture: two passes of the 3 x 3 smoothing, then in
// every row, left to right, pixel x := clamp(2 (x + 1 - x) + 128) (gray); the last column keeps
// its smoothed value.
platform::Bitmap StripeGradientImage(const platform::Bitmap& raster);

// The histogram of dark shares with the bin that first reached the largest count (a bin
// takes over only with a strictly larger count).
struct TStripeHist {
  std::array<int32_t, StripeBins> h{};
  int32_t fullest = 0;
  void Count(int32_t v) {
    ++h[static_cast<size_t>(v)];
    if (h[static_cast<size_t>(v)] > h[static_cast<size_t>(fullest)]) fullest = v;
  }
};

using TStripeProfile = std::array<uint32_t, StripeBins>;

// The stripe's centre column in the profile: from columns div 2, up to 21 rounds of the
// weighted centre of the profile within Gravurewidth div 20 columns around it (clipped to
// the profile), until it stays.
int32_t StripeCentre(const TStripeProfile& profile, int32_t cols, int32_t Gravurewidth);

// The structure value of the stripe's histogram (bars above a third of the fullest bin's
// count weighted with their squared counts): hmean the weighted mean dark share, count the
// number of such bars (those above half the maximum count twice). valid is false when the
// fullest bin is empty.
struct TStripeStructure {
  bool valid = false;
  double hmean = 0;
  int32_t count = 0;
};
TStripeStructure StripeStructure(const TStripeHist& hist);

// Everything the stripe analysis computes, in the order the window draws it.
struct TStripeAnalysis {
  TStripeRaster raster;
  TStripeProfile profile{};  // dark shares summed per raster column
  TStripeHist all;           // histogram over every cell
  int32_t centre = 0;        // the stripe's centre column
  int32_t li = 0, ri = 0;    // its first and last column (ri at most 79)
  TStripeHist stripe;        // histogram over the stripe's cells (fullest carried over from `all`)
  TStripeStructure structure;
};

// The profile, both histograms, the stripe and its structure value from a finished raster.
void EvaluateStripes(TStripeAnalysis& s, int32_t Gravurewidth);

// The threshold of the stripe analysis: the mean of the ICP threshold and the dark peak of the
// histogram of A over (20, 20)..(1279, 1023).
int32_t StripeThreshold(const platform::Bitmap& A);

// The numbers of the raster (the dark share of every cell, on its gray) written in red onto
// the annotated image A.
void AnnotateStripes(platform::Bitmap& A, const TStripeRaster& r);

// Heights of the profile picture and size of the histogram picture of the structure page.
inline constexpr int32_t StripImageHeight = 120;
inline constexpr int32_t StructHistWidth = 105;
inline constexpr int32_t StructHistHeight = 147;

// The profile picture (StripImage): the profile as a curve, three pixels a column, filled
// below it, the centring window in silver and the stripe's edges in gray.
platform::Bitmap StripeProfileImage(const TStripeAnalysis& s);
// The histogram picture (PlateStructHist): one bar per dark share, scaled to the fullest bin
// (an empty frame while the stripe holds no cell).
platform::Bitmap StripeHistImage(const TStripeAnalysis& s);

// The stripe analysis command (StructureStreifen, type MT_PLATEWSI): threshold, raster,
// STRUCTIMG.bmp and SOBEL.bmp in the home folder, the annotated image, the profile and
// histogram pictures, the structure value into SDotAreaRes and MyMess.DotArea, the spectrum
// preview, and the statistic entry while the statistic is active. Nothing without a
// captured image. A bitmap that cannot be written ends the run with its error.
void StructureStreifenClick(TDriverContext& c);

// The line pattern of the structure page (StructAutoLine); nothing without a captured image.
void StructAutoLineClick(TDriverContext& c);

}  // namespace analysis
