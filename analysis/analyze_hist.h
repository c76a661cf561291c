#pragma once
// The histogram record of the analysis and the two-peak threshold routine that works on it.
//
// One record serves both kinds of histogram the system builds: 8-bit histograms (bins 0..255
// in use) and the 10,001-level histograms of high-range images (bins 0..10000). The threshold
// routine looks for the two dominant populations (background and printing elements) and puts
// the threshold into the valley between them, limited to the bin range its caller names.
#include <array>
#include <cstdint>

namespace analysis {

// The last bin index of a histogram.
constexpr int32_t HistWidth = 10000;

struct THist {
  std::array<int32_t, HistWidth + 1> Hist{};  // count per bin
  int32_t MaxHist = 0;   // largest count, as found by the builder
  int32_t Histsum = 0;   // (Right - Left) x (Bottom - Top) of the counted rectangle; GetHistogram only
  int32_t Contrast = 0;  // spread between the lower and the upper eighth of the counts; GetHistogram only
  uint16_t MaxPos = 0;   // bin of MaxHist
  uint16_t TH = 0;       // threshold found by GetThreshold
  uint16_t l = 0;        // left (dark) peak found by GetThreshold
  uint16_t r = 0;        // right (bright) peak found by GetThreshold
  int32_t pc = 0;        // share of counts above TH, in 1/100 % (0..10000)

  // Every count and every field back to 0.
  void Clear();
  // MaxHist and MaxPos := the first strict maximum over bins from..to (clipped to the record).
  void FindMax(int32_t from, int32_t to);
};

// Finds the two peaks of the histogram between bins von and Limit (Limit is cut to 10000) and
// the threshold between them. Threshold and the result are the threshold bin, left and right
// the dark and the bright peak, Prozent the share of counts above the threshold in 1/100 %;
// the same values go into TH, l, r and pc of the record, which is otherwise left alone (so
// the routine may run again with other bounds). The search starts from the record's MaxPos
// and MaxHist.
//
// dotint is a mode: 1 keeps the right peak at 255, 2 keeps the left peak at 0, any other
// value lets both move.
//
// A histogram without counts gives the empty result: the threshold Limit div 2, left 0, right
// 255, Prozent 0. A record whose MaxPos is 0 (the darkest bin dominates) gets 0.8 times the
// iterated threshold. Bins outside 0..10000 read as empty, so no bound makes the routine read
// outside the record.
int32_t GetThreshold(THist& Hist, int32_t von, int32_t Limit, int32_t& Prozent, int32_t& Threshold,
                     int32_t& left, int32_t& right, int32_t dotint = 0);

// The same for callers that only need the record's fields: mode 0, result the threshold.
int32_t GetThreshold(THist& Hist, int32_t von, int32_t Limit);

}  // namespace analysis
