#include "analysis/analyze_drivers_plate.h"

#include "analysis/analyze_dots.h"
#include "analysis/analyze_dotsize.h"
#include "analysis/analyze_population.h"
#include "analysis/analyze_threshold.h"
#include "analysis/myimage.h"
#include "analysis/myimage_filters.h"
#include "platform/base/numeric.h"

namespace analysis {

using platform::Bitmap;
using platform::Round;

void AnalyzeKPlate(TDriverContext& c, int32_t /*FilterTh*/, int32_t P, int32_t aTol, int32_t Screening) {
  TDriverRun run(c);
  AnalyzeState& st = c.st;
  Bitmap A = c.dbmp;
  uint8_t contrast = 0;
  int32_t proc = 0;
  GetLocalTH(st, A, 255, 0, 170, contrast, proc, false, 256, 4);
  if (P > 0) {
    // Closes the dark texture inside a bright dot: every pixel with a few bright pixels
    // around it turns bright, then the dot's rim is taken back.
    c.rbmp = c.dbmp;
    DilatationLTH(c.dbmp, A, st.ThImage, 2, 9, 2);
    DilatationLTH(A, c.rbmp, st.ThImage, 2, 3, 47);
    A = c.rbmp;
    FillLocalTh(st, 128);
  }
  c.rbmp = c.dbmp;
  c.host.SetGauge(20);
  SizeTransmissionDots(c, A, c.host.Checked(StructureFlagCaption) ? 0.0 : st.ADDEDGEK);

  st.GAlternative = GetAlternativen(st, st.GDotList, aTol, 2 * aTol, Screening, aTol > 50, 0, 0);
  st.ActAlternative = st.GAlternative;
  c.host.SetGauge(100);
  st.ResAvail = true;
  c.host.ShowAlternative(st.ActAlternative, c.MyMess.aType == MT_PLATESDOT);
  c.host.SetGauge(100);
}

void SizeTransmissionDots(TDriverContext& c, const Bitmap& A, double E) {
  AnalyzeState& st = c.st;
  st.GDotList = GetDots(st, A, c.rbmp, st.GResult, st.ThImage, 0, {10, 10, c.rbmp.Width(), c.rbmp.Height()});
  st.GDotList = RemoveSmallObjects(st.GDotList, st.GDotList, st.GResult, 3);
  c.host.SetGauge(50);
  GetAllInnerDotsRec(st.GDotList, st.GResult);
  st.MaxDot = nullptr;
  for (TDot* d = st.GDotList; d; d = d->next) {
    if (d->border) continue;
    int32_t area = 0, edge = 0;
    GetDotSize(d, A, st.GResult, 255, 0, area, edge);
    d->fsize = Round(area + edge * E);
    d->fedge = edge;
    if (!st.MaxDot || d->fsize > st.MaxDot->fsize) st.MaxDot = d;
  }
  c.host.SetGauge(80);
}

void AnalyzeWSIPlate(TDriverContext& c) {
  TDriverRun run(c);
  c.host.RedrawZoom();
  const double q = ExpectedRuling(c, "WSILcmPlate");
  const double P = c.st.PixelperInch / (q * c.st.LUnits);
  // The spectral search runs around the frequency of the expected period, as on the mask page.
  TSortedDotList* pop = AnalyzeWSIPattern(c, 1024 / P, [&c] {
    Bitmap A = c.dbmp;
    if (c.win.isDens) {
      FillLocalTh(c.st, c.aHist.TH);
    } else {
      TexturKontrast(c.dbmp, A, 1, 7);
      InvImg(A, A);
      uint8_t contrast = 0;
      int32_t proc = 0;
      GetLocalTH(c.st, A, 200, 0, 170, contrast, proc, false, 256, 4);
    }
    return A;
  });
  pop->next = nullptr;
  c.host.ShowPlateStructAlternative(pop, DisplayMode(c.host, "DiameterRBPlate", "SizeRBPlate"), true);
  c.host.SetGauge(100);
}

}  // namespace analysis
