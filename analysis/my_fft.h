#pragma once
// Radix-2 FFT in one and two dimensions on the large complex work images, the conversions
// between bitmaps and complex images, the radial band filters and the spectrum peak
// searches that the ruling and structure analyses build on.
#include <array>
#include <cstdint>
#include <memory>

#include "analysis/complex.h"

namespace platform { class Bitmap; }

namespace analysis {

// Largest transform dimension the work images can hold (they span 0..MAXFFTIMG).
constexpr int32_t MAXFFTIMG = 1280;

// A complex image indexed [row][column], 1281 x 1281 elements of 32 bytes (52,510,752 bytes).
struct TCimage {
  tcomplex e[MAXFFTIMG + 1][MAXFFTIMG + 1];
  tcomplex* operator[](int32_t row) { return e[row]; }
  const tcomplex* operator[](int32_t row) const { return e[row]; }
};

// One line of a transform; the butterflies run on these contiguous 64-bit copies.
using TCLine = std::array<double, MAXFFTIMG + 1>;

// Per-radius spectrum tables: radius, largest amplitude, angle of that amplitude.
using TSpectrumTable = std::array<double, MAXFFTIMG + 1>;

// The module's state: the three work images and the spectrum tables of the peak searches.
// They keep their contents between calls; iComp holds the last spectrum of the display
// pipelines. The images (52 MB each) are one block of zero pages from the system, so that
// only the pages a transform touches ever become memory: the 1024-point transforms of the
// measurements use two thirds of each image, and the first measurement of a run does not
// wait for 157 MB to be cleared.
class MyFFTState {
  struct FreeBlock {
    void operator()(TCimage* p) const;
  };
  // Declared first: the reference members below are bound into it.
  std::unique_ptr<TCimage, FreeBlock> images_;

 public:
  MyFFTState();
  MyFFTState(const MyFFTState&) = delete;
  MyFFTState& operator=(const MyFFTState&) = delete;
  TCimage& iComp;
  TCimage& iComp2;
  TCimage& iComp3;
  TSpectrumTable ff{};
  TSpectrumTable fa{};
  TSpectrumTable fw{};
  // Clears all three images and the tables.
  void Reset();
  // Makes the block of a transform of size x size points (indices 0..size) of the three
  // images memory now, so that the first search that writes it does not wait for fresh
  // pages (in a sandbox each costs tens of microseconds). Done once; the contents stay.
  void MakeResident(int32_t size);

 private:
  int32_t resident_ = 0;
};

// The process-wide state, created at its first use.
MyFFTState& FFTState();

// In-place transform of the 2^m values (x real, y imaginary); dir 1 is forward and divides
// every value by 2^m, any other dir is the inverse. m outside 0..10 leaves the line as it is.
void FFT1D(int32_t dir, int32_t m, TCLine& x, TCLine& y);

// Transforms every line along the first index (length nx), then every line along the
// second index (length ny). Returns -1 and leaves c unchanged when a size is not a power of
// two between 1 and MAXFFTIMG, else 0.
int32_t FFT2D(TCimage* c, int32_t nx, int32_t ny, int32_t dir);

// Bitmap <-> complex conversions. color is a byte offset inside the pixel (0 blue, 1 green,
// 2 red; 3..5 reach into the next pixel's bytes, clamped to the row's last pixel).
void SetImageToComplex(const platform::Bitmap& Bild, TCimage& Image, int32_t SizeX, int32_t SizeY,
                       int32_t color);
void SetComplexToImage(platform::Bitmap& Bild, const TCimage& Image, int32_t SizeX, int32_t SizeY,
                       int32_t color);
void SetComplexToImageBin(platform::Bitmap& Bild, const TCimage& Image, int32_t SizeX, int32_t SizeY,
                          int32_t Color, int32_t Th);
void SetComplexToImageRE(platform::Bitmap& Bild, const TCimage& Image, int32_t Size, int32_t color,
                         int32_t factor);
double SetComplexToImageCenter(platform::Bitmap& Bild, const TCimage& Image, int32_t Size,
                               int32_t color, int32_t factor, double& Structure,
                               double& Orientation);

// Radial filters on a spectrum (radius from the centred frequency coordinates).
void BandPassFilter(int32_t size, TCimage& Image, double low, double high, double amp);
void BandPassFilterTimes(int32_t size, TCimage& Image, double low, double high);
void BandStopFilter(int32_t low, int32_t high, int32_t size, double amp, TCimage& Image);

// The radius (rounded) with the largest amplitude between f1 and f2; w gets its angle in
// radians. Fills the state's ff, fa and fw.
double GetMaxAmp(int32_t size, double f1, double f2, double& w, const TCimage& Image);

// Main peak f1 with its position (dx, dy), secondary peak f2 with its amplitude maxb and the
// low-frequency centre f3; returns the main peak's magnitude. Fills the state's ff and fa.
double MaxAmp(int32_t size, const TCimage& Image, double& f1, double& f2, double& f3, double& dx,
              double& dy, double& maxb);

double abstand(double x1, double y1, double x2, double y2);

// Display pipelines on FFTState().iComp.
void doFFT(const platform::Bitmap& FromBit, platform::Bitmap& ToBit, int32_t Size, int32_t low,
           int32_t high, int32_t color, double amp, bool bandpass);
void drawFFT(const platform::Bitmap& FromBit, platform::Bitmap& ToBit, int32_t Size, int32_t color,
             int32_t factor, double& Structure, double& Orientation, double& Count);
void DrawFFTLT(const platform::Bitmap& FromBit, platform::Bitmap& ToBit, int32_t size, int32_t color,
               int32_t factor);

}  // namespace analysis
