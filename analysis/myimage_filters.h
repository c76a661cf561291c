#pragma once
// Neighbourhood operations on 24-bit bitmaps: 3 x 3 convolutions, counting dilation, the
// summed-area box mean, the three stages of the display filter chain, the focus value of the
// live preview and the contrast and texture maps. Every routine writes into a result bitmap
// and leaves the border pixels its window cannot cover as they were.
//
// Sizes: the loops run over the result bitmap, limited to the part the source covers too, so
// a smaller source is never read beyond its edge.
#include <array>
#include <cstdint>
#include <span>

#include "analysis/myimage.h"
#include "platform/image/bitmap.h"
#include "platform/image/geometry.h"

namespace analysis {

// A 3 x 3 kernel; at(dy, dx) with row offset dy and column offset dx in -1..1.
struct TFilter {
  std::array<std::array<double, 3>, 3> k{};  // k[dy + 1][dx + 1], top row first
  constexpr double at(int dy, int dx) const { return k[dy + 1][dx + 1]; }
};

inline constexpr TFilter SharpenFilter{{{{-1, -1, -1}, {-1, 9, -1}, {-1, -1, -1}}}};
inline constexpr TFilter Sxfilter{{{{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}}}};
inline constexpr TFilter Syfilter{{{{1, 2, 1}, {0, 0, 0}, {-1, -2, -1}}}};
// The pair whose summed response fills the edge histogram of the sharpness index.
inline constexpr std::array<TFilter, 2> EdgePairFilters{{
    {{{{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}}}},
    {{{{-1, -2, -1}, {0, 0, 0}, {1, 2, 1}}}},
}};
inline constexpr TFilter SmoothFilter{{{{0.05, 0.1, 0.05}, {0.1, 0.4, 0.1}, {0.05, 0.1, 0.05}}}};
inline constexpr std::array<TFilter, 4> SobelFilters{{
    {{{{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}}}},
    {{{{-1, -2, -1}, {0, 0, 0}, {1, 2, 1}}}},
    {{{{1, 0, -1}, {2, 0, -2}, {1, 0, -1}}}},
    {{{{1, 2, 1}, {0, 0, 0}, {-1, -2, -1}}}},
}};
inline constexpr std::array<TFilter, 4> CompassFilters{{
    {{{{-1, 1, 1}, {-1, -2, 1}, {-1, 1, 1}}}},
    {{{{1, 1, -1}, {1, -2, -1}, {1, 1, -1}}}},
    {{{{1, 1, 1}, {1, -2, 1}, {-1, -1, -1}}}},
    {{{{-1, -1, -1}, {1, -2, 1}, {1, 1, 1}}}},
}};

// ---- Convolutions ----

// Each of the three bytes separately, rows 1..H-2 and columns 1..W-2: the kernel sum,
// clamped to 0..255 and rounded (ties to even).
void ApplyFilter(const platform::Bitmap& FromBit, platform::Bitmap& NewBit, TFilter aFilter);
// The same with the samples two pixels apart, rows 3..H-6 and columns 3..W-6.
void ApplyFilterSkip(const platform::Bitmap& FromBit, platform::Bitmap& NewBit, TFilter aFilter);
// Sum of the first dim kernels over byte z inside aRect (rows Top+1..Bottom-2, columns
// Left+1..Right-2), clamped and rounded, written gray; Result is the response-weighted
// centroid, or the rectangle's centre when there is no response.
// dim is limited to the kernels given, z to 0..2; the rectangle to the bitmaps.
void ApplyFilter_xDim(const platform::Bitmap& FromBit, platform::Bitmap& NewBit, std::span<const TFilter> aFilter,
                      int32_t z, int32_t dim, platform::TRect aRect, platform::TPoint& Result);

void Smooth(const platform::Bitmap& FromBit, platform::Bitmap& NewBit);
// Smooths tbmp in place.
void DrawSharp(platform::Bitmap& tbmp);
// Skip-sharpening: outer weights -f, centre 8f + 1.
void SharpbmpSkip(const platform::Bitmap& FromBit, platform::Bitmap& NewBit, double f);
// Horizontal plus vertical Sobel response of the blue byte and its centroid (registration of
// the exposure series).
void Sobelx2(const platform::Bitmap& FromBit, platform::Bitmap& NewBit, platform::TRect aRect,
             platform::TPoint& Result);

// ---- Counting dilation ----

// A pixel of ToBit becomes white when more than `level` pixels of its (2dim+1)² window in
// FromBit have byte `channel` above th, else black. dim is limited to 0..10.
void Dilatation(const platform::Bitmap& FromBit, platform::Bitmap& ToBit, int32_t channel, int32_t dim,
                int32_t th, int32_t level);

// ---- Box mean ----

// IntImg[x][y] = sum of byte c over all pixels up to and including (x, y).
void IntegralImg(const platform::Bitmap& FromBit, TIntImg& IntImg, int32_t c);
// Box mean from the summed-area table over (x-dx..x+dx, y-dy..y+dy), written gray. dx and dy
// below 1 are taken as 1. Along the top and left edges the box holds one row or column more
// than the divisor counts (a uniform 100 gives 104 in the corner for 50 x 50).
void AVGImg(const platform::Bitmap& FromBit, platform::Bitmap& ToBit, const TIntImg& IntImg, int32_t dx,
            int32_t dy);

// ---- Display chain ----

// Local-contrast guided sharpening of byte ch (above 2: 0) with a (2dim+1)² window, dim
// limited to 1..5: flat areas take the local mean, structured ones the sharpened value.
void ApplyGuidedSharpFilter(const platform::Bitmap& FromBit, platform::Bitmap& NewBit, double eps,
                            int32_t dim, int32_t ch);
// Compass-kernel edge emphasis; returns twice the mean positive edge response.
double EdgeEnhancement(const platform::Bitmap& FromBit, platform::Bitmap& NewBit, int32_t f, int32_t ch);

// ---- Measures ----

// Focus value of byte f inside aRect (clamped to the bitmap): gradient energy of the pixels
// between imin and imax, the slope of the log edge histogram and the mean brightness of the
// bright pixels. ct255 counts saturated (blue 255) pixels.
double SharpnessIndexSobel(const platform::Bitmap& FromBit, platform::TRect aRect, int32_t f, int32_t imin,
                           int32_t imax, double& v, double& vs, double& brf, uint32_t& ct, uint32_t& ct255);
double GetCombinedSharpness(const platform::Bitmap& FromBit, platform::TRect aRect, int32_t z, double& rs,
                            double& ri, double& brf, uint32_t& ct, uint32_t& ct255);

// Local contrast map of the live preview on every skip-th pixel (skip below 1 is taken as 1).
double GetVarianz(const platform::Bitmap& FromBit, platform::Bitmap& ToBit, int32_t dim, int32_t skip,
                  int32_t low, int32_t heigh, uint32_t& br, uint32_t& contrast, uint32_t& count);

// Difference of the shares above the threshold of two images, in 1/100 %: for each image a
// histogram of byte c over bmp1's full rectangle (values below 255) and its two-peak
// threshold over bins 0..255; the result is the share of bmp1 minus the share of bmp2.
int32_t ImgDiffTH(const platform::Bitmap& bmp1, const platform::Bitmap& bmp2, int32_t c);

// Texture map: (i - j)²-weighted window sum of the blue byte, into the channels selected by
// the bits 1 (blue), 2 (green) and 4 (red) of ch.
void TexturKontrast(const platform::Bitmap& FromBit, platform::Bitmap& ToBit, int32_t dim, int32_t ch);

}  // namespace analysis
