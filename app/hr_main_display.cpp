// The image display: the display pipeline from the high-range image to the shown picture,
// zoom, the display bars with their arrows and rulers, the sharpness edit, the histogram panel,
// the density view, the test views of the camera page, the distance mark of the manual
// measurement and the hidden sharpness labels.
#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <cmath>
#include <cstring>

#include "analysis/analyze_grid.h"
#include "analysis/analyze_neighbours.h"
#include "analysis/myimage_filters.h"
#include "analysis/myimage_gray.h"
#include "analysis/myimage_hist.h"
#include "analysis/mymath.h"
#include "app/hr_main.h"
#include "app/hr_main_support.h"
#include "platform/base/clock.h"
#include "platform/base/number_format.h"
#include "platform/base/number_parse.h"
#include "platform/base/numeric.h"

namespace app {

namespace {

using platform::Bitmap;

// Colours (0x00BBGGRR) of the histogram panel's peak and threshold lines.
constexpr platform::TColor kSilver = 0xC0C0C0;
constexpr platform::TColor kAqua = 0xFFFF00;

// The sharpening chain of a page: each step reads dbmp and writes rbmp, and dbmp becomes a
// copy of rbmp before the next step.
enum class Step { Guided, Skip, Edge };
struct ChainStep {
  Step step;
  double value;  // guided: eps; skip: divisor of the sharpness value; edge: f
};
struct PageRow {
  ini::Page page;
  std::array<ChainStep, 3> chain;
  int steps;
};

// Index = analysis page (0 LAMS, 1 plate, 2 structure, 3 film).
const std::array<PageRow, 4> kPageRows = {{
    {ini::Page::LAMS, {{{Step::Guided, 2.0}, {Step::Skip, 4}, {Step::Edge, 20}}}, 3},
    {ini::Page::PLATE, {{{Step::Guided, 1.0}, {Step::Skip, 5}, {Step::Edge, 5}}}, 3},
    {ini::Page::STRUCT, {{{Step::Guided, 2.0}, {Step::Skip, 5}, {Step::Edge, 20}}}, 3},
    {ini::Page::FILM, {{{Step::Skip, 10}, {Step::Guided, 1.0}, {}}}, 2},
}};

void RunChain(const std::array<ChainStep, 3>& chain, int steps, int sharp, Bitmap& dbmp, Bitmap& rbmp) {
  for (int i = 0; i < steps; ++i) {
    if (i > 0) dbmp = rbmp;
    const ChainStep& s = chain[static_cast<size_t>(i)];
    switch (s.step) {
      case Step::Guided: analysis::ApplyGuidedSharpFilter(dbmp, rbmp, s.value, 2, 0); break;
      case Step::Skip: analysis::SharpbmpSkip(dbmp, rbmp, sharp / s.value); break;
      case Step::Edge: analysis::EdgeEnhancement(dbmp, rbmp, static_cast<int32_t>(s.value), 0); break;
    }
  }
}

// src enlarged by an integer factor into out (zoom times src's size), each pixel repeated
// zoom x zoom times: the nearest-pixel stretch of the canvas for this case, done a row at a
// time (the zoom-4 picture has 21 million pixels).
void ZoomInto(const Bitmap& src, int zoom, Bitmap& out) {
  for (int y = 0; y < src.Height(); ++y) {
    const uint8_t* s = src.ScanLine(y);
    uint8_t* first = out.ScanLine(y * zoom);
    uint8_t* d = first;
    for (int x = 0; x < src.Width(); ++x, s += 3) {
      for (int k = 0; k < zoom; ++k, d += 3) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
      }
    }
    for (int k = 1; k < zoom; ++k) std::memcpy(out.ScanLine(y * zoom + k), first, out.RowBytes());
  }
}

// maxbr and minbr hold the signed range of the display curve in unsigned fields: their
// difference is taken signed, so that a minimum above the maximum cannot wrap round.
int64_t Range(uint32_t maxbr, uint32_t minbr) {
  return int64_t{static_cast<int32_t>(maxbr)} - static_cast<int32_t>(minbr);
}

// The threshold of the 8-bit histogram translated back into the high-range scale.
int64_t HighRangeThreshold(const analysis::THist& h, uint32_t maxbr, uint32_t minbr) {
  return platform::Round64(static_cast<long double>(int64_t{h.TH} - 10) * Range(maxbr, minbr) / 256) +
         static_cast<int32_t>(minbr);
}

}  // namespace

