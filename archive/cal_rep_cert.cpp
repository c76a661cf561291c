// The calibration certificate: sharpness, pixels per inch and ruling of the calibration page,
// each beside the range it must lie in, the calibration image, and the approval stamp when
// all three are inside.
#include <cmath>

#include "analysis/mymath.h"
#include "archive/cal_rep_layout.h"
#include "platform/image/canvas.h"

namespace archive::detail {

void ReportLayout::CertBody() {
  const std::string product = ProductName(ctx_.BrandItemIndex);
  ShowTitle(product, "Calibration Certification");
  Font(9);
  Text(24, 102, product + " Serial Number: " + C("SerialEdit"));

  y_ = 120;
  n_ = 12;
  const auto line = [&](const std::string& caption, const std::string& value, const char* range) {
    Text(24, static_cast<float>(y_), caption);
    Text(150, static_cast<float>(y_), value);
    if (range) Text(200, static_cast<float>(y_), range);
    y_ += n_;
  };
  line(C("SharpnesLabel"), C("Sharplabel"), "[-30..0]");
  line(C("PPILabel"), C("PPIValLabel"), "[41500..43500]");
  line(C("ScrLabel") + " " + C("ScreenEdit") + " L/cm", C("CalLCMREs"), "± 1");
  if (V("BrandPanel")) line(C("BrTitleLabel"), C("BRLabel"), nullptr);
  y_ += 3 * n_;

  // The display image with the analysis overlay drawn over it.
  abmp_ = ctx_.dbmp;
  if (!ctx_.AnalyseImage.Empty()) {
    if (abmp_.Empty()) abmp_ = platform::Bitmap(ctx_.AnalyseImage.Width(), ctx_.AnalyseImage.Height());
    platform::Canvas(abmp_).Draw(0, 0, ctx_.AnalyseImage);
  }
  ShowWorkBitmap(24, static_cast<float>(y_), 320, 256);

  const double ppi = ctx_.PixelperInch;
  const bool sharp = ctx_.Maxsharp - ctx_.ActSharp < 30;
  const bool scale = ppi > 41500 && ppi < 43500;
  const bool ruling = std::fabs(analysis::GetVal(C("ScreenEdit")) - analysis::GetVal(C("CalLCMREs"))) <= 1;
  if (sharp && scale && ruling) {
    abmp_ = platform::Bitmap(rep_.Image1.Width(), rep_.Image1.Height());
    platform::Canvas(abmp_).Draw(0, 0, rep_.Image1);
    ShowWorkBitmap(380, 500, 135, 85);
  }
}

}  // namespace archive::detail
