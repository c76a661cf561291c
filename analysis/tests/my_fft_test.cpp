#include "analysis/my_fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "platform/image/bitmap.h"

namespace analysis {
namespace {

using platform::Bitmap;
using LD = long double;
constexpr LD kPi = std::numbers::pi_v<long double>;

// Centred frequency of index j in an n-point transform, written independently of the code.
int Freq(int j, int n) { return j < n / 2 ? j : j - n; }

// The work images are shared by the whole process; every test starts from zeros.
class FFTTest : public ::testing::Test {
 protected:
  void SetUp() override { FFTState().Reset(); }
  TCimage& img = FFTState().iComp;
};

TEST_F(FFTTest, FFT1DMatchesDirectDFT) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-100, 100);
  for (int m : {3, 6, 10}) {
    SCOPED_TRACE(m);
    const int n = 1 << m;
    TCLine x{}, y{};
    std::vector<double> xr(n), xi(n);
    for (int k = 0; k < n; ++k) {
      xr[k] = x[k] = u(rng);
      xi[k] = y[k] = u(rng);
    }
    FFT1D(1, m, x, y);
    double err = 0;
    for (int f = 0; f < n; ++f) {
      LD sr = 0, si = 0;
      for (int k = 0; k < n; ++k) {
        const LD a = -2 * kPi * ((static_cast<int64_t>(f) * k) % n) / n;
        sr += xr[k] * std::cos(a) - xi[k] * std::sin(a);
        si += xr[k] * std::sin(a) + xi[k] * std::cos(a);
      }
      err = std::max({err, static_cast<double>(std::fabs(sr / n - x[f])),
                      static_cast<double>(std::fabs(si / n - y[f]))});
    }
    EXPECT_LT(err, 1e-12);
    // The inverse is unscaled and brings the input back.
    FFT1D(-1, m, x, y);
    for (int k = 0; k < n; ++k) {
      ASSERT_NEAR(x[k], xr[k], 1e-12);
      ASSERT_NEAR(y[k], xi[k], 1e-12);
    }
  }
}

TEST_F(FFTTest, FFT2DMatchesDirectDFTOnNonSquareImage) {
  // 8 lines along the first index (rows) and 16 along the second: a mix-up of the two
  // dimensions or of their lengths shows up here.
  const int nx = 8, ny = 16;
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> u(0, 255);
  std::vector<LD> v(nx * ny);
  for (int a = 0; a < nx; ++a)
    for (int b = 0; b < ny; ++b) img[a][b] = tcomplex{v[a * ny + b] = u(rng), 0};
  ASSERT_EQ(FFT2D(&img, nx, ny, 1), 0);
  for (int p = 0; p < nx; ++p) {
    for (int q = 0; q < ny; ++q) {
      LD sr = 0, si = 0;
      for (int a = 0; a < nx; ++a)
        for (int b = 0; b < ny; ++b) {
          const LD ang = -2 * kPi * (LD(p * a % nx) / nx + LD(q * b % ny) / ny);
          sr += v[a * ny + b] * std::cos(ang);
          si += v[a * ny + b] * std::sin(ang);
        }
      ASSERT_NEAR(static_cast<double>(img[p][q].r), static_cast<double>(sr / (nx * ny)), 1e-11);
      ASSERT_NEAR(static_cast<double>(img[p][q].i), static_cast<double>(si / (nx * ny)), 1e-11);
    }
  }
  // Elements outside the transformed block are not touched.
  EXPECT_EQ(img[0][ny].r, 0);
  EXPECT_EQ(img[nx][0].r, 0);
}

TEST_F(FFTTest, FFT2DRoundTrip256) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> u(0, 255);
  static std::vector<int> orig(256 * 256);
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) img[a][b] = tcomplex{LD(orig[a * 256 + b] = u(rng)), 0};
  ASSERT_EQ(FFT2D(&img, 256, 256, 1), 0);
  ASSERT_EQ(FFT2D(&img, 256, 256, -1), 0);
  double err = 0;
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b)
      err = std::max({err, static_cast<double>(std::fabs(img[a][b].r - orig[a * 256 + b])),
                      static_cast<double>(std::fabs(img[a][b].i))});
  EXPECT_LT(err, 1e-9);
}

