#pragma once
// The analysis drivers of the main window: one routine per measurement type that thresholds
// the current gray image, runs the detection, size, neighbour and population routines with
// the parameters of that type, leaves the result in the analysis state (GDotList, GResult,
// GAlternative / ActAlternative, GGrid) and hands over to the result presentation.
//
// The drivers belong to the main window but run without it: what they read of the window
// (its images, histogram and flags) comes in a TDriverContext, and what they ask of it (the
// cursor, the gauge, controls found by their names, the presentations, the frequency search)
// goes through TDriverHost, whose defaults do nothing so that a caller overrides only what it
// shows. This file holds the shared driver start and the drivers of the LAMS mask page.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/analyze.h"
#include "analysis/analyze_hist.h"
#include "platform/image/bitmap.h"
#include "platform/image/canvas.h"

namespace analysis {

// The analysis pages of the main window, in the order of their tabs.
enum class TAnalysisPage : int32_t { Mask = 0, Plate = 1, Structure = 2, Film = 3, Calibration = 4, Other = 127 };

// Fields of the main window the drivers read and write. The main window's own state is built on
// this record, so that a driver and the window's commands see one set of fields.
struct TDriverWindow {
  bool ImgCaptured = false;
  bool isDens = false;      // density mode: thresholds from the histogram, not local
  bool ManOn = false;       // manual dot editing
  bool LineOn = false;      // line measurement by mouse
  bool StatActive = false;  // results are added to the running statistic
  MType MESSTYPE = MT_NONE;  // type of the result shown (the measurement text line's letter)
  // The frequency search's peaks (radii in the 1024-point transform; maxf3 below 1 when there
  // is no third), the strongest amplitude, the peak width, and maxf in lines per cm.
  double maxa = 0;
  double maxf = 0;
  double maxf2 = 0;
  double maxf3 = 0;
  double maxb = 0;
  double maxfcm = 0;
  double GFScreen = 0;  // film screen period fixed by the operator, 0 none
  int16_t ZoomOn = 1;   // zoom factor of the display
};

// What the drivers ask of the main window. Controls are named as on the window.
class TDriverHost {
 public:
  virtual ~TDriverHost() = default;
  virtual void SetBusy(bool /*busy*/) {}  // hourglass while true
  virtual void SetGauge(int32_t /*percent*/) {}
  virtual void SetDown(std::string_view /*button*/, bool /*down*/) {}
  virtual void SetVisible(std::string_view /*control*/, bool /*visible*/) {}
  virtual void SetText(std::string_view /*control*/, const std::string& /*text*/) {}
  virtual std::string Text(std::string_view /*control*/) { return {}; }
  virtual bool Checked(std::string_view /*control*/) { return false; }
  // The analysis page the operator has open.
  virtual TAnalysisPage ActivePage() { return TAnalysisPage::Mask; }
  // The control's caption := the language text at offset of section, when the section exists.
  virtual void SetLanguageText(std::string_view /*control*/, std::string_view /*section*/, int32_t /*offset*/) {}
  // The language text at offset of section; empty when the section does not exist.
  virtual std::string LanguageText(std::string_view /*section*/, int32_t /*offset*/) { return {}; }
  virtual void RedrawZoom() {}  // the zoomed display from the gray image
  virtual void AddStatistic() {}
  // The frequency search on the gray image against ThImage: sets maxf, maxf2 and maxb of the
  // window; with Show it also displays the ring-filtered image.
  virtual int32_t GetMaxFreq(double& dx, double& dy, bool /*Show*/) {
    dx = dy = 0;
    return 0;
  }
  // Result presentations.
  virtual void ShowEmpty() {}
  virtual void ShowMaskAlternative(TSortedDotList* /*aList*/, int32_t /*mode*/, bool /*ShowGrid*/) {}
  virtual void ShowPlateStructAlternative(TSortedDotList* /*aList*/, int32_t /*mode*/, bool /*ShowGrid*/) {}
  virtual void ShowAlternative(TSortedDotList* /*aList*/, bool /*mask*/) {}
  virtual void ShowFilmAlternative(TSortedDotList* /*aList*/, bool /*inv*/, bool /*mask*/) {}
  // The canvas of the analysis image, for the overlays of the line measurement; nullptr when
  // there is none.
  virtual platform::Canvas* AnalyseCanvas() { return nullptr; }
  // Shows abmp on the analysis image at the display zoom (RedrawZoom shows the gray image).
  virtual void DrawZoomed(const platform::Bitmap& /*abmp*/) {}
  // The picture of the named image control becomes bmp.
  virtual void SetPicture(std::string_view /*control*/, platform::Bitmap /*bmp*/) {}
  // The path of a file of the program's home folder. A host without one cannot let a driver
  // write there: the default refuses.
  virtual std::string HomeFile(std::string_view name);
  // Refreshes the structure page's spectrum preview from the gray image.
  virtual void FFTAmplitudeChange() {}
};

// Everything a driver works on. dbmp is the gray image, rbmp the result image; both 24-bit.
struct TDriverContext {
  AnalyzeState& st;
  platform::Bitmap& dbmp;
  platform::Bitmap& rbmp;
  const THist& aHist;
  TMessung& MyMess;
  TDriverWindow& win;
  TDriverHost& host;
};

// The start every driver shares: hourglass, manual and line modes off with their buttons
// released, gauge 0, the previous result (grid included) cleared. The cursor returns to the
// default when the run ends, also when a step throws.
class TDriverRun {
 public:
  explicit TDriverRun(TDriverContext& c);
  ~TDriverRun();
  TDriverRun(const TDriverRun&) = delete;
  TDriverRun& operator=(const TDriverRun&) = delete;

