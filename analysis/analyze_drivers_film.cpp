#include "analysis/analyze_drivers_film.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "analysis/analyze_cells.h"
#include "analysis/analyze_dots.h"
#include "analysis/analyze_drivers_manual.h"
#include "analysis/analyze_drivers_plate.h"
#include "analysis/analyze_grid.h"
#include "analysis/analyze_population.h"
#include "analysis/analyze_threshold.h"
#include "analysis/myimage_filters.h"
#include "analysis/mymath.h"
#include "platform/base/numeric.h"

namespace analysis {

using platform::Bitmap;
using platform::Round;
using platform::TPoint;

namespace {

bool ClusterResult(const TDriverContext& c) { return c.MyMess.aType == MT_FILMCLUSTER; }

}  // namespace

void AnalyzeStandardFilm(TDriverContext& c) {
  TDriverRun run(c);
  AnalyzeState& st = c.st;
  {
    const Bitmap A = c.dbmp;
    if (c.win.isDens) {
      FillLocalTh(st, (3 * c.aHist.TH + c.aHist.l) / 4);
    } else {
      uint8_t contrast = 0;
      int32_t proc = 0;
      GetLocalTH(st, A, 255, 0, 255, contrast, proc, false, 256, 4);
    }
  }
  c.host.SetGauge(20);
  double aTol = 0;
  GetValue(c.host.Text("PlateDotTol"), aTol);
  // An edit holding "inf" or "nan" has no tolerance to round.
  if (!std::isfinite(aTol)) aTol = 0;
  c.win.maxf = 0;
  c.win.maxfcm = 0;
  const double screen = std::isfinite(c.win.GFScreen) ? c.win.GFScreen : 0;
  AnalyzeTRANSImage(st, c.dbmp, c.rbmp, Round(screen), [&c](int32_t v) { c.host.SetGauge(v); }, Round(aTol),
                    aTol >= 50, c.win.maxf, c.win.maxfcm);
  st.ActAlternative = st.GAlternative;
  c.host.ShowFilmAlternative(st.GAlternative, true, ClusterResult(c));
  c.host.SetGauge(100);
}

void AnalyzeFilm(TDriverContext& c, bool UseLocalTH, bool minidots) {
  TDriverRun run(c);
  const Bitmap work = c.dbmp;
  MaskThreshold(c, work, UseLocalTH);
  c.host.SetGauge(20);
  const TMaskSizeLimits limits =
      minidots ? TMaskSizeLimits{0, 120, 0, 120} : TMaskSizeLimits{100, 1000000, 100, 1000000};
  TSortedDotList* pop = CollectMaskPopulation(c, work, 0, &limits);
  c.host.ShowFilmAlternative(pop, false, ClusterResult(c));
  c.host.SetGauge(100);
}

void AnalyzeKFilm(TDriverContext& c, int32_t FilterTh) {
  TDriverRun run(c);
  AnalyzeState& st = c.st;
  Bitmap A = c.dbmp;
  // Bright gaps narrower than the window close, so that the dots of a cluster join.
  c.rbmp = c.dbmp;
  Dilatation(c.dbmp, A, 2, 6, FilterTh, 5);
  Dilatation(A, c.rbmp, 2, 3, FilterTh, 48);
  A = c.rbmp;
  c.rbmp = c.dbmp;
  FillLocalTh(st, 128);
  c.host.SetGauge(20);
  SizeTransmissionDots(c, A, st.ADDEDGE);
  st.GAlternative = GetAlternativen(st, st.GDotList, 10, 20, 0, false, 0, 0);
  st.ActAlternative = st.GAlternative;
  c.host.SetGauge(100);
  st.ResAvail = true;
  c.host.ShowFilmAlternative(st.ActAlternative, false, ClusterResult(c));
}

void AnalyzeCalTarget(TDriverContext& c) {
  TDriverRun run(c);
  const Bitmap work = c.dbmp;
  uint8_t contrast = 0;
  int32_t proc = 0;
  GetLocalTH(c.st, work, 200, 0, 170, contrast, proc, false, 256, 4);
  c.host.SetGauge(20);
  CollectMaskPopulation(c, work, 0, nullptr);
  c.host.SetGauge(100);
}

void FilmAlternativeClick(TDriverContext& c) {
  if (!c.win.ImgCaptured) return;
  AnalyzeState& st = c.st;
  c.win.ManOn = false;
  for (std::string_view b : {"ManPlatebtn", "ManMaskbtn", "ManFilmbtn"}) c.host.SetDown(b, false);
  if (st.ActAlternative) st.ActAlternative = st.ActAlternative->next ? st.ActAlternative->next : st.GAlternative;
  c.host.ShowFilmAlternative(st.ActAlternative, ClusterResult(c), false);
  c.win.MESSTYPE = c.MyMess.aType;
  c.host.SetVisible("FilmDotAreaPanel", true);
}

void FilmLinebtnClick(TDriverContext& c) { LineModeClick(c, TAnalysisPage::Film); }

namespace {

std::string_view LineLengthEdit(TAnalysisPage page) {
  switch (page) {
    case TAnalysisPage::Plate: return "FLineLenEdit";
    case TAnalysisPage::Mask: return "LineLenEdit";
    case TAnalysisPage::Structure: return "LineLenEditPlate";
    case TAnalysisPage::Film: return "FilmLineLenEdit";
    default: return {};
  }
}

std::string_view LineWidthLabel(TAnalysisPage page) {
  switch (page) {
    case TAnalysisPage::Plate: return "FLineWidthRes";
    case TAnalysisPage::Mask: return "LineWidthRes";
    case TAnalysisPage::Film: return "FilmLineWidthRes";
    default: return {};
  }
}

int32_t ZoomInt(double v) { return Round(v); }

}  // namespace

void CalcLine(TDriverContext& c, TPoint p1, TPoint p2) {
  AnalyzeState& st = c.st;
  c.rbmp = c.dbmp;
  const double zoom = c.win.ZoomOn;
  if (zoom > 1) {
    for (TPoint* p : {&p1, &p2}) {
      p->X = Round(p->X / zoom);
      p->Y = Round(p->Y / zoom);
    }
  }
  if (p2.X < p1.X) std::swap(p1, p2);
  // A click beside the image has no label to look up.
  const auto inside = [&c](TPoint p) {
    return p.X >= 0 && p.Y >= 0 && p.X < std::min(ImWidth, c.dbmp.Width()) && p.Y < std::min(ImHeight, c.dbmp.Height());
  };
  if (!inside(p1) || !inside(p2)) return;

  const uint16_t v1 = st.GResult[p1.X][p1.Y], v2 = st.GResult[p2.X][p2.Y];
  TDot* aDot = GetDot(st.GDotList, v1);
  TDot* bDot = GetDot(st.GDotList, v2);
  if (!aDot || !bDot) return;

  const int32_t ym = (p1.Y + p2.Y) / 2;
  TPoint pc;
  if (v1 == v2) {
    // The middle of the first foreign run on the middle row.
    int32_t x1 = p1.X + 1;
    while (x1 < p2.X && LabelOf(st.GResult[x1][ym]) == LabelOf(v1)) ++x1;
    const uint16_t l1 = LabelOf(st.GResult[x1][ym]);
    int32_t x2 = x1;
    while (x2 < p2.X && LabelOf(st.GResult[x2][ym]) == l1) ++x2;
    pc = {(x1 + x2) / 2, ym};
  } else if (p1.X < p2.X) {
    pc = {(aDot->Outrect.Right + bDot->Outrect.Left) / 2, ym};
  } else {
    pc = {(aDot->Outrect.Left + bDot->Outrect.Right) / 2, ym};
  }

  double L = 500;
  if (const std::string_view edit = LineLengthEdit(c.host.ActivePage()); !edit.empty()) {
    L = 0;
    GetValue(c.host.Text(edit), L);
  }
  if (!(L >= 300)) L = 300;
  c.MyMess.LineLenght = L * 0.001 * 0.5 * st.PixelperInch / 10;
  const double cr = st.PixelperInch * L * 0.001 * 0.5 / st.DUnits;

  platform::Extended m0 = 0, c0 = 0, m1 = 0, c1 = 0, d = 0;
  int32_t res;
  if (std::abs(p1.X - p2.X) <= 9)
    res = DrawLine(c.rbmp, aDot, st.GResult, 0, 255, 0, aDot->Outrect, p1, cr, m0, c0, m1, c1, d);
  else
    res = DrawNotLine(c.rbmp, aDot, bDot, st.GResult, 0, 255, 0, {p1.X, 1, p2.X - 1, 1021}, pc, cr, m0, c0, m1, c1,
                      d);
  if (res == 0) return;

  if (platform::Canvas* canvas = c.host.AnalyseCanvas()) {
    const double z = zoom;
    canvas->StretchDraw({0, 0, ZoomInt(z * ImWidth), ZoomInt(z * ImHeight)}, c.rbmp);
    canvas->Pen().Width = 1;
    canvas->Pen().Color = platform::clBlack;
    for (const auto& [m, k] : {std::pair{m0, c0}, std::pair{m1, c1}}) {
      const double md = static_cast<double>(m), kd = static_cast<double>(k);
      if (res == -1) {
        canvas->MoveTo(ZoomInt(kd * z), 0);
        canvas->LineTo(ZoomInt((md * ImHeight + kd) * z), ZoomInt(z * ImHeight));
      } else {
        canvas->MoveTo(0, ZoomInt(kd * z));
        canvas->LineTo(ZoomInt(z * ImWidth), ZoomInt((md * ImWidth + kd) * z));
      }
    }
  }
  const double dd = static_cast<double>(d);
  c.MyMess.LineWidth = dd * 1000 * 25.4 / st.PixelperInch;
  if (const std::string_view label = LineWidthLabel(c.host.ActivePage()); !label.empty())
    c.host.SetText(label, SetVal(dd * 1000 * st.DUnits / st.PixelperInch, st.Digits));
}

}  // namespace analysis