TEST_F(FFTTest, ConstantImageHasOnlyTheZeroFrequency) {
  for (int a = 0; a < 64; ++a)
    for (int b = 0; b < 64; ++b) img[a][b] = tcomplex{37, 0};
  ASSERT_EQ(FFT2D(&img, 64, 64, 1), 0);
  EXPECT_NEAR(static_cast<double>(img[0][0].r), 37, 1e-12);
  for (int a = 0; a < 64; ++a)
    for (int b = 0; b < 64; ++b) {
      if (a == 0 && b == 0) continue;
      ASSERT_LT(std::hypot(double(img[a][b].r), double(img[a][b].i)), 1e-12);
    }
}

TEST_F(FFTTest, CosineGratingPeaksAtItsFrequency) {
  // cos(2 pi (3 row + 5 col) / 64): half of the amplitude at (3, 5) and at (-3, -5).
  const int n = 64;
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b) img[a][b] = tcomplex{100 + 40 * std::cos(2 * kPi * (3 * a + 5 * b) / n), 0};
  ASSERT_EQ(FFT2D(&img, n, n, 1), 0);
  for (int a = 0; a < n; ++a) {
    for (int b = 0; b < n; ++b) {
      const double m = std::hypot(double(img[a][b].r), double(img[a][b].i));
      const bool peak = (a == 3 && b == 5) || (a == n - 3 && b == n - 5);
      if (a == 0 && b == 0) {
        ASSERT_NEAR(m, 100, 1e-9);
      } else if (peak) {
        ASSERT_NEAR(m, 20, 1e-9);
      } else {
        ASSERT_LT(m, 1e-9) << a << "," << b;
      }
    }
  }
}

TEST_F(FFTTest, FFT2DRefusesUnsupportedSizesAndLeavesDataAlone) {
  img[0][0] = tcomplex{5, 1};
  img[3][2] = tcomplex{-2, 7};
  for (auto [nx, ny] : {std::pair{2048, 64}, {64, 2048}, {1280, 1024}, {1000, 64}, {0, 64}, {64, -4}}) {
    EXPECT_EQ(FFT2D(&img, nx, ny, 1), -1) << nx << " x " << ny;
  }
  EXPECT_EQ(FFT2D(nullptr, 64, 64, 1), -1);
  EXPECT_EQ(img[0][0].r, 5);
  EXPECT_EQ(img[0][0].i, 1);
  EXPECT_EQ(img[3][2].r, -2);
  EXPECT_EQ(img[3][2].i, 7);
  // A single element is its own transform.
  EXPECT_EQ(FFT2D(&img, 1, 1, 1), 0);
  EXPECT_EQ(img[0][0].r, 5);
}

// Fills the first n+1 rows and columns with the value v (also the index n, which the
// filters walk as well).
void FillSpectrum(TCimage& im, int n, LD v) {
  for (int a = 0; a <= n; ++a)
    for (int b = 0; b <= n; ++b) im[a][b] = tcomplex{v, -v};
}