int THRMainFrm::ActivePageIndex() const {
  const QWidget* current = Analyzepages->currentWidget();
  if (current == LAMS) return 0;
  if (current == Plate) return 1;
  if (current == STRUCTURE) return 2;
  if (current == FILM) return 3;
  if (current == CALIBRATION) return 4;
  return 5;
}

double THRMainFrm::ClampGammaField() {
  double g = analysis::GetVal(S(GammaEdit->text()));
  // A text that is no number at all counts as what GetVal makes of it, then the range.
  if (!(g >= 0.1)) g = 0.1;
  if (g > 10) g = 10;
  GammaEdit->setText(Q(analysis::MFTStr(g, platform::TFloatFormat::ffFixed, 15, 2)));
  return g;
}

void THRMainFrm::UpdateImage() {
  TWaitCursor wait;
  const double g = ClampGammaField();
  const double gb = (DisplayGammaBar->value() * 10 + 100) / 100.0;
  const int page = ActivePageIndex();
  bool redrawn = false;
  if (st.isDens) {
    // Every density redraw starts from the density switch's image, never from the last
    // redraw's result with its overlays.
    if (st.densbmp) *st.dbmp = *st.densbmp; else *st.dbmp = *st.rbmp;
    analysis::ApplyGuidedSharpFilter(*st.dbmp, *st.rbmp, 2.0, 2, 0);
    *st.dbmp = *st.rbmp;
    analysis::SharpbmpSkip(*st.dbmp, *st.rbmp, 1.0);
    *st.dbmp = *st.rbmp;
    analysis::EdgeEnhancement(*st.dbmp, *st.rbmp, 20, 0);
    redrawn = true;
  } else if (page <= 3) {
    const PageRow& row = kPageRows[static_cast<size_t>(page)];
    const analysis::TBRConv base = analysis::BRConv[static_cast<size_t>(page)];
    const int m = DisplayBrBar->value() * 50 + base.m;
    const double gamma = row.page == ini::Page::STRUCT ? g : gb;
    if (st.HaveImage) {
      analysis::THist hist;
      int32_t max = 0, min = 0;
      analysis::GetGrayBmp16Hist(0, 10000, 255, hist, *st.ibmp, *st.dbmp, m, base.c, gamma, max, min);
      st.maxbr = static_cast<uint32_t>(max);
      st.minbr = static_cast<uint32_t>(min);
    }
    WriteIni(ini::kMain, ini::BrdKey(row.page), std::to_string(DisplayBrBar->value()));
    WriteIni(ini::kMain, ini::GammaKey(row.page), std::to_string(DisplayGammaBar->value()));
    WriteIni(ini::kMain, ini::SharpKey(row.page), std::to_string(SharpSpinEdit->value()));
    if (st.HaveImage) {
      const uint32_t start = platform::GetTickCount();
      RunChain(row.chain, row.steps, SharpSpinEdit->value(), *st.dbmp, *st.rbmp);
      if (row.page == ini::Page::PLATE) *st.dbmp = *st.rbmp;
      if (row.page == ini::Page::LAMS || row.page == ini::Page::PLATE) {
        StatusBar1->SetPanelText(3, QString::number(platform::GetTickCount() - start));
      }
      redrawn = true;
    }
  } else {
    // The camera, calibration and other pages show the current result image as it is.
    redrawn = st.HaveImage;
  }
  if (redrawn) {
    analysis::DrawSharp(*st.rbmp);
    DrawZoomed(*st.rbmp);
  }
  BRRulerLabel->setText(QString::number(DisplayBrBar->value()));
  GammaRulerLabel->setText(QString::number(DisplayGammaBar->value()));
  emit ImageUpdated();
}

