#pragma once
// The FFT analysis window: the amplitude spectrum of a gray image (zero frequency in the top
// left corner) beside the image with the frequencies below a limit removed, the spectrum's
// brightness on a scroll bar, and frequency and amplitude under the mouse in the status bar.
// The main window's Tools, FFT hands it its gray image.
#include <QWidget>

#include "app/controls.h"
#include "platform/image/bitmap.h"

class QScrollBar;
class QSpinBox;
class QLabel;
class QToolButton;
class QMouseEvent;

namespace app {

class TFFTForm : public QWidget {
  Q_OBJECT
 public:
  explicit TFFTForm(QWidget* parent = nullptr);

  // The full redraw from abmp: the spectrum at the amplitude factor 2^FFTAmplitude with the
  // circle of the frequency limit, and the band-stopped image.
  void Draw(const platform::Bitmap& abmp);
  // The spectrum's magnification for a scroll bar position (0..16: factor 1..65,536).
  static int32_t AmplitudeFactor(int32_t position);

  void FFTAmplitudeChange();
  void SpeedButton1Click();
  void FrequenzChange() {}  // the limit takes effect at the next redraw
  // Read-outs for a point of the spectrum: X, Y, the radius, the period 1024 / radius ("-" at
  // the zero frequency) and the magnitude of the work image there. Points outside the
  // picture (reported while a button is held) show nothing new.
  void FFTImgMouseMove(int X, int Y);

  TImage* FFTImg = nullptr;
  TImage* FilterImg = nullptr;
  QScrollBar* FFTAmplitude = nullptr;
  QSpinBox* Frequenz = nullptr;
  QLabel* StaticText1 = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  TStatusBar* StatusBar1 = nullptr;

  platform::Bitmap obmp;  // the source kept for redraws
  platform::Bitmap bbmp;  // the filtered image
  platform::Bitmap fbmp;  // the spectrum
  int32_t maxf = 512;     // the frequency limit of the last redraw
  int32_t dx = 0, dy = 0;  // marker lines (drawn at 0)
};

}  // namespace app
