#include "analysis/analyze_drivers_mask.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <optional>
#include <stdexcept>

#include "analysis/analyze_cells.h"
#include "analysis/analyze_dots.h"
#include "analysis/analyze_dotsize.h"
#include "analysis/analyze_grid.h"
#include "analysis/analyze_neighbours.h"
#include "analysis/analyze_threshold.h"
#include "analysis/my_fft.h"
#include "analysis/mymath.h"
#include "platform/base/numeric.h"

namespace analysis {

std::string TDriverHost::HomeFile(std::string_view name) {
  throw std::logic_error("The window has no home folder to write " + std::string(name) + " into");
}

using platform::Bitmap;
using platform::Round;

TDriverRun::TDriverRun(TDriverContext& c) : host_(c.host) {
  host_.SetBusy(true);
  c.win.ManOn = false;
  c.win.LineOn = false;
  for (std::string_view b : {"ManPlatebtn", "ManMaskbtn", "LineBtn", "FLinebtn"}) host_.SetDown(b, false);
  host_.SetGauge(0);
  // ClearResult clears the grid with the dots its cells point to.
  ClearResult(c.st);
}

TDriverRun::~TDriverRun() {
  try {
    host_.SetBusy(false);
  } catch (...) {
    // A destructor must not throw; the cursor is the window's to restore then.
  }
}

int32_t DisplayMode(TDriverHost& host, std::string_view diameterRB, std::string_view sizeRB) {
  if (host.Checked(diameterRB)) return 0;
  if (host.Checked(sizeRB)) return 1;
  return 2;
}

void MaskThreshold(TDriverContext& c, const Bitmap& work, bool UseLocalTH) {
  if (c.win.isDens) {
    FillLocalTh(c.st, (3 * c.aHist.TH + c.aHist.l) / 4);
  } else if (UseLocalTH) {
    uint8_t contrast = 0;
    int32_t proc = 0;
    GetLocalTH(c.st, work, 200, 0, 255, contrast, proc, false, 256, 4);
  } else {
    FillLocalTh(c.st, (3 * c.aHist.TH + c.aHist.r) / 4);
  }
}

TSortedDotList* GetMyDots(TDriverContext& c, const Bitmap& work, double ad, const TMaskSizeLimits* limits) {
  AnalyzeState& st = c.st;
  st.GDotList = GetDots(st, work, c.rbmp, st.GResult, st.ThImage, 0, {0, 0, ImWidth, ImHeight});
  c.host.SetGauge(20);

  TMaskSizeLimits lim{};
  if (limits) {
    lim = *limits;
  } else {
    // An image without dots of a colour has no mean area; its limits then stay 0.
    double sb = 0, sw = 0;
    int32_t nb = 0, nw = 0;
    for (TDot* d = st.GDotList; d; d = d->next) {
      if (d->border || d->area <= 3) continue;
      if (d->isblack) {
        sb += d->area;
        ++nb;
      } else {
        sw += d->area;
        ++nw;
      }
    }
    const double Ab = nb ? sb / nb : 0, Aw = nw ? sw / nw : 0;
    lim = {Round(0.1 * Ab), Round(3 * Ab), Round(0.01 * Aw), Round(3 * Aw)};
  }
  st.GDotList = RemoveSmallBigObjects(st.GDotList, st.GDotList, st.GResult, lim.bsmall, lim.bbig, lim.wsmall,
                                      lim.wbig);
  GetAllInnerDots(st.GDotList, st.GResult);
  c.host.SetGauge(30);

  for (TDot* d = st.GDotList; d; d = d->next) GetDotSizeMask(d, st.GResult, d->fsize, ad, d->fedge);
  c.host.SetGauge(50);

  return SplitPopulation(c, std::nullopt);
}

TSortedDotList* SplitPopulation(TDriverContext& c, std::optional<bool> colour) {
  TDotList *wList = nullptr, *bList = nullptr;
  platform::Extended warea = 0, wedge = 0, barea = 0, bedge = 0;
  int32_t wcount = 0, bcount = 0;
  const bool dominant = GetSortedDotListMask(c.st.GDotList, wList, bList, warea, wedge, barea, bedge, wcount, bcount);
  c.host.SetGauge(60);

  const bool dark = colour.value_or(dominant);
  TSortedDotList* pop = NewSortedDotList(dark);
  if (dark) {
    pop->area = static_cast<double>(barea);
    pop->edgelen = static_cast<double>(bedge);
    pop->Count = bcount;
    pop->dots = bList;
    FreeDotListSimple(wList);
  } else {
    pop->area = static_cast<double>(warea);
    pop->edgelen = static_cast<double>(wedge);
    pop->Count = wcount;
    pop->dots = wList;
    FreeDotListSimple(bList);
  }
  GetNachbarn(pop, pop->dots);
  pop->distance = GetNachbarAbstand(pop->dots, pop->alpha, 1.25, 5);
  return pop;
}

TSortedDotList* CollectMaskPopulation(TDriverContext& c, const Bitmap& work, double ad,
                                      const TMaskSizeLimits* limits) {
  ClearResult(c.st);
  TSortedDotList* pop = GetMyDots(c, work, ad, limits);
  c.st.GAlternative = c.st.ActAlternative = pop;
  c.host.SetGauge(50);
  IgnoreChainDots(pop);
  c.host.SetGauge(80);
  pop->next = nullptr;
  return pop;
}

void AnalyzeMask(TDriverContext& c, bool UseLocalTH) {
  TDriverRun run(c);
  const Bitmap work = c.dbmp;
  MaskThreshold(c, work, UseLocalTH);
  c.host.SetGauge(20);
  TSortedDotList* pop = CollectMaskPopulation(c, work, c.st.ADDEDGE, nullptr);
  c.host.ShowMaskAlternative(pop, DisplayMode(c.host, "DiameterRB", "SizeRB"), false);
  c.host.SetGauge(100);
}

double ExpectedRuling(TDriverContext& c, std::string_view edit) {
  double q = 0;
  const std::string text = c.host.Text(edit);
  if (!text.empty()) GetValue(text, q);
  // A ruling of 0 or below has no period; such an entry counts as no entry.
  if (!(q > 0) || !std::isfinite(q)) q = 1432.56 / c.st.LUnits;
  c.host.SetText(edit, std::to_string(static_cast<long long>(platform::Round64(q))));
  return q;
}

TSortedDotList* AnalyzeWSIPattern(TDriverContext& c, double bandCentre, const std::function<Bitmap()>& prepare) {
  AnalyzeState& st = c.st;
  MyFFTState& fft = FFTState();
  constexpr int32_t N = 1024, X0 = 128;

  Bitmap work(N, N);
  const int32_t rows = std::min(N, c.dbmp.Height());
  const int32_t cols = std::clamp(c.dbmp.Width() - X0, 0, N);
  for (int32_t y = 0; y < rows && cols > 0; ++y)
    std::copy_n(c.dbmp.ScanLine(y) + 3 * X0, 3 * cols, work.ScanLine(y));

  SetImageToComplex(work, fft.iComp, N, N, 0);
  c.host.SetGauge(3);
  FFT2D(&fft.iComp, N, N, 1);
  c.host.SetGauge(14);

  double w = 0;
  const double fmax = GetMaxAmp(N, bandCentre - 2, bandCentre + 10, w, fft.iComp);
  double a = w * -180 / std::numbers::pi;
  while (a > 90) a -= 90;
  while (a < 0) a += 90;

  BandPassFilterTimes(N, fft.iComp, fmax - 4, fmax + 5);
  c.host.SetGauge(17);
  FFT2D(&fft.iComp, N, N, -1);
  SetComplexToImage(work, fft.iComp, N, N, 3);
  const int32_t t = GetFFTTH(work, {0, 0, N - 1, N - 1}, 0.8);
  SetComplexToImageBin(work, fft.iComp, N, N, 3, t);
  c.host.SetGauge(31);

  FillLocalTh(st, 128);
  st.GDotList = GetDots(st, work, c.rbmp, st.GResult, st.ThImage, 0, {0, 0, N, N});
  c.host.SetGauge(44);

  const Bitmap cells = prepare();
  for (int32_t x = 0; x <= ImWidth; ++x) std::fill_n(st.GResult[x], ImHeight + 1, uint16_t{0});

  TSortedDotList* pop = NewSortedDotList(false);
  st.GAlternative = st.ActAlternative = pop;
  pop->distance = fmax - 3;
  pop->alpha = a;
  const double s = std::abs(std::numbers::sqrt2 * (fmax - 3) / 2);
  double sumSize = 0, sumEdge = 0;
  TDot* first = nullptr;
  for (TDot* d = st.GDotList; d; d = d->next) {
    if (d->border || d->isblack) continue;
    if (!GetDotInCellPolygon(st, cells, d, X0, s, a, 0, st.GResult, st.ThImage)) continue;
    pop->dots = NewDotList(d, pop->dots);
    sumSize += d->fsize;
    sumEdge += d->fedge;
    ++pop->Count;
    if (!first) first = d;
  }
  c.host.SetGauge(93);
  // Without members there is no mean; the population stays empty.
  if (pop->Count > 0) {
    pop->area = sumSize / pop->Count;
    pop->edgelen = sumEdge / pop->Count;
  }
  GetNachbarn(pop, pop->dots);
  pop->distance = GetNachbarAbstand(pop->dots, pop->alpha, 1.25, 5);
  if (first) FillGrid(st.GGrid, pop, first->swp.X, first->swp.Y);
  c.host.SetGauge(98);
  return pop;
}

void AnalyzeWSI(TDriverContext& c) {
  TDriverRun run(c);
  c.host.RedrawZoom();
  const double q = ExpectedRuling(c, "WSILcm");
  const double P = c.st.PixelperInch / (q * c.st.LUnits);
  const double F = 1024 / P;
  TSortedDotList* pop = AnalyzeWSIPattern(
      c, F,
      [&c] {
        Bitmap a = c.dbmp;
        if (c.win.isDens) {
          FillLocalTh(c.st, c.aHist.TH);
        } else {
          uint8_t contrast = 0;
          int32_t proc = 0;
          GetLocalTH(c.st, a, 200, 0, 170, contrast, proc, false, 256, 4);
        }
        // The cells of the mask are measured on the gray image itself.
        return c.dbmp;
      });
  pop->next = nullptr;
  c.host.ShowMaskAlternative(pop, DisplayMode(c.host, "DiameterRB", "SizeRB"), true);
  c.host.SetGauge(100);
}

TLinePatternTexts LinePatternTexts(int32_t SUnits, int32_t Digits, double PixelperInch, double P1, double P2,
                                   double p, double maxfcm, double maxf2, double maxb) {
  const auto v = [Digits](double x) { return SetVal(x, Digits); };
  TLinePatternTexts t;
  if (SUnits == 1) {
    t.Periode = v(P1 * 1000 / 25.4) + " - " + v(P2 * 1000 / 25.4) + " mil";
    t.Freq = v(maxfcm * 2.54) + " - " + v(maxf2 * PixelperInch / 1024) + " LPI";
    t.LineWidth = v(P1 * 1000 * p / 25.4) + " \u00B1 " + v(maxb / 2 * 1000 / PixelperInch);
  } else {
    t.Periode = v(P1 * 1000) + " - " + v(P2 * 1000) + " \u00B5m";
    if (SUnits == 2)
      t.Freq = v(maxfcm * 2.54) + " - " + v(maxf2 * PixelperInch / 1024) + " LPI";
    else
      t.Freq = v(maxfcm) + " - " + v(maxf2 * PixelperInch / 2600.96) + " L/cm";
    t.LineWidth = v(P1 * 1000 * p) + " \u00B1 " + v(maxb / 2 * 1000 * 25.4 / PixelperInch);
  }
  return t;
}

TLinePattern MeasureLinePattern(TDriverContext& c, std::string_view caption, std::string_view areaLabel,
                                bool drawAlways) {
  AnalyzeState& st = c.st;
  TDriverWindow& win = c.win;
  const TDriverBusy busy(c.host);
  win.ManOn = false;
  c.host.SetDown("ManPlatebtn", false);
  c.host.SetDown("ManMaskbtn", false);
  c.host.SetGauge(0);
  ClearResult(st);
  c.host.ShowEmpty();
  c.host.SetLanguageText(caption, "MEASRESULT", 20);

  TLinePattern r;
  r.p = 1 - GetWProc(c.dbmp, c.aHist.TH, 0);
  c.host.SetText(areaLabel, SetVal(100 * r.p, st.Digits) + "%");
  c.MyMess.DotArea = 100 * r.p;

  FillLocalTh(st, c.aHist.TH);
  double dx = 0, dy = 0;
  r.rc = c.host.GetMaxFreq(dx, dy, drawAlways || r.p < 1);
  win.maxfcm = win.maxf * st.PixelperInch / 2600.96;

  if (win.maxf > 0) {
    r.P1 = 1024 / win.maxf * 25.4 / st.PixelperInch;
    // Without a second peak there is no second period (rather than an infinite one).
    r.P2 = win.maxf2 > 0 ? 1024 / win.maxf2 * 25.4 / st.PixelperInch : 0;
    c.MyMess.LineWidth = r.P1 * 1000 * r.p;
    c.MyMess.Periode1 = r.P1 * 1000;
    c.MyMess.Periode2 = r.P2 * 1000;
    c.MyMess.Freq1 = win.maxfcm;
    c.MyMess.Freq2 = st.PixelperInch * win.maxf2 / 2600.96;
  }
  return r;
}

void AutoLineClick(TDriverContext& c) {
  if (!c.win.ImgCaptured) return;
  AnalyzeState& st = c.st;
  TDriverWindow& win = c.win;
  const TLinePattern r = MeasureLinePattern(c, "DotAreaCapMask", "MaskDotAreaRes", true);
  if (win.maxf > 0) {
    if (c.host.ActivePage() == TAnalysisPage::Mask) {
      const TLinePatternTexts t =
          LinePatternTexts(st.SUnits, st.Digits, st.PixelperInch, r.P1, r.P2, r.p, win.maxfcm, win.maxf2, win.maxb);
      c.host.SetText("PeriodeLabel", t.Periode);
      c.host.SetText("FreqLabel", t.Freq);
      c.host.SetText("LineWidthRes", t.LineWidth);
    }
    c.MyMess.LineTol = win.maxb / 2 * 1000 * 25.4 / st.PixelperInch;
  }
  c.host.SetVisible("MaskValues", false);
  c.host.SetVisible("LAMSDotAreaPanel", true);
  c.host.SetVisible("LamsLineWidthPanel", true);
  c.host.SetVisible("LAMSFreqPanel", true);
  c.host.SetVisible("LAMSSRPanel", false);
  win.MESSTYPE = MT_LAMSMG;
  c.MyMess.aType = MT_LAMSMG;
  if (win.StatActive) c.host.AddStatistic();
}

}  // namespace analysis
