// The structure page's stripe analysis and line pattern, its spectrum preview, and the FFT
// analysis window opened on the gray image.
#include <QLabel>
#include <QSlider>

#include "analysis/analyze_drivers_freq.h"
#include "analysis/analyze_drivers_stripes.h"
#include "analysis/mymath.h"
#include "app/fft_from.h"
#include "app/hr_main.h"
#include "platform/image/canvas.h"

namespace app {

void THRMainFrm::StructureStreifenClick() {
  analysis::TDriverContext c = DriverContext();
  analysis::StructureStreifenClick(c);
}

void THRMainFrm::StructAutoLineClick() {
  analysis::TDriverContext c = DriverContext();
  analysis::StructAutoLineClick(c);
}

void THRMainFrm::FFT1Click() {
  TFFTForm* form = links_.FFTForm;
  if (!form) throw std::logic_error("The FFT analysis window was not created");
  form->obmp = *st.dbmp;
  form->Draw(form->obmp);
  form->show();
  form->raise();
}

void THRMainFrm::FFTAmplitudeChange() {
  const analysis::TSpectrumPreview p = analysis::SpectrumPreview(*st.dbmp, FFTAmplitude->value());
  platform::Bitmap picture(analysis::SpectrumPreviewSize, analysis::SpectrumPreviewSize);
  platform::Canvas c(picture);
  c.Brush().Color = platform::clWhite;
  c.Pen().Color = platform::clBlack;
  c.Rectangle(0, 0, picture.Width(), picture.Height());
  c.Draw(0, 0, p.image);
  MottleImage->SetPicture(std::move(picture));
  FFTStdDevLabel->setText(Q(analysis::MFTStr(p.structure, platform::TFloatFormat::ffFixed, 5, 1)));
}

}  // namespace app
