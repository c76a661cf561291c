#pragma once
// The measurement record, the measurement types and the state of the analysis module:
// calibration and unit values, the image-sequence table, the edge weights of the dot sizes and
// the result of the last analysis run (dot chain, populations, label and threshold images).
//
// The analysis modules share this header: it is the home of the constants and of the one
// state object through which they reach the module-level values. Everything here is used on
// the GUI thread only.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "analysis/analyze_consts.h"
#include "analysis/analyze_hist.h"

namespace analysis {

// ---- Measurement types ----

enum MType : uint8_t {
  MT_NONE = 0,
  MT_LAMSWSI,
  MT_LAMSMG,
  MT_LAMSDOT,
  MT_LAMSLINE,
  MT_PLATEDOT,
  MT_PLATESDOT,
  MT_NXPixel,
  MT_NXBURL,
  MT_PLATELINE,
  MT_PLATEWSI,
  MT_PLATEWSIAREA,
  MT_PLATEMG,
  MT_FILMDOT,
  MT_FILMCLUSTER,
  MT_FILMSDOT,
  MT_FILMLINE,
  MT_CALDOT,
  MT_END,  // end of the range; never produced by a measurement
};

// The names are the archive's Algorithm values and its filter choices; they are compared as
// they stand, so they must never change.
inline constexpr std::array<std::string_view, MT_END + 1> MTYPENAMES = {
    "NONE",
    "MASK PIXELPATTERN",
    "MASK LINEPATTERN",
    "MASK DOT AREA",
    "MASK LINE WIDTH",
    "PLATE DOT AREA",
    "PLATE DOT AREA ST",
    "PLATE PIXEL",
    "PLATE BURL",
    "PLATE LINE WIDTH",
    "PLATE PIXELPATTERN",
    "PLATE PATTERN AREA",
    "PLATE LINEPATTERN",
    "FILM DOT AREA",
    "FILM DOT CLUSTER",
    "FILM MINI DOTS",
    "FILM LINE WIDTH",
    "CALIBRATION",
    "INVALID",
};

// Largest number of measurements in the running statistic.
constexpr int32_t MAXSTAT = 100;

// ---- The measurement record ----

// One measurement result. MyMess always holds µm, µm², lines per cm, percent and degrees,
// whatever the unit setting of the display.
struct TMessung {
  MType aType = MT_NONE;
  double DotArea = 0;     // dot area coverage, %
  double LCM = 0;         // screen ruling, lines per cm
  double Alpha = 0;       // screen angle, degrees
  double EdgeFaktor = 0;  // edge factor of the dot population
  double LineWidth = 0;   // µm
  double LineTol = 0;     // half the spread of the line width, µm
  double Freq1 = 0;       // structure frequencies, lines per cm
  double Freq2 = 0;
  double Periode1 = 0;    // their periods, µm
  double Periode2 = 0;
  double DiamAvg = 0;     // mean dot diameter
  double DiamG = 0;       // diameter at the upper limit of the size tolerance band
  double DiamK = 0;       // diameter at the lower limit
  double StdDevDiam = 0;
  double SizeAvg = 0;     // mean dot size (area)
  double SizeG = 0;       // size at the upper limit of the band
  double SizeK = 0;       // size at the lower limit of the band
  double StdDevSize = 0;
  double DSTol = 0;       // size tolerance, % of the mean size
  double LineLenght = 0;  // length of the measured line section
  int32_t CountAvg = 0;   // dots within the band
  int32_t CountG = 0;     // dots at or above the upper limit
  int32_t CountK = 0;     // dots at or below the lower limit
};
using PMessung = TMessung*;

// ---- Array images ----

// Unsigned 16-bit per pixel, indexed [x][y] with one spare column and row (0..ImWidth,
// 0..ImHeight). GResult holds labels and edge bits, ThImage the per-pixel threshold.
struct TIntImage {
  uint16_t e[ImWidth + 1][ImHeight + 1];
  uint16_t* operator[](int32_t x) { return e[x]; }
  const uint16_t* operator[](int32_t x) const { return e[x]; }
};
using PIntImage = TIntImage*;

// ---- The tile grid of the local thresholds ----

// One tile of the grid: its threshold and its centre.
struct TThs {
  int32_t TH = 0;
  int32_t x = 0;
  int32_t y = 0;
};

// Up to 10 x 10 tiles plus a copy of the last column, indexed [tile x][tile y]. The global
// fallback also uses records [0][0] and [1][0] as scratch.
constexpr int32_t TileSlots = 12;
using THistTiles = std::array<std::array<THist, TileSlots>, TileSlots>;
using TThsTiles = std::array<std::array<TThs, TileSlots>, TileSlots>;

// ---- Result chains ----
//
// The dot chain (`TDot`) is defined with the dot detection and a population (`TSortedDotList`)
// with the screen grid; both modules also define the functions that free them. The state
// below only holds the heads of the chains.
struct TDot;
struct TSortedDotList;
using PDot = TDot*;
using PSortedDotList = TSortedDotList*;
// Frees every dot of the chain with its inner-dot list.
void Freedots(TDot* chain);

// The screen grid of a pixel pattern: the dots numbered by their lattice cell, [0..64][0..50].
struct TDotGridCell {
  int16_t x = 0;
  int16_t y = 0;
  TDot* p = nullptr;  // borrowed from GDotList
};
using TDotGrid = std::array<std::array<TDotGridCell, 51>, 65>;
using PDotGrid = TDotGrid*;
// Frees root and every population after it, with their member entries (not the dots).
void FreeSortedDotList(TSortedDotList* root);

// ---- Module state ----

// Shutter-step range of the exposure series per analysis page: [page][0 first, 1 last].
// Pages: 0 LAMS mask, 1 plate, 2 structure, 3 film; steps 0..18.
using TImgSeq = std::array<std::array<int32_t, 2>, 4>;

struct AnalyzeState {
  AnalyzeState();
  ~AnalyzeState();
  AnalyzeState(const AnalyzeState&) = delete;
  AnalyzeState& operator=(const AnalyzeState&) = delete;

