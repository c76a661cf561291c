#pragma once
// The analysis drivers of the film and calibration pages, the stepping through the film's dot
// populations, the film line mode and the line-width measurement between two points chosen
// on the display, which the line modes of the LAMS, plate and film pages share.
#include <cstdint>

#include "analysis/analyze_drivers_mask.h"
#include "platform/image/geometry.h"

namespace analysis {

// Film dot area: the transmission analysis with the tolerance of the edit PlateDotTol and
// the film screen fixed by the operator.
void AnalyzeStandardFilm(TDriverContext& c);
// Film dots as on the mask, with fixed size limits and no edge weight; minidots keeps the
// dots up to 120 pixels, otherwise those of at least 100.
void AnalyzeFilm(TDriverContext& c, bool UseLocalTH, bool minidots);
// Film dot clusters: two dilatations at FilterTh join a cluster into one dot.
void AnalyzeKFilm(TDriverContext& c, int32_t FilterTh);
// Calibration target: as the mask with local thresholds and no edge weight; no presentation.
void AnalyzeCalTarget(TDriverContext& c);
// Shows the next population of the film result (after the last one the first again).
void FilmAlternativeClick(TDriverContext& c);
// Switches the film line mode on (the dots of the gray image against its global threshold)
// or off.
void FilmLinebtnClick(TDriverContext& c);
// Line width between p1 and p2 in display coordinates: both points in one line (at most 9
// pixels apart) measure that line, points in two lines the gap between them. Needs the dots
// of the line mode in GDotList and GResult. Points outside the image, on an edge pixel or on
// a pixel without a dot measure nothing.
void CalcLine(TDriverContext& c, platform::TPoint p1, platform::TPoint p2);

}  // namespace analysis