 private:
  TDriverHost& host_;
};

// The hourglass for the time of a driver's steps; the cursor returns to the default when the
// steps end, also when one throws.
class TDriverBusy {
 public:
  explicit TDriverBusy(TDriverHost& host) : host_(host) { host_.SetBusy(true); }
  ~TDriverBusy() {
    try {
      host_.SetBusy(false);
    } catch (...) {
      // A destructor must not throw; the cursor is the window's to restore then.
    }
  }
  TDriverBusy(const TDriverBusy&) = delete;
  TDriverBusy& operator=(const TDriverBusy&) = delete;

 private:
  TDriverHost& host_;
};

// The display mode of a mask or structure presentation: 0 diameter, 1 size, 2 neither.
int32_t DisplayMode(TDriverHost& host, std::string_view diameterRB, std::string_view sizeRB);

// The mask threshold step on the working bitmap: density mode fills ThImage with
// (3 TH + l) div 4, UseLocalTH computes local thresholds, otherwise (3 TH + r) div 4.
void MaskThreshold(TDriverContext& c, const platform::Bitmap& work, bool UseLocalTH);

// Size limits of the mask dot collection's object filter.
struct TMaskSizeLimits {
  int32_t bsmall, bbig, wsmall, wbig;
};

// The dot collection of the mask, film and calibration drivers on the thresholded working
// bitmap: detection, the object filter (limits from `limits`, or from the mean dark and bright
// areas when nullptr), inner dots, mask dot sizes with edge weight ad, and one population of
// the dominating colour with its neighbours, period and angle. GDotList receives the dots;
// the returned population is owned by the caller.
TSortedDotList* GetMyDots(TDriverContext& c, const platform::Bitmap& work, double ad, const TMaskSizeLimits* limits);

// Splits GDotList by colour (the gauge then shows 60) and makes the population of the dark
// dots (`colour` true), of the bright ones (false) or of the dominating colour (unset), with
// its mean size and edge, count, neighbours, period and angle. The other colour's list is
// freed; the population is the caller's.
TSortedDotList* SplitPopulation(TDriverContext& c, std::optional<bool> colour);

// GetMyDots after a fresh ClearResult, then the chain dots set aside: the single population
// becomes GAlternative and ActAlternative and is returned.
TSortedDotList* CollectMaskPopulation(TDriverContext& c, const platform::Bitmap& work, double ad,
                                      const TMaskSizeLimits* limits);

// The expected ruling of a pixel-pattern edit: its number when it holds a positive one, else
// 1432.56 / LUnits; the edit then shows the value rounded to an integer.
double ExpectedRuling(TDriverContext& c, std::string_view edit);

// The lattice-cell measurement of a pixel pattern (mask and plate structure): the strongest
// spectral ring between bandCentre - 2 and bandCentre + 10 of the central 1024 columns gives
// the pattern's frequency and angle; the dots of the band-passed pattern are each measured
// as the bright part of their lattice cell on the image `prepare` returns (after it has
// filled ThImage). The population becomes GAlternative and ActAlternative and is returned;
// the grid is filled from its first member.
TSortedDotList* AnalyzeWSIPattern(TDriverContext& c, double bandCentre,
                                  const std::function<platform::Bitmap()>& prepare);

// LAMS dot area.
void AnalyzeMask(TDriverContext& c, bool UseLocalTH);
// LAMS pixel pattern.
void AnalyzeWSI(TDriverContext& c);
// What the line-pattern measurements of the mask and structure pages share: the black share
// p of the gray image, the result of the frequency search (with its display when drawAlways
// or when p < 1) and the two periods in mm (P1 from maxf, P2 from maxf2, 0 without a second
// peak).
struct TLinePattern {
  double p = 0;
  int32_t rc = 0;
  double P1 = 0;
  double P2 = 0;
};
// The shared steps: hourglass for their time, manual selection ended, gauge 0, result
// cleared, the caption (language text 20 of MEASRESULT) and the area label with p in percent,
// the frequency search against the global threshold, maxfcm, and in MyMess the dot area and,
// when a frequency was found, the line width P1 x p, both periods and both frequencies.
TLinePattern MeasureLinePattern(TDriverContext& c, std::string_view caption, std::string_view areaLabel,
                                bool drawAlways);

// LAMS line pattern (the speed button AutoLine); nothing without a captured image.
void AutoLineClick(TDriverContext& c);

// The three line-pattern labels for the unit system: PeriodeLabel, FreqLabel, LineWidthRes.
struct TLinePatternTexts {
  std::string Periode, Freq, LineWidth;
};
TLinePatternTexts LinePatternTexts(int32_t SUnits, int32_t Digits, double PixelperInch, double P1, double P2,
                                   double p, double maxfcm, double maxf2, double maxb);

}  // namespace analysis
