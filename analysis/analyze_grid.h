#pragma once
// Dot populations (the alternatives the operator steps through) and the screen grid. A
// population is a set of dots of one colour and similar size taken to be the screen dots of
// the image, with their mean size and edge and the screen's period and angle.
#include <cstdint>

#include "analysis/analyze.h"
#include "analysis/analyze_dots.h"

namespace analysis {

struct TSortedDotList {
  int32_t index = 0;         // position in the chain, 1-based
  int32_t FMArea = 0;        // sum of the members' fsize
  bool FMSelected = false;
  double area = 0;           // mean member fsize
  double edgelen = 0;        // mean member fedge
  double slur = 0;           // mean member Slur
  uint32_t iarea = 0;
  int32_t areatol = 0;       // area tolerance the population was found with, percent
  int32_t edgelentol = 0;    // edge-factor tolerance it was found with
  double distance = 0;       // screen period, pixels
  double alpha = 0;          // screen angle, degrees
  double radius = 0;         // mean member radius (fill ratio squared)
  double grays = 0;          // mean member StdGray (255 for fewer than two members)
  bool isBlack = false;
  bool isPos = false;
  bool cf3 = true;
  int32_t Count = 0;
  TDotList* dots = nullptr;  // the members: entries owned, dots borrowed
  TSortedDotList* next = nullptr;
  TSortedDotList* prev = nullptr;
};

// A new population of that colour: numbers 0, flags false except cf3, no members, no links.
TSortedDotList* NewSortedDotList(bool isBlack);

// Frees root and every population after it with their member entries (declared in
// analyze.h).
// void FreeSortedDotList(TSortedDotList* root);

// ---- Members ----

// A member has that ID.
bool DotInSortedDotList(int32_t aDotID, TSortedDotList* aList);

// Recounts FMArea (sum of fsize), area (its integer mean), edgelen (integer mean edge: the
// edgelen of MaxDot, the fedge of every other member) and Count from the members.
void CalculateAlternativeResult(AnalyzeState& st, TSortedDotList* rootList);
void CalculateAlternativeResult(TSortedDotList* rootList);

// Adds a dot chosen by hand and returns the population (a new one of the dot's colour for a
// nil population). With two members the period and angle come from their two centres, with
// three to nine from the neighbour search; from ten on they stay.
TSortedDotList* AddDotToAlternative(AnalyzeState& st, TSortedDotList* rootList, TDot* aDot);
TSortedDotList* AddDotToAlternative(TSortedDotList* rootList, TDot* aDot);

// Removes every member with that ID.
void RemoveDotbyID(TSortedDotList* root, int32_t aID);

// ---- Filters ----

// Keeps the members whose edge factor (fedge x 100 / fsize) lies within EF .. EF + max(t, 5),
// EF the smallest factor of the population, t = reftol % of EF; recounts the means.
void RemoveByEdgeFactor(TSortedDotList* root, int32_t reftol);
// Moves the members more than 20 gray levels off the darkest (dark population) or the
// brightest (bright population) member's mean gray into a new population of the same colour,
// which is returned (nil when none moves); recounts both.
TSortedDotList* SortByGrayLevel(TSortedDotList* root);
// Removes the members without any neighbour left.
void RemoveIsolatedDots(TSortedDotList* root);
// Sets the flag of the members whose bounding box fits a lattice cell and makes the means
// theirs; chains of touching dots keep their flag and do not count.
void IgnoreChainDots(TSortedDotList* root);
// Removes the members farther than distance / 8 (rounded) in x or y from the lattice point
// nearest to them, the lattice running through the member nearest to the image centre.
void RemoveDotsNotOnGrid(TSortedDotList* root);
// Adds the dots found at the lattice points of the population (nine label samples around
// each) that have its colour and about its size: within 10 pixels or 20 % (fuzzy: 200 %) of
// its mean size. ResImage is the label image of dotroot.
void AddDotsOnGrid(AnalyzeState& st, TDot* dotroot, TSortedDotList* root, const TIntImage& ResImage, bool fuzzy);
void AddDotsOnGrid(TDot* dotroot, TSortedDotList* root, const TIntImage& ResImage, bool fuzzy);

// ---- The grid of a pixel pattern ----

// Clears grid and stores the bright, not-border members of tList in the diagonal lattice cell
// they fall into, counted from an origin derived from (X0, Y0), the centre of a reference
// member. Cells outside [0..64][0..50] are not written; of two dots in one cell the later
// stays. (The main window's FillGrid fills the analysis state's GGrid with it.)
void FillGrid(TDotGrid& grid, TSortedDotList* tList, int32_t X0, int32_t Y0);

}  // namespace analysis
