#include "app/fft_from.h"

#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "analysis/my_fft.h"
#include "analysis/mymath.h"
#include "platform/image/canvas.h"

namespace app {

namespace {

constexpr int kSide = 512;  // both pictures show the top-left 512 x 512 pixels

template <typename W>
W* Place(W* w, const char* name, int x, int y, int width, int height) {
  w->setObjectName(name);
  w->setGeometry(x, y, width, height);
  return w;
}

platform::Bitmap TopLeft(const platform::Bitmap& src) {
  platform::Bitmap b(kSide, kSide);
  platform::Canvas(b).Draw(0, 0, src);
  return b;
}

}  // namespace

TFFTForm::TFFTForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("FFTForm");
  setWindowTitle("FFT Analysis");
  setFixedSize(1115, 599);
  FFTImg = Place(new TImage(this), "FFTImg", 8, 8, kSide, kSide);
  FilterImg = Place(new TImage(this), "FilterImg", 526, 8, kSide, kSide);
  FFTAmplitude = Place(new QScrollBar(Qt::Horizontal, this), "FFTAmplitude", 8, 536, kSide, 17);
  FFTAmplitude->setRange(0, 16);
  FFTAmplitude->setValue(10);
  Frequenz = Place(new QSpinBox(this), "Frequenz", 638, 536, 121, 22);
  Frequenz->setRange(0, 250);
  Frequenz->setValue(0);
  StaticText1 = Place(new QLabel("frequency limit", this), "StaticText1", 540, 538, 95, 17);
  SpeedButton1 = Place(new QToolButton(this), "SpeedButton1", 765, 536, 23, 22);
  StatusBar1 = new TStatusBar({50, 50, 50, 50, 50}, this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setGeometry(0, 599 - 19, 1115, 19);
  // The picture follows the mouse even while a button holds it outside: FFTImgMouseMove
  // keeps to the points of the picture.
  FFTImg->setMouseTracking(true);

  fbmp = platform::Bitmap(1024, 1024);
  obmp = fbmp;

  connect(FFTAmplitude, &QScrollBar::valueChanged, this, [this] { FFTAmplitudeChange(); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(Frequenz, &QSpinBox::valueChanged, this, [this] { FrequenzChange(); });
  connect(FFTImg, &TImage::mouseMoved, this, [this](QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    FFTImgMouseMove(p.x(), p.y());
  });
}

int32_t TFFTForm::AmplitudeFactor(int32_t position) { return int32_t{1} << std::clamp(position, 0, 16); }

void TFFTForm::Draw(const platform::Bitmap& abmp) {
  // abmp may be obmp itself: work from a copy.
  const platform::Bitmap src = abmp;
  obmp = src;
  fbmp = src;
  maxf = Frequenz->value();
  analysis::DrawFFTLT(src, fbmp, 1024, 0, AmplitudeFactor(FFTAmplitude->value()));

  platform::Bitmap spectrum = TopLeft(fbmp);
  platform::Canvas c(spectrum);
  c.Pen().Color = 0xFF0000;  // blue
  c.Brush().Style = platform::TCanvasBrushStyle::bsClear;
  c.Ellipse(-maxf, -maxf, maxf, maxf);
  c.MoveTo(dx, 0);
  c.LineTo(dx, kSide);
  c.MoveTo(0, dy);
  c.LineTo(kSide, dy);
  FFTImg->SetPicture(std::move(spectrum));

  bbmp = src;
  analysis::doFFT(src, bbmp, kSide, 0, Frequenz->value(), 4, 0, false);
  FilterImg->SetPicture(TopLeft(bbmp));
}

void TFFTForm::FFTAmplitudeChange() { Draw(obmp); }

void TFFTForm::SpeedButton1Click() { Draw(obmp); }

void TFFTForm::FFTImgMouseMove(int X, int Y) {
  if (X < 0 || Y < 0 || X >= kSide || Y >= kSide) return;
  using platform::TFloatFormat;
  StatusBar1->SetPanelText(0, QString::number(X));
  StatusBar1->SetPanelText(1, QString::number(Y));
  const double r = std::sqrt(double(X) * X + double(Y) * Y);
  StatusBar1->SetPanelText(2, QString::fromStdString(analysis::MFTStr(r, TFloatFormat::ffFixed, 3, 2)));
  StatusBar1->SetPanelText(
      3, r == 0 ? QString("-") : QString::fromStdString(analysis::MFTStr(1024 / r, TFloatFormat::ffFixed, 3, 2)));
  const analysis::tcomplex& v = analysis::FFTState().iComp[Y][X];
  const platform::Extended m = std::sqrt(v.r * v.r + v.i * v.i);
  StatusBar1->SetPanelText(4, QString::fromStdString(analysis::MFTStr(m, TFloatFormat::ffFixed, 3, 6)));
}

}  // namespace app