  // Calibration and units. PixelperInch is 42701 until LoadCal reads the ini. The unit values
  // start as an empty ini would set them (L/cm and µm, 2 decimals), so that an analysis run
  // before the main window's set-up never divides by a zero unit factor.
  double PixelperInch = 42701;
  // The calibrated value of this camera, kept apart from PixelperInch, which a loaded image
  // of another camera replaces by its own: LoadCal and the calibration correction set it, and
  // an image of this camera is measured with it again.
  double CalPixelperInch = 42701;
  double LUnits = 2.54;  // 2.54 while rulings are shown in L/cm, 1 in L/Inch
  double DUnits = 25.4;  // 25.4 while lengths are shown in µm, 1 in mil
  int32_t SUnits = 0;    // 0 L/cm and µm, 1 L/Inch and mil, 2 L/Inch and µm
  int32_t Digits = 2;
  int32_t Gravurewidth = 240;
  bool ShowSharp = false;
  int32_t WaitImg = 2;
  TImgSeq Imgseq{{{1, 18}, {1, 18}, {1, 18}, {1, 18}}};
  // Edge weights of the dot sizes: fsize = pixel area + edge pixels × weight.
  double ADDEDGE = 1.9;
  double ADDEDGEK = -2.9;

  // Result of the last analysis run. GDotList and GAlternative own their chains; the other
  // three pointers borrow from them.
  TDot* GDotList = nullptr;
  TDot* GDot = nullptr;
  TDot* MaxDot = nullptr;
  TSortedDotList* GAlternative = nullptr;
  TSortedDotList* ActAlternative = nullptr;
  // Populations that left the chain when the operator edited a later one, which then became
  // its head (GAlternative): no longer shown or cycled through, but owned until the result is
  // cleared.
  TSortedDotList* RetiredAlternatives = nullptr;
  int32_t GAlternativencount = 0;
  // The last label the dot detection handed out (2..9999; 1 before the first).
  uint16_t GDotID = 1;
  bool ResAvail = false;

 private:
  // Declared before the references below, which are bound into them.
  std::unique_ptr<TIntImage[]> images_;
  std::unique_ptr<THistTiles> hists_;  // about 6 MiB, so never on the stack
  std::unique_ptr<TDotGrid> grid_;

 public:
  TIntImage& GResult;  // labels of the detected objects and edge bits
  TIntImage& ThImage;  // threshold per pixel
  // The screen grid; the analysis drivers clear it when they start, and ClearResult clears
  // it with the dots its cells point to.
  TDotGrid& GGrid;

  // The local thresholds: tile histograms, tile thresholds and centres, and the last result of
  // GetLocalTH. They keep their contents until the next call.
  THistTiles& Hists;
  TThsTiles Ths{};
  int32_t GlobalTH = 0;

  // Back to the values of a freshly started program: the result is cleared, both images and
  // the tile grid are zero and every calibration and unit value has its start-up value.
  void Reset();
};

// The process-wide state, created at its first use.
AnalyzeState& Analysis();

// ---- Routines ----

// Reads PIXELPERINCH, GAIN, SEDGE and KEDGE of section "QUIRVELCAL" of the ini at `inifile`
// into PixelperInch (and CalPixelperInch), GGain, ADDEDGE and ADDEDGEK. Never fails: missing values take their
// defaults, a ruling calibration of 0 becomes 43000 and a gain below 10 becomes 10.
void LoadCal(const std::string& inifile, int32_t& GGain);
void LoadCal(AnalyzeState& st, const std::string& inifile, int32_t& GGain);

// Makes every pair of Imgseq span at least 8 steps within 0..18.
void CheckImgSeq();
void CheckImgSeq(TImgSeq& Imgseq);

// Discards the previous analysis result: frees the chains, clears the borrowed pointers and
// every label of the image area (the spare column and row are left alone).
void ClearResult();
void ClearResult(AnalyzeState& st);

}  // namespace analysis
