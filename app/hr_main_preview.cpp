// The live preview hand-off and the capture start: the camera window hands every preview frame
// to the main window, which shows it with its focus aids; the capture and zero buttons start
// the exposure series of the active page, whose combined image comes back through the
// capture finish (hr_main_capture.cpp).
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <algorithm>

#include "analysis/myimage_filters.h"
#include "app/hr_main.h"
#include "app/settings.h"
#include "app/hr_main_preview.h"
#include "app/language.h"
#include "capture/motiondetect.h"
#include "capture/preview.h"
#include "platform/base/clock.h"
#include "platform/base/numeric.h"
#include "platform/image/canvas.h"

namespace app {

using platform::Bitmap;

namespace {

// A colour written as 0x00BBGGRR.
QColor Bgr(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

void Fill(QWidget* w, const QColor& color) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, color);
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

void TextColor(QLabel* label, const QColor& color) {
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, color);
  label->setPalette(p);
}

QString Decimal(double v) { return QString::number(platform::Round(v)); }

}  // namespace

uint32_t ExposureColor(uint32_t ct255, double brf) {
  if (ct255 > 100000 || (ct255 == 0 && brf < 20)) return 0x0000FF;  // red
  if (ct255 == 0 && brf < 35) return 0x00FFFF;                      // yellow
  return 0x008000;                                                  // green
}

uint32_t SharpnessLossColor(int64_t d) {
  if (d > 150) return 0x0000FF;
  if (d > 100) return 0x3280FF;
  if (d > 60) return 0x32FFFF;
  if (d > 30) return 0x32FF80;
  return 0x32FF32;
}

void THRMainFrm::SetLinks(const MainWindowLinks& links) {
  // A settings window let go of stops serving this window's results first.
  if (links_.FrmSettings && links_.FrmSettings != links.FrmSettings) links_.FrmSettings->SetMainWindow(nullptr);
  links_ = links;
  if (links_.FrmPreview) links_.FrmPreview->SetHost(this, this);
  if (links_.FrmSettings) links_.FrmSettings->SetMainWindow(this);
}

