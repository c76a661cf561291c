// The capture finish: the camera window hands over the combined high-range image, which is
// converted against the page's zero reference image (or becomes the new zero reference),
// given its header and shown.
#include <QProgressBar>
#include <QToolButton>

#include "analysis/myimage_gray.h"
#include "app/about.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/hr_main_support.h"
#include "app/language.h"
#include "platform/base/clock.h"
#include "platform/base/numeric.h"
#include "platform/image/image_error.h"

namespace app {

namespace {

// Every zero reference file; a new zero image is written to all of them, in this order.
constexpr const char* kZeroFiles[] = {"BGLAMS.zph", "BGPLATE.zph", "BGFILM.zph", "BGSTRUCTURE.zph",
                                      "background.zph"};

// MESSAGES + 6: the zero reference image is missing or too dark. Shown as the language file
// writes it (a "#" stays).
void ZeroMessage() {
  platform::ui::Services().ShowMessage(GetLanguageString(IndexOf("MESSAGES") + 6));
}

}  // namespace

bool THRMainFrm::LoadZeroFile(const std::string& name) {
  const std::string path = ResolveInFolder(st.HomeDir, name);
  if (!FileExists(path)) return false;
  // A zero file that cannot be read, or one of another size, counts as missing: the image is
  // converted against the zero reference already present.
  platform::Bitmap zero;
  try {
    analysis::LoadBmpAsPng(zero, path);
  } catch (const platform::EImageError&) {
    return false;
  }
  if (zero.Width() != analysis::ImWidth || zero.Height() != analysis::ImHeight) return false;
  *st.bgimg = std::move(zero);
  ZeroTRBtn->setText(Q(FileDateText(path)));
  return true;
}

void THRMainFrm::Capture() {
  TWaitCursor wait;
  StatusBar1->SetPanelText(8, QString::number(platform::GetTickCount() - st.StartTime) + "ms");
  st.isDens = false;
  st.densbmp.reset();
  Densitybtn->setChecked(false);
  SetOriginMarker(*st.ibmp, 0);
  const double g = ClampGammaField();

  if (st.isZeroImg && st.avgbr < 8000) {
    // Too dark for a zero reference: nothing is written, the image is shown unconverted.
    ZeroMessage();
  } else if (st.maxbr == 0 || st.isZeroImg) {
    // A new zero reference image for every page.
    *st.dbmp = *st.ibmp;
    *st.bgimg = *st.ibmp;
    for (const char* name : kZeroFiles) analysis::SaveBmpAsPNG(*st.bgimg, ResolveInFolder(st.HomeDir, name));
    ZeroTRBtn->setText(Q(FileDateText(ResolveInFolder(st.HomeDir, kZeroFiles[0]))));
    analysis::GetGraybmpAndHist(st.aHist, *st.ibmp, *st.dbmp, 255, 0);
    *st.rbmp = *st.dbmp;
  } else {
    const int page = ActivePageIndex();
    // Pages 0..3 and the calibration page (4) convert against their zero reference; the
    // calibration page writes the film page into the header. Any other page has no zero
    // reference and writes 127.
    const analysis::TBRConv conv = analysis::BRConv[static_cast<size_t>(page)];
    const int32_t header_page = page <= 3 ? page : page == 4 ? 3 : 127;
    if (!LoadZeroFile(ZeroFileName(page))) {
      ZeroTRBtn->setText("ZERO!");
      ZeroMessage();
    }
    if (page <= 4) {
      const double gamma = page == 2 ? g : 1;
      analysis::GetGraybmpAndHistZero(st.aHist, *st.ibmp, *st.dbmp, *st.bgimg, conv.m, conv.c, st.maxbr, st.minbr,
                                      gamma);
    } else {
      analysis::GetGraybmpAndHist(st.aHist, *st.ibmp, *st.dbmp, st.maxbr, st.minbr);
    }
    analysis::SetQuirvel(*st.ibmp, SerialAsInteger(st.SerialNo), header_page, conv.m, conv.c,
                         static_cast<uint32_t>(platform::Round(analysis::Analysis().PixelperInch * 100)), st.maxbr,
                         st.minbr);
    analysis::GetThreshold(st.aHist, 0, 257);
    DrawHist();
    // The pages without a display curve (camera, calibration) show the result image as it
    // is: it must be the new gray image, not the one of the image before.
    *st.rbmp = *st.dbmp;
  }

  SetDisplayBarPosition();
  st.ZoomOn = 1;
  st.HaveImage = true;
  UpdateImage();
  MainProgress->setValue(MainProgress->maximum());
  PlayMySound("OK");
  st.ImgCaptured = true;
  RefreshSharpnessLabel();
}

}  // namespace app
