// The result presentations: a dot population of the last analysis becomes the result labels of
// its page, the current record MyMess and the overlay on the result image (every dot coloured
// by its class with its screen cell). Labels follow the unit setting; MyMess always holds µm,
// µm², lines per cm, percent and degrees. Also the measurement text line built from the labels.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <cmath>
#include <numbers>
#include <optional>

#include "analysis/analyze_cells.h"
#include "analysis/analyze_grid.h"
#include "analysis/mymath.h"
#include "app/hr_main.h"
#include "app/language.h"
#include "platform/base/number_format.h"
#include "platform/base/numeric.h"

namespace app {

namespace {

using analysis::TDot;
using analysis::TDotList;
using analysis::TSortedDotList;
using platform::Round;

constexpr double kPi = std::numbers::pi;

// Lengths and areas of pixels as the labels show them (µm or mil) and as MyMess stores them.
struct Units {
  const analysis::AnalyzeState& a;
  double DispLen(double p) const { return p * 1000 * a.DUnits / a.PixelperInch; }
  double StoredLen(double p) const { return p * 1000 * 25.4 / a.PixelperInch; }
  double DispArea(double px) const { return px * 1e6 * (a.DUnits / a.PixelperInch) * (a.DUnits / a.PixelperInch); }
  double StoredArea(double px) const { return px * 1e6 * (25.4 / a.PixelperInch) * (25.4 / a.PixelperInch); }
  // The unit suffix of lengths, with its leading blank.
  std::string Suffix() const { return a.SUnits == 1 ? " mil" : " \u00B5m"; }
  std::string Val(double v, int32_t extra = 0) const { return analysis::SetVal(v, a.Digits + extra); }
};

double Diameter(double area) { return 2 * std::sqrt(area / kPi); }

// Sample standard deviation from n values, their sum and their sum of squares; 0 for fewer
// than two values or a variance below 1e-11.
double StdDev(int32_t n, double s, double ss) {
  if (n <= 1) return 0;
  const double var = n * (ss / n - (s / n) * (s / n)) / (n - 1);
  return var < 1e-11 ? 0 : std::sqrt(var);
}

void SetLabel(QLabel* l, const std::string& text) { l->setText(Q(text)); }

// The language text at offset of section MEASRESULT into the caption, when the section exists.
void MeasResultCaption(QLabel* caption, int offset) {
  if (const int section = IndexOf("MEASRESULT"); section >= 0) caption->setText(Q(GetLanguageString(section + offset)));
}

// The edge factor of a population: 100 x its mean edge length over the circumference of the
// circle of its mean size. None without an edge, for a circle of 5 px or less, or for a
// factor of 1000 or more.
std::optional<double> EdgeFactor(const TSortedDotList& l) {
  if (!(l.edgelen > 0)) return std::nullopt;
  const double c = 2 * kPi * std::sqrt(l.area / kPi);
  if (!(c > 5)) return std::nullopt;
  const double E = l.edgelen * 100 / c;
  if (!(E < 1000)) return std::nullopt;
  return E;
}

// How a dot of one colour is drawn: its colour (red, green, blue), as a mask or not, and its
// screen cell around its centre or around the cell's first corner.
struct DotStyle {
  uint8_t r, g, b;
  bool mask;
  bool aroundCorner;
};
constexpr DotStyle kCyanAroundCorner{0, 255, 255, false, true};
constexpr DotStyle kYellow{255, 255, 0, false, false};

// The population's dots that `drawn` accepts, with their cells of the population's period, in
// a red pen on rbmp.
template <typename Accept>
void DrawPopulation(platform::Bitmap& rbmp, const analysis::TIntImage& res, const TSortedDotList& l,
                    const DotStyle& dark, const DotStyle& bright, Accept drawn) {
  platform::Canvas canvas(rbmp);
  canvas.Pen().Color = platform::clRed;
  const double cell = std::numbers::sqrt2 / 2 * l.distance;
  for (TDotList* m = l.dots; m; m = m->next) {
    TDot* d = m->dots;
    if (!drawn(*d)) continue;
    const DotStyle& s = d->isblack ? dark : bright;
    analysis::DrawPlateDot(rbmp, d, res, s.r, s.g, s.b, s.mask);
    if (s.aroundCorner) {
      analysis::DrawICell(canvas, d->swp, cell, l.alpha);
    } else {
      analysis::DrawCell(canvas, d->swp, cell, l.alpha);
    }
  }
}

bool AnyDot(const TDot&) { return true; }

// The start of the presentations on the displayed image: the display rendered afresh and the
// result cleared. Without a population the image is shown as it is and false returned.
bool FreshDisplay(THRMainFrm& f, const TSortedDotList* l) {
  f.UpdateImage();
  f.ShowEmpty();
  if (l) return true;
  f.DrawZoomed(*f.st.rbmp);
  return false;
}

// The controls of the mask page and of its twin on the structure page.
struct MaskLikePage {
  QLabel* areaCaption;
  int captionOffset;
  QLabel* area;
  QLabel* ruling;
  QLabel* alpha;
  QLabel* edge;  // none on the structure page
  QLabel* stdDev;
  QLabel* sizeStdDev;
  QLineEdit* tolerance;
  QRadioButton* heading[3];  // diameter, size, area
  QLabel* count[3];          // within, above (G), below (K) the band
  QLabel* diameter[3];       // mean, upper limit, lower limit
  QLabel* size[3];
  bool fixedPeriod;  // the mask page's fixed screen applies
  bool cleanImage;   // the classes are drawn on the gray image, not on the displayed one
};

}  // namespace

// The shared presentation of a mask population and of a structure population.
static void ShowMaskLike(THRMainFrm& f, const MaskLikePage& pg, TSortedDotList* tList, int32_t DSF, bool ShowGrid) {
  analysis::AnalyzeState& a = analysis::Analysis();
  analysis::TMessung& mess = HRMain().MyMess;
  const Units u{a};
  if (!FreshDisplay(f, tList)) {
    for (QLabel* l : pg.count) l->setText("0");
    mess.CountAvg = mess.CountG = mess.CountK = 0;
    return;
  }

  const double p = pg.fixedPeriod && f.st.GLScreen > 0 ? f.st.GLScreen : tList->distance;
  const int32_t r = Round(p);
  const platform::TRect inner{r, r, 1279 - r, 1023 - r};
  const double C = p * p;
  if (p > 0) {
    double A = tList->area / C * 100;
    if (f.st.isDens != tList->isBlack) A = 100 - A;
    mess.DotArea = A;
    MeasResultCaption(pg.areaCaption, pg.captionOffset);
    SetLabel(pg.area, u.Val(A) + "%");
    SetLabel(pg.ruling, u.Val(a.PixelperInch / (a.LUnits * p)));
    mess.LCM = a.PixelperInch / (2.54 * p);
  }
  SetLabel(pg.alpha, u.Val(tList->alpha) + "\u00B0");
  mess.Alpha = tList->alpha;

  if (pg.edge) {
    pg.edge->setText("-.--");
    if (const std::optional<double> E = EdgeFactor(*tList)) {
      SetLabel(pg.edge, u.Val(*E));
      mess.EdgeFaktor = *E;
    }
  }

  // The spread of the dots inside the image by one period.
  int32_t n = 0;
  double sd = 0, sdd = 0, sa = 0, saa = 0;
  for (TDotList* m = tList->dots; m; m = m->next) {
    const TDot* d = m->dots;
    if (d->isblack != tList->isBlack || d->border) continue;
    if (d->swp.X < inner.Left || d->swp.X >= inner.Right || d->swp.Y < inner.Top || d->swp.Y >= inner.Bottom) continue;
    const double dd = Diameter(d->fsize);
    ++n;
    sd += dd;
    sdd += dd * dd;
    sa += d->fsize;
    saa += static_cast<double>(d->fsize) * d->fsize;
  }
  const double devDiam = StdDev(n, sd, sdd), devSize = StdDev(n, sa, saa);
  SetLabel(pg.stdDev, u.Val(u.DispLen(devDiam), 1) + u.Suffix());
  mess.StdDevDiam = u.StoredLen(devDiam);
  SetLabel(pg.sizeStdDev, u.Val(u.DispArea(devSize), 2) + u.Suffix() + "\u00B2");
  mess.StdDevSize = u.StoredArea(devSize);
  f.MainProgress->setValue(90);

  double t = 0;
  analysis::GetValue(S(pg.tolerance->text()), t);
  if (!std::isfinite(t)) t = 0;
  mess.DSTol = t;
  const double D = tList->area * t / 100;

  if (pg.cleanImage) *f.st.rbmp = *f.st.dbmp;
  platform::Bitmap& rbmp = *f.st.rbmp;
  int32_t counts[3] = {0, 0, 0};
  {
    platform::Canvas canvas(rbmp);
    canvas.Pen().Color = platform::clRed;
    const double cell = std::numbers::sqrt2 / 2 * tList->distance;
    for (TDotList* m = tList->dots; m; m = m->next) {
      TDot* d = m->dots;
      if (d->isblack != tList->isBlack || d->border) continue;
      if (d->fsize > tList->area - D && d->fsize < tList->area + D) {
        analysis::DrawDot(rbmp, d, a.GResult, 255, 255, 255);
        ++counts[0];
      } else if (d->fsize >= tList->area + D) {
        analysis::DrawDot(rbmp, d, a.GResult, 0, 255, 0);
        ++counts[1];
      } else {
        analysis::DrawDot(rbmp, d, a.GResult, 0, 0, 255);
        ++counts[2];
      }
      analysis::DrawCell(canvas, d->swp, cell, tList->alpha);
    }

    if (ShowGrid && tList->alpha > 30 && tList->alpha < 60 && C > 0) {
      platform::TCanvasTextStyle& font = canvas.Font();
      font.Name = "Arial Narrow";
      font.Size = 11;
      font.Height = 0;
      font.Color = 0xFF0000;  // pure blue
      font.Opaque = true;
      font.Background = platform::clWhite;
      font.Align = platform::TCanvasTextAlign::taLeft;
      canvas.Brush().Color = platform::clWhite;
      canvas.Brush().Style = platform::TCanvasBrushStyle::bsSolid;
      std::string heading;
      switch (DSF) {
        case 0: heading = S(pg.heading[0]->text()) + " " + u.Suffix(); break;
        case 1: heading = S(pg.heading[1]->text()) + " " + u.Suffix() + "\u00B2"; break;
        default: heading = S(pg.heading[2]->text()) + " %"; break;
      }
      canvas.TextOut(10, 2, heading);
      font.Align = platform::TCanvasTextAlign::taCenter;
      for (int i = 0; i <= 64; ++i) {
        double sum = 0, x = 0;
        int32_t k = 0;
        for (int j = 50; j >= 0; --j) {
          const analysis::TDotGridCell& g = a.GGrid[static_cast<size_t>(i)][static_cast<size_t>(j)];
          if (!g.p) continue;
          sum += g.p->fsize;
          x = g.x;
          ++k;
        }
        if (k == 0) continue;
        const double mean = sum / k;
        const double v = DSF == 0 ? u.DispLen(Diameter(mean)) : DSF == 1 ? u.DispArea(mean) : 100 * mean / C;
        canvas.TextOut(Round(x), i % 2 == 1 ? 30 : 50, platform::StrFloat(v, 5, 1));
      }
      canvas.Brush().Style = platform::TCanvasBrushStyle::bsSolid;
    }
  }

  for (int k = 0; k < 3; ++k) pg.count[k]->setText(QString::number(counts[k]));
  mess.CountAvg = counts[0];
  mess.CountG = counts[1];
  mess.CountK = counts[2];

  if (tList->area > 0) {
    const double limits[3] = {tList->area, tList->area + D, tList->area - D};
    double* diam[3] = {&mess.DiamAvg, &mess.DiamG, &mess.DiamK};
    double* size[3] = {&mess.SizeAvg, &mess.SizeG, &mess.SizeK};
    // The lower limit exists while the band does not reach down to 0.
    const int shown = D < tList->area ? 3 : 2;
    for (int k = 0; k < shown; ++k) {
      SetLabel(pg.diameter[k], u.Val(u.DispLen(Diameter(limits[k]))) + u.Suffix());
      *diam[k] = u.StoredLen(Diameter(limits[k]));
      SetLabel(pg.size[k], u.Val(u.DispArea(limits[k]), 1) + u.Suffix() + "\u00B2");
      *size[k] = u.StoredArea(limits[k]);
    }
  }
  f.DrawZoomed(rbmp);
}

void THRMainFrm::ShowMaskAlternative(TSortedDotList* tList, int32_t DSF, bool ShowGrid) {
  const MaskLikePage page{DotAreaCapMask,
                          1,
                          MaskDotAreaRes,
                          LCMResult,
                          AlphaRes,
                          LAMSEdgeFaktorRes,
                          StdDevRes,
                          DotSizeStdDev,
                          TolEdit,
                          {DiameterRB, SizeRB, AreaRB},
                          {CountValue, CountValueG, CountValueK},
                          {DotDiameterValue, DotDiameterValueG, DotDiameterValueK},
                          {DotSizeValue, DotSizeValueG, DotSizeValueK},
                          true,
                          false};
  ShowMaskLike(*this, page, tList, DSF, ShowGrid);
}

void THRMainFrm::ShowPlateStructAlternative(TSortedDotList* tList, int32_t DSF, bool ShowGrid) {
  const MaskLikePage page{DotAreaCapStruct,
                          25,
                          SStructAreaREs,
                          SLCMResult,
                          SAlphaRes,
                          nullptr,
                          SStdDevRes,
                          SDotSizeStdDev,
                          TolEditPlate,
                          {DiameterRBPlate, SizeRBPlate, AreaRBPlate},
                          {SCountValue, SCountValueG, SCountValueK},
                          {SDotDiameterValue, SDotDiameterValueG, SDotDiameterValueK},
                          {SDotSizeValue, SDotSizeValueG, SDotSizeValueK},
                          false,
                          true};
  ShowMaskLike(*this, page, tList, DSF, ShowGrid);
}

void THRMainFrm::ShowAlternative(TSortedDotList* aAlternative, bool mask) {
  analysis::AnalyzeState& a = analysis::Analysis();
  analysis::TMessung& mess = HRMain().MyMess;
  const Units u{a};
  if (!FreshDisplay(*this, aAlternative)) return;
  platform::Bitmap& rbmp = *st.rbmp;
  const TSortedDotList& l = *aAlternative;
  // A fixed screen of up to 1 pixel counts as none.
  const bool fixed = st.GScreen > 1;
  if (l.distance > 0) {
    const double P = fixed ? st.GScreen : l.distance;
    double A = l.area / (P * P) * 100;
    if (l.isBlack) A = 100 - A;
    mess.DotArea = A;
    SetLabel(PlateDotAreaRes, u.Val(A) + "%");
    mess.LCM = a.PixelperInch / (2.54 * P);
    SetLabel(PlateLCMResult, u.Val(a.PixelperInch / (a.LUnits * P)));
    // The plate page measures the angle from the other axis.
    mess.Alpha = 90 - l.alpha;
    SetLabel(PlateAlphaRes, u.Val(90 - l.alpha) + "\u00B0");
  }
  if (l.area > 0) {
    const double d = u.DispLen(Diameter(l.area));
    mess.DiamAvg = u.StoredLen(Diameter(l.area));
    SetLabel(PlateDotDiameterRes, u.Val(d));
    EFRes->setText("--.-");
    if (!l.isBlack && d > 5) {
      // 100 x the edge length over the circumference of the mean dot, both as displayed.
      double E = (l.edgelen * a.DUnits / a.PixelperInch) * 100000 / (kPi * d);
      if (E < 100) E = 100;
      if (E < 1000) {
        mess.EdgeFaktor = E;
        SetLabel(EFRes, u.Val(E));
      }
    }
  }

  // Every dot, border dots included.
  DrawPopulation(rbmp, a.GResult, l, kCyanAroundCorner, DotStyle{255, 255, 0, mask, false}, AnyDot);
  int32_t n = 0;
  double sd = 0, sdd = 0;
  for (TDotList* m = l.dots; m; m = m->next) {
    const double dd = Diameter(m->dots->fsize);
    ++n;
    sd += dd;
    sdd += dd * dd;
  }
  if (n > 1) {
    const double dev = StdDev(n, sd, sdd);
    mess.StdDevDiam = u.StoredLen(dev);
    SetLabel(StdDevPlate, u.Val(u.DispLen(dev)));
  }
  DrawZoomed(rbmp);
}

void THRMainFrm::ShowFilmAlternative(TSortedDotList* tList, bool inv, bool mask) {
  analysis::AnalyzeState& a = analysis::Analysis();
  analysis::TMessung& mess = HRMain().MyMess;
  const Units u{a};
  if (!FreshDisplay(*this, tList)) return;
  platform::Bitmap& rbmp = *st.rbmp;
  const TSortedDotList& l = *tList;
  const bool fixed = st.GFScreen > 0;
  const double P = fixed ? st.GFScreen : l.distance;
  const double C = P * P;
  if (C > 0) {
    double A = l.area / C * 100;
    if ((st.isDens && !l.isBlack && !inv) || (!st.isDens && l.isBlack && inv)) A = 100 - A;
    mess.DotArea = A;
    MeasResultCaption(DotAreaCapFilm, 1);
    SetLabel(FilmDotAreaRes, u.Val(A) + "%");
    SetLabel(FilmLCMResult, u.Val(a.PixelperInch / (a.LUnits * P)));
    mess.LCM = a.PixelperInch / (2.54 * P);
  }
  if (l.area > 0) SetLabel(FilmDotDiameterRes, u.Val(u.DispLen(Diameter(l.area))));
  SetLabel(FilmAlphaREs, u.Val(l.alpha) + "\u00B0");
  mess.Alpha = l.alpha;
  FilmEdgeFaktorRes->setText("-.--");
  if (const std::optional<double> E = EdgeFactor(l)) {
    SetLabel(FilmEdgeFaktorRes, u.Val(*E));
    mess.EdgeFaktor = *E;
  }
  // The dots of the population's colour off the border; the cells follow the measured period
  // also when a film screen is fixed.
  DrawPopulation(rbmp, a.GResult, l, kCyanAroundCorner, DotStyle{255, 255, 0, mask, false},
                 [&l](const TDot& d) { return d.isblack == l.isBlack && !d.border; });
  DrawZoomed(rbmp);
}

void THRMainFrm::ShowCalAlternative(TSortedDotList* aAlternative) {
  analysis::AnalyzeState& a = analysis::Analysis();
  analysis::TMessung& mess = HRMain().MyMess;
  *st.rbmp = *st.dbmp;
  ShowEmpty();
  platform::Bitmap& rbmp = *st.rbmp;
  if (!aAlternative) {
    DrawZoomed(rbmp);
    return;
  }
  const TSortedDotList& l = *aAlternative;
  if (l.distance > 0) {
    double A = l.area / (l.distance * l.distance) * 100;
    if (!l.isBlack) A = 100 - A;
    mess.DotArea = A;
    SetLabel(CalDotArea, analysis::SetVal(A, 2) + "%");
    mess.LCM = a.PixelperInch / (2.54 * l.distance);
    // The certificate states the ruling in lines per cm whatever the unit setting.
    SetLabel(CalLCMREs, analysis::SetVal(a.PixelperInch * 10 / (25.4 * l.distance), 2));
  }
  // The colours of the plate page the other way round.
  DrawPopulation(rbmp, a.GResult, l, kYellow, kCyanAroundCorner, AnyDot);
  DrawZoomed(rbmp);
}

// ---- measurement text line ----

std::string THRMainFrm::GetMessString() const {
  using namespace analysis;
  const auto t = [](const QLabel* l) { return S(l->text()); };
  std::vector<std::string> fields;
  const auto plate = [&] {
    fields = {t(PlateDotAreaRes), t(PlateLCMResult) + t(LCMLabelPlate), t(PlateAlphaRes),
              t(PlateDotDiameterRes) + t(DDPlateUnit), t(EFRes)};
  };
  const auto film = [&](bool diameter) {
    fields = {t(FilmDotAreaRes)};
    if (diameter) fields.push_back(t(FilmDotDiameterRes) + t(DDFilmUnit));
    fields.push_back(t(FilmLCMResult) + t(LCMLabelFilm));
    fields.push_back(t(FilmAlphaREs));
    fields.push_back(t(FilmEdgeFaktorRes));
  };
  switch (st.MESSTYPE) {
    case MT_LAMSWSI:
      fields = {t(MaskDotAreaRes), t(LCMResult) + t(LCMlabelMask), t(AlphaRes), t(LAMSEdgeFaktorRes),
                t(CountValue), t(CountValueG), t(CountValueK), t(DotDiameterValue), t(DotSizeValue),
                t(DotDiameterValueG), t(DotSizeValueG), t(DotDiameterValueK), t(DotSizeValueK)};
      break;
    case MT_LAMSMG: fields = {t(MaskDotAreaRes), t(LineWidthRes), t(FreqLabel), t(PeriodeLabel)}; break;
    case MT_LAMSDOT:
      fields = {t(MaskDotAreaRes), t(LCMResult) + t(LCMlabelMask), t(AlphaRes), t(LAMSEdgeFaktorRes)};
      break;
    case MT_LAMSLINE: fields = {t(LineWidthRes)}; break;
    case MT_PLATEDOT:
    case MT_PLATESDOT:
    case MT_NXPixel:
    case MT_NXBURL: plate(); break;
    case MT_PLATELINE: fields = {t(FLineWidthRes)}; break;
    case MT_PLATEWSI: fields = {t(SDotAreaRes)}; break;
    case MT_PLATEWSIAREA: fields = {t(SStructAreaREs), t(SLCMResult) + t(StructLCMLabel), t(SAlphaRes)}; break;
    case MT_PLATEMG: fields = {t(PLineStructRes), t(PeriodePlate), t(FreqPlate)}; break;
    case MT_FILMDOT:
    case MT_FILMSDOT: film(true); break;
    case MT_FILMCLUSTER: film(false); break;
    case MT_FILMLINE: fields = {t(FilmLineWidthRes)}; break;
    default: break;
  }
  std::string s(1, static_cast<char>('A' + st.MESSTYPE));
  s += '\t';
  for (size_t i = 0; i < fields.size(); ++i) {
    s += fields[i];
    // The pixel pattern's last field has a tab of its own; every other type's has not.
    if (i + 1 < fields.size() || st.MESSTYPE == MT_LAMSWSI) s += '\t';
  }
  return s + '\t';
}

}  // namespace app
