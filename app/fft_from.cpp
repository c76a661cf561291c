#include "app/fft_from.h"

namespace app {

TFFTForm::TFFTForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("FFTForm");
  setWindowTitle("FFT");
}

}  // namespace app
