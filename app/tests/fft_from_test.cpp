// The FFT analysis window: the spectrum of a cosine grating has its peak at the grating's
// frequency, the amplitude bar's factors, the read-outs under the mouse, and the main window's
// Tools, FFT and structure-page spectrum preview.
#include "app/fft_from.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <cmath>
#include <numbers>

#include "analysis/analyze_drivers_freq.h"
#include "app/tests/main_window_fixture.h"

namespace app {
namespace {

using platform::Bitmap;

uint32_t Pixel(const Bitmap& b, int x, int y) {
  const uint8_t* p = b.ScanLine(y) + 3 * x;
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

// A cosine grating of u cycles across and v cycles down 1024 pixels.
Bitmap Cosine(int u, int v) {
  Bitmap b(analysis::ImWidth, analysis::ImHeight);
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const double g = 128 + 100 * std::cos(2 * std::numbers::pi * (u * x + v * y) / 1024.0);
      uint8_t* p = b.ScanLine(y) + 3 * x;
      p[0] = p[1] = p[2] = static_cast<uint8_t>(std::lround(g));
    }
  return b;
}

class FFTWindowTest : public test::MainWindowTest {
 protected:
  FFTWindowTest() {
    Create();
    MainWindowLinks links = frm->Links();
    links.FFTForm = &fft;
    frm->SetLinks(links);
  }
  std::string Panel(int i) const { return fft.StatusBar1->PanelText(i).toStdString(); }
  TFFTForm fft;
};

TEST_F(FFTWindowTest, LayoutAndAmplitudeFactors) {
  EXPECT_EQ(fft.windowTitle(), "FFT Analysis");
  EXPECT_EQ(fft.size(), QSize(1115, 599));
  EXPECT_EQ(fft.FFTImg->size(), QSize(512, 512));
  EXPECT_EQ(fft.FilterImg->size(), QSize(512, 512));
  EXPECT_EQ(fft.FFTAmplitude->maximum(), 16);
  EXPECT_EQ(fft.FFTAmplitude->value(), 10);
  EXPECT_EQ(fft.Frequenz->maximum(), 250);
  EXPECT_EQ(fft.StatusBar1->PanelCount(), 5);
  EXPECT_EQ(TFFTForm::AmplitudeFactor(0), 1);
  EXPECT_EQ(TFFTForm::AmplitudeFactor(16), 65536);
  EXPECT_EQ(analysis::SpectrumPreviewFactor(0), 1);
  EXPECT_EQ(analysis::SpectrumPreviewFactor(-10), 1024);
}

TEST_F(FFTWindowTest, TheGratingsPeakLiesAtItsFrequency) {
  *frm->st.dbmp = Cosine(24, 40);
  fft.FFTAmplitude->setValue(0);  // factor 1: the rounding of the grey levels stays dark
  frm->FFT1->trigger();
  EXPECT_TRUE(fft.isVisible());
  const Bitmap* spectrum = fft.FFTImg->BitmapPicture();
  ASSERT_NE(spectrum, nullptr);
  // The false colours grow with the magnitude as the value 0xBBGGRR does (below 256 it is the
  // red byte alone): away from the zero
  // frequency (and the marker lines on row and column 0) the brightest point is the grating's.
  std::pair<int, int> peak{0, 0};
  uint32_t best = 0;
  for (int y = 1; y < 512; ++y)
    for (int x = 1; x < 512; ++x)
      if ((x > 2 || y > 2) && Pixel(*spectrum, x, y) > best) best = Pixel(*spectrum, x, y), peak = {x, y};
  EXPECT_EQ(peak, (std::pair<int, int>{24, 40}));
  EXPECT_EQ(best, 50u);  // half the amplitude 100 at each of the two conjugate peaks

  // Read-outs: the zero frequency has no period; (3, 4) lies at radius 5.
  fft.FFTImgMouseMove(0, 0);
  EXPECT_EQ(Panel(3), "-");
  fft.FFTImgMouseMove(3, 4);
  EXPECT_EQ(Panel(0), "3");
  EXPECT_EQ(Panel(1), "4");
  EXPECT_EQ(Panel(2), "5.00");
  EXPECT_EQ(Panel(3), "204.80");
  // Moves beyond the picture while a button holds it show nothing.
  fft.FFTImgMouseMove(600, -3);
  EXPECT_EQ(Panel(0), "3");
}

// The correlation of the filtered picture's blue bytes with the grating.
double Correlation(const Bitmap& filtered, int u, int v) {
  double sxy = 0, sxx = 0, syy = 0, sx = 0, n = 0;
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) sx += filtered.ScanLine(y)[3 * x], ++n;
  const double mean = sx / n;
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) {
      const double a = filtered.ScanLine(y)[3 * x] - mean;
      const double c = std::cos(2 * std::numbers::pi * (u * (x + 1) + v * y) / 1024.0);
      sxy += a * c, sxx += a * a, syy += c * c;
    }
  return sxx > 0 ? sxy / std::sqrt(sxx * syy) : 0;
}

TEST_F(FFTWindowTest, AFrequencyLimitRemovesTheGrating) {
  // The filter reads the green byte of the pixel to the right: the grating shifted by one.
  *frm->st.dbmp = Cosine(8, 12);
  frm->FFT1->trigger();
  EXPECT_GT(std::abs(Correlation(*fft.FilterImg->BitmapPicture(), 8, 12)), 0.9);
  // The grating (radius 14.4) lies below a limit of 100: it is gone from the filtered picture.
  fft.Frequenz->setValue(100);
  fft.SpeedButton1->click();
  EXPECT_LT(std::abs(Correlation(*fft.FilterImg->BitmapPicture(), 8, 12)), 0.2);
  // The circle of the limit is drawn in blue.
  EXPECT_EQ(Pixel(*fft.FFTImg->BitmapPicture(), 99, 1) & 0xFF0000u, 0xFF0000u);
}

TEST_F(FFTWindowTest, StructurePreviewFollowsItsBar) {
  *frm->st.dbmp = Cosine(24, 40);
  frm->FFTAmplitude->setValue(0);
  frm->FFTAmplitudeChange();
  ASSERT_NE(frm->MottleImage->BitmapPicture(), nullptr);
  EXPECT_EQ(frm->MottleImage->BitmapPicture()->Width(), 200);
  const std::string structure = S(frm->FFTStdDevLabel->text());
  EXPECT_FALSE(structure.empty());
  // The preview's centre is the zero frequency; the grating's peaks lie at (100 ± 24, 100 ± 40).
  const analysis::TSpectrumPreview p0 = analysis::SpectrumPreview(*frm->st.dbmp, 0);
  EXPECT_NE(Pixel(p0.image, 124, 140), Pixel(p0.image, 60, 60));
}

}  // namespace
}  // namespace app
