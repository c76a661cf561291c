#pragma once
// A hand-made dot for the tests of the result presentations and of the population editing:
// a square written into the analysis state's label image (its outline with the edge bit) and
// chained into GDotList, so that the state frees it with the result.
#include <cstdint>
#include <cstdlib>

#include "analysis/analyze.h"
#include "analysis/analyze_dots.h"

namespace app::test {

// A dot of side 2 half + 1 centred at (cx, cy) with the label id.
inline analysis::TDot* SquareDot(analysis::AnalyzeState& a, uint16_t id, int cx, int cy, int half, int32_t fsize,
                                 bool black, bool border = false) {
  auto* d = new analysis::TDot;
  d->ID = id;
  d->fsize = fsize;
  d->isblack = black;
  d->border = border;
  d->swp = {cx, cy};
  d->Outrect = {cx - half, cy - half, cx + half, cy + half};
  for (int y = cy - half; y <= cy + half; ++y)
    for (int x = cx - half; x <= cx + half; ++x) {
      const bool edge = std::abs(x - cx) == half || std::abs(y - cy) == half;
      a.GResult[x][y] = static_cast<uint16_t>(d->ID | (edge ? 0x4000 : 0));
    }
  d->next = a.GDotList;
  a.GDotList = d;
  return d;
}

}  // namespace app::test
