#pragma once
// The camera settings window: it owns the capture control `gCap`, which shows the live
// picture unscaled (1280 x 1024) in a scroll box. The window's camera set-up, its controls and
// the exposure series build on the control; the window holds the two values the main window
// reads and writes.
#include <QWidget>
#include <cstdint>

class QScrollArea;

namespace capture {

class TVideoCapture;

class TFrmPreview : public QWidget {
  Q_OBJECT
 public:
  explicit TFrmPreview(QWidget* parent = nullptr);
  ~TFrmPreview() override;

  QScrollArea* ScrollBox1 = nullptr;
  TVideoCapture* gCap = nullptr;

  // 0: frames are not used; 1: the live preview runs.
  int32_t VideoStatus = 0;
};

// Camera gain of the exposure series, a variable of the window's module: the calibration
// sets it before the window exists.
extern int32_t GGain;

}  // namespace capture
