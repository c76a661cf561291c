#include "analysis/analyze_drivers_manual.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/analyze_dots.h"
#include "analysis/analyze_dotsize.h"
#include "analysis/analyze_grid.h"
#include "analysis/analyze_threshold.h"
#include "analysis/mymath.h"
#include "platform/base/numeric.h"

namespace analysis {

using platform::Bitmap;
using platform::Round;
using platform::TPoint;

namespace {

// The controls of a page's manual selection and line mode.
struct ManualPage {
  std::string_view manualButton;
  MType manualType;
  std::string_view lineButton;
  MType lineType;
};

ManualPage Controls(TAnalysisPage page) {
  switch (page) {
    case TAnalysisPage::Plate: return {"ManPlatebtn", MT_PLATEDOT, "FLinebtn", MT_PLATELINE};
    case TAnalysisPage::Film: return {"ManFilmbtn", MT_FILMDOT, "FilmLinebtn", MT_FILMLINE};
    default: return {"ManMaskbtn", MT_LAMSDOT, "LineBtn", MT_LAMSLINE};
  }
}

void SetType(TDriverContext& c, MType type) {
  c.win.MESSTYPE = type;
  c.MyMess.aType = type;
}

// The dots of the whole gray image into GDotList and GResult (edges drawn into rbmp).
void DetectAll(TDriverContext& c, const Bitmap& from) {
  c.st.GDotList = GetDots(c.st, from, c.rbmp, c.st.GResult, c.st.ThImage, 0, {0, 0, ImWidth, ImHeight});
}

}  // namespace

void SwitchModesOff(TDriverContext& c) {
  c.win.ManOn = false;
  c.win.LineOn = false;
  for (std::string_view b : {"ManMaskbtn", "ManPlatebtn", "ManFilmbtn", "LineBtn", "FLinebtn", "FilmLinebtn"})
    c.host.SetDown(b, false);
  c.host.SetVisible("FilmParameterPages", false);
}

TSortedDotList* ManualDots(TDriverContext& c, TAnalysisPage page) {
  AnalyzeState& st = c.st;
  DetectAll(c, c.dbmp);
  c.host.SetGauge(page == TAnalysisPage::Film ? 40 : 20);
  for (TDot* d = st.GDotList; d; d = d->next) {
    if (d->border) continue;
    switch (page) {
      case TAnalysisPage::Plate: GetDotSize(d, c.dbmp, st.GResult, 255, 0, d->fsize, d->fedge); break;
      case TAnalysisPage::Film:
        GetDotSize(d, c.dbmp, st.GResult, 255, 0, d->fsize, d->fedge);
        d->fsize += 2 * d->fedge;
        break;
      default: GetDotSizeMask(d, st.GResult, d->fsize, st.ADDEDGE, d->fedge); break;
    }
  }
  if (page == TAnalysisPage::Plate) {
    // The plate weighs the edge of every dot, border dots too.
    for (TDot* d = st.GDotList; d; d = d->next) d->fsize = Round(d->fsize + d->fedge * st.ADDEDGE);
  }
  c.host.SetGauge(50);
  return NewSortedDotList(false);
}

void ManualSelectionClick(TDriverContext& c, TAnalysisPage page) {
  if (!c.win.ImgCaptured) return;
  AnalyzeState& st = c.st;
  const ManualPage controls = Controls(page);
  if (c.win.ManOn) {
    SwitchModesOff(c);
  } else {
    {
      const TDriverBusy busy(c.host);
      c.host.SetDown(controls.manualButton, true);
      c.host.SetGauge(0);
      ClearResult(st);
      switch (page) {
        case TAnalysisPage::Plate: FillLocalTh(st, c.aHist.TH); break;
        case TAnalysisPage::Film: FillLocalTh(st, (3 * c.aHist.TH + c.aHist.l) / 4); break;
        default: MaskThreshold(c, c.dbmp, false); break;
      }
      TSortedDotList* pop = ManualDots(c, page);
      if (page != TAnalysisPage::Plate) {
        IgnoreChainDots(pop);
        c.host.SetGauge(80);
      }
      pop->next = nullptr;
      st.GAlternative = st.ActAlternative = pop;
      switch (page) {
        case TAnalysisPage::Plate: c.host.ShowAlternative(pop, c.MyMess.aType == MT_PLATESDOT); break;
        case TAnalysisPage::Film: c.host.ShowFilmAlternative(pop, true, c.MyMess.aType == MT_FILMCLUSTER); break;
        default: c.host.ShowMaskAlternative(pop, DisplayMode(c.host, "DiameterRB", "SizeRB"), false); break;
      }
      c.host.SetGauge(100);
      c.win.ManOn = true;
    }
    if (page == TAnalysisPage::Mask && c.win.StatActive) c.host.AddStatistic();
  }
  switch (page) {
    case TAnalysisPage::Plate: c.host.SetVisible("PDotAreaPanel", true); break;
    case TAnalysisPage::Film: c.host.SetVisible("FilmDotAreaPanel", true); break;
    default:
      c.host.SetVisible("MaskValues", true);
      for (std::string_view p : {"LAMSDotAreaPanel", "LAMSDotDetailspanel", "LAMSSRPanel"}) c.host.SetVisible(p, true);
      break;
  }
  SetType(c, controls.manualType);
}

void LineModeClick(TDriverContext& c, TAnalysisPage page) {
  if (!c.win.ImgCaptured) return;
  AnalyzeState& st = c.st;
  const ManualPage controls = Controls(page);
  if (c.win.LineOn) {
    SwitchModesOff(c);
  } else {
    {
      const TDriverBusy busy(c.host);
      c.win.LineOn = true;
      c.host.SetDown(controls.lineButton, true);
      c.host.SetGauge(0);
      // The plate page clears its result display before the detection, the others after it.
      if (page == TAnalysisPage::Plate) c.host.ShowEmpty();
      ClearResult(st);
      FillLocalTh(st, c.aHist.TH);
      DetectAll(c, c.dbmp);
      c.host.RedrawZoom();
      c.host.SetGauge(100);
      if (page != TAnalysisPage::Plate) c.host.ShowEmpty();
    }
    if (page == TAnalysisPage::Mask) c.host.SetVisible("LamsLineWidthPanel", true);
    if (page == TAnalysisPage::Film) {
      c.host.SetVisible("FilmLineWidthPanel", true);
      c.host.SetVisible("FilmParameterPages", true);
    }
  }
  if (page == TAnalysisPage::Plate) {
    c.host.SetVisible("PLinePanel", true);
  } else {
    c.host.SetVisible("MaskValues", false);
  }
  SetType(c, controls.lineType);
}

TSortedDotList* BurlDots(TDriverContext& c, const Bitmap& C, int32_t thBar, int32_t& count) {
  AnalyzeState& st = c.st;
  DetectAll(c, C);
  c.host.SetGauge(20);

  // The largest burl: a circle of the diameter SizeLimit (µm). A limit too large for the
  // pixel count keeps every burl.
  const double r = GetVal(c.host.Text("SizeLimit")) * st.PixelperInch / 25400 / 2;
  const double large = std::numbers::pi * r * r;
  const int32_t largest = std::isfinite(large) ? Round(std::clamp(large, -2e9, 2e9)) : 2000000000;
  st.GDotList = RemoveLargeObjects(st.GDotList, st.GDotList, st.GResult, true, 10, largest);

  c.rbmp = c.dbmp;
  for (TDot* d = st.GDotList; d; d = d->next) {
    if (d->isblack || d->border) continue;
    GetDotSizeMask(d, st.GResult, d->fsize, 0, d->fedge);
    const double b = thBar;
    d->fsize = thBar > 0 ? Round(d->fsize + d->fedge - b * d->fedge / 20)
                         : Round(d->fsize + d->fedge - b * d->fedge / 40);
  }
  c.host.SetGauge(50);
  TSortedDotList* pop = SplitPopulation(c, false);
  count = pop->Count;
  return pop;
}

void MakeAlternativeHead(AnalyzeState& st, TSortedDotList* pop) {
  st.ActAlternative = pop;
  if (!pop || pop == st.GAlternative) {
    if (pop) st.GAlternative = pop;
    return;
  }
  bool inChain = false;
  for (TSortedDotList* l = st.GAlternative; l; l = l->next) {
    if (l == pop) {
      inChain = true;
      break;
    }
  }
  TSortedDotList* retired = st.GAlternative;
  if (inChain) {
    // The populations before pop leave the chain as a chain of their own.
    TSortedDotList* before = pop->prev;
    if (!before || before->next != pop) {
      before = st.GAlternative;
      while (before->next != pop) before = before->next;
    }
    before->next = nullptr;
  }
  pop->prev = nullptr;
  st.GAlternative = pop;
  if (!retired) return;
  retired->prev = nullptr;
  if (!st.RetiredAlternatives) {
    st.RetiredAlternatives = retired;
  } else {
    TSortedDotList* tail = st.RetiredAlternatives;
    while (tail->next) tail = tail->next;
    tail->next = retired;
  }
}

bool EditAlternative(AnalyzeState& st, TPoint p, bool ctrl, bool shift, bool manual) {
  TSortedDotList* pop = st.ActAlternative;
  if (!pop) return false;
  if (p.X < 0 || p.Y < 0 || p.X >= ImWidth || p.Y >= ImHeight) return false;
  // An edge pixel carries its edge bits and so names no dot.
  TDot* d = GetDot(st.GDotList, st.GResult[p.X][p.Y]);
  if (!d) return false;
  bool changed = false;
  const bool member = DotInSortedDotList(d->ID, pop);
  if ((ctrl || manual) && (d->isblack == pop->isBlack || pop->Count == 0) && !member && !d->border) {
    st.GDot = d;
    MakeAlternativeHead(st, AddDotToAlternative(st, pop, d));
    changed = true;
  } else if ((shift || manual) && member) {
    RemoveDotbyID(pop, d->ID);
    CalculateAlternativeResult(st, pop);
    changed = true;
  }
  st.GDot = nullptr;
  return changed;
}

}  // namespace analysis
