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

}  // namespace analysis
