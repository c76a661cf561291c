// The measurement commands of the analysis pages: each checks that an image is present,
// prepares the gray image its analysis needs, runs the analysis driver of its type, shows the
// result panels, records the type and hands the result to the running statistic. Also the
// menu's Analyze and Alternative, the clearing of the result display and the frequency search.
#include <QAbstractButton>
#include <QAction>
#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTabWidget>
#include <QToolButton>
#include <cmath>

#include "analysis/analyze_drivers_film.h"
#include "analysis/analyze_drivers_freq.h"
#include "analysis/analyze_drivers_plate.h"
#include "analysis/analyze_grid.h"
#include "analysis/analyze_population.h"
#include "analysis/analyze_threshold.h"
#include "analysis/myimage_filters.h"
#include "analysis/myimage_gray.h"
#include "analysis/mymath.h"
#include "app/hr_main.h"
#include "app/hr_main_host.h"
#include "app/language.h"
#include "platform/base/numeric.h"

namespace app {

namespace {

using analysis::MType;

// Sets the record's type and the window's.
void SetType(THRMainState& st, MType type) {
  st.MESSTYPE = type;
  HRMain().MyMess.aType = type;
}

// A number typed into an edit, read the way the commands read their edits: a point or a
// comma as decimal separator, 0 for an empty edit, and 0 for a text that is no finite number.
double EditValue(const QLineEdit* edit) {
  double v = 0;
  analysis::GetValue(S(edit->text()), v);
  return std::isfinite(v) ? v : 0;
}

// The start of the three plate commands: hourglass, manual selection ended, gauge 0.
void PlateCommandStart(THRMainFrm& f) {
  f.st.ManOn = false;
  f.ManPlatebtn->setChecked(false);
  f.ManMaskbtn->setChecked(false);
  f.MainProgress->setValue(0);
}

}  // namespace

analysis::TDriverContext THRMainFrm::DriverContext() {
  return {analysis::Analysis(), *st.dbmp, *st.rbmp, st.aHist, HRMain().MyMess, st, *host_};
}

// ---- frequency search ----

int32_t THRMainFrm::GetMaxFreq(double& dx, double& dy, bool Show) {
  if (!Show) {
    return analysis::GetMaxFreq(analysis::Analysis(), *st.dbmp, *st.rbmp, st, dx, dy, false, false, nullptr);
  }
  platform::Canvas canvas = AnalyseCanvas();
  const int32_t rc = analysis::GetMaxFreq(analysis::Analysis(), *st.dbmp, *st.rbmp, st, dx, dy, true,
                                          ActivePageIndex() == 0, &canvas);
  AnalyseImage->update();
  return rc;
}

// ---- result display ----

void THRMainFrm::ShowPanel(QWidget* panel, bool visible) {
  const bool top_aligned = panel == LAMSDotAreaPanel || panel == LAMSSRPanel || panel == LAMSDotDetailspanel ||
                           panel == LAMSFreqPanel || panel == LamsLineWidthPanel || panel == FilmDotAreaPanel ||
                           panel == FilmDotDetailsPanel || panel == FilmLineWidthPanel;
  if (visible && top_aligned && panel->isHidden()) {
    if (auto* layout = qobject_cast<QBoxLayout*>(panel->parentWidget() ? panel->parentWidget()->layout() : nullptr);
        layout && layout->indexOf(panel) >= 0) {
      // Below the panels shown so far: just before the stretch that closes the panel stack.
      layout->removeWidget(panel);
      int end = 0;
      while (end < layout->count() && !layout->itemAt(end)->spacerItem()) ++end;
      layout->insertWidget(end, panel);
    }
  }
  panel->setVisible(visible);
}

void THRMainFrm::ShowEmpty() {
  st.MESSTYPE = analysis::MT_NONE;
  // Another result replaces the one shown: the statistic's last entry is no longer it (a
  // command that collects it says so again through AddStatistic).
  HRMain().LastEntryIsMyMess = false;
  if (const int section = IndexOf("MEASRESULT"); section >= 0) {
    DotAreaCapMask->setText(Q(GetLanguageString(section + 1)));
  }
  for (QLabel* l : {MaskDotAreaRes, PlateDotAreaRes, FilmDotAreaRes, SStructAreaREs, SDotAreaRes, FilmEdgeFaktorRes})
    l->setText("---%");
  for (QLabel* l : {LCMResult, PlateLCMResult, FilmLCMResult, SLCMResult, LineWidthRes, FilmLineWidthRes,
                    FLineWidthRes, PlateDotDiameterRes, EFRes, StdDevPlate})
    l->setText("---");
  for (QLabel* l : {AlphaRes, PlateAlphaRes, FilmAlphaREs, SAlphaRes}) l->setText(QString::fromUtf8("---°"));
  for (QLabel* l : {CountValue, CountValueG, CountValueK, DotDiameterValue, DotSizeValue, DotDiameterValueG,
                    DotSizeValueG, DotDiameterValueK, DotSizeValueK, StdDevRes, DotSizeStdDev, SDotDiameterValue,
                    SDotSizeValue, SDotDiameterValueG, SDotSizeValueG, SDotDiameterValueK, SDotSizeValueK})
    l->setText("...");
  LAMSEdgeFaktorRes->setText("-.--");
  FreqLabel->setText("/mm");
  PeriodeLabel->setText(QString::fromUtf8("µm"));
  // The film details and the structure area stay as they are.
  for (QWidget* p : {LAMSFreqPanel, LamsLineWidthPanel, LAMSDotDetailspanel, LAMSDotAreaPanel, LAMSSRPanel,
                     PLinePanel, PDotAreaPanel, FilmLineWidthPanel, FilmDotAreaPanel, StructLCMPanel,
                     PlateLineStructPanel, PlateStructPanel})
    p->setVisible(false);
}

// ---- LAMS mask page ----

void THRMainFrm::AnalyzeMaskStructClick() {
  if (!st.ImgCaptured) return;
  HRMain().MyMess = analysis::TMessung();
  analysis::TDriverContext c = DriverContext();
  analysis::AnalyzeWSI(c);
  SetPageVisible(MaskValues, true);
  ShowPanel(LAMSDotAreaPanel, true);
  ShowPanel(LAMSSRPanel, true);
  SetType(st, analysis::MT_LAMSWSI);
  if (st.StatActive) AddStatistic();
}

void THRMainFrm::AutoLineClick() {
  analysis::TDriverContext c = DriverContext();
  analysis::AutoLineClick(c);
}

void THRMainFrm::AnalyzeMaskbtnClick() {
  if (!st.ImgCaptured) return;
  analysis::TDriverContext c = DriverContext();
  analysis::AnalyzeMask(c, false);
  SetPageVisible(MaskValues, true);
  ShowPanel(LAMSDotAreaPanel, true);
  ShowPanel(LAMSSRPanel, true);
  ShowPanel(LAMSDotDetailspanel, true);
  SetType(st, analysis::MT_LAMSDOT);
  if (st.StatActive) AddStatistic();
}

// ---- plate page ----

void THRMainFrm::PlateConversion() {
  const analysis::TBRConv conv = analysis::BRConv[1];
  int32_t max = 0, min = 0;
  analysis::GetGrayBmp16Hist(0, 10000, 255, st.aHist, *st.ibmp, *st.dbmp, conv.m, conv.c, 1.0, max, min);
  st.maxbr = static_cast<uint32_t>(max);
  st.minbr = static_cast<uint32_t>(min);
}

void THRMainFrm::AnalyzePlateBtnClick() {
  if (!st.ImgCaptured) return;
  TWaitCursor wait;
  PlateCommandStart(*this);
  analysis::AnalyzeState& a = analysis::Analysis();
  if (st.isDens) {
    // The density image stays; its threshold comes from the edit, or from the histogram for
    // a value of 0 or below.
    const double dens = EditValue(PlateDensEdit);
    if (dens <= 0) {
      analysis::GetThreshold(st.aHist, 0, 257);
    } else {
      st.aHist.TH = static_cast<uint16_t>(std::clamp(platform::Round(dens * 100), 0, 65535));
    }
  } else {
    PlateConversion();
    analysis::GetThreshold(st.aHist, 0, 257);
    analysis::DrawSharp(*st.dbmp);
    *st.rbmp = *st.dbmp;
  }
  DrawHist();
  analysis::FillLocalTh(a, st.aHist.TH);
  double dx = 0, dy = 0;
  GetMaxFreq(dx, dy, false);
  st.maxfcm = st.maxf * a.PixelperInch / 2600.96;
  // The plate analysis finds its ruling from the dots themselves: the frequency is not passed.
  st.maxf = 0;
  st.maxfcm = 0;
  const double tol = EditValue(PlateDotTol);
  const double screen = std::isfinite(st.GScreen) ? st.GScreen : 0;
  analysis::AnalyzeTRANSImage(a, *st.dbmp, *st.rbmp, platform::Round(screen),
                              [this](int32_t v) { MainProgress->setValue(v); }, platform::Round(tol), tol >= 50,
                              st.maxf, st.maxfcm);
  if (st.isDens) {
    for (analysis::TSortedDotList* l = a.GAlternative; l; l = l->next) l->isBlack = !l->isBlack;
  }
  a.ActAlternative = a.GAlternative;
  SetType(st, analysis::MT_PLATEDOT);
  ShowAlternative(a.ActAlternative, false);
  st.MESSTYPE = analysis::MT_PLATEDOT;
  MainProgress->setValue(100);
  ShowPanel(PDotAreaPanel, true);
  if (st.StatActive) AddStatistic();
}

void THRMainFrm::AlternativebtnClick() {
  if (!st.ImgCaptured) return;
  st.ManOn = false;
  ManPlatebtn->setChecked(false);
  ManMaskbtn->setChecked(false);
  analysis::AnalyzeState& a = analysis::Analysis();
  if (a.ActAlternative) a.ActAlternative = a.ActAlternative->next ? a.ActAlternative->next : a.GAlternative;
  analysis::TMessung& mess = HRMain().MyMess;
  // Whether the statistic's last entry is the result shown until now (the redraw forgets it).
  const bool replace = HRMain().LastEntryIsMyMess;
  ShowAlternative(a.ActAlternative, mess.aType == analysis::MT_PLATESDOT);
  st.MESSTYPE = mess.aType;
  ShowPanel(PDotAreaPanel, true);
  if (st.StatActive) {
    // The population now shown takes the statistic entry of the one shown before, but only
    // when that entry is the result shown: a result the statistic refused (another type, or
    // a full statistic) has no entry, and the last entry belongs to another measurement.
    HRMainModule& m = HRMain();
    if (replace && m.StatCount > 0) --m.StatCount;
    AddStatistic();
  }
}

namespace {

// The threshold line of the plate's threshold commands on the histogram panel.
void MarkThreshold(TImage* hist, int32_t T) {
  if (!hist->BitmapPicture()) {
    platform::Bitmap picture = ImageToBitmap(hist->Picture());
    if (picture.Empty()) picture = platform::Bitmap(260, 105);
    hist->SetPicture(std::move(picture));
  }
  platform::Canvas c(*hist->BitmapPicture());
  c.Pen().Color = platform::clRed;
  c.Pen().Width = 1;
  c.MoveTo(T + 1, 103);
  c.LineTo(T + 1, 3);
  hist->update();
}

}  // namespace

void THRMainFrm::DotAnalyze2THClick() {
  if (!st.ImgCaptured) return;
  TWaitCursor wait;
  PlateCommandStart(*this);
  PlateConversion();
  *st.rbmp = *st.dbmp;
  analysis::GetThreshold(st.aHist, 20, 257);
  const int32_t T = st.aHist.TH;
  analysis::DrawSharp(*st.dbmp);
  *st.rbmp = *st.dbmp;
  DrawHist();
  // The presentation draws the dots of this type as a mask.
  SetType(st, analysis::MT_PLATESDOT);
  analysis::TDriverContext c = DriverContext();
  const double screen = std::isfinite(st.GScreen) ? st.GScreen : 0;
  analysis::AnalyzeKPlate(c, T, 1, platform::Round(EditValue(PlateDotTol)), platform::Round(screen));
  MarkThreshold(HistImg, T);
  MainProgress->setValue(100);
  ShowPanel(PDotAreaPanel, true);
  st.MESSTYPE = analysis::MT_PLATESDOT;
  if (st.StatActive) AddStatistic();
}

void THRMainFrm::DotNXPixelClick() {
  if (!st.ImgCaptured) return;
  TWaitCursor wait;
  PlateCommandStart(*this);
  PlateConversion();
  *st.rbmp = *st.dbmp;
  analysis::GetThreshold(st.aHist, 20, 257);
  const int32_t T = st.aHist.TH, R = st.aHist.r;
  analysis::DrawSharp(*st.dbmp);
  *st.rbmp = *st.dbmp;
  analysis::TDriverContext c = DriverContext();
  const double screen = std::isfinite(st.GScreen) ? st.GScreen : 0;
  analysis::AnalyzeKPlate(c, (T + R) / 2, 0, platform::Round(EditValue(PlateDotTol)), platform::Round(screen));
  MarkThreshold(HistImg, T);
  MainProgress->setValue(100);
  ShowPanel(PDotAreaPanel, true);
  SetType(st, analysis::MT_NXPixel);
  if (st.StatActive) AddStatistic();
}

void THRMainFrm::PlateTHBarChange() { StructContrast->setText(QString::number(PlateTHBar->value())); }

// ---- structure page ----

void THRMainFrm::AnalyzeStructurebtnClick() {
  if (!st.ImgCaptured) return;
  {
    // An empty histogram frame until a structure histogram is drawn.
    platform::Bitmap frame(PlateStructHist->width(), PlateStructHist->height());
    frame.Fill(255);
    platform::Canvas c(frame);
    c.Brush().Color = platform::clWhite;
    c.Brush().Style = platform::TCanvasBrushStyle::bsSolid;
    c.Pen().Color = platform::clBlack;
    c.Rectangle(0, 0, frame.Width() - 1, frame.Height() - 1);
    PlateStructHist->SetPicture(std::move(frame));
  }
  HRMain().MyMess = analysis::TMessung();
  analysis::TDriverContext c = DriverContext();
  analysis::AnalyzeWSIPlate(c);
  SetType(st, analysis::MT_PLATEWSIAREA);
  ShowPanel(PlateStructAreaPanel, true);
  ShowPanel(StructLCMPanel, true);
}

// ---- film page ----

int32_t THRMainFrm::FilmConversion() {
  const analysis::TBRConv conv = analysis::BRConv[3];
  int32_t max = 0, min = 0;
  analysis::GetGrayBmp16Hist(0, 10000, 255, st.aHist, *st.ibmp, *st.dbmp, conv.m, conv.c, 1.0, max, min);
  st.maxbr = static_cast<uint32_t>(max);
  st.minbr = static_cast<uint32_t>(min);
  const int32_t T = analysis::GetThreshold(st.aHist, 0, 257);
  analysis::DrawSharp(*st.dbmp);
  *st.rbmp = *st.dbmp;
  return T;
}

void THRMainFrm::AnalyzeFilmbtnClick() {
  if (!st.ImgCaptured) {
    MainProgress->setValue(100);
    return;
  }
  TWaitCursor wait;
  // The film's dot area is measured in density mode; the operator's mode comes back
  // afterwards, also when a step fails.
  struct RestoreDensity {
    bool& flag;
    bool value;
    ~RestoreDensity() { flag = value; }
  } restore{st.isDens, st.isDens};
  st.isDens = true;
  FilmConversion();
  HRMain().MyMess = analysis::TMessung();
  analysis::TDriverContext c = DriverContext();
  analysis::AnalyzeStandardFilm(c);
  ShowPanel(FilmDotAreaPanel, true);
  ShowPanel(FilmDotDetailsPanel, true);
  SetType(st, analysis::MT_FILMDOT);
  if (st.StatActive) AddStatistic();
  MainProgress->setValue(100);
}

void THRMainFrm::AnalyseKFilmbtnClick() {
  if (!st.ImgCaptured) return;
  FilmConversion();
  HRMain().MyMess = analysis::TMessung();
  analysis::TDriverContext c = DriverContext();
  analysis::AnalyzeFilm(c, false, true);
  ShowPanel(FilmDotAreaPanel, true);
  ShowPanel(FilmDotDetailsPanel, true);
  SetType(st, analysis::MT_FILMSDOT);
  if (st.StatActive) AddStatistic();
}

void THRMainFrm::KFilmClusterbtnClick() {
  if (!st.ImgCaptured) return;
  const int32_t T = FilmConversion();
  HRMain().MyMess = analysis::TMessung();
  // The presentation draws the clusters as a mask.
  SetType(st, analysis::MT_FILMCLUSTER);
  analysis::TDriverContext c = DriverContext();
  analysis::AnalyzeKFilm(c, T);
  ShowPanel(FilmDotAreaPanel, true);
  ShowPanel(FilmDotDetailsPanel, true);
  st.MESSTYPE = analysis::MT_FILMCLUSTER;
  if (st.StatActive) AddStatistic();
}

void THRMainFrm::FilmAlternativeClick() {
  analysis::TDriverContext c = DriverContext();
  analysis::FilmAlternativeClick(c);
}

void THRMainFrm::FilmLinebtnClick() {
  analysis::TDriverContext c = DriverContext();
  analysis::FilmLinebtnClick(c);
}

// ---- menu ----

void THRMainFrm::Analyze1Click() {
  const QWidget* page = Analyzepages->currentWidget();
  if (page == LAMS) {
    AnalyzeMaskbtnClick();
  } else if (page == Plate) {
    AnalyzePlateBtnClick();
  }
}

void THRMainFrm::Alternative1Click() {
  if (Analyzepages->currentWidget() == Plate) AlternativebtnClick();
}

// ---- wiring ----

void THRMainFrm::ConnectMeasurementControls() {
  auto on = [this](auto* sender, auto signal, void (THRMainFrm::*handler)()) { OnEvent(sender, signal, handler); };
  on(AnalyzeMaskStruct, &QToolButton::clicked, &THRMainFrm::AnalyzeMaskStructClick);
  on(AutoLine, &QToolButton::clicked, &THRMainFrm::AutoLineClick);
  on(AnalyzeMaskbtn, &QToolButton::clicked, &THRMainFrm::AnalyzeMaskbtnClick);
  on(AnalyzePlateBtn, &QToolButton::clicked, &THRMainFrm::AnalyzePlateBtnClick);
  on(Alternativebtn, &QToolButton::clicked, &THRMainFrm::AlternativebtnClick);
  on(DotAnalyze2TH, &QToolButton::clicked, &THRMainFrm::DotAnalyze2THClick);
  on(DotNXPixel, &QToolButton::clicked, &THRMainFrm::DotNXPixelClick);
  on(AnalyzeStructurebtn, &QToolButton::clicked, &THRMainFrm::AnalyzeStructurebtnClick);
  on(AnalyzeFilmbtn, &QToolButton::clicked, &THRMainFrm::AnalyzeFilmbtnClick);
  on(AnalyseKFilmbtn, &QToolButton::clicked, &THRMainFrm::AnalyseKFilmbtnClick);
  on(KFilmClusterbtn, &QToolButton::clicked, &THRMainFrm::KFilmClusterbtnClick);
  on(FilmAlternative, &QToolButton::clicked, &THRMainFrm::FilmAlternativeClick);
  on(FilmLinebtn, &QToolButton::clicked, &THRMainFrm::FilmLinebtnClick);
  on(Analyze1, &QAction::triggered, &THRMainFrm::Analyze1Click);
  on(Alternative1, &QAction::triggered, &THRMainFrm::Alternative1Click);
  on(PlateTHBar, &QSlider::valueChanged, &THRMainFrm::PlateTHBarChange);
  ConnectManualControls();
}

}  // namespace app
