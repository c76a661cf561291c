#pragma once
// Dot detection and labelling. A gray image is split against the per-pixel threshold image
// into dark and bright pixels; horizontal runs of one class are joined row by row into
// objects (dots, dark or bright) that are connected through their rows (a run joins what lies
// directly above it, so objects are 4-connected); every object gets a label 2..9999 in the
// label image and every pixel that touches the other class is flagged as an edge pixel. The
// objects form the chain of TDot records that the size, neighbour and population routines
// work on. The inner-dot searches find, for each dot, the objects that lie inside it (a
// bright hole in a dark dot).
//
// The label image (a TIntImage indexed [x][y]) holds per pixel:
//   bits 0..13  the label: 0 none, 2..9999 the ID of a dot
//   bit 14      W edge: the pixel is bright and a pixel of its 3x3 neighbourhood is dark
//   bit 15      K edge: the pixel is dark and a pixel of its 3x3 neighbourhood is bright
// Both bits together mark an edge pixel that has become enclosed in its own or a merged dot.
// Where a whole 16-bit value is compared with an ID, only pixels without edge bits match.
//
// Chains and lists are singly linked records. The dot chain owns its dots; every other list
// owns only its entries and borrows the dots. Everything here runs on the GUI thread.
#include <bitset>
#include <cstdint>
#include <vector>

#include "analysis/analyze.h"
#include "platform/image/bitmap.h"
#include "platform/image/geometry.h"