TEST_F(FFTTest, BandFiltersFollowTheRadius) {
  const int n = 128;
  struct Case {
    const char* name;
    int first;  // the lowest index the filter touches
  };
  // BandStopFilter(0, 50, amp 0): every frequency with 0 < radius < 50 goes, the zero
  // frequency and the rest stay.
  FillSpectrum(img, n, 3);
  BandStopFilter(0, 50, n, 0, img);
  for (int a = 0; a <= n; ++a)
    for (int b = 0; b <= n; ++b) {
      const int fa = Freq(a % n, n), fb = Freq(b % n, n);
      const double rho = std::sqrt(double(fa * fa + fb * fb));
      const bool gone = rho > 0 && rho < 50;
      ASSERT_EQ(img[a][b].r, gone ? 0 : 3) << a << "," << b;
    }
  // BandStopFilter also drops every element below amp.
  FillSpectrum(img, n, 3);
  img[70][70] = tcomplex{10, 0};
  BandStopFilter(-1, -1, n, 5, img);
  EXPECT_EQ(img[70][70].r, 10);
  EXPECT_EQ(img[0][0].r, 0);
  EXPECT_EQ(img[64][3].r, 0);

  // BandPassFilter keeps 10 <= radius <= 20 (squared radius compared) from index 2 on,
  // and drops elements beyond radius 2 whose magnitude is below amp.
  FillSpectrum(img, n, 3);
  img[12][2] = tcomplex{1, 0};  // radius 12.2, too weak
  img[1][1] = tcomplex{0.5, 0};  // rows and columns 0 and 1 are never touched
  BandPassFilter(n, img, 10, 20, 2);
  for (int a = 0; a <= n; ++a)
    for (int b = 0; b <= n; ++b) {
      const int fa = Freq(a % n, n), fb = Freq(b % n, n);
      const int s = fa * fa + fb * fb;
      LD expect;
      if (a < 2 || b < 2) {
        expect = (a == 1 && b == 1) ? 0.5L : 3;
      } else if (a == 12 && b == 2) {
        expect = 0;
      } else {
        expect = (s < 100 || s > 400) ? 0 : 3;
      }
      ASSERT_EQ(img[a][b].r, expect) << a << "," << b;
    }

  // BandPassFilterTimes multiplies the band by 10 and clears the rest, from index 1 on.
  FillSpectrum(img, n, 3);
  BandPassFilterTimes(n, img, 10, 20);
  for (int a = 0; a <= n; ++a)
    for (int b = 0; b <= n; ++b) {
      const int fa = Freq(a % n, n), fb = Freq(b % n, n);
      const int s = fa * fa + fb * fb;
      LD expect = (a < 1 || b < 1) ? 3 : (s < 100 || s > 400) ? 0 : 30;
      ASSERT_EQ(img[a][b].r, expect) << a << "," << b;
      ASSERT_EQ(img[a][b].i, -expect) << a << "," << b;
    }
}

TEST_F(FFTTest, FiltersStayInsideTheWorkImage) {
  // A size beyond the work image is cut to it: the filters reach its last row and column and
  // nothing behind it. The next work image lies right behind it in memory, so a step past the
  // last index would show there.
  TCimage& next = FFTState().iComp2;
  FillSpectrum(next, MAXFFTIMG, 7);
  const auto next_untouched = [&] {
    for (int a = 0; a <= MAXFFTIMG; ++a)
      for (int b = 0; b <= MAXFFTIMG; ++b)
        if (next[a][b].r != 7 || next[a][b].i != -7) return false;
    return true;
  };

  // Every radius of the cut size but 0 lies inside the open stop band; index MAXFFTIMG is
  // frequency 0 of the cut size.
  FillSpectrum(img, MAXFFTIMG, 1);
  BandStopFilter(0, 5000, 4096, 0, img);
  EXPECT_EQ(img[MAXFFTIMG][MAXFFTIMG].r, 1);
  EXPECT_EQ(img[MAXFFTIMG][MAXFFTIMG - 1].r, 0);
  EXPECT_EQ(img[1][MAXFFTIMG].r, 0);
  EXPECT_TRUE(next_untouched());

  // Frequency 0 is inside the band of BandPassFilter(0, 1) and of BandPassFilterTimes(0, 1),
  // which multiplies it by 10; radius 2 is outside.
  FillSpectrum(img, MAXFFTIMG, 1);
  BandPassFilter(4096, img, 0, 1, 0);
  EXPECT_EQ(img[MAXFFTIMG][MAXFFTIMG].r, 1);
  EXPECT_EQ(img[MAXFFTIMG][MAXFFTIMG - 2].r, 0);
  FillSpectrum(img, MAXFFTIMG, 1);
  BandPassFilterTimes(4096, img, 0, 1);
  EXPECT_EQ(img[MAXFFTIMG][MAXFFTIMG].r, 10);
  EXPECT_EQ(img[MAXFFTIMG][MAXFFTIMG].i, -10);
  EXPECT_EQ(img[MAXFFTIMG][MAXFFTIMG - 2].r, 0);
  EXPECT_TRUE(next_untouched());

  // The peak searches read the cut size only: a spectrum of ones gives finite results.
  FillSpectrum(img, MAXFFTIMG, 1);
  double w = 0;
  EXPECT_TRUE(std::isfinite(GetMaxAmp(4096, 0, 100, w, img)));
  EXPECT_TRUE(std::isfinite(w));
  double f1 = 0, f2 = 0, f3 = 0, dx = 0, dy = 0, mb = 0;
  EXPECT_TRUE(std::isfinite(MaxAmp(4096, img, f1, f2, f3, dx, dy, mb)));
  for (double v : {f1, f2, f3, dx, dy, mb}) EXPECT_TRUE(std::isfinite(v));
  EXPECT_LE(std::fabs(dx), MAXFFTIMG);
  EXPECT_LE(std::fabs(dy), MAXFFTIMG);
  EXPECT_TRUE(next_untouched());
}