void THRMainFrm::ConnectCaptureControls() {
  auto on = [this](auto* sender, auto signal, void (THRMainFrm::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  on(Refreshbtn, &QToolButton::clicked, &THRMainFrm::RefreshbtnClick);
  on(Preview1, &QAction::triggered, &THRMainFrm::RefreshbtnClick);
  on(Capturebtn, &QToolButton::clicked, &THRMainFrm::CapturebtnClick);
  on(Capture1, &QAction::triggered, &THRMainFrm::CapturebtnClick);
  on(ZeroTRBtn, &QToolButton::clicked, &THRMainFrm::ZeroTRBtnClick);
  on(Zerobtn, &QPushButton::clicked, &THRMainFrm::ZerobtnClick);
  on(ITBar, &QSlider::valueChanged, &THRMainFrm::ITBarChange);
  on(GainBar, &QSlider::valueChanged, &THRMainFrm::ITBarChange);
  on(BRBar, &QScrollBar::valueChanged, &THRMainFrm::BRBarChange);
  on(SaveSharpness, &QAction::triggered, &THRMainFrm::SaveSharpnessClick);
  on(ClearSharpness, &QAction::triggered, &THRMainFrm::ClearSharpnessClick);
  on(CrystalImg, &TImage::clicked, &THRMainFrm::CrystalImgClick);
  connect(CrystalImg, &TImage::mousePressed, this,
          [this](QMouseEvent* e) { Guarded([this, e] { CrystalImgMouseDown(e); }); });
  if (st.motion) st.motion->onGetImage = [this](Bitmap& bmp) { motionGetImage(bmp); };
}

void THRMainFrm::ClearResultDisplay() {
  ShowEmpty();
  HRMain().MyMess = analysis::TMessung();
}

// ---- preview start ----

void THRMainFrm::RefreshbtnClick() {
  SetDisplayBarPosition();
  QScrollBar* h = ScrollBox1->horizontalScrollBar();
  const int range = ScrollBox1->widget() ? ScrollBox1->widget()->width() : 0;
  h->setValue((range - ScrollBox1->viewport()->width() + 20) / 2);

  st.MESSTYPE = analysis::MT_NONE;
  st.Maxsharp = 0;
  VarDiffLabel->setVisible(false);
  Varianzlabel->setVisible(false);

  const ini::IniFile ini = Ini();
  const int32_t shutter = ini.ReadInt(ini::PREVIT);
  const int32_t gain = ini.ReadInt(ini::PREVGAIN);
  // Set without the bar's own handler: it would write back the value just read.
  const QSignalBlocker quiet(BRBar);
  BRBar->setValue(ini.ReadInt(ini::BRBAR));
  ini::Page page;
  if (ActiveAnalysisPage(page)) {
    st.SharpRef = ini.ReadInt(ini::kMain, ini::SharpRefKey(page), 0);
    if (st.SharpRef > 0) BRBar->setValue(ini.ReadInt(ini::kMain, ini::BrKey(page), 0));
  }

  HRMain().MyMess = analysis::TMessung();
  MainProgress->setValue(0);
  Bitmap blank(analysis::ImWidth, analysis::ImHeight);
  {
    platform::Canvas c(blank);
    c.Brush().Color = 0xC0C0C0;  // silver
    c.Pen().Color = platform::clBlack;
    c.Rectangle(0, 0, blank.Width(), blank.Height());
  }
  AnalyseImage->SetPicture(std::move(blank));

  analysis::LoadCal(st.cf_inifile, capture::GGain);

  capture::TFrmPreview* preview = links_.FrmPreview;
  if (preview) {
    if (ActiveAnalysisPage(page) || IsActivePage(CALIBRATION)) {
      preview->Refresh(shutter - BRBar->value(), gain, true, false);
    } else {
      preview->Refresh(ITBar->value(), capture::GGain, true, false);
    }
    preview->VideoStatus = 1;
  }

  st.ZoomOn = 1;
  st.isDens = false;
  st.densbmp.reset();
  Densitybtn->setChecked(false);
  st.OldMark = {-1, -1};
  st.StartPos = {-1, -1};
  st.ManOn = false;
  ManPlatebtn->setChecked(false);
  ManMaskbtn->setChecked(false);

  Fill(SharpPanel, palette().color(QPalette::Button));
  SharpPanel->setVisible(true);
  BRBar->setVisible(true);
  BRBarLabel->setVisible(true);
  BRShape->setVisible(true);

  ClearResultDisplay();
  st.ImgCaptured = false;
  st.initmotion = true;
  if (analysis::Analysis().ShowSharp) CrystalImgClick();
}

// ---- preview frames ----

void THRMainFrm::PreviewImage(Bitmap& abmp) {
  Guarded([this, &abmp] {
    if (IsActivePage(CALIBRATION)) {
      uint32_t br = 0, contrast = 0, count = 0;
      st.ActSharp = analysis::GetVarianz(abmp, *st.dbmp, 3, 8, 50, 220, br, contrast, count);
      st.Maxsharp = std::max(st.Maxsharp, st.ActSharp);
      Sharplabel->setText(Decimal(st.ActSharp) + "  " + Decimal(st.ActSharp - st.Maxsharp));
      BRLabel->setText(QString::number(br));
      platform::Canvas c = AnalyseCanvas();
      c.StretchDraw({0, 0, 640, 512}, abmp);
      c.Pen().Color = platform::clRed;
      c.Pen().Width = 1;
      c.MoveTo(320, 0);
      c.LineTo(320, 512);
      c.MoveTo(0, 256);
      c.LineTo(640, 256);
      AnalyseImage->update();
      return;
    }

    if (st.motion) {
      if (st.initmotion) {
        st.motion->initialize(abmp);
        st.motion->setDetectionSecs(1);
        st.initmotion = false;
      } else {
        st.motion->feedFrame(abmp);
        st.motion->getImage(abmp, false);
      }
    }

    double rs = 0, ri = 0, brf = 0;
    uint32_t ct = 0, ct255 = 0;
    st.ActSharp = analysis::GetCombinedSharpness(abmp, {50, 50, 50 + 1180, 50 + 924}, 0, rs, ri, brf, ct, ct255);
    BRBarLabel->setText(QString::number(BRBar->value()));

    BRShape->SetBrushColor(Bgr(ExposureColor(ct255, brf)));

    if (st.ismoving) {
      TextColor(Varianzlabel, Qt::gray);
    } else {
      TextColor(Varianzlabel, Qt::black);
      if (st.SharpRef != 0) {
        int64_t d = 0;
        if (!Varianzlabel->isHidden()) {
          d = platform::Round((st.SharpRef - st.ActSharp) * 1000 / st.SharpRef);
          Fill(SharpPanel, Bgr(SharpnessLossColor(d)));
          SharpPanel->repaint();
        }
        Varianzlabel->setText(QString::number(-d));
        VarDiffLabel->setVisible(false);
      } else {
        st.Maxsharp = std::max(st.Maxsharp, st.ActSharp);
        Varianzlabel->setText(Decimal(st.ActSharp / 10));
        VarDiffLabel->setText(Decimal((st.ActSharp - st.Maxsharp) / 10));
        VarDiffLabel->setVisible(!Varianzlabel->isHidden());
        Fill(SharpPanel, palette().color(QPalette::Button));
      }
    }

    Bitmap* shown = AnalyseImage->BitmapPicture();
    if (shown && shown->Width() == abmp.Width() && shown->Height() == abmp.Height() &&
        shown->GetPixelFormat() == abmp.GetPixelFormat()) {
      *shown = abmp;  // the same size: drawn over in place
    } else {
      AnalyseCanvas().Draw(0, 0, abmp);
    }
    platform::Canvas c = AnalyseCanvas();
    c.Pen().Color = platform::clLime;
    c.Pen().Width = 3;
    const int x = AnalyseImage->width() / 2;
    c.MoveTo(x, 0);
    c.LineTo(x, AnalyseImage->height());
    AnalyseImage->update();
  });
}

void THRMainFrm::motionGetImage(Bitmap& bmp) {
  platform::Canvas c(bmp);
  c.Font().Opaque = true;
  c.Font().Background = platform::clBlack;
  c.Font().Style = 1;  // bold
  st.ismoving = false;
  if (st.motion && st.motion->HasMotion()) {
    c.Font().Color = platform::clRed;
    c.TextOut(5, 5, "Sample is moving");
    st.ismoving = true;
  }
  c.Font().Color = platform::clWhite;
}

void THRMainFrm::BRBarChange() {
  const ini::IniFile ini = Ini();
  if (links_.FrmPreview) {
    links_.FrmPreview->SetShutterSpeed(ini.ReadInt(ini::PREVIT) - BRBar->value(), ini.ReadInt(ini::PREVGAIN), true,
                                       false);
  }
  WriteIni(ini::kCal, ini::BRBAR.key, std::to_string(BRBar->value()));
  st.Maxsharp = 0;
  BRBarLabel->setText(QString::number(BRBar->value()));
}

// ---- sharpness reference ----

void THRMainFrm::SaveSharpnessClick() {
  if (st.SharpRef != 0) return;  // a stored reference is cleared first
  st.SharpRef = st.Maxsharp;
  ini::Page page;
  if (ActiveAnalysisPage(page)) {
    WriteIni(ini::kMain, ini::SharpRefKey(page), std::to_string(platform::Round(st.SharpRef)));
    WriteIni(ini::kMain, ini::SharpKey(page), std::to_string(SharpSpinEdit->value()));
    WriteIni(ini::kMain, ini::BrKey(page), std::to_string(BRBar->value()));
  }
  RefreshbtnClick();
  Varianzlabel->setVisible(true);
}

void THRMainFrm::ClearSharpnessClick() {
  ini::Page page;
  if (ActiveAnalysisPage(page)) WriteIni(ini::kMain, ini::SharpRefKey(page), "0");
  st.SharpRef = 0;
}

void THRMainFrm::CrystalImgClick() { Varianzlabel->setVisible(true); }

void THRMainFrm::CrystalImgMouseDown(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) SharpMenu->popup(event->globalPosition().toPoint());
}

// ---- capture start ----

void THRMainFrm::CapturebtnClick() {
  st.MESSTYPE = analysis::MT_NONE;
  HRMain().MyMess = analysis::TMessung();
  st.isZeroImg = false;
  st.isDens = false;
  st.densbmp.reset();
  Densitybtn->setChecked(false);
  for (QWidget* w : {SharpPanel, static_cast<QWidget*>(BRBar), static_cast<QWidget*>(BRBarLabel),
                     static_cast<QWidget*>(BRShape)}) {
    w->setVisible(false);
  }
  ClearResultDisplay();
  SetDisplayBarPosition();
  st.StartTime = platform::GetTickCount();
  StartCapture();
}

void THRMainFrm::StartCapture() {
  st.ManOn = false;
  st.LineOn = false;
  for (QToolButton* b : {ManPlatebtn, ManMaskbtn, LineBtn, FLinebtn}) b->setChecked(false);
  capture::GGain = GainBar->value();

  const analysis::AnalyzeState& a = analysis::Analysis();
  int32_t von = 0, bis = 0;
  ini::Page page;
  if (ActiveAnalysisPage(page)) {
    von = a.Imgseq[static_cast<size_t>(page)][0];
    bis = a.Imgseq[static_cast<size_t>(page)][1];
  } else if (IsActivePage(CALIBRATION)) {
    von = 1;
    bis = 18;
  } else if (IsActivePage(Camera)) {
    const int32_t it = ITBar->value();
    const int32_t n = NumImgs->value();
    if (n > 1) {
      von = std::max(0, it - n / 3 - 1);
      bis = std::min(18, von + n);
    } else {
      von = bis = it;
    }
  }
  capture::TFrmPreview* preview = links_.FrmPreview;
  if (preview) preview->SetShutterGain(von, capture::GGain);
  st.ZoomOn = 1;
  if (preview) preview->StartCapture(von, bis, a.WaitImg);
}

void THRMainFrm::ZeroTRBtnClick() {
  const auto answer = platform::ui::Services().MessageBox(GetMessageString(5), "QUIRVEL",
                                                          platform::ui::MsgButtons::YesNo,
                                                          platform::ui::MsgKind::Question);
  if (answer != platform::ui::ModalResult::Yes) return;
  st.MESSTYPE = analysis::MT_NONE;
  HRMain().MyMess = analysis::TMessung();
  st.isZeroImg = true;
  for (QWidget* w : {SharpPanel, static_cast<QWidget*>(BRBar), static_cast<QWidget*>(BRBarLabel),
                     static_cast<QWidget*>(BRShape)}) {
    w->setVisible(false);
  }
  StartCapture();
}

void THRMainFrm::ZerobtnClick() {
  capture::TFrmPreview* preview = links_.FrmPreview;
  if (!preview) return;
  preview->Refresh(15, 80, false, false);
  preview->VideoStatus = 1;
  preview->StartCapture(15, 15, 2);
}

void THRMainFrm::ITBarChange() {
  if (links_.FrmPreview) links_.FrmPreview->SetShutterGain(ITBar->value(), GainBar->value());
  ITLabel->setText(QString::number(ITBar->value()) + ":" + ITStrings[static_cast<size_t>(ITBar->value())]);
  Gainlabel->setText(QString::number(GainBar->value()));
}

// ---- what the camera window asks ----

void THRMainFrm::SetCaptureRange(uint32_t maxbr, uint32_t minbr, uint32_t avgbr) {
  st.maxbr = maxbr;
  st.minbr = minbr;
  st.avgbr = avgbr;
}

void THRMainFrm::CaptureFinish() {
  Guarded([this] { Capture(); });
}

void THRMainFrm::ClearLog() { Memo1->clear(); }

void THRMainFrm::AppendLog(const std::string& line) { Memo1->appendPlainText(Q(line)); }

void THRMainFrm::SetGauge(int32_t position) { MainProgress->setValue(position); }

void THRMainFrm::SetGaugeColor(uint32_t color) {
  QPalette p = MainProgress->palette();
  p.setColor(QPalette::Highlight, Bgr(color));
  MainProgress->setPalette(p);
}

int32_t THRMainFrm::GainBarPosition() { return GainBar->value(); }

std::string THRMainFrm::MessageText(int32_t offset) { return GetMessageString(offset); }

}  // namespace app
