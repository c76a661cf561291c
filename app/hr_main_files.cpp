// Image files: loading high-range (.QVR), zero reference (.ZPH) and plain (.PNG, .BMP) images,
// saving the image in four formats, and the structure reference picture.
#include <QLabel>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolButton>
#include <filesystem>
#include <stdexcept>

#include "analysis/myimage_filters.h"
#include "analysis/myimage_gray.h"
#include "analysis/myimage_hist.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/hr_main_support.h"
#include "capture/preview.h"
#include "platform/base/numeric.h"
#include "platform/image/bmp_codec.h"
#include "platform/image/jpeg_codec.h"

namespace app {

namespace {

using platform::Bitmap;

// Quality of saved JPEG pictures.
constexpr int kJpegQuality = 75;

// The file's extension, upper-cased, with its dot ("" without one): the kind of an image file
// is decided by it, not by the dialog's filter.
std::string UpperExtension(const std::string& path) {
  const std::string name = ExtractFileName(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : UpperCaseName(name.substr(dot));
}

}  // namespace

Bitmap THRMainFrm::LoadImageOfImageSize(const std::string& path, bool bmp_file) {
  Bitmap image;
  if (bmp_file) {
    image = platform::LoadBmp(path);
  } else {
    analysis::LoadBmpAsPng(image, path);
  }
  // The analysis works on fixed arrays of the image size: another size is refused before
  // anything changes.
  if (image.Width() != analysis::ImWidth || image.Height() != analysis::ImHeight) {
    throw std::runtime_error("The image " + path + " has " + std::to_string(image.Width()) + " x " +
                             std::to_string(image.Height()) + " pixels; QUIRVEL works on images of " +
                             std::to_string(analysis::ImWidth) + " x " + std::to_string(analysis::ImHeight) +
                             " pixels.");
  }
  return image;
}

// ---- load ----

void THRMainFrm::LoadbtnClick() {
  SetDisplayBarPosition();
  if (links_.FrmPreview) links_.FrmPreview->VideoStatus = 0;
  for (QWidget* w : {SharpPanel, static_cast<QWidget*>(BRBar), static_cast<QWidget*>(BRBarLabel),
                     static_cast<QWidget*>(BRShape)}) {
    w->setVisible(false);
  }
  st.ManOn = false;
  st.LineOn = false;
  for (QToolButton* b : {ManMaskbtn, ManPlatebtn, ManFilmbtn, LineBtn, FLinebtn, FilmLinebtn}) b->setChecked(false);
  FilmParameterPages->setVisible(false);
  st.MESSTYPE = analysis::MT_NONE;
  HRMain().MyMess = analysis::TMessung();
  TWaitCursor wait;
  st.isDens = false;
  st.densbmp.reset();
  Densitybtn->setChecked(false);
  st.ZoomOn = 1;
  st.OldMark = {-1, -1};
  st.StartPos = {-1, -1};

  platform::ui::FileDialogOptions options = LoadBMPDlg;
  options.filter_index = 1;
  // The samples and the operator's images lie in the folder Images of the folder QUIRVEL was
  // started in.
  std::error_code ec;
  options.initial_dir = (std::filesystem::current_path(ec) / "Images").string();
  options.title = S(Hint(Loadbtn));
  if (const std::optional<std::string> file = platform::ui::Services().OpenFileDialog(options)) {
    LoadImageFile(*file);
  }
  // Also after a cancelled dialog: the image there is redrawn and counts as present.
  st.HaveImage = true;
  UpdateImage();
  RefreshSharpnessLabel();
  st.ImgCaptured = true;
}

void THRMainFrm::LoadImage1Click() { LoadbtnClick(); }

void THRMainFrm::LoadImageFile(const std::string& path) {
  const std::string ext = UpperExtension(path);
  analysis::AnalyzeState& a = analysis::Analysis();
  if (ext == ".ZPH") {
    *st.ibmp = LoadImageOfImageSize(path, false);
    const uint8_t* top = st.ibmp->ScanLine(0);
    st.maxbr = analysis::Get16BitValue(top, 0);
    st.minbr = analysis::Get16BitValue(top, 1);
    SetOriginMarker(*st.ibmp, 0);
    st.isDens = false;
    Densitybtn->setChecked(false);
    const double g = ClampGammaField();
    const int page = ActivePageIndex();
    if (!LoadZeroFile(ZeroFileName(page))) ZeroTRBtn->setText("ZERO!");
    if (page <= 3) {
      analysis::GetGraybmpAndHistZero(st.aHist, *st.ibmp, *st.dbmp, *st.bgimg, 255, 0, st.maxbr, st.minbr,
                                      page == 2 ? g : 1);
    } else {
      analysis::GetGraybmpAndHist(st.aHist, *st.ibmp, *st.dbmp, st.maxbr, st.minbr);
    }
    analysis::GetThreshold(st.aHist, 0, 257);
    DrawHist();
    analysis::DrawSharp(*st.dbmp);
    *st.rbmp = *st.dbmp;
  } else if (ext == ".QVR") {
    *st.ibmp = LoadImageOfImageSize(path, false);
    SetOriginMarker(*st.ibmp, 1);
    const bool structure = ActivePageIndex() == 2;
    const double gamma = structure ? ClampGammaField() : 1;
    QuirvelHeader h;
    int32_t max = 0, min = 0;
    if (ReadHeader(*st.ibmp, h)) {
      analysis::GetGrayBmp16Hist(0, 10000, 255, st.aHist, *st.ibmp, *st.dbmp, h.m, h.c, gamma, max, min);
      st.maxbr = static_cast<uint32_t>(max);
      st.minbr = static_cast<uint32_t>(min);
      static constexpr QWidget* THRMainFrm::*kPages[] = {&THRMainFrm::LAMS, &THRMainFrm::Plate,
                                                          &THRMainFrm::STRUCTURE, &THRMainFrm::FILM};
      if (h.atype >= 0 && h.atype < 4) ActivatePage(this->*kPages[h.atype]);
      // An image of another camera is measured at that camera's scale; one of this camera at
      // the calibrated scale, also right after an image of another camera.
      if (h.sn != (SerialAsInteger(st.SerialNo) & 0xFFFFFF)) {
        a.PixelperInch = h.ppi / 100.0;
      } else {
        a.PixelperInch = a.CalPixelperInch;
      }
    } else {
      analysis::GetGrayBmp16Hist(0, 10000, 255, st.aHist, *st.ibmp, *st.dbmp, 255, 0, gamma, max, min);
      st.maxbr = static_cast<uint32_t>(max);
      st.minbr = static_cast<uint32_t>(min);
      analysis::GetHist(st.aHist, *st.dbmp);
      a.PixelperInch = 43000;
    }
    analysis::GetThreshold(st.aHist, 0, 255);
    DrawHist();
    analysis::DrawSharp(*st.dbmp);
    *st.rbmp = *st.dbmp;
  } else if (ext == ".PNG" || ext == ".BMP") {
    *st.dbmp = LoadImageOfImageSize(path, ext == ".BMP");
    analysis::GetHistTH(st.aHist, *st.dbmp);
    DrawHist();
    *st.rbmp = *st.dbmp;
    *st.ibmp = *st.dbmp;
    // The gray value becomes the low byte of a high-range value.
    analysis::ImgRed(*st.ibmp);
    SetOriginMarker(*st.ibmp, 2);
  }
  StatusBar1->SetPanelText(5, Q(ExtractFileName(path)));
}

// ---- save ----

void THRMainFrm::SavebtnClick() {
  st.ZoomOn = 1;
  platform::ui::FileDialogOptions options = SaveBMPDlg;
  options.filter_index = 1;
  std::error_code ec;
  options.initial_dir = std::filesystem::current_path(ec).string();
  const std::optional<std::string> file = platform::ui::Services().SaveFileDialog(options);
  if (!file) return;
  TWaitCursor wait;
  SaveImageFile(*file);
}

void THRMainFrm::SaveImage1Click() { SavebtnClick(); }

void THRMainFrm::SaveImageFile(const std::string& path) {
  const std::string ext = UpperExtension(path);
  analysis::AnalyzeState& a = analysis::Analysis();
  if (ext == ".JPG") {
    platform::SaveJpeg(*st.dbmp, path, kJpegQuality);
  } else if (ext == ".QVR") {
    if (OriginMarker(*st.ibmp) == 0) {
      // A raw capture or zero image is stored converted, with a header of no page.
      Bitmap converted(analysis::ImWidth, analysis::ImHeight);
      if (Analyzepages->currentWidget() == Camera) {
        analysis::Get16BitBmp(*st.ibmp, converted, static_cast<int32_t>(st.maxbr), static_cast<int32_t>(st.minbr));
      } else {
        analysis::Get16bitBmpZero(*st.ibmp, *st.bgimg, converted);
      }
      analysis::SetQuirvel(converted, SerialAsInteger(st.SerialNo), 127, 255, 0,
                           static_cast<uint32_t>(platform::Round(a.PixelperInch * 100)), st.maxbr, st.minbr);
      *st.ibmp = std::move(converted);
    }
    analysis::SaveBmpAsPNG(*st.ibmp, path);
    // An image without a header (a plain picture) is shown with the range a load would give it.
    QuirvelHeader h;
    int32_t m = 255, c = 0;
    if (ReadHeader(*st.ibmp, h)) {
      m = h.m;
      c = h.c;
    }
    const double gamma = ActivePageIndex() == 2 ? ClampGammaField() : 1;
    int32_t max = 0, min = 0;
    analysis::GetGrayBmp16Hist(0, 10000, 255, st.aHist, *st.ibmp, *st.dbmp, m, c, gamma, max, min);
    st.maxbr = static_cast<uint32_t>(max);
    st.minbr = static_cast<uint32_t>(min);
    analysis::DrawSharp(*st.dbmp);
    DrawZoomed(*st.dbmp);
  } else if (ext == ".PNG") {
    analysis::SaveBmpAsPNG(*st.dbmp, path);
  } else if (ext == ".BMP") {
    platform::SaveBmp(*st.dbmp, path);
  }
  StatusBar1->SetPanelText(5, Q(ExtractFileName(path)));
}

// ---- structure reference ----

void THRMainFrm::SaveRefImgClick() {
  platform::SaveBmp(*st.dbmp, ResolveInFolder(st.HomeDir, "QUIRVELStructureReference.bmp"));
  StructRefImg->SetPicture(Bitmap(*st.dbmp));
}

}  // namespace app
