#pragma once
// The analysis drivers of the plate and structure pages: plate dots (optionally made solid
// first, for dots with a textured surface) with the population search, and the pattern area
// of a structured plate surface measured in lattice cells on a texture image.
#include <cstdint>

#include "analysis/analyze_drivers_mask.h"

namespace analysis {

// The plate check box that marks a structured plate surface; the window knows it by this
// caption. When ticked, a plate dot's size is its pixel area without edge weight.
inline constexpr std::string_view StructureFlagCaption = "TANDORIX Structure Flag";

// Plate dots. FilterTh has no effect here; P > 0 makes textured dots solid by two
// threshold-relative dilatations before the detection; aTol is the size tolerance in percent
// (above 50 the population search is fuzzy); Screening an expected period in pixels, 0 none.
void AnalyzeKPlate(TDriverContext& c, int32_t FilterTh, int32_t P, int32_t aTol, int32_t Screening);

// The dots of a black-and-white working bitmap A (ThImage filled by the caller): detection
// from (10, 10) to the end of rbmp, small objects merged, inner dots, and the sizes
// fsize = nearest(area + edge x E) with MaxDot the largest. Gauge 50 and 80.
void SizeTransmissionDots(TDriverContext& c, const platform::Bitmap& A, double E);

// Pattern area of a structured plate (structure page): the expected ruling comes from the
// edit WSILcmPlate, the cells are measured on the inverted texture image (or on the gray
// image in density mode).
void AnalyzeWSIPlate(TDriverContext& c);

}  // namespace analysis
