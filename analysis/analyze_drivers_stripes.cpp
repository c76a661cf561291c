#include "analysis/analyze_drivers_stripes.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "analysis/analyze_threshold.h"
#include "analysis/myimage_filters.h"
#include "analysis/myimage_hist.h"
#include "analysis/mymath.h"
#include "platform/base/number_format.h"
#include "platform/base/numeric.h"
#include "platform/image/bmp_codec.h"
#include "platform/image/canvas.h"

namespace analysis {

using platform::Bitmap;
using platform::Round;

namespace {

// The part of the image the threshold image covers.
int32_t MeasuredWidth(const Bitmap& A) { return std::min(A.Width(), ImWidth); }
int32_t MeasuredHeight(const Bitmap& A) { return std::min(A.Height(), ImHeight); }

// The centre of von..bis weighted with the squared entries. The column sums of the start
// search reach 926 x 255, whose squares do not fit the 32 bits of getSchwerpunkt: here they are
// formed in 64 bits (and summed exactly), so that the centre is that of the sums as they are.
double SquaredCentre(std::span<const uint64_t> list, int32_t von, int32_t bis) {
  von = std::max(von, 0);
  bis = std::min(bis, static_cast<int32_t>(list.size()) - 1);
  long double weighted = 0, total = 0;
  for (int32_t i = von; i <= bis; ++i) {
    const long double w = static_cast<long double>(list[static_cast<size_t>(i)]) * list[static_cast<size_t>(i)];
    weighted += i * w;
    total += w;
  }
  if (weighted == 0) return 0;
  return static_cast<double>(weighted / total);
}

}  // namespace

int32_t StripeGray(int32_t value) { return std::clamp(Round(value * 255.0 / 1000), 0, 255); }

int32_t StripeDark(int32_t gray) { return 100 - Round(gray * 100.0 / 255); }

int32_t StripeStartColumn(const Bitmap& A) {
  const int32_t W = MeasuredWidth(A), H = MeasuredHeight(A);
  constexpr int32_t dim = StripeDim;
  constexpr int32_t span = 2 * dim + 1;
  int32_t x0 = W / 2;
  std::array<uint64_t, span> profile{};
  for (int32_t j = 0; j <= 10; ++j) {
    profile.fill(0);
    const int32_t first = x0 - dim;
    const int32_t k0 = std::max(0, -first), k1 = std::min(span - 1, W - 1 - first);
    for (int32_t y = dim + 1; y <= H - dim - 2; ++y) {
      const int32_t row = y + j;
      if (row < 0 || row >= H) continue;
      const uint8_t* line = A.ScanLine(row);
      for (int32_t k = k0; k <= k1; ++k) profile[static_cast<size_t>(k)] += 255u - line[3 * (first + k)];
    }
    const int32_t next = Round(SquaredCentre(profile, 0, span - 1));
    if (next == x0) break;
    x0 = next;
  }
  return x0;
}

void MakeStripeRaster(const Bitmap& A, const TIntImage& th, double PixelperInch, int32_t x0, TStripeRaster& r,
                      const std::function<void(int32_t)>& progress) {
  constexpr int32_t dim = StripeDim;
  const int32_t W = MeasuredWidth(A), H = MeasuredHeight(A);
  r = TStripeRaster();
  r.step = PixelperInch * 10 / 25400;
  if (!(r.step > 0) || !std::isfinite(r.step) || W <= 0 || H <= 0) return;

  // The raster stops at the table's edge, however fine the step.
  for (int32_t k = 0; k < StripeMaxCols; ++k) {
    const int32_t x = x0 + Round(k * r.step);
    if (x >= W - dim) break;
    r.xs[static_cast<size_t>(k)] = x;
    r.cols = k + 1;
  }
  for (int32_t k = 0; k < StripeMaxRows; ++k) {
    const int32_t y = dim + Round(k * r.step);
    if (y >= H - dim) break;
    r.ys[static_cast<size_t>(k)] = y;
    r.rows = k + 1;
  }

  // Summed-area table of the bright test: sat[(y + 1) (W + 1) + x + 1] counts the bright
  // pixels of columns 0..x in rows 0..y, so every window costs four lookups.
  const size_t stride = static_cast<size_t>(W) + 1;
  std::vector<int32_t> sat(stride * (static_cast<size_t>(H) + 1), 0);
  for (int32_t y = 0; y < H; ++y) {
    const uint8_t* line = A.ScanLine(y);
    const int32_t* above = &sat[static_cast<size_t>(y) * stride];
    int32_t* out = &sat[static_cast<size_t>(y + 1) * stride];
    int32_t run = 0;
    for (int32_t x = 0; x < W; ++x) {
      run += line[3 * x] > th[x][y];
      out[x + 1] = above[x + 1] + run;
    }
  }
  const auto sum = [&sat, stride](int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    // Pixels x1..x2, y1..y2 inclusive.
    const auto at = [&](int32_t x, int32_t y) { return sat[static_cast<size_t>(y) * stride + static_cast<size_t>(x)]; };
    return at(x2 + 1, y2 + 1) - at(x1, y2 + 1) - at(x2 + 1, y1) + at(x1, y1);
  };

  int64_t total = 0;
  for (int32_t row = 0; row < r.rows; ++row) {
    const int32_t y = r.ys[static_cast<size_t>(row)];
    if (progress) progress(Round(y * 100.0 / (H - 2 * dim)));
    const int32_t y1 = std::max(0, y - dim), y2 = std::min(H - 1, y + dim);
    for (int32_t col = 0; col < r.cols; ++col) {
      const int32_t x = r.xs[static_cast<size_t>(col)];
      const int32_t x1 = std::max(0, x - dim), x2 = std::min(W - 1, x + dim);
      int32_t value = 0;
      if (x1 <= x2 && y1 <= y2) {
        const int32_t n = (x2 - x1 + 1) * (y2 - y1 + 1);
        value = Round(sum(x1, y1, x2, y2) * 1000.0 / n);
      }
      r.cells[static_cast<size_t>(col)][static_cast<size_t>(row)] = {value, x, y + 10};
      total += value;
    }
  }
  const int64_t cells = int64_t{r.cols} * r.rows;
  r.mean = cells > 0 ? Round(static_cast<double>(total) / static_cast<double>(cells)) : 0;
}

Bitmap StripeRasterImage(const TStripeRaster& r) {
  Bitmap B(r.cols, r.rows);
  for (int32_t row = 0; row < r.rows; ++row) {
    uint8_t* line = B.ScanLine(row);
    for (int32_t col = 0; col < r.cols; ++col) {
      const auto g = static_cast<uint8_t>(StripeGray(r.cells[static_cast<size_t>(col)][static_cast<size_t>(row)].value));
      line[3 * col] = line[3 * col + 1] = line[3 * col + 2] = g;
    }
  }
  return B;
}

Bitmap StripeGradientImage(const Bitmap& raster) {
  Bitmap B = raster;
  Bitmap C = B;
  Smooth(B, C);
  Smooth(C, B);
  for (int32_t y = 0; y < B.Height(); ++y) {
    uint8_t* line = B.ScanLine(y);
    for (int32_t x = 0; x + 1 < B.Width(); ++x) {
      const auto g = static_cast<uint8_t>(std::clamp(2 * (line[3 * (x + 1)] - line[3 * x]) + 128, 0, 255));
      line[3 * x] = line[3 * x + 1] = line[3 * x + 2] = g;
    }
  }
  return B;
}

int32_t StripeCentre(const TStripeProfile& profile, int32_t cols, int32_t Gravurewidth) {
  int32_t x = cols / 2;
  const int32_t w = Gravurewidth / 20;
  for (int32_t i = 0; i < 21; ++i) {
    const int32_t next = Round(getSchwerpunkt(profile, x - w, x + w));
    if (next == x) break;
    x = next;
  }
  return x;
}

TStripeStructure StripeStructure(const TStripeHist& hist) {
  TStripeStructure s;
  const double M = hist.h[static_cast<size_t>(hist.fullest)];
  if (M < 1) return s;
  double hmean = 0, rc = 0;
  for (int32_t x = 0; x < StripeBins; ++x) {
    const double h = hist.h[static_cast<size_t>(x)];
    if (h > M / 3) {
      ++s.count;
      hmean += (x + 1) * h * h;
      rc += h * h;
    }
    if (h > M / 2) ++s.count;
  }
  s.valid = true;
  s.hmean = rc > 0 ? hmean / rc - 1 : hmean;
  return s;
}

void EvaluateStripes(TStripeAnalysis& s, int32_t Gravurewidth) {
  const TStripeRaster& r = s.raster;
  s.profile.fill(0);
  s.all = TStripeHist();
  for (int32_t row = 0; row < r.rows; ++row) {
    for (int32_t col = 0; col < r.cols; ++col) {
      const int32_t v = StripeDark(StripeGray(r.cells[static_cast<size_t>(col)][static_cast<size_t>(row)].value));
      s.all.Count(v);
      s.profile[static_cast<size_t>(col)] += static_cast<uint32_t>(v);
    }
  }
  s.centre = StripeCentre(s.profile, r.cols, Gravurewidth);
  s.li = std::max(0, s.centre - Gravurewidth / 10);
  s.ri = std::min(StripeMaxCols - 1, s.centre + Gravurewidth / 10);
  s.stripe = TStripeHist();
  s.stripe.fullest = s.all.fullest;
  for (int32_t row = 0; row < r.rows; ++row) {
    for (int32_t col = std::max(0, s.li); col <= std::min(s.ri, r.cols - 1); ++col) {
      s.stripe.Count(StripeDark(StripeGray(r.cells[static_cast<size_t>(col)][static_cast<size_t>(row)].value)));
    }
  }
  s.structure = StripeStructure(s.stripe);
}

int32_t StripeThreshold(const Bitmap& A) {
  THist h;
  GetHistogram(A, h, {20, 20, 1279, 1023}, 0, 255);
  int32_t prozent = 0, l = 0, r = 0, kont = 0;
  const int32_t t = GetICPThreshold(h, 255, prozent, l, r, kont);
  return (t + l) / 2;
}

void AnnotateStripes(Bitmap& A, const TStripeRaster& r) {
  platform::Canvas canvas(A);
  platform::TCanvasTextStyle& font = canvas.Font();
  font.Color = platform::clRed;
  font.Height = 10;
  font.Style = 1;  // bold
  font.Align = platform::TCanvasTextAlign::taCenter;
  font.Opaque = true;
  for (int32_t row = 0; row < r.rows; ++row) {
    for (int32_t col = 0; col < r.cols; ++col) {
      const TStripeCell& cell = r.cells[static_cast<size_t>(col)][static_cast<size_t>(row)];
      const int32_t g = StripeGray(cell.value);
      font.Background = platform::TColor{g | g << 8 | g << 16};
      canvas.TextOut(cell.x, cell.y + 5, std::to_string(StripeDark(g)));
    }
  }
}

namespace {

// The profile's height in the picture: a column entirely dark reaches the bottom.
int32_t ProfileY(const TStripeAnalysis& s, int32_t col) {
  const int64_t full = int64_t{s.raster.rows} * 100;
  if (full <= 0) return 0;
  return Round(static_cast<double>(s.profile[static_cast<size_t>(col)]) * StripImageHeight / static_cast<double>(full));
}

constexpr platform::TColor StripeFill = 0x96C8FF;
constexpr platform::TColor StripeSilver = 0xC0C0C0;
constexpr platform::TColor StripeGrayLine = 0x808080;

}  // namespace

Bitmap StripeProfileImage(const TStripeAnalysis& s) {
  int32_t last = 99;
  while (last > 70 && s.profile[static_cast<size_t>(last)] == 0) --last;
  Bitmap B(3 * last + 2, StripImageHeight);
  platform::Canvas c(B);
  c.Brush().Color = platform::clWhite;
  c.Brush().Style = platform::TCanvasBrushStyle::bsSolid;
  c.Pen().Color = platform::clBlack;
  c.Rectangle(0, 0, B.Width() - 1, B.Height() - 1);
  c.MoveTo(1, 147);
  for (int32_t x = 0; x <= last; ++x) c.LineTo(3 * x + 1, ProfileY(s, x));
  c.Brush().Color = StripeFill;
  c.FloodFill(B.Width() / 2, B.Height() - 3, platform::clBlack, platform::TCanvasFillStyle::fsBorder);

  c.Pen().Color = StripeSilver;
  for (int32_t i = 0; i <= 20; ++i) {
    for (const int32_t col : {s.centre - 2 * i, s.centre + 2 * i}) {
      if (col < 0 || col > last) continue;
      c.MoveTo(3 * col + 1, StripImageHeight);
      c.LineTo(3 * col + 1, ProfileY(s, col));
    }
  }
  c.Pen().Color = StripeGrayLine;
  for (const int32_t col : {s.li, s.ri}) {
    c.MoveTo(3 * col + 1, StripImageHeight);
    c.LineTo(3 * col + 1, 0);
  }
  return B;
}

Bitmap StripeHistImage(const TStripeAnalysis& s) {
  Bitmap B(StructHistWidth, StructHistHeight);
  platform::Canvas c(B);
  c.Brush().Color = platform::clWhite;
  c.Brush().Style = platform::TCanvasBrushStyle::bsSolid;
  c.Pen().Color = platform::clBlack;
  c.Rectangle(0, 0, B.Width() - 1, B.Height() - 1);
  const TStripeHist& h = s.stripe;
  const double M = h.h[static_cast<size_t>(h.fullest)];
  if (M < 1) return B;
  for (int32_t x = 0; x < StripeBins; ++x) {
    c.MoveTo(x + 1, 130);
    c.LineTo(x + 1, 130 - Round(h.h[static_cast<size_t>(x)] * 128 / M));
  }
  return B;
}

void StructureStreifenClick(TDriverContext& c) {
  if (!c.win.ImgCaptured) return;
  AnalyzeState& st = c.st;
  c.host.ShowEmpty();
  Bitmap A = c.dbmp;

  FillLocalTh(st, StripeThreshold(A));
  const int32_t x0 = StripeStartColumn(A);

  // The analysis is large (80 x 64 cells of 101 x 101 lists): it lives on the heap.
  auto s = std::make_unique<TStripeAnalysis>();
  MakeStripeRaster(A, st.ThImage, st.PixelperInch, x0, s->raster, [&c](int32_t p) { c.host.SetGauge(p); });

  c.host.SetLanguageText("DotCapStruct", "MEASRESULT", 18);
  c.host.SetText("SDotAreaRes", platform::StrFloat(s->raster.mean / 10.0, 5, 1));

  EvaluateStripes(*s, st.Gravurewidth);
  AnnotateStripes(A, s->raster);

  Bitmap B = StripeRasterImage(s->raster);
  platform::SaveBmp(B, c.host.HomeFile("STRUCTIMG.bmp"));
  platform::SaveBmp(StripeGradientImage(B), c.host.HomeFile("SOBEL.bmp"));

  c.host.DrawZoomed(A);
  c.host.SetPicture("StripImage", StripeProfileImage(*s));
  c.host.SetText("StructResLabel",
                 c.host.LanguageText("MEASRESULT", 36) + " " + std::to_string(2 * st.Gravurewidth) + "\u00B5m");

  c.host.SetPicture("PlateStructHist", StripeHistImage(*s));
  if (s->structure.valid) {
    c.MyMess.DotArea = s->structure.hmean;
    c.host.SetText("SDotAreaRes", MFTStr(s->structure.hmean, platform::TFloatFormat::ffFixed, 5, 1));
    c.host.SetText("AvgStructRes", MFTStr(s->structure.count, platform::TFloatFormat::ffFixed, 5, 1));
  }

  c.host.SetVisible("PlateStructAreaPanel", false);
  c.host.SetVisible("PlateStructPanel", true);
  c.win.MESSTYPE = MT_PLATEWSI;
  c.MyMess.aType = MT_PLATEWSI;
  c.host.FFTAmplitudeChange();
  if (c.win.StatActive) c.host.AddStatistic();
}

void StructAutoLineClick(TDriverContext& c) {
  if (!c.win.ImgCaptured) return;
  AnalyzeState& st = c.st;
  TDriverWindow& win = c.win;
  const TLinePattern r = MeasureLinePattern(c, "DotAreaCapStruct", "SStructAreaREs", false);
  const int32_t q = static_cast<int32_t>(std::clamp<int64_t>(int64_t{r.rc} + 10000, 0, 10000));
  if (win.maxf > 0) {
    c.MyMess.LineTol = q / 100.0;
    c.host.SetText("PLineStructRes", SetVal(q / 100.0, st.Digits) + "%");
    const TLinePatternTexts t =
        LinePatternTexts(st.SUnits, st.Digits, st.PixelperInch, r.P1, r.P2, r.p, win.maxfcm, win.maxf2, win.maxb);
    c.host.SetText("PeriodePlate", t.Periode);
    c.host.SetText("FreqPlate", t.Freq);
  }
  c.host.SetVisible("PlateLineStructPanel", true);
  c.host.SetVisible("PlateStructAreaPanel", true);
  // The line pattern of a plate structure is not collected in the statistic.
  win.MESSTYPE = MT_PLATEMG;
  c.MyMess.aType = MT_PLATEMG;
}

}  // namespace analysis
