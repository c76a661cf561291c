#pragma once
// Population search and transmission image analysis. Not every detected object is a screen
// dot: this finds the candidate screen populations of a dot chain without knowing the dot
// size in advance. Every crowded class of a histogram of dot sizes yields a population of
// that size (dark or bright, whichever has more members); it is cleaned, its period and angle
// are measured, it is completed with the dots on its lattice, and it is kept when it looks
// like a screen. The kept populations (the alternatives) are ordered by a score, best first.
#include <cstdint>
#include <functional>

#include "analysis/analyze.h"
#include "analysis/analyze_dots.h"
#include "analysis/analyze_grid.h"
#include "platform/image/bitmap.h"

namespace analysis {

// The score of a population: (sqrt(area) x Count^2.5)^radius / (1 + grays).
double AlternativeScore(const TSortedDotList* l);

// The populations of root (a chain with fsize, fedge and centres set), best first, numbered
// 1, 2, ... in index; GAlternativencount receives their number. areatol is the size
// tolerance in percent, EFtol the edge-factor tolerance, Screening an expected period in
// pixels (0 none; negative accepts nothing), mf a frequency peak of a 1024-point transform
// and mfcm the same peak in lines per cm (0 none): a period within 20 % of 1024 / mf snaps to
// it when mfcm is above 150. The lattice completion reads the state's GResult.
TSortedDotList* GetAlternativen(AnalyzeState& st, TDot* root, int32_t areatol, int32_t EFtol, int32_t Screening,
                                bool fuzzy, double mf, double mfcm);
TSortedDotList* GetAlternativen(TDot* root, int32_t areatol, int32_t EFtol, int32_t Screening, bool fuzzy, double mf,
                                double mfcm);

// Inserts aList in front of the first population of the chain with a lower score (at the end
// when there is none) and returns the head.
TSortedDotList* InsertAlternative(TSortedDotList* root, TSortedDotList* aList);
// False when a population of the chain has about the same total size (area x Count within 20)
// and all its members are members of aList.
bool NotYetAvailable(TSortedDotList* root, TSortedDotList* aList);
// Every dot of root is a member of aList (the same dot record); true for an empty root.
bool equalDotList(TDotList* root, TDotList* aList);

// The transmission pipeline on a thresholded plate or film image: ClearResult, detection
// against the state's ThImage (filled by the caller) over ToBit's size, RemoveSmallObjects
// (3), the recursive inner-dot search, the dot sizes (fsize = nearest(area + edge x ADDEDGE),
// MaxDot the largest), and the population search with areatol aTol and EFtol 2 aTol. Sets
// GDotList, MaxDot, GAlternative, GAlternativencount and ResAvail. aProgressbar, when given,
// receives 0, 20, 50, 80 and 100 as the steps end.
void AnalyzeTRANSImage(AnalyzeState& st, const Bitmap& FromBit, Bitmap& ToBit, int32_t Screening,
                       const std::function<void(int32_t)>& aProgressbar, int32_t aTol, bool fuzzy, double mf,
                       double mfcm);
void AnalyzeTRANSImage(const Bitmap& FromBit, Bitmap& ToBit, int32_t Screening,
                       const std::function<void(int32_t)>& aProgressbar, int32_t aTol, bool fuzzy, double mf,
                       double mfcm);

}  // namespace analysis
