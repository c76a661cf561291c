// Manual measurement on the analysis image: the ruler (press, drag, release), the editing of
// the shown population by clicks (Ctrl adds, Shift removes, manual mode toggles), the line
// measurement of line mode, the manual selection, line and burl commands, and the fixed
// screens the operator types in place of the measured ones.
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QSlider>
#include <QToolButton>
#include <cmath>

#include "analysis/analyze_drivers_film.h"
#include "analysis/analyze_drivers_manual.h"
#include "analysis/analyze_grid.h"
#include "analysis/analyze_threshold.h"
#include "analysis/myimage.h"
#include "analysis/myimage_gray.h"
#include "analysis/mymath.h"
#include "app/hr_main.h"
#include "app/hr_main_host.h"
#include "platform/base/numeric.h"
#include "platform/ui/ui_services.h"

namespace app {

namespace {

constexpr platform::TPoint kNone{-1, -1};

void SetType(THRMainState& st, analysis::MType type) {
  st.MESSTYPE = type;
  HRMain().MyMess.aType = type;
}

}  // namespace

// ---- the analysis image ----

namespace {

// While the camera window streams into the display the image is no ruler.
bool VideoRunning(const MainWindowLinks& links) { return links.FrmPreview && links.FrmPreview->VideoStatus != 0; }

}  // namespace

void THRMainFrm::ShowPageAlternative() {
  analysis::AnalyzeState& a = analysis::Analysis();
  const analysis::TMessung& mess = HRMain().MyMess;
  const QWidget* page = Analyzepages->currentWidget();
  if (page == LAMS) {
    ShowMaskAlternative(a.ActAlternative, analysis::DisplayMode(*host_, "DiameterRB", "SizeRB"), false);
    for (QWidget* p : {LAMSDotAreaPanel, LAMSDotDetailspanel, LAMSSRPanel}) ShowPanel(p, true);
  } else if (page == Plate) {
    ShowAlternative(a.ActAlternative, mess.aType == analysis::MT_PLATESDOT);
    ShowPanel(PDotAreaPanel, true);
  } else if (page == FILM) {
    ShowFilmAlternative(a.ActAlternative, mess.aType == analysis::MT_FILMDOT, false);
  }
}

void THRMainFrm::AnalyseImageMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int X, int Y) {
  if (VideoRunning(links_)) return;
  {
    platform::Canvas c = AnalyseCanvas();
    DrawMark(c, st.OldMark.X, st.OldMark.Y, true);
    AnalyseImage->update();
  }
  if (button != Qt::LeftButton) {
    // Any other button takes the overlays away: the page's display bars and the plain image.
    SetDisplayBarPosition();
    st.StartPos = st.OldMark = kNone;
    DrawZoomed(*st.dbmp);
    return;
  }
  const bool ctrl = shift.testFlag(Qt::ControlModifier);
  const bool shifted = shift.testFlag(Qt::ShiftModifier);
  if (ctrl || shifted || st.ManOn) {
    platform::TPoint p{X, Y};
    if (st.ZoomOn >= 2) p = {platform::Round(double(X) / st.ZoomOn), platform::Round(double(Y) / st.ZoomOn)};
    analysis::EditAlternative(analysis::Analysis(), p, ctrl, shifted, st.ManOn);
    ShowPageAlternative();
    st.MESSTYPE = HRMain().MyMess.aType;
    st.StartPos = st.OldMark = kNone;
    return;
  }
  st.StartPos = {X, Y};
  platform::Canvas c = AnalyseCanvas();
  DrawMark(c, X, Y, true);
  AnalyseImage->update();
}

void THRMainFrm::AnalyseImageMouseMove(int X, int Y) {
  if (VideoRunning(links_)) return;
  platform::Canvas c = AnalyseCanvas();
  DrawMark(c, st.OldMark.X, st.OldMark.Y, true);
  DrawMark(c, X, Y, true);
  AnalyseImage->update();
  StatusBar1->SetPanelText(1, QString::number(X));
  StatusBar1->SetPanelText(2, QString::number(Y));
}

void THRMainFrm::AnalyseImageMouseLeave() {
  platform::Canvas c = AnalyseCanvas();
  DrawMark(c, st.OldMark.X, st.OldMark.Y, true);
  AnalyseImage->update();
  st.OldMark = kNone;
}

