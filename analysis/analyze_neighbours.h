#pragma once
// Neighbours, screen period and angle. A halftone screen is a lattice of dots: every dot of a
// candidate list looks for its nearest neighbours, the distances and directions of the two
// nearest are collected in histograms, the peaks give the period (pixels) and the angle
// (degrees, folded into (0, 90]), and neighbours that do not fit the peaks are dropped.
//
// Directions are those of PTWinkel in image coordinates (y downwards). A 0-degree lattice
// reads as 90: the fold maps both lattice directions to (0, 90].
#include <cstdint>
#include <vector>

#include "analysis/analyze.h"
#include "analysis/analyze_dots.h"
#include "analysis/analyze_grid.h"
#include "platform/base/numeric.h"
#include "platform/image/canvas.h"
#include "platform/image/geometry.h"

namespace analysis {

using platform::Extended;
using platform::TPoint;

// The dots of one colour, not on the border, whose fsize lies strictly between refarea -
// negtol and refarea + reftol, with negtol = nearest(refarea - refarea^2 / (refarea + reftol))
// (the window reaches as far down, as a ratio, as it reaches up). The list is in reverse chain
// order. area, edge and slur receive the rounded means of fsize, fedge and Slur, radius and
// grays the means of radius and StdGray; with fewer than two dots the sums stay and grays is
// 255.
TDotList* GetSortedDotList(TDot* root, int32_t refarea, int32_t reftol, bool isBlack, int32_t& area, int32_t& edge,
                           int32_t& slur, int32_t& count, double& radius, double& grays);

// Splits every dot of the chain (border dots included) by colour into wList (bright) and
// bList (dark), each in reverse chain order, with the mean fsize and fedge and the count of
// each colour. True when the dark dots dominate: sqrt(barea) x bcount > sqrt(warea) x wcount.
bool GetSortedDotListMask(TDot* root, TDotList*& wList, TDotList*& bList, Extended& warea, Extended& wedge,
                          Extended& barea, Extended& bedge, int32_t& wcount, int32_t& bcount);

// Offers every other entry of root to aList's four neighbour slots (slot 1 the nearest). An
// entry whose dot lists aList's dot among its own inner dots is not a neighbour. A closer
// candidate pushes the slot it takes one slot down (what that slot held is lost); ties keep
// the earlier entry.
void SearchNachbarn(TDotList* root, TDotList* aList);

// Resets slots 1 and 2 of aList and of every entry after it and searches their neighbours
// among root's members. Slots 3 and 4 are not reset.
void GetNachbarn(TSortedDotList* root, TDotList* aList);

// Folds a direction into (0, 90]: w + 360, then minus 90 while above 90.
double wmod(double w);

// The screen period in pixels from the two nearest neighbours of every entry (0 when none is
// found); alpha receives the screen angle in degrees. Neighbours whose distance is not
// between m / sTol and sTol x m (m the distance peak) or whose folded direction is not within
// wTol of the angle peak are dropped from the entries.
double GetNachbarAbstand(TDotList* root, double& alpha, double sTol, double wTol);

// ---- The screen lattice over the image ----

struct TLineSegment {
  TPoint from;
  TPoint to;
  friend bool operator==(const TLineSegment&, const TLineSegment&) = default;
};

// The lines DrawLines draws: pairs of lines of direction angle (degrees) at perpendicular
// offsets +g and -g from center, g = size/2, 3 size/2, ... while g < 1920, each 3840 pixels
// long. Empty for a size below 0.5 pixels (no lattice can be that fine, and the count of
// lines grows without bound as the size goes to 0).
std::vector<TLineSegment> LatticeLines(TPoint center, double size, double angle);

// Where GetGrid puts the lattice: the two families of lines through the flagged members'
// mean offsets modulo the period, in drawing order. Empty when the period rounds to 0.
std::vector<TLineSegment> GridLines(TDotList* aList, double alpha, double distance);

// Draws LatticeLines with the canvas's current pen.
void DrawLines(platform::Canvas& aCanvas, TPoint center, double size, double angle);
// Draws GridLines in aColor with a pen 2 pixels wide, and leaves the pen 1 pixel wide.
// Draws nothing (and leaves the pen alone) when the period rounds to 0.
void GetGrid(platform::Canvas& aCanvas, platform::TColor aColor, TDotList* aList, double alpha, double distance);

}  // namespace analysis