TEST_F(FFTTest, GetMaxAmpFindsTheStrongestRadiusInRange) {
  const int n = 256;
  img[18][24] = tcomplex{30, 0};   // radius 30
  img[24][18] = tcomplex{0, 25};   // radius 30 as well, weaker: its angle is not kept
  img[12][16] = tcomplex{12, 16};  // radius 20, magnitude 20
  img[0][35] = tcomplex{100, 0};   // rows and columns 0 carry the border cross: not searched
  double w = -1;
  EXPECT_EQ(GetMaxAmp(n, 10, 40, w, img), 30);
  EXPECT_NEAR(w, std::atan(24.0 / 18.0), 1e-12);
  EXPECT_EQ(FFTState().fa[30], 30);
  EXPECT_EQ(FFTState().fa[35], 0);
  EXPECT_EQ(GetMaxAmp(n, 15, 25, w, img), 20);
  EXPECT_NEAR(w, std::atan(16.0 / 12.0), 1e-12);
  // The negative frequencies give angles in the other half turn.
  FFTState().Reset();
  img[n - 12][n - 16] = tcomplex{20, 0};
  EXPECT_EQ(GetMaxAmp(n, 15, 25, w, img), 20);
  EXPECT_NEAR(w, std::atan(16.0 / 12.0) + std::numbers::pi, 1e-12);
  // Nothing in range: the zero radius and its (cleared) angle.
  EXPECT_EQ(GetMaxAmp(n, 50, 60, w, img), 0);
  EXPECT_EQ(w, 0);
}

