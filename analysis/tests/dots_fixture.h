#pragma once
// Shared helpers of the dot, size, neighbour and population tests: small hand-drawn images,
// the analysis state on the heap, and owners that free chains and lists when a test ends.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analyze.h"
#include "analysis/analyze_dots.h"
#include "analysis/analyze_grid.h"
#include "platform/image/bitmap.h"

namespace analysis::fixture {

using platform::Bitmap;
using platform::TPoint;
using platform::TRect;

inline uint8_t& Px(Bitmap& b, int x, int y, int c = 0) { return b.ScanLine(y)[3 * x + c]; }
inline uint8_t Px(const Bitmap& b, int x, int y, int c = 0) { return b.ScanLine(y)[3 * x + c]; }

inline void SetGray(Bitmap& b, int x, int y, uint8_t v) {
  uint8_t* p = b.ScanLine(y) + 3 * x;
  p[0] = p[1] = p[2] = v;
}

// '#' dark (0), any other character bright (255); every row as long as the first.
inline Bitmap FromRows(const std::vector<std::string>& rows) {
  Bitmap b(static_cast<int>(rows.at(0).size()), static_cast<int>(rows.size()));
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[0].size(); ++x)
      SetGray(b, static_cast<int>(x), static_cast<int>(y), rows[y][x] == '#' ? 0 : 255);
  return b;
}

inline Bitmap Filled(int w, int h, uint8_t v) {
  Bitmap b(w, h);
  b.Fill(v);
  return b;
}

inline void FillTh(TIntImage& th, uint16_t v) {
  for (int x = 0; x <= ImWidth; ++x)
    for (int y = 0; y <= ImHeight; ++y) th[x][y] = v;
}

// The analysis state on the heap (its images are several MiB), with a threshold of 128.
struct State {
  std::unique_ptr<AnalyzeState> st = std::make_unique<AnalyzeState>();
  State() { FillTh(st->ThImage, 128); }
  ~State() { ClearResult(*st); }
  AnalyzeState& operator*() { return *st; }
  AnalyzeState* operator->() { return st.get(); }
};

// Detects the whole bitmap (rectangle 0, 0, width, height) into the state's chain.
inline TDot* Detect(AnalyzeState& st, const Bitmap& img, TRect rect = {0, 0, -1, -1}) {
  ClearResult(st);
  Bitmap disp(img.Width(), img.Height());
  if (rect.Right < 0) rect = {0, 0, img.Width(), img.Height()};
  st.GDotList = GetDots(st, img, disp, st.GResult, st.ThImage, 0, rect);
  return st.GDotList;
}

inline std::vector<TDot*> Dots(TDot* chain) {
  std::vector<TDot*> v;
  for (TDot* d = chain; d; d = d->next) v.push_back(d);
  return v;
}

// Owner of a member list (entries only).
struct ListOwner {
  TDotList* head = nullptr;
  ~ListOwner() { FreeDotListSimple(head); }
};

// Dots that are not in any chain, for the neighbour and population tests: each with a centre
// and a label of its own.
struct LooseDots {
  std::vector<std::unique_ptr<TDot>> dots;
  TDot* Add(TPoint centre, int32_t fsize = 100, bool black = true) {
    auto d = std::make_unique<TDot>();
    d->ID = static_cast<uint16_t>(dots.size() + 2);
    d->swp = centre;
    d->fsize = fsize;
    d->area = fsize;
    d->isblack = black;
    d->Outrect = {centre.X - 2, centre.Y - 2, centre.X + 2, centre.Y + 2};
    dots.push_back(std::move(d));
    return dots.back().get();
  }
};

// A population over the given dots, members in the given order.
inline TSortedDotList* PopulationOf(const std::vector<TDot*>& members, bool black = true) {
  TSortedDotList* p = NewSortedDotList(black);
  for (auto it = members.rbegin(); it != members.rend(); ++it) p->dots = NewDotList(*it, p->dots);
  p->Count = static_cast<int32_t>(members.size());
  return p;
}

struct PopulationOwner {
  TSortedDotList* p = nullptr;
  ~PopulationOwner() { FreeSortedDotList(p); }
};

}  // namespace analysis::fixture
