#include "capture/preview.h"

namespace capture {

int32_t GGain = 80;

TFrmPreview::TFrmPreview(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("FrmPreview");
  setWindowTitle("Camera Settings");
}

}  // namespace capture