namespace analysis {

using platform::Bitmap;
using platform::TPoint;
using platform::TRect;

// ---- Label image layout ----

constexpr uint16_t LabelMask = 0x3FFF;
constexpr uint16_t EdgeW = 0x4000;
constexpr uint16_t EdgeK = 0x8000;
constexpr uint16_t EdgeBits = 0xC000;
// The first label a detection hands out and the last it may hand out.
constexpr int32_t FirstDotID = 2;
constexpr int32_t MaxDotID = 9999;
// Entries of a table indexed by label (every value of bits 0..13).
constexpr int32_t LabelSlots = LabelMask + 1;

constexpr uint16_t LabelOf(uint16_t v) { return v & LabelMask; }
constexpr bool IsEdge(uint16_t v) { return (v & EdgeBits) != 0; }

// ---- Records ----

struct TSDotList;

// Extent of an object's runs in one row.
struct TLineExtent {
  int32_t x0 = 0;
  int32_t x1 = 0;
};

struct TDot {
  uint16_t ID = 0;        // label, 2..9999
  int32_t area = 0;       // pixels of the object without edge bits
  int32_t edgelen = 0;    // edge pixels of the object
  int32_t Slur = 0;       // largest distance from the centre to an edge pixel, rounded
  int32_t fsize = 0;      // size used for populations: pixel area plus weighted edge
  int32_t fedge = 0;      // edge measure used for populations
  int32_t iarea = 0;      // pixels counted through inner dots or as voids
  int32_t iedge = 0;      // edge pixels found enclosed and re-marked
  uint8_t MinGray = 0;    // during detection: mean of ten times the gray step inside the runs
  uint8_t MaxGray = 0;    // during detection: the largest such step
  uint8_t MeanGray = 0;   // mean gray value (dot sizes)
  uint8_t StdGray = 0;    // gray spread (dot sizes)
  double radius = 0;      // fill ratio of the bounding box's circle, squared, folded to at most 1
  double roundness = 0;   // spread of the edge pixels' distances from the centre
  TPoint swp;             // centre of gravity, set by the size routines
  TRect Outrect;          // bounding rectangle in pixels
  TLineExtent ActLine;    // runs in the current row (detection)
  TLineExtent LastLine;   // runs in the previous row (detection)
  bool isblack = false;   // dark object
  bool changed = false;   // a run was added in the current row
  bool closed = false;    // a row passed without a run
  bool border = false;    // touches the border of the analysed area
  bool IDSearch = false;  // the recursive inner-dot search has visited it
  TSDotList* InnerDots = nullptr;  // owned by the dot (entries only)
  TDot* next = nullptr;
};

// Temporary label list of the plain inner-dot search.
struct TDotID {
  uint16_t ID = 0;
  bool isInner = false;
  TDotID* next = nullptr;
};

// List of borrowed dots (inner dots).
struct TSDotList {
  TDot* aDot = nullptr;
  bool isInner = false;
  TSDotList* next = nullptr;
};

// A population member: the dot, its four nearest neighbours with their centre distances (px)
// and the directions to them (degrees), and whether it counts for the population's result.
struct TDotList {
  TDot* dots = nullptr;
  TDot* NB1 = nullptr;
  TDot* NB2 = nullptr;
  TDot* NB3 = nullptr;
  TDot* NB4 = nullptr;
  double NA1 = 0, NA2 = 0, NA3 = 0, NA4 = 0;
  double NW1 = 0, NW2 = 0, NW3 = 0, NW4 = 0;
  uint8_t flag = 0;
  TDotList* next = nullptr;
};
using PSDotList = TSDotList*;
using PDotList = TDotList*;

// ---- Detection ----

// Detects the objects of FromBit's channel f (0 blue, 1 green, 2 red) against the threshold
// image th inside aRect (inclusive pixel coordinates) and returns the new chain, in order of
// creation. Labels and edge bits go into ResImage, which the caller has cleared; NewBit gets
// the display: K edges red, W edges yellow, every other pixel a copy of the source.
//
// aRect is clamped to FromBit, to NewBit and to the label image. Its first row and column and
// its last two rows and columns are not classified; the run still open at the end of a row
// ends at the column before the last one. Labels are handed out from 2 up to 9999 and never
// again: objects found after the 9998th stay unlabelled and get no dot. GDotID of the state is
// the last label handed out. FromBit and NewBit must be 24-bit (std::invalid_argument).
TDot* GetDots(AnalyzeState& st, const Bitmap& FromBit, Bitmap& NewBit, TIntImage& ResImage, const TIntImage& th,
              int32_t f, TRect aRect);
TDot* GetDots(const Bitmap& FromBit, Bitmap& NewBit, TIntImage& ResImage, const TIntImage& th, int32_t f,
              TRect aRect);

// True when some x in x0..x1 has label ID in row y.
bool PixInRange(int32_t ID, int32_t x0, int32_t x1, int32_t y, const TIntImage& ResImage);

// ---- Lookup and lists ----

// The first dot of the chain with that ID, or nullptr.
TDot* GetDot(TDot* aDots, int32_t DotID);
// The first entry whose dot has that ID, or nullptr.
TSDotList* GetSDot(TSDotList* aDots, int32_t DotID);
// True when an entry's dot has that ID or, recursively, that dot's own inner dots contain it.
bool DotInInnerDotsRec(TSDotList* aDots, int32_t DotID);
// Adds the labels of the listed dots and, recursively, of their inner dots to ids (each dot
// once, however often it is listed).
void CollectInnerIDs(TSDotList* list, std::bitset<LabelSlots>& ids);
// A new member entry in front of next: no neighbours, distances and angles 0, flag 0.
TDotList* NewDotList(TDot* Dots, TDotList* next);
// A new entry in front of next, isInner false.
TSDotList* NewSDotList(TDot* Dots, TSDotList* next);

// Every dot of the chain by its label (index 0..LabelMask); built for routines that look up
// many labels, where walking the chain for each would cost chain length times lookups.
class TDotIndex {
 public:
  explicit TDotIndex(TDot* chain);
  TDot* operator[](int32_t id) const { return id >= 0 && id < LabelSlots ? dots_[id] : nullptr; }
  void Forget(int32_t id) {
    if (id >= 0 && id < LabelSlots) dots_[id] = nullptr;
  }

 private:
  std::vector<TDot*> dots_;
};

// ---- Inner dots ----

// Plain search: the objects whose edge pixels inside aDot's Outrect touch only aDot and
// themselves (2x2 test) and whose Outrect lies inside aDot's are added to its InnerDots.
void GetInnerDots(TDot* GDots, TDot* aDot, const TIntImage& ResImage);
// The plain search for every dot of the chain whose IDSearch is false (the plain search does
// not set it, so every dot).
void GetAllInnerDots(TDot* GDots, const TIntImage& ResImage);
// Recursive search: aDot's InnerDots become every object with an edge pixel inside aDot's
// Outrect whose own Outrect lies inside aDot's; those objects are searched first.
void GetInnerDotsRec(TDot* GDots, TDot* aDot, const TIntImage& ResImage);
void GetAllInnerDotsRec(TDot* GDots, const TIntImage& ResImage);

// ---- Freeing ----

// Frees every dot of the chain with its inner-dot list (declared in analyze.h).
// void Freedots(TDot* chain);
void FreeSDotList(TSDotList* list);       // the entries, not the dots
void FreeDotListSimple(TDotList* list);   // the entries, not the dots
void FreeDotIDList(TDotID* list);

}  // namespace analysis