void THRMainFrm::DrawZoomed(const Bitmap& abmp) {
  const int zoom = st.ZoomOn < 2 ? 1 : st.ZoomOn;
  const bool plain = abmp.GetPixelFormat() == platform::PixelFormat::pf24bit;
  const int width = zoom == 1 ? abmp.Width() : zoom * analysis::ImWidth;
  const int height = zoom == 1 ? abmp.Height() : zoom * analysis::ImHeight;
  // A picture of the same size is drawn over in place: a new one of 63 MB at zoom 4 would cost
  // more in fresh memory than the drawing itself.
  Bitmap* shown = AnalyseImage->BitmapPicture();
  if (shown && plain && shown->Width() == width && shown->Height() == height) {
    if (zoom == 1) {
      *shown = abmp;
    } else if (abmp.Width() == analysis::ImWidth && abmp.Height() == analysis::ImHeight) {
      ZoomInto(abmp, zoom, *shown);
    } else {
      platform::Canvas(*shown).StretchDraw({0, 0, width, height}, abmp);
    }
    AnalyseImage->update();
  } else if (zoom == 1) {
    AnalyseImage->SetPicture(Bitmap(abmp));
  } else {
    Bitmap out(width, height);
    if (plain && abmp.Width() == analysis::ImWidth && abmp.Height() == analysis::ImHeight) {
      ZoomInto(abmp, zoom, out);
    } else {
      platform::Canvas(out).StretchDraw({0, 0, width, height}, abmp);
    }
    AnalyseImage->SetPicture(std::move(out));
  }
  st.OldMark = {-1, -1};
  st.StartPos = {-1, -1};
}

void THRMainFrm::ZoombtnClick() {
  if (st.ZoomOn < 4) ++st.ZoomOn;
  DrawZoomed(*st.rbmp);
}

void THRMainFrm::UnZoombtnClick() {
  st.ZoomOn = 1;
  DrawZoomed(*st.dbmp);
  UpdateImage();
}

// ---- bars, arrows, rulers and the sharpness edit ----

void THRMainFrm::DisplayBrBarChange() {
  // Dragging redraws once, when the bar is let go.
  if (DisplayBrBar->isSliderDown()) return;
  if (DisplayBrBar->value() == st.OldBr) return;
  st.OldBr = static_cast<int16_t>(DisplayBrBar->value());
  UpdateImage();
}

void THRMainFrm::DisplayGammaBarChange() {
  if (DisplayGammaBar->isSliderDown()) return;
  if (DisplayGammaBar->value() == st.OldGama) return;
  st.OldGama = static_cast<int16_t>(DisplayGammaBar->value());
  UpdateImage();
}

namespace {

// One step of a bar; false at its end. The bar's own change handler stays quiet: the caller
// redraws once.
bool StepBar(QSlider* bar, bool up) {
  const int next = bar->value() + (up ? 1 : -1);
  if (next > bar->maximum() || next < bar->minimum()) return false;
  const QSignalBlocker quiet(bar);
  bar->setValue(next);
  return true;
}

void ZeroBar(QSlider* bar) {
  const QSignalBlocker quiet(bar);
  bar->setValue(0);
}

}  // namespace

void THRMainFrm::ChgBRBarClick(bool up) {
  if (!StepBar(DisplayBrBar, up)) return;
  st.OldBr = static_cast<int16_t>(DisplayBrBar->value());
  UpdateImage();
}

void THRMainFrm::ChgGammabarClick(bool up) {
  if (!StepBar(DisplayGammaBar, up)) return;
  st.OldGama = static_cast<int16_t>(DisplayGammaBar->value());
  UpdateImage();
}

void THRMainFrm::BRRulerLabelDblClick() {
  ZeroBar(DisplayBrBar);
  st.OldBr = 0;
  UpdateImage();
}

void THRMainFrm::GammaRulerLabelDblClick() {
  ZeroBar(DisplayGammaBar);
  st.OldGama = 0;
  UpdateImage();
}

void THRMainFrm::SharpSpinEditChange() {
  if (SharpSpinEdit->value() == st.OldSharp) return;
  st.OldSharp = static_cast<int16_t>(SharpSpinEdit->value());
  UpdateImage();
}