void THRMainFrm::AnalyseImageMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int X, int Y) {
  if (button != Qt::LeftButton || VideoRunning(links_) || st.StartPos.X <= 0 || st.StartPos.Y <= 0) return;
  {
    platform::Canvas c = AnalyseCanvas();
    DrawMark(c, st.OldMark.X, st.OldMark.Y, true);
    AnalyseImage->update();
  }
  if (!shift.testFlag(Qt::ControlModifier) && !shift.testFlag(Qt::ShiftModifier)) {
    analysis::AnalyzeState& a = analysis::Analysis();
    if (st.LineOn) {
      analysis::TDriverContext ctx = DriverContext();
      const platform::TPoint start = st.StartPos;
      analysis::CalcLine(ctx, {X, Y}, start);
      st.OldMark = st.StartPos = kNone;
      const QWidget* page = Analyzepages->currentWidget();
      if (page == LAMS) ShowPanel(LamsLineWidthPanel, true);
      if (page == Plate) ShowPanel(PLinePanel, true);
      if (page == FILM) ShowPanel(FilmLineWidthPanel, true);
      if (st.StatActive) AddStatistic();
    } else {
      platform::Canvas c = AnalyseCanvas();
      c.Pen().Mode = platform::TCanvasPenMode::pmCopy;
      c.Pen().Color = 0xFFFF00;  // aqua
      c.Pen().Width = 1;
      c.MoveTo(st.StartPos.X, st.StartPos.Y);
      c.LineTo(X, Y);
      const double zoom = st.ZoomOn >= 2 ? st.ZoomOn : 1;
      const double L = analysis::Abstand(st.StartPos.X / zoom, st.StartPos.Y / zoom, X / zoom, Y / zoom);
      const std::string text = a.SUnits == 1 ? analysis::SetVal(L * 1000 / a.PixelperInch, a.Digits) + " mil"
                                             : analysis::SetVal(L * 1000 * 25.4 / a.PixelperInch, a.Digits) + " \u00B5m";
      StatusBar1->SetPanelText(0, Q(text));
      c.Font().Color = platform::clRed;
      c.Font().Height = 0;
      c.Font().Size = 12;
      c.Font().Style = 0;
      c.Font().Align = platform::TCanvasTextAlign::taLeft;
      c.Font().Opaque = false;
      c.TextOut((X + st.StartPos.X) / 2, (Y + st.StartPos.Y) / 2, text);
      AnalyseImage->update();
      StatusBar1->SetPanelText(3, Q(analysis::MFTStr(L, platform::TFloatFormat::ffFixed, 3, 2) + "p"));
    }
  }
  st.StartPos = st.OldMark = kNone;
}

// ---- manual selection, line modes, burls ----

void THRMainFrm::ManMaskbtnClick() {
  analysis::TDriverContext c = DriverContext();
  analysis::ManualSelectionClick(c, analysis::TAnalysisPage::Mask);
}

void THRMainFrm::ManPlatebtnClick() {
  analysis::TDriverContext c = DriverContext();
  analysis::ManualSelectionClick(c, analysis::TAnalysisPage::Plate);
}

void THRMainFrm::ManFilmbtnClick() {
  analysis::TDriverContext c = DriverContext();
  analysis::ManualSelectionClick(c, analysis::TAnalysisPage::Film);
}

void THRMainFrm::LineBtnClick() {
  analysis::TDriverContext c = DriverContext();
  analysis::LineModeClick(c, analysis::TAnalysisPage::Mask);
}

void THRMainFrm::FLinebtnClick() {
  analysis::TDriverContext c = DriverContext();
  analysis::LineModeClick(c, analysis::TAnalysisPage::Plate);
}

void THRMainFrm::BurlDotbtnClick() {
  if (!st.ImgCaptured) return;
  TWaitCursor wait;
  st.ManOn = false;
  ManPlatebtn->setChecked(false);
  ManMaskbtn->setChecked(false);
  MainProgress->setValue(0);
  analysis::AnalyzeState& a = analysis::Analysis();
  PlateConversion();
  *st.rbmp = *st.dbmp;
  analysis::GetDens16bmpAndHist(st.aHist, *st.ibmp, *st.rbmp, 150, 50);
  DrawHist();
  analysis::ClearResult(a);
  uint8_t contrast = 0;
  int32_t proc = 0;
  const int32_t T = analysis::GetLocalTH(a, *st.rbmp, 200, 0, 255, contrast, proc, false, 256, 6);
  // The local thresholds are drawn towards the mean by the square root of their distance
  // from it, and raised by the operator's contrast bar.
  const int32_t bar = PlateTHBar->value();
  for (int x = 0; x < analysis::ImWidth; ++x) {
    for (int y = 0; y < analysis::ImHeight; ++y) {
      const double d = double(T) - a.ThImage[x][y];
      const double s = d > 0 ? std::sqrt(d) : -std::sqrt(-d);
      a.ThImage[x][y] = static_cast<uint16_t>(std::clamp(platform::Round(s + 5 + bar), 0, 65535));
    }
  }
  platform::Bitmap C = *st.rbmp;
  analysis::BinLocalTh(a, *st.rbmp);
  analysis::InvImg(*st.rbmp, C);
  analysis::TDriverContext ctx = DriverContext();
  int32_t count = 0;
  analysis::TSortedDotList* pop = analysis::BurlDots(ctx, C, bar, count);
  MainProgress->setValue(80);
  pop->next = nullptr;
  a.GAlternative = a.ActAlternative = pop;
  ShowAlternative(pop, HRMain().MyMess.aType == analysis::MT_PLATESDOT);
  MainProgress->setValue(100);
  ShowPanel(PDotAreaPanel, true);
  SetType(st, analysis::MT_NXBURL);
}