TEST_F(FFTTest, MaxAmpFindsMainAndSecondaryPeaksButNeverTheZeroFrequency) {
  const int n = 256;
  img[0][0] = tcomplex{500, 0};    // the mean: largest of all, never a peak
  img[18][24] = tcomplex{30, 0};   // main peak, radius 30
  img[20][24] = tcomplex{0, 10};   // beside it: pulls the refined peak
  img[6][8] = tcomplex{10, 0};     // secondary, radius 10
  img[5][7] = tcomplex{4, 0};      // radius 8.6, inside the secondary window
  img[1][2] = tcomplex{3, 0};      // radius 2.2: the low-frequency centre
  double f1, f2, f3, dx, dy, maxb;
  EXPECT_EQ(MaxAmp(n, img, f1, f2, f3, dx, dy, maxb), 30);
  const double r2024 = std::sqrt(20.0 * 20 + 24 * 24);
  EXPECT_NEAR(f1, (30 * 30 + 10 * r2024) / 40, 1e-12);
  EXPECT_NEAR(dx, (30 * 18 + 10 * 20) / 40.0, 1e-12);
  EXPECT_NEAR(dy, 24, 1e-12);
  // Window 6..14 around the strongest radius below the main peak, weighted by squares.
  const double r57 = std::sqrt(25.0 + 49);
  EXPECT_NEAR(f2, (100 * 10 + 16 * r57) / 116, 1e-12);
  EXPECT_EQ(maxb, 10);  // the table entry at the rounded f2
  EXPECT_NEAR(f3, std::sqrt(5.0), 1e-12);

  // A low main peak looks for the secondary above it (radius + 4 .. 40).
  FFTState().Reset();
  img[0][0] = tcomplex{500, 0};
  img[6][8] = tcomplex{30, 0};    // main, radius 10
  img[3][4] = tcomplex{20, 0};    // radius 5: below, not searched
  img[18][24] = tcomplex{8, 0};   // radius 30
  EXPECT_EQ(MaxAmp(n, img, f1, f2, f3, dx, dy, maxb), 30);
  EXPECT_NEAR(f2, 30, 1e-12);
  EXPECT_EQ(maxb, 8);
  EXPECT_NEAR(f3, (400 * 5 + 900 * 10) / 1300.0, 1e-12);
  // The refinement takes in the radius-5 point too (within 8 of the main radius).
  EXPECT_NEAR(f1, (20 * 5 + 30 * 10) / 50.0, 1e-12);
  EXPECT_NEAR(dx, (20 * 3 + 30 * 6) / 50.0, 1e-12);
  EXPECT_NEAR(dy, (20 * 4 + 30 * 8) / 50.0, 1e-12);

  // An empty spectrum gives zeros.
  FFTState().Reset();
  EXPECT_EQ(MaxAmp(n, img, f1, f2, f3, dx, dy, maxb), 0);
  EXPECT_EQ(f1, 0);
  EXPECT_EQ(f2, 0);
  EXPECT_EQ(maxb, 0);
}

// ---- Bitmap conversions and display pipelines ----

uint8_t* Px(Bitmap& b, int x, int y) { return b.ScanLine(y) + 3 * x; }

TEST_F(FFTTest, ByteOffsetsPastThePixelReachTheNextPixelButNeverPastTheRow) {
  Bitmap b(4, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x)
      for (int c = 0; c < 3; ++c) Px(b, x, y)[c] = static_cast<uint8_t>(100 * y + 10 * x + c);
  img[5][5] = tcomplex{-1, -1};
  SetImageToComplex(b, img, 6, 6, 4);  // 4: green of the pixel to the right
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(img[y][x].r, 100 * y + 10 * std::min(x + 1, 3) + 1) << x << "," << y;
      EXPECT_EQ(img[y][x].i, 0);
    }
  EXPECT_EQ(img[5][5].r, -1);  // outside the bitmap: kept
  SetImageToComplex(b, img, 4, 2, 2);
  EXPECT_EQ(img[1][3].r, 132);
}

