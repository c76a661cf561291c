#pragma once
// The camera settings window: live preview and exposure series. The camera control and the
// window's handlers come with the capture subsystem; until then the window holds the two
// values the main window reads and writes.
#include <QWidget>
#include <cstdint>

namespace capture {

class TFrmPreview : public QWidget {
  Q_OBJECT
 public:
  explicit TFrmPreview(QWidget* parent = nullptr);

  // 0: frames are not used; 1: the live preview runs.
  int32_t VideoStatus = 0;
};

// Camera gain of the exposure series, a variable of the window's module: the calibration
// sets it before the window exists.
extern int32_t GGain;

}  // namespace capture
