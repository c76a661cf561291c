#include "capture/preview.h"

#include <QScrollArea>
#include <QVBoxLayout>

#include "capture/vcap.h"

namespace capture {

int32_t GGain = 80;

TFrmPreview::TFrmPreview(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("FrmPreview");
  setWindowTitle("Camera Settings");
  resize(962, 705);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  ScrollBox1 = new QScrollArea(this);
  ScrollBox1->setObjectName("ScrollBox1");
  layout->addWidget(ScrollBox1);

  // The control as the window keeps it: frame rate 15 applied, every branch wanted until the
  // camera set-up switches audio and file capture off, no temporary file, no time limit.
  gCap = new TVideoCapture;
  gCap->setObjectName("gCap");
  gCap->setFixedSize(1280, 1024);
  gCap->SetUseFrameRate(true);
  gCap->SetFrameRate(15.0);
  gCap->SetWantBitmaps(true);
  gCap->SetWantAudio(true);
  gCap->SetWantDVAudio(true);
  gCap->SetWantAudioPreview(true);
  gCap->SetWantPreview(true);
  gCap->SetWantCapture(true);
  gCap->SetUseTempFile(false);
  gCap->SetUseTimeLimit(false);
  gCap->SetDoPreallocFile(false);
  gCap->SetTimeLimit(0);
  gCap->SetPreallocFileSize(1);
  gCap->SetDVResolution(dvrDontWorry);
  ScrollBox1->setWidget(gCap);
}

TFrmPreview::~TFrmPreview() = default;

}  // namespace capture