TEST_F(FFTTest, ComplexToImageStretchesTheRealPartsToTheByteRange) {
  img[0][0] = tcomplex{-10, 5};
  img[0][1] = tcomplex{30, 0};
  img[1][0] = tcomplex{0, 0};
  img[1][1] = tcomplex{6, 0};
  Bitmap b(2, 2);
  b.Fill(7);
  SetComplexToImage(b, img, 2, 2, 1);  // green only
  // factor 255 / 40: -10 -> 0, 30 -> 255, 0 -> 63.75 -> 64, 6 -> 102
  EXPECT_EQ(Px(b, 0, 0)[1], 0);
  EXPECT_EQ(Px(b, 1, 0)[1], 255);
  EXPECT_EQ(Px(b, 0, 1)[1], 64);
  EXPECT_EQ(Px(b, 1, 1)[1], 102);
  EXPECT_EQ(Px(b, 1, 1)[0], 7);
  EXPECT_EQ(Px(b, 1, 1)[2], 7);
  SetComplexToImage(b, img, 2, 2, 3);  // gray
  EXPECT_EQ(Px(b, 1, 1)[0], 102);
  EXPECT_EQ(Px(b, 1, 1)[2], 102);
  SetComplexToImageBin(b, img, 2, 2, 5, 63);
  EXPECT_EQ(Px(b, 0, 0)[0], 0);
  EXPECT_EQ(Px(b, 0, 1)[0], 255);  // 64 > 63
  EXPECT_EQ(Px(b, 1, 1)[2], 255);
  // A flat image: factor 1, everything at the minimum.
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) img[y][x] = tcomplex{42, 0};
  SetComplexToImage(b, img, 2, 2, 3);
  EXPECT_EQ(Px(b, 1, 0)[1], 0);
}

// With the range 0..255 the factor is 1: halves go to the even neighbour.
TEST_F(FFTTest, ComplexToImageRoundsHalvesToEven) {
  const LD values[] = {0, 255, 0.5L, 1.5L, 2.5L, 254.5L, 100.49L};
  const int want[] = {0, 255, 0, 2, 2, 254, 100};
  for (int x = 0; x < 7; ++x) img[0][x] = tcomplex{values[x], 0};
  Bitmap b(7, 1);
  SetComplexToImage(b, img, 7, 1, 0);
  for (int x = 0; x < 7; ++x) EXPECT_EQ(Px(b, x, 0)[0], want[x]) << static_cast<double>(values[x]);
}

// Making the work area resident keeps what the images hold.
TEST_F(FFTTest, MakingTheWorkAreaResidentKeepsItsContents) {
  MyFFTState& fft = FFTState();
  fft.iComp[5][7] = tcomplex{3, 4};
  fft.iComp2[1024][1024] = tcomplex{-1, 2};
  fft.iComp3[700][64] = tcomplex{8, 0};
  fft.MakeResident(1024);
  EXPECT_EQ(fft.iComp[5][7].r, 3);
  EXPECT_EQ(fft.iComp[5][7].i, 4);
  EXPECT_EQ(fft.iComp2[1024][1024].r, -1);
  EXPECT_EQ(fft.iComp3[700][64].r, 8);
  EXPECT_EQ(fft.iComp[1000][1000].r, 0);
}

TEST_F(FFTTest, MagnitudeSpectrumFalseColours) {
  struct Case {
    tcomplex z;
    int factor;
    uint8_t b, g, r;
  };
  const Case cases[] = {
      {{100, 0}, 1, 0, 0, 100},
      {{100, 0}, 2, 0, 0, 200},
      {{300, 400}, 1, 0, 1, 255},        // 500: green = 500 >> 8
      {{70000, 0}, 1, 1, 255, 255},      // 70000 >> 16
      {{0, 1000000}, 1, 15, 255, 255},
      {{0.4L, 0}, 1, 0, 0, 0},
  };
  Bitmap b(8, 1);
  for (const Case& c : cases) {
    img[0][0] = c.z;
    SetComplexToImageRE(b, img, 1, 0, c.factor);
    EXPECT_EQ(Px(b, 0, 0)[0], c.b) << double(c.z.r) << " x" << c.factor;
    EXPECT_EQ(Px(b, 0, 0)[1], c.g) << double(c.z.r) << " x" << c.factor;
    EXPECT_EQ(Px(b, 0, 0)[2], c.r) << double(c.z.r) << " x" << c.factor;
  }
}