// ---- fixed screens ----

void THRMainFrm::FixScreen(double& period, QToolButton* button, QLabel* ruling, QLabel* unit) {
  if (period != 0) {
    button->setChecked(false);
    period = 0;
  } else {
    button->setChecked(true);
    std::string answer = S(ruling->text());
    if (platform::ui::Services().InputQuery("QUIRVEL", S(unit->text()), answer)) {
      const analysis::AnalyzeState& a = analysis::Analysis();
      const double q = analysis::GetVal(answer);
      const double fixed = a.PixelperInch / (q * a.LUnits);
      // A ruling that is no positive number (or one so small that no period results) fixes
      // nothing.
      if (q > 0 && std::isfinite(fixed)) {
        period = fixed;
      } else {
        button->setChecked(false);
        period = 0;
      }
    }
  }
  button->update();
}

void THRMainFrm::FixLAMSScreenbtnClick() {
  FixScreen(st.GLScreen, FixLAMSScreenbtn, LCMResult, LCMlabelMask);
  analysis::AnalyzeState& a = analysis::Analysis();
  ShowMaskAlternative(a.ActAlternative, analysis::DisplayMode(*host_, "DiameterRB", "SizeRB"), false);
  MainProgress->setValue(100);
  SetPageVisible(MaskValues, true);
  for (QWidget* p : {LAMSDotAreaPanel, LAMSDotDetailspanel, LAMSSRPanel}) ShowPanel(p, true);
  st.MESSTYPE = HRMain().MyMess.aType;
}

void THRMainFrm::FixScreenbtnClick() {
  FixScreen(st.GScreen, FixScreenbtn, PlateLCMResult, LCMLabelPlate);
  ShowAlternative(analysis::Analysis().ActAlternative, HRMain().MyMess.aType == analysis::MT_PLATESDOT);
  ShowPanel(PDotAreaPanel, true);
  st.MESSTYPE = HRMain().MyMess.aType;
}

void THRMainFrm::FixFScreenbtnClick() {
  FixScreen(st.GFScreen, FixFScreenbtn, FilmLCMResult, LCMLabelFilm);
  ShowFilmAlternative(analysis::Analysis().ActAlternative, HRMain().MyMess.aType == analysis::MT_FILMDOT, false);
  ShowPanel(FilmDotAreaPanel, true);
  st.MESSTYPE = HRMain().MyMess.aType;
}

// ---- wiring ----

void THRMainFrm::ConnectManualControls() {
  auto on = [this](auto* sender, auto signal, void (THRMainFrm::*handler)()) { OnEvent(sender, signal, handler); };
  on(ManMaskbtn, &QToolButton::clicked, &THRMainFrm::ManMaskbtnClick);
  on(ManPlatebtn, &QToolButton::clicked, &THRMainFrm::ManPlatebtnClick);
  on(ManFilmbtn, &QToolButton::clicked, &THRMainFrm::ManFilmbtnClick);
  on(LineBtn, &QToolButton::clicked, &THRMainFrm::LineBtnClick);
  on(FLinebtn, &QToolButton::clicked, &THRMainFrm::FLinebtnClick);
  on(BurlDotbtn, &QToolButton::clicked, &THRMainFrm::BurlDotbtnClick);
  on(FixLAMSScreenbtn, &QToolButton::clicked, &THRMainFrm::FixLAMSScreenbtnClick);
  on(FixScreenbtn, &QToolButton::clicked, &THRMainFrm::FixScreenbtnClick);
  on(FixFScreenbtn, &QToolButton::clicked, &THRMainFrm::FixFScreenbtnClick);
  on(StructureStreifen, &QToolButton::clicked, &THRMainFrm::StructureStreifenClick);
  on(StructAutoLine, &QToolButton::clicked, &THRMainFrm::StructAutoLineClick);
  on(FFT1, &QAction::triggered, &THRMainFrm::FFT1Click);
  on(FFTAmplitude, &QSlider::valueChanged, &THRMainFrm::FFTAmplitudeChange);

  const auto point = [](const QMouseEvent* e) { return e->position().toPoint(); };
  connect(AnalyseImage, &TImage::mousePressed, this, [this, point](QMouseEvent* e) {
    const QPoint p = point(e);
    Guarded([&] { AnalyseImageMouseDown(e->button(), e->modifiers(), p.x(), p.y()); });
  });
  connect(AnalyseImage, &TImage::mouseMoved, this, [this, point](QMouseEvent* e) {
    const QPoint p = point(e);
    Guarded([&] { AnalyseImageMouseMove(p.x(), p.y()); });
  });
  connect(AnalyseImage, &TImage::mouseReleased, this, [this, point](QMouseEvent* e) {
    const QPoint p = point(e);
    Guarded([&] { AnalyseImageMouseUp(e->button(), e->modifiers(), p.x(), p.y()); });
  });
  connect(AnalyseImage, &TImage::mouseLeft, this, [this] { Guarded([this] { AnalyseImageMouseLeave(); }); });
}

}  // namespace app
