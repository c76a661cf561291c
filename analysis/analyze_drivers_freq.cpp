#include "analysis/analyze_drivers_freq.h"

#include <algorithm>
#include <cmath>

#include "analysis/analyze_threshold.h"
#include "analysis/my_fft.h"
#include "analysis/myimage.h"
#include "analysis/myimage_filters.h"

namespace analysis {

using platform::Bitmap;

namespace {

constexpr int32_t N = MaxFreqSize;
constexpr int32_t X0 = 128;  // first source column of the transform

// The central columns of dbmp (as many rows and columns as it has) into a fresh picture.
Bitmap CentralColumns(const Bitmap& dbmp) {
  Bitmap work(N, N);
  const int32_t rows = std::min(N, dbmp.Height());
  const int32_t cols = std::clamp(dbmp.Width() - X0, 0, N);
  for (int32_t y = 0; y < rows && cols > 0; ++y) std::copy_n(dbmp.ScanLine(y) + 3 * X0, 3 * cols, work.ScanLine(y));
  return work;
}

// Centred frequency coordinate of index j of the transform.
inline int32_t Centred(int32_t j) { return ((j + N / 2) % N) - N / 2; }

inline void Scale(tcomplex& z, platform::Extended f) {
  z.r *= f;
  z.i *= f;
}

}  // namespace

void MaxFreqRingFilters(MyFFTState& fft, double maxf, double maxf2, double maxf3, bool maskPage) {
  for (int32_t v = 0; v < N; ++v) {
    const int32_t b = Centred(v);
    for (int32_t u = 0; u < N; ++u) {
      // The lowest frequencies keep their values: they carry the mean brightness.
      if (u <= 1 && v <= 1) continue;
      const int32_t a = Centred(u);
      const double rho = std::sqrt(static_cast<double>(a) * a + static_cast<double>(b) * b);
      const bool on1 = std::abs(maxf - rho) <= 1;
      const bool on2 = std::abs(maxf2 - rho) <= 1;
      const bool on3 = std::abs(maxf3 - rho) <= 1;
      tcomplex& c1 = fft.iComp[v][u];
      tcomplex& c2 = fft.iComp2[v][u];
      tcomplex& c3 = fft.iComp3[v][u];
      if (maskPage) {
        if (!on1) c1 = {};
        if (!on2) c2 = {};
        if (!on3) c3 = {};
      } else {
        if (!on1) Scale(c1, 0.1L);
        if (!on2) {
          c2 = c1;
          Scale(c2, 0.1L);
        }
        c3 = c1;
        Scale(c3, on3 ? 10.0L : 0.1L);
      }
    }
  }
}

Bitmap MaxFreqPicture(MyFFTState& fft, const TDriverWindow& win, bool maskPage) {
  // The copies need only the transform's own block.
  for (int32_t v = 0; v < N; ++v) {
    std::copy_n(fft.iComp[v], N, fft.iComp2[v]);
    std::copy_n(fft.iComp[v], N, fft.iComp3[v]);
  }
  MaxFreqRingFilters(fft, win.maxf, win.maxf2, win.maxf3, maskPage);

  Bitmap picture(N, N);
  FFT2D(&fft.iComp, N, N, -1);
  SetComplexToImage(picture, fft.iComp, N, N, 1);
  FFT2D(&fft.iComp2, N, N, -1);
  SetComplexToImage(picture, fft.iComp2, N, N, 0);
  if (win.maxf3 < 1) {
    // Without a third peak the red channel repeats the blue one.
    SetComplexToImage(picture, fft.iComp2, N, N, 2);
  } else {
    FFT2D(&fft.iComp3, N, N, -1);
    SetComplexToImage(picture, fft.iComp3, N, N, 2);
  }
  return picture;
}

int32_t GetMaxFreq(AnalyzeState& st, const Bitmap& dbmp, Bitmap& rbmp, TDriverWindow& win, double& dx, double& dy,
                   bool Show, bool maskPage, platform::Canvas* analyse) {
  MyFFTState& fft = FFTState();
  Bitmap work = CentralColumns(dbmp);
  BinLocalTh(st, work);
  SetImageToComplex(work, fft.iComp, N, N, 0);
  FFT2D(&fft.iComp, N, N, 1);
  win.maxa = MaxAmp(N, fft.iComp, win.maxf, win.maxf2, win.maxf3, dx, dy, win.maxb);
  if (!Show) return 0;

  work = MaxFreqPicture(fft, win, maskPage);
  rbmp = work;
  Img2Gray(work, rbmp);
  const int32_t rc = ImgDiffTH(rbmp, dbmp, 0);
  if (rc < 0 && analyse) analyse->Draw(0, 0, work);
  return rc;
}

int32_t SpectrumPreviewFactor(int32_t position) { return int32_t{1} << std::clamp(-position, 0, 10); }

TSpectrumPreview SpectrumPreview(const Bitmap& dbmp, int32_t position) {
  Bitmap A(MaxFreqSize, MaxFreqSize);
  platform::Canvas(A).Draw(-(ImWidth - MaxFreqSize) / 2, 0, dbmp);
  Bitmap B = A;
  double structure = 0, orientation = 0, count = 0;
  drawFFT(A, B, MaxFreqSize, 1, SpectrumPreviewFactor(position), structure, orientation, count);
  TSpectrumPreview p;
  p.image = Bitmap(SpectrumPreviewSize, SpectrumPreviewSize);
  constexpr int32_t from = (MaxFreqSize - SpectrumPreviewSize) / 2;
  platform::Canvas(p.image).Draw(-from, -from, B);
  p.structure = structure;
  return p;
}

}  // namespace analysis