TEST_F(FFTTest, BandStopWithLimitZeroGivesBackTheStretchedNextPixel) {
  // The FFT window's filtered view with frequency limit 0 removes nothing.
  Bitmap src(512, 512);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> u(0, 255);
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x)
      for (int c = 0; c < 3; ++c) Px(src, x, y)[c] = static_cast<uint8_t>(u(rng));
  Px(src, 10, 10)[1] = 0;  // the range is exactly 0..255, so the stretch is the identity
  Px(src, 20, 10)[1] = 255;
  Bitmap dst;
  doFFT(src, dst, 512, 0, 0, 4, 0, false);
  ASSERT_EQ(dst.Width(), 512);
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) {
      const uint8_t g = Px(src, std::min(x + 1, 511), y)[1];
      ASSERT_EQ(Px(dst, x, y)[0], g) << x << "," << y;
      ASSERT_EQ(Px(dst, x, y)[2], g) << x << "," << y;
    }
}

TEST_F(FFTTest, PipelinesShrinkToAPowerOfTwoInsideTheBitmap) {
  // 300 x 200 with a requested 1024: the transform is 128 x 128. A band stop that leaves
  // only the mean makes the transformed block flat (blue 0); the rest stays a copy.
  Bitmap src(300, 200);
  src.Fill(9);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) Px(src, x, y)[0] = static_cast<uint8_t>((x * 7 + y * 3) % 256);
  Bitmap dst;
  doFFT(src, dst, 1024, 0, 10000, 0, 0, false);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) {
      const uint8_t want = (x < 128 && y < 128) ? 0 : Px(src, x, y)[0];
      ASSERT_EQ(Px(dst, x, y)[0], want) << x << "," << y;
      ASSERT_EQ(Px(dst, x, y)[1], 9);
    }
  // Nothing to transform: only the copy.
  Bitmap empty;
  doFFT(empty, dst, 512, 0, 10, 0, 0, false);
  EXPECT_TRUE(dst.Empty());
  double s = 1, o = 1, c = 1;
  drawFFT(src, dst, 0, 1, 1, s, o, c);
  EXPECT_EQ(c, 0);
}

TEST_F(FFTTest, CentredSpectrumShowsTheGratingWithItsOrientationAndSpread) {
  const int n = 256, kr = 5, kc = 12;  // stripes with 5 periods down and 12 across
  Bitmap src(n, n), dst(n, n);
  LD mean = 0;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      const double v = 128 + 100 * std::cos(2 * std::numbers::pi * (kr * y + kc * x) / n);
      const uint8_t g = static_cast<uint8_t>(std::lround(v));
      Px(src, x, y)[1] = g;
      mean += g;
    }
  mean /= n * n;
  double structure = 0, orientation = 0, count = 0;
  drawFFT(src, dst, n, 7, 1, structure, orientation, count);  // colour 7 is read as green
  // The zero frequency in the centre, the two peaks mirrored around it, all saturated.
  for (auto [x, y] : {std::pair{n / 2, n / 2}, {n / 2 + kc, n / 2 + kr}, {n / 2 - kc, n / 2 - kr}}) {
    EXPECT_EQ(Px(dst, x, y)[0], 255) << x << "," << y;
    EXPECT_EQ(Px(dst, x, y)[2], 255) << x << "," << y;
  }
  EXPECT_EQ(Px(dst, 3, 3)[2], 0);
  // Magnitudes summed where the display is not black: the mean and two halves of 100.
  EXPECT_NEAR(count, static_cast<double>(mean) + 100, 0.05);
  // Principal axis of the points (0, 0) and (12, 5) of the right half-plane.
  EXPECT_NEAR(orientation, std::atan(12.0 / 5.0), 1e-9);
  // Sample standard deviation of the radii 0, 13, 13.
  const double m = 26.0 / 3;
  EXPECT_NEAR(structure, std::sqrt((m * m + 2 * (13 - m) * (13 - m)) / 2), 1e-9);
  // iComp keeps the spectrum for the window's read-out.
  EXPECT_NEAR(std::hypot(double(img[kr][kc].r), double(img[kr][kc].i)), 50, 0.05);
}

}  // namespace
}  // namespace analysis