bool THRMainFrm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    if (watched == BRRulerLabel) {
      Guarded([this] { BRRulerLabelDblClick(); });
      return true;
    }
    if (watched == GammaRulerLabel) {
      Guarded([this] { GammaRulerLabelDblClick(); });
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- histogram panel ----

void THRMainFrm::DrawHist() {
  const analysis::THist& h = st.aHist;
  Bitmap panel(260, 105);
  platform::Canvas c(panel);
  c.Brush().Color = platform::clWhite;
  c.Brush().Style = platform::TCanvasBrushStyle::bsSolid;
  c.Pen().Color = platform::clBlack;
  c.Pen().Width = 1;
  c.Rectangle(0, 0, 260, 105);
  auto vline = [&c](int x, int from, int to) {
    c.MoveTo(x, from);
    c.LineTo(x, to);
  };
  c.Pen().Color = kSilver;
  vline(h.l, 103, 3);
  vline(h.r, 103, 3);
  c.Pen().Color = kAqua;
  vline(h.TH, 103, 3);
  PercLabel->setText(Q(analysis::SetVal(h.pc / 100.0, analysis::Analysis().Digits) + "%"));
  // Only the first 260 bins are visible; an empty histogram has no bars.
  c.Pen().Color = platform::clBlue;
  if (h.MaxHist > 0) {
    for (int i = 0; i < panel.Width(); ++i) {
      const int height = platform::Round(static_cast<double>(h.Hist[static_cast<size_t>(i)]) * 100 / h.MaxHist);
      vline(i, 103, 103 - height);
    }
  }
  HistImg->SetPicture(std::move(panel));
  Label12->setText("Dynamic Range: " + QString::number(Range(st.maxbr, st.minbr)));
  Label13->setText("TH: " + QString::number(h.TH) + " / " +
                   QString::number(HighRangeThreshold(h, st.maxbr, st.minbr)));
}

// ---- density view and structure contrast ----

void THRMainFrm::DensitybtnClick() {
  st.MESSTYPE = analysis::MT_NONE;
  HRMain().MyMess = analysis::TMessung();
  TWaitCursor wait;
  const uint8_t marker = OriginMarker(*st.ibmp);
  if (st.isDens) {
    if (marker == 0) {
      analysis::GetGraybmpAndHistZero(st.aHist, *st.ibmp, *st.dbmp, *st.bgimg, 255, 0, st.maxbr, st.minbr, 1);
    } else {
      QuirvelHeader head;
      const bool found = ReadHeader(*st.ibmp, head);
      int32_t max = 0, min = 0;
      analysis::GetGrayBmp16Hist(0, 10000, 255, st.aHist, *st.ibmp, *st.dbmp, found ? head.m : 255,
                                 found ? head.c : 0, 1, max, min);
    }
    st.isDens = false;
  } else {
    if (marker == 0) {
      analysis::GetDensbmpAndHistZero(st.aHist, *st.ibmp, *st.dbmp, *st.bgimg, st.maxbr, st.minbr);
    } else {
      analysis::GetDens16bmpAndHist(st.aHist, *st.ibmp, *st.dbmp, 150, 50);
    }
    st.isDens = true;
  }
  Densitybtn->setChecked(st.isDens);
  analysis::GetThreshold(st.aHist, 0, 257);
  DrawHist();
  analysis::DrawSharp(*st.dbmp);
  *st.rbmp = *st.dbmp;
  if (st.isDens) {
    st.densbmp = std::make_unique<Bitmap>(*st.dbmp);
  } else {
    st.densbmp.reset();
  }
  MainProgress->setValue(MainProgress->maximum());
  st.OldMark = {-1, -1};
  st.StartPos = {-1, -1};
  UpdateImage();
}

void THRMainFrm::GammabtnClick() {
  TWaitCursor wait;
  const double g = ClampGammaField();
  analysis::THist hist;
  int32_t max = 0, min = 0;
  analysis::GetGrayBmp16Hist(0, 10000, 255, hist, *st.ibmp, *st.dbmp, DisplayBrBar->value() * 50 + 280, 0, g, max,
                             min);
  analysis::DrawSharp(*st.dbmp);
  DrawZoomed(*st.dbmp);
}

// ---- camera page test views ----

void THRMainFrm::ShowTestView(const Bitmap& bmp) {
  Bitmap picture(analysis::ImWidth, analysis::ImHeight);
  platform::Canvas(picture).Draw(0, 0, bmp);
  AnalyseImage->SetPicture(std::move(picture));
}

void THRMainFrm::GrayImgClick() { ShowTestView(*st.ibmp); }

void THRMainFrm::FullImgClick() { ShowTestView(*st.dbmp); }

void THRMainFrm::BINImgbtnClick() {
  const int32_t p = analysis::BinImg(*st.dbmp, *st.rbmp, st.aHist.TH);
  PercLabel->setText(Q(platform::StrFloat(p / 100.0, 5, 2) + "%"));
  ShowTestView(*st.rbmp);
}

void THRMainFrm::HRBinImgbtnClick() {
  const auto t = static_cast<int32_t>(HighRangeThreshold(st.aHist, st.maxbr, st.minbr));
  const int32_t d = analysis::GetHRTH(*st.ibmp, t);
  *st.rbmp = *st.dbmp;
  // The width of the band below the threshold; the field's text is a whole number.
  const int32_t band = platform::StrToIntDef(S(BinHREdit->text()), 1024);
  const int32_t p = analysis::HRBinImg(*st.ibmp, *st.rbmp, d, band);
  PercLabel->setText(Q(platform::StrFloat(p / 100.0, 5, 2) + "%"));
  ShowTestView(*st.rbmp);
}

void THRMainFrm::GridbtnClick() {
  analysis::TSortedDotList* pop = analysis::Analysis().ActAlternative;
  if (!pop) return;
  platform::Canvas c(*st.dbmp);
  analysis::GetGrid(c, platform::clBlack, pop->dots, pop->alpha, pop->distance + 0.5);
  ShowTestView(*st.dbmp);
}

void THRMainFrm::WGridbtnClick() {
  analysis::TSortedDotList* pop = analysis::Analysis().ActAlternative;
  if (!pop) return;
  platform::Canvas c(*st.dbmp);
  analysis::GetGrid(c, platform::clWhite, pop->dots, pop->alpha, pop->distance + 0.5);
  ShowTestView(*st.dbmp);
}

void THRMainFrm::DiffbtnClick() {
  HRMainModule& module = HRMain();
  if (!module.GIntImg) module.GIntImg = std::make_unique<analysis::TIntImg>();
  analysis::IntegralImg(*st.dbmp, *module.GIntImg, 0);
  Bitmap average(analysis::ImWidth, analysis::ImHeight);
  analysis::AVGImg(*st.dbmp, average, *module.GIntImg, 50, 50);
  platform::Canvas c = AnalyseCanvas();
  c.Draw(0, 0, average);
  AnalyseImage->update();
}

// ---- distance mark ----

platform::Canvas THRMainFrm::AnalyseCanvas() {
  if (!AnalyseImage->BitmapPicture()) {
    Bitmap picture = ImageToBitmap(AnalyseImage->Picture());
    if (picture.Empty()) picture = Bitmap(analysis::ImWidth, analysis::ImHeight);
    AnalyseImage->SetPicture(std::move(picture));
  }
  return platform::Canvas(*AnalyseImage->BitmapPicture());
}

void THRMainFrm::DrawMark(platform::Canvas& aCanvas, int X, int Y, bool Kreis) {
  if (X <= 0 || Y <= 0) return;
  const analysis::AnalyzeState& a = analysis::Analysis();
  aCanvas.Pen().Mode = platform::TCanvasPenMode::pmNot;
  aCanvas.Pen().Width = 1;
  aCanvas.Brush().Style = platform::TCanvasBrushStyle::bsClear;
  int b = platform::Round(a.PixelperInch / 508);  // 50 µm in pixels
  if (st.StartPos.X > 0 && st.StartPos.Y > 0) {
    aCanvas.MoveTo(st.StartPos.X, st.StartPos.Y);
    aCanvas.LineTo(X, Y);
    const double zoom = st.ZoomOn >= 2 ? st.ZoomOn : 1;
    const double d = analysis::Abstand(st.StartPos.X / zoom, st.StartPos.Y / zoom, X / zoom, Y / zoom);
    StatusBar1->SetPanelText(0, Q(platform::StrFloat(d * 1000 * 25.4 / a.PixelperInch, 5, 1) + " µm"));
  }
  if (Kreis) {
    b *= st.ZoomOn;
    aCanvas.MoveTo(X - b, Y);
    aCanvas.LineTo(X + b, Y);
    aCanvas.MoveTo(X, Y - b);
    aCanvas.LineTo(X, Y + b);
    for (int i = 0; i <= 5; ++i) {
      const int r = b - i * b / 5;
      aCanvas.Ellipse(X - r, Y - r, X + r, Y + r);
    }
    const analysis::TSortedDotList* pop = a.ActAlternative;
    if (pop && st.MESSTYPE == analysis::MT_PLATEDOT && pop->area > 0) {
      const int r = platform::Round(std::sqrt(pop->area / M_PI));
      aCanvas.Ellipse(X - r, Y - r, X + r, Y + r);
    }
  }
  st.OldMark = {X, Y};
  aCanvas.Pen().Mode = platform::TCanvasPenMode::pmCopy;
  AnalyseImage->update();
}

// ---- hidden sharpness labels ----

void THRMainFrm::SharpnessLabel(QLabel* label) {
  double rs = 0, ri = 0, brf = 0;
  uint32_t ct = 0, ct255 = 0;
  const double index =
      analysis::GetCombinedSharpness(*st.dbmp, platform::TRect{50, 50, 50 + 1180, 50 + 924}, 0, rs, ri, brf, ct, ct255);
  label->setText(QString::number(platform::Round(index / 7)));
}

void THRMainFrm::SharpResImgMaskClick() { SharpnessLabel(SharpResLabelMask); }
void THRMainFrm::SharpResImgPClick() { SharpnessLabel(SharpResLabelP); }
void THRMainFrm::SharpResImgStrClick() { SharpnessLabel(SharpResLabelStr); }
void THRMainFrm::SharpResImgFClick() { SharpnessLabel(SharpResLabelF); }
void THRMainFrm::Image2Click() { SharpResImgPClick(); }

void THRMainFrm::RefreshSharpnessLabel() {
  switch (ActivePageIndex()) {
    case 0: SharpResImgMaskClick(); break;
    case 1: SharpResImgPClick(); break;
    case 2: SharpResImgStrClick(); break;
    case 3: SharpResImgFClick(); break;
    default: break;
  }
}

// ---- wiring ----

void THRMainFrm::ConnectDisplayControls() {
  auto on = [this](auto* sender, auto signal, void (THRMainFrm::*handler)()) { OnEvent(sender, signal, handler); };
  on(DisplayBrBar, &QSlider::valueChanged, &THRMainFrm::DisplayBrBarChange);
  on(DisplayBrBar, &QSlider::sliderReleased, &THRMainFrm::DisplayBrBarChange);
  on(DisplayGammaBar, &QSlider::valueChanged, &THRMainFrm::DisplayGammaBarChange);
  on(DisplayGammaBar, &QSlider::sliderReleased, &THRMainFrm::DisplayGammaBarChange);
  connect(ChgBRBar, &TUpDown::clicked, this, [this](bool up) { Guarded([this, up] { ChgBRBarClick(up); }); });
  connect(ChgGammabar, &TUpDown::clicked, this, [this](bool up) { Guarded([this, up] { ChgGammabarClick(up); }); });
  BRRulerLabel->installEventFilter(this);
  GammaRulerLabel->installEventFilter(this);
  on(SharpSpinEdit, &QSpinBox::valueChanged, &THRMainFrm::SharpSpinEditChange);
  on(Zoombtn, &QToolButton::clicked, &THRMainFrm::ZoombtnClick);
  on(UnZoombtn, &QToolButton::clicked, &THRMainFrm::UnZoombtnClick);
  on(Densitybtn, &QToolButton::clicked, &THRMainFrm::DensitybtnClick);
  on(Gammabtn, &QPushButton::clicked, &THRMainFrm::GammabtnClick);
  on(GrayImg, &QPushButton::clicked, &THRMainFrm::GrayImgClick);
  on(FullImg, &QPushButton::clicked, &THRMainFrm::FullImgClick);
  on(BINImgbtn, &QPushButton::clicked, &THRMainFrm::BINImgbtnClick);
  on(HRBinImgbtn, &QPushButton::clicked, &THRMainFrm::HRBinImgbtnClick);
  on(Gridbtn, &QPushButton::clicked, &THRMainFrm::GridbtnClick);
  on(WGridbtn, &QPushButton::clicked, &THRMainFrm::WGridbtnClick);
  on(Diffbtn, &QToolButton::clicked, &THRMainFrm::DiffbtnClick);
  on(SharpResImgMask, &TImage::clicked, &THRMainFrm::SharpResImgMaskClick);
  on(SharpResImgP, &TImage::clicked, &THRMainFrm::SharpResImgPClick);
  on(SharpResImgStr, &TImage::clicked, &THRMainFrm::SharpResImgStrClick);
  on(SharpResImgF, &TImage::clicked, &THRMainFrm::SharpResImgFClick);
  on(Image2, &TImage::clicked, &THRMainFrm::Image2Click);
  on(Loadbtn, &QToolButton::clicked, &THRMainFrm::LoadbtnClick);
  on(LoadImage1, &QAction::triggered, &THRMainFrm::LoadImage1Click);
  on(Savebtn, &QToolButton::clicked, &THRMainFrm::SavebtnClick);
  on(SaveImage1, &QAction::triggered, &THRMainFrm::SaveImage1Click);
  on(SaveRefImg, &QPushButton::clicked, &THRMainFrm::SaveRefImgClick);
}

}  // namespace app
