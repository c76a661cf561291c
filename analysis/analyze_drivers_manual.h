#pragma once
// What the operator measures or corrects by hand: the manual selection of the mask, plate and
// film pages (every dot detected, the population filled by clicks), the line modes (the dots
// detected, a line measured between two clicks by CalcLine), the burl measurement of the plate
// page and the editing of the shown population by clicks on the image.
#include <cstdint>

#include "analysis/analyze.h"
#include "analysis/analyze_drivers_mask.h"
#include "platform/image/bitmap.h"
#include "platform/image/geometry.h"

namespace analysis {

// Manual selection and line mode off, all six mode buttons up, the film parameter pages
// hidden.
void SwitchModesOff(TDriverContext& c);

// The manual selection commands of the mask (type 3), plate (type 5) and film (type 13)
// pages: with manual mode on they switch the modes off; otherwise they detect every dot of
// the gray image against the page's threshold, measure them and show an empty population of
// bright dots (the first click decides its colour), and manual mode is on. Either way the
// page's result panels are shown and the type set. The mask command adds to the statistic
// when it is active. Nothing without a captured image.
void ManualSelectionClick(TDriverContext& c, TAnalysisPage page);

// The dot collection of the manual selection on the gray image (ThImage filled): every dot
// detected and sized as the page measures its dots, and a new empty population, which is
// returned (the caller's).
TSortedDotList* ManualDots(TDriverContext& c, TAnalysisPage page);

// The line modes of the mask (LineBtn, type 4), plate (FLinebtn, type 9) and film
// (FilmLinebtn, type 16) pages: with line mode on they switch the modes off; otherwise the
// dots of the gray image against its global threshold are detected and line mode is on, so
// that two clicks on the image measure a line (CalcLine). Nothing without a captured image.
void LineModeClick(TDriverContext& c, TAnalysisPage page);

// The burl collection on C, the inverted binary density image (ThImage filled): the dots
// detected, dark ones and those larger than the plate page's SizeLimit (µm, a circle's
// diameter) or smaller than 10 pixels merged away, the bright ones sized with the threshold
// bar's position thBar, and the population of the bright dots with their neighbours, period
// and angle (returned, the caller's). count receives the number of bright dots.
TSortedDotList* BurlDots(TDriverContext& c, const platform::Bitmap& C, int32_t thBar, int32_t& count);

// A click on the image point p while a population is shown (ActAlternative): the dot under p
// is added when (ctrl or manual) and it matches the population's colour (or the population is
// empty), is not a member yet and is not a border dot; otherwise, with (shift or manual), a
// member is removed and the population recounted. An edited population becomes the head of
// the chain. True when the population changed. Points outside the label image find no dot.
bool EditAlternative(AnalyzeState& st, platform::TPoint p, bool ctrl, bool shift, bool manual);

// Makes pop the head of the population chain (GAlternative) and the one shown. The
// populations before it in the chain leave it but stay owned (RetiredAlternatives) until the
// result is cleared; a population outside the chain retires the whole chain.
void MakeAlternativeHead(AnalyzeState& st, TSortedDotList* pop);

}  // namespace analysis
