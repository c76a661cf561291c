#pragma once
// Dot sizes and object filters. After detection every object has a raw pixel area and edge
// count; the size routines count an object again inside its bounding rectangle, with the
// pixels of its inner dots and its enclosed edge, find its centre, gray level and spread and
// the shape of its outline. The filters merge objects that cannot be dots (too small, too
// large, too ragged, on the border) into the object around them, so that the label image
// stays a partition of the image.
#include <cstdint>

#include "analysis/analyze.h"
#include "analysis/analyze_dots.h"
#include "platform/image/bitmap.h"

namespace analysis {

// Measures aDot inside its Outrect. area receives its own pixels plus the pixels of its inner
// dots (recursively) plus its enclosed edge pixels, edgelen its remaining edge pixels. Sets
// iarea (inner-dot pixels and voids: own pixels whose byte Color is above THDotVoid), iedge,
// swp, MeanGray, StdGray, roundness and Slur, and marks the enclosed edge pixels in ResImage
// with both edge bits. area and edgelen of the dot itself stay; the caller forms fsize and
// fedge. A nil dot gives 0 and 0. FromBit must be 24-bit and cover the dot.
void GetDotSize(TDot* aDot, const Bitmap& FromBit, TIntImage& ResImage, int32_t THDotVoid, int32_t Color,
                int32_t& area, int32_t& edgelen);

// The mask variant: counts as GetDotSize without gray values and voids, with the inner dots
// of the dot's own list only (not recursive), and sets area := nearest(pixels + iedge +
// detection edgelen x ad) (0 stays 0) and edgelen := the remaining edge pixels. Sets iarea,
// iedge and swp and marks enclosed edge pixels.
void GetDotSizeMask(TDot* aDot, TIntImage& ResImage, int32_t& area, double ad, int32_t& edgelen);

// Merges aDot's pixels into the object around it (the first foreign label found beside one of
// its edge pixels) and adds them to that object's area and edgelen. Without such an object
// nothing changes. aDot itself is left for the caller to unlink and free.
void RemoveSmallObject(TDot* GDots, TDot* aDot, TIntImage& ResImage);

// The filters walk the chain from root, merge every rejected dot into its surroundings, free
// it, and return the head of what remains (in detection order). GDots is the chain in which
// the surrounding objects are found (the callers pass root).
//   RemoveSmallObjects:    edgelen + area < Size, area < 3, edgelen / area > 5, or border
//   RemoveSmallBigObjects: dark with area outside bsmall..bbig, bright with area outside
//                          wsmall..wbig, area <= 2, edgelen / area > 5, or border
//   RemoveLargeObjects:    edgelen + area > large, area < small, isblack = isBlack, or border
TDot* RemoveSmallObjects(TDot* GDots, TDot* root, TIntImage& ResImage, int32_t Size);
TDot* RemoveSmallBigObjects(TDot* GDots, TDot* root, TIntImage& ResImage, int32_t bsmall, int32_t bbig,
                            int32_t wsmall, int32_t wbig);
TDot* RemoveLargeObjects(TDot* GDots, TDot* root, TIntImage& ResImage, bool isBlack, int32_t small, int32_t large);

}  // namespace analysis
