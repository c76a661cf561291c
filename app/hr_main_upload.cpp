// A picture stored in the archive loaded back into the main window: the archive window hands
// over the row's picture, its report path and its tab; the window takes it as a captured image.
#include <algorithm>
#include <cstring>

#include <QLabel>
#include <QScrollBar>
#include <QToolButton>

#include "analysis/myimage_gray.h"
#include "analysis/myimage_hist.h"
#include "app/controls.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/hr_main_support.h"
#include "archive/hr_db.h"
#include "capture/preview.h"

namespace app {

void THRMainFrm::UploadArchiveImage(const archive::UploadedImage& up) {
  if (links_.FrmPreview) links_.FrmPreview->VideoStatus = 0;
  for (QWidget* w : {SharpPanel, static_cast<QWidget*>(BRBar), static_cast<QWidget*>(BRBarLabel),
                     static_cast<QWidget*>(BRShape)}) {
    w->setVisible(false);
  }
  StatusBar1->SetPanelText(5, Q(ExtractFileName(up.PDF)));
  // Only a structure picture is shown with the window's gamma.
  const double gamma = up.Tab == archive::HistoryTab::STRUCTURE ? ClampGammaField() : 1;

  // The picture is drawn at the top left; the captured image keeps its size.
  platform::Bitmap& ibmp = *st.ibmp;
  const int w = std::min(ibmp.Width(), up.Image.Width());
  const int h = std::min(ibmp.Height(), up.Image.Height());
  for (int y = 0; y < h; ++y) std::memcpy(ibmp.ScanLine(y), up.Image.ScanLine(y), static_cast<size_t>(3 * w));
  SetOriginMarker(ibmp, 1);

  analysis::AnalyzeState& a = analysis::Analysis();
  QuirvelHeader hd;
  int32_t max = 0, min = 0;
  if (ReadHeader(ibmp, hd)) {
    st.maxbr = hd.max;
    st.minbr = hd.min;
    analysis::GetGrayBmp16Hist(0, 10000, 255, st.aHist, ibmp, *st.dbmp, hd.m, hd.c, gamma, max, min);
    st.maxbr = static_cast<uint32_t>(max);
    st.minbr = static_cast<uint32_t>(min);
    // A picture of another instrument is measured with that instrument's resolution.
    if (hd.sn != (SerialAsInteger(st.SerialNo) & 0xFFFFFF)) a.PixelperInch = hd.ppi / 100.0;
    static constexpr QWidget* THRMainFrm::*kPages[] = {&THRMainFrm::LAMS, &THRMainFrm::Plate, &THRMainFrm::STRUCTURE,
                                                        &THRMainFrm::FILM};
    if (hd.atype >= 0 && hd.atype < 4) ActivatePage(this->*kPages[hd.atype]);
    analysis::GetThreshold(st.aHist, 0, 10000);
  } else {
    analysis::GetGrayBmp16Hist(0, 10000, 255, st.aHist, ibmp, *st.dbmp, 255, 0, gamma, max, min);
    st.maxbr = static_cast<uint32_t>(max);
    st.minbr = static_cast<uint32_t>(min);
    analysis::GetHist(st.aHist, *st.dbmp);
    analysis::GetThreshold(st.aHist, 0, 255);
  }
  DrawHist();
  UpdateImage();
  *st.rbmp = *st.dbmp;
  st.ZoomOn = 1;
  DrawZoomed(*st.dbmp);
  switch (up.Tab) {
    case archive::HistoryTab::MASK: SharpResImgMaskClick(); break;
    case archive::HistoryTab::PLATE: SharpResImgPClick(); break;
    case archive::HistoryTab::STRUCTURE: SharpResImgStrClick(); break;
    case archive::HistoryTab::FILM: SharpResImgFClick(); break;
    case archive::HistoryTab::Other: break;
  }
  st.HaveImage = true;
  st.ImgCaptured = true;
}

}  // namespace app
