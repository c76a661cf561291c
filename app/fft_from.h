#pragma once
// The FFT analysis window. Its content and handlers come with the frequency analysis of the
// main window; until then the window exists without content.
#include <QWidget>

namespace app {

class TFFTForm : public QWidget {
  Q_OBJECT
 public:
  explicit TFFTForm(QWidget* parent = nullptr);
};

}  // namespace app
