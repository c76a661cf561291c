#include "analysis/my_fft.h"
#include "analysis/myimage.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/mymath.h"
#include "platform/base/numeric.h"
#include "platform/image/bitmap.h"

namespace analysis {

using platform::Extended;
using platform::Round;

namespace {

constexpr int32_t kLastIndex = MAXFFTIMG;

// Centred frequency coordinate of index j in a transform of n points (n >= 1): indices from
// n/2 on stand for the negative frequencies.
inline int32_t Centred(int32_t j, int32_t n) {
  const int32_t sd2 = n / 2;
  return ((j + sd2) % n) - sd2;
}

inline Extended Magnitude(const tcomplex& z) { return std::sqrt(z.r * z.r + z.i * z.i); }

inline bool IsPowerOfTwo(int32_t n) { return n >= 1 && (n & (n - 1)) == 0; }

inline int32_t Log2(int32_t n) {
  int32_t m = 0;
  while ((1 << m) < n) ++m;
  return m;
}

// The filters and peak searches walk indices up to `size` inclusive and index their tables
// by radius; a size beyond the work image is taken as the work image's size so that
// neither reaches past its end.
inline int32_t ClampSize(int32_t size) { return std::min(size, MAXFFTIMG); }

}  // namespace

namespace {

constexpr size_t kImagesBytes = 3 * sizeof(TCimage);

// Three zeroed images in one block of anonymous pages straight from the system: they read as
// zero (0.0 for the extended floats) and become memory only where they are written. (The heap
// would clear the whole block when it reuses freed memory for it, and the program keeps freed
// memory for its large pictures.)
TCimage* AllocateImages() {
  void* block = ::mmap(nullptr, kImagesBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) throw std::bad_alloc();
  return static_cast<TCimage*>(block);
}

}  // namespace

void MyFFTState::FreeBlock::operator()(TCimage* p) const { ::munmap(p, kImagesBytes); }

MyFFTState::MyFFTState()
    : images_(AllocateImages()), iComp(images_.get()[0]), iComp2(images_.get()[1]), iComp3(images_.get()[2]) {}

void MyFFTState::MakeResident(int32_t size) {
  size = std::clamp(size, 0, MAXFFTIMG);
  if (size <= resident_) return;
  // Reading the pages would map the shared zero page; only a write makes them the image's
  // own. Each value is written as it is (one per 2 KB), so a block in use keeps its contents.
  for (TCimage* img : {&iComp, &iComp2, &iComp3}) {
    for (int32_t row = 0; row <= size; ++row) {
      tcomplex* line = (*img)[row];
      for (int32_t col = 0; col <= size; col += 64) {
        volatile platform::Extended* r = &line[col].r;
        *r = *r;
      }
    }
  }
  resident_ = size;
}

void MyFFTState::Reset() {
  std::memset(static_cast<void*>(images_.get()), 0, kImagesBytes);
  ff.fill(0);
  fa.fill(0);
  fw.fill(0);
}

MyFFTState& FFTState() {
  static MyFFTState state;  // created at first use and kept for the whole run
  return state;
}

void FFT1D(int32_t dir, int32_t m, TCLine& x, TCLine& y) {
  if (m < 0 || (1 << std::min(m, 30)) > MAXFFTIMG) return;
  const int32_t n = 1 << m;

  // Bit-reversal reordering.
  int32_t j = 0;
  for (int32_t i = 0; i < n - 1; ++i) {
    if (i < j) {
      std::swap(x[i], x[j]);
      std::swap(y[i], y[j]);
    }
    int32_t k = n / 2;
    while (k <= j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }

  // Butterflies. The twiddle factor advances by a complex multiplication per group and the
  // root of unity of the next stage comes from the half-angle formulas; both recurrences run
  // in extended precision, so their error does not grow into the 64-bit butterflies.
  Extended c1 = -1.0L;
  Extended c2 = 0.0L;
  int32_t l2 = 1;
  for (int32_t l = 0; l < m; ++l) {
    const int32_t l1 = l2;
    l2 <<= 1;
    Extended u1 = 1.0L;
    Extended u2 = 0.0L;
    for (int32_t g = 0; g < l1; ++g) {
      const double w1 = static_cast<double>(u1);
      const double w2 = static_cast<double>(u2);
      for (int32_t i = g; i < n; i += l2) {
        const int32_t i1 = i + l1;
        const double t1 = w1 * x[i1] - w2 * y[i1];
        const double t2 = w1 * y[i1] + w2 * x[i1];
        x[i1] = x[i] - t1;
        y[i1] = y[i] - t2;
        x[i] += t1;
        y[i] += t2;
      }
      const Extended z = u1 * c1 - u2 * c2;
      u2 = u1 * c2 + u2 * c1;
      u1 = z;
    }
    c2 = std::sqrt((1.0L - c1) / 2.0L);
    if (dir == 1) c2 = -c2;
    c1 = std::sqrt((1.0L + c1) / 2.0L);
  }

  if (dir == 1) {
    for (int32_t i = 0; i < n; ++i) {
      x[i] /= n;
      y[i] /= n;
    }
  }
}

int32_t FFT2D(TCimage* c, int32_t nx, int32_t ny, int32_t dir) {
  // Only powers of two can be transformed; anything else would leave part of the lines
  // untransformed or reach beyond the image, so it is refused like an oversized request.
  if (c == nullptr || !IsPowerOfTwo(nx) || !IsPowerOfTwo(ny) || nx > MAXFFTIMG || ny > MAXFFTIMG)
    return -1;
  TCimage& img = *c;

  // Lines along the first index are columns of the image. Gathering a block of neighbouring
  // columns per pass reads whole cache lines instead of one element per row and line.
  constexpr int32_t kBlock = 8;
  std::vector<TCLine> lines(2 * kBlock);
  TCLine* re = &lines[0];
  TCLine* im = &lines[kBlock];

  const int32_t mx = Log2(nx);
  for (int32_t j0 = 0; j0 < ny; j0 += kBlock) {
    const int32_t nb = std::min(kBlock, ny - j0);
    for (int32_t i = 0; i < nx; ++i) {
      const tcomplex* row = img[i] + j0;
      for (int32_t b = 0; b < nb; ++b) {
        re[b][i] = static_cast<double>(row[b].r);
        im[b][i] = static_cast<double>(row[b].i);
      }
    }
    for (int32_t b = 0; b < nb; ++b) FFT1D(dir, mx, re[b], im[b]);
    for (int32_t i = 0; i < nx; ++i) {
      tcomplex* row = img[i] + j0;
      for (int32_t b = 0; b < nb; ++b) {
        row[b].r = re[b][i];
        row[b].i = im[b][i];
      }
    }
  }

  const int32_t my = Log2(ny);
  for (int32_t i = 0; i < nx; ++i) {
    tcomplex* row = img[i];
    for (int32_t j = 0; j < ny; ++j) {
      re[0][j] = static_cast<double>(row[j].r);
      im[0][j] = static_cast<double>(row[j].i);
    }
    FFT1D(dir, my, re[0], im[0]);
    for (int32_t j = 0; j < ny; ++j) {
      row[j].r = re[0][j];
      row[j].i = im[0][j];
    }
  }
  return 0;
}

void BandPassFilter(int32_t size, TCimage& Image, double low, double high, double amp) {
  if (size < 1) return;
  size = ClampSize(size);
  const int32_t last = size;
  const Extended low2 = static_cast<Extended>(low) * low;
  const Extended high2 = static_cast<Extended>(high) * high;
  const Extended amp2 = static_cast<Extended>(amp) * amp;
  for (int32_t a = 2; a <= last; ++a) {
    const int64_t ca = Centred(a, size);
    for (int32_t b = 2; b <= last; ++b) {
      const int64_t cb = Centred(b, size);
      const int64_t s = ca * ca + cb * cb;
      tcomplex& z = Image[a][b];
      if (s < low2 || s > high2 || (s > 4 && z.r * z.r + z.i * z.i < amp2)) z = tcomplex{};
    }
  }
}

void BandPassFilterTimes(int32_t size, TCimage& Image, double low, double high) {
  if (size < 1) return;
  size = ClampSize(size);
  const int32_t last = size;
  const Extended low2 = static_cast<Extended>(low) * low;
  const Extended high2 = static_cast<Extended>(high) * high;
  for (int32_t a = 1; a <= last; ++a) {
    const int64_t ca = Centred(a, size);
    for (int32_t b = 1; b <= last; ++b) {
      const int64_t cb = Centred(b, size);
      const int64_t s = ca * ca + cb * cb;
      tcomplex& z = Image[a][b];
      if (s < low2 || s > high2) {
        z = tcomplex{};
      } else {
        z.r *= 10;
        z.i *= 10;
      }
    }
  }
}

void BandStopFilter(int32_t low, int32_t high, int32_t size, double amp, TCimage& Image) {
  if (size < 1) return;
  size = ClampSize(size);
  const int32_t last = size;
  for (int32_t a = 0; a <= last; ++a) {
    const int64_t ca = Centred(a, size);
    for (int32_t b = 0; b <= last; ++b) {
      const int64_t cb = Centred(b, size);
      const double rho = std::sqrt(static_cast<double>(ca * ca + cb * cb));
      tcomplex& z = Image[a][b];
      if ((low < rho && rho < high) || Magnitude(z) < amp) z = tcomplex{};
    }
  }
}

double GetMaxAmp(int32_t size, double f1, double f2, double& w, const TCimage& Image) {
  MyFFTState& st = FFTState();
  st.ff.fill(0);
  st.fa.fill(0);
  st.fw.fill(0);
  int32_t best = 0;
  if (size >= 1) {
    size = ClampSize(size);
    const int32_t last = size;
    for (int32_t a = 1; a <= last; ++a) {
      const int32_t ca = Centred(a, size);
      for (int32_t b = 1; b <= last; ++b) {
        const int32_t cb = Centred(b, size);
        const double amp = static_cast<double>(Magnitude(Image[a][b]));
        const double rho = std::sqrt(static_cast<double>(ca) * ca + static_cast<double>(cb) * cb);
        const int32_t t = Round(rho);
        if (amp > st.fa[t]) {
          st.fa[t] = amp;
          st.fw[t] = GetWinkelDrad(ca, cb);
        }
        st.ff[t] = rho;
        if (f1 <= rho && rho <= f2 && st.fa[t] > st.fa[best]) best = t;
      }
    }
  }
  w = st.fw[best];
  return best;
}

double MaxAmp(int32_t size, const TCimage& Image, double& f1, double& f2, double& f3, double& dx,
              double& dy, double& maxb) {
  f1 = f2 = f3 = dx = dy = maxb = 0;
  MyFFTState& st = FFTState();
  TSpectrumTable& ff = st.ff;
  TSpectrumTable& fa = st.fa;
  ff.fill(0);
  fa.fill(0);
  if (size < 1) return 0;
  size = ClampSize(size);
  const int32_t last = size;

  // Main peak over the whole spectrum except the zero frequency; the per-radius maxima of
  // the low frequencies feed the secondary peak.
  double maxa = 0;
  for (int32_t j = 0; j <= last; ++j) {
    const int32_t cj = Centred(j, size);
    for (int32_t i = 0; i <= last; ++i) {
      if (j == 0 && i == 0) continue;
      const int32_t ci = Centred(i, size);
      const double l = static_cast<double>(Magnitude(Image[j][i]));
      const double rho = std::sqrt(static_cast<double>(cj) * cj + static_cast<double>(ci) * ci);
      const int32_t t = Round(rho);
      if (t < 40 && l > 1 && l > fa[t]) {
        fa[t] = l;
        ff[t] = rho;
      }
      if (l > maxa) {
        maxa = l;
        f2 = f1;
        f1 = rho;
        dx = j;
        dy = i;
      }
    }
  }

  // Secondary peak: the strongest radius below (or, for a low main peak, above) the main one.
  int32_t lo;
  int32_t hi;
  if (f1 >= 20) {
    lo = 1;
    hi = Round(f1 - 4);
  } else {
    lo = Round(f1 + 4);
    hi = 40;
  }
  hi = std::min(hi, kLastIndex);
  int32_t e = lo;
  for (int32_t t = lo; t <= hi; ++t)
    if (fa[t] > fa[e]) e = t;
  int32_t wlo;
  int32_t whi;
  if (e >= 5) {
    wlo = e - 4;
    whi = std::min(e + 4, 40);
  } else {
    wlo = 1;
    whi = 2 * e - 1;
  }
  Extended sw = 0;
  Extended swf = 0;
  for (int32_t t = wlo; t <= whi; ++t) {
    const Extended a2 = static_cast<Extended>(fa[t]) * fa[t];
    sw += a2;
    swf += a2 * ff[t];
  }
  f2 = sw > 0 ? static_cast<double>(swf / sw) : 0;
  maxb = fa[std::clamp(Round(f2), 0, kLastIndex)];

  // Centre of the low frequencies below half the secondary peak.
  sw = 0;
  swf = 0;
  const int32_t tEnd = std::min(platform::Trunc(f2 / 2) - 1, kLastIndex);
  for (int32_t t = 0; t <= tEnd; ++t) {
    const Extended a2 = static_cast<Extended>(fa[t]) * fa[t];
    sw += a2;
    swf += a2 * ff[t];
  }
  f3 = sw > 0 ? static_cast<double>(swf / sw) : 0;

  // Refine the main peak by the magnitude-weighted centre of its neighbourhood.
  const int32_t u0 = std::max(Round(dx - 8), 1);
  const int32_t u1 = std::min(Round(dx + 8), last);
  const int32_t k0 = std::max(Round(dy - 8), 1);
  const int32_t k1 = std::min(Round(dy + 8), last);
  Extended sb = 0;
  Extended sbv = 0;
  Extended sbu = 0;
  Extended sbk = 0;
  for (int32_t u = u0; u <= u1; ++u) {
    for (int32_t k = k0; k <= k1; ++k) {
      const double v = std::sqrt(static_cast<double>(u) * u + static_cast<double>(k) * k);
      if (std::fabs(f1 - v) < 8) {
        const Extended bw = Magnitude(Image[u][k]);
        sb += bw;
        sbv += bw * v;
        sbu += bw * u;
        sbk += bw * k;
      }
    }
  }
  if (sb > 0) {
    f1 = static_cast<double>(sbv / sb);
    dx = static_cast<double>(sbu / sb);
    dy = static_cast<double>(sbk / sb);
  }
  return maxa;
}

namespace {

// Byte offset `color` of pixel x, read the way a byte offset past the pixel's three bytes
// reaches into the next pixel; the pixel is clamped to the row so that the last column
// never reads beyond it.
inline uint8_t PixelByte(const uint8_t* line, int32_t x, int32_t color, int32_t width) {
  const int32_t c = std::max(color, 0);
  const int32_t px = std::min(x + c / 3, width - 1);
  return line[3 * px + c % 3];
}

inline void PutFalseColour(uint8_t* px, int64_t f) {
  if (f >= 65536) {
    px[0] = platform::Wrap8(f >> 16);
    px[1] = 255;
    px[2] = 255;
  } else if (f >= 256) {
    px[0] = 0;
    px[1] = platform::Wrap8(f >> 8);
    px[2] = 255;
  } else {
    px[0] = 0;
    px[1] = 0;
    px[2] = platform::Wrap8(f);
  }
}

inline void PutChannelOrGray(uint8_t* px, int32_t color, uint8_t v) {
  if (color > 2 || color < 0) {
    px[0] = px[1] = px[2] = v;
  } else {
    px[color] = v;
  }
}

// Real-part range of the first SizeY rows and SizeX columns and the factor that stretches
// it to 0..255.
struct Stretch {
  Extended min = 10000000;
  Extended factor = 1;
};

Stretch RealRange(const TCimage& Image, int32_t SizeX, int32_t SizeY) {
  Stretch st;
  Extended mx = -10000000;
  const int32_t rows = std::min(SizeY, MAXFFTIMG + 1);
  const int32_t cols = std::min(SizeX, MAXFFTIMG + 1);
  for (int32_t y = 0; y < rows; ++y) {
    for (int32_t x = 0; x < cols; ++x) {
      const Extended r = Image[y][x].r;
      if (r < st.min) st.min = r;
      if (r > mx) mx = r;
    }
  }
  if (mx > st.min) st.factor = 255 / (mx - st.min);
  return st;
}

// The stretched value rounded to the nearest integer, halves to even, limited to 0..255. The
// rounding is done by hand rather than by the rounding mode: it runs for every pixel of a
// picture, and setting and restoring the mode per pixel cost more than the transform.
inline uint8_t Scaled(const Stretch& st, Extended r) {
  const Extended t = st.factor * (r - st.min);
  if (!(t > 0)) return 0;  // NaN included
  if (t >= 255) return 255;
  const Extended f = std::floor(t);
  const Extended frac = t - f;  // exact below 2^63
  int32_t v = static_cast<int32_t>(f);
  if (frac > 0.5L || (frac == 0.5L && (v & 1) != 0)) ++v;
  return static_cast<uint8_t>(std::min(v, 255));
}

// The transform size of a display pipeline: the power of two nearest to Size, but no larger
// than the bitmaps and the work images (always a power of two, so FFT2D accepts it; 0 when
// there is nothing to transform).
int32_t PipelineSize(int32_t Size, const platform::Bitmap& a, const platform::Bitmap& b) {
  if (Size < 1) return 0;
  const int32_t e = Round(std::log2(static_cast<double>(Size)));
  int32_t s = 1 << std::clamp(e, 0, 11);
  const int32_t limit = std::min({a.Width(), a.Height(), b.Width(), b.Height(), MAXFFTIMG});
  if (limit < 1) return 0;
  while (s > limit) s /= 2;
  return s;
}

}  // namespace

void SetImageToComplex(const platform::Bitmap& Bild, TCimage& Image, int32_t SizeX, int32_t SizeY,
                       int32_t color) {
  Require24Bit(Bild, "SetImageToComplex");
  const int32_t rows = std::min({SizeY, Bild.Height(), MAXFFTIMG + 1});
  const int32_t cols = std::min({SizeX, Bild.Width(), MAXFFTIMG + 1});
  for (int32_t y = 0; y < rows; ++y) {
    const uint8_t* line = Bild.ScanLine(y);
    tcomplex* row = Image[y];
    for (int32_t x = 0; x < cols; ++x) row[x] = tcomplex{static_cast<Extended>(PixelByte(line, x, color, Bild.Width())), 0};
  }
}

void SetComplexToImage(platform::Bitmap& Bild, const TCimage& Image, int32_t SizeX, int32_t SizeY,
                       int32_t color) {
  Require24Bit(Bild, "SetComplexToImage");
  const Stretch st = RealRange(Image, SizeX, SizeY);
  const int32_t rows = std::min({SizeY, Bild.Height(), MAXFFTIMG + 1});
  const int32_t cols = std::min({SizeX, Bild.Width(), MAXFFTIMG + 1});
  for (int32_t y = 0; y < rows; ++y) {
    uint8_t* line = Bild.ScanLine(y);
    for (int32_t x = 0; x < cols; ++x) PutChannelOrGray(line + 3 * x, color, Scaled(st, Image[y][x].r));
  }
}

void SetComplexToImageBin(platform::Bitmap& Bild, const TCimage& Image, int32_t SizeX, int32_t SizeY,
                          int32_t Color, int32_t Th) {
  Require24Bit(Bild, "SetComplexToImageBin");
  const Stretch st = RealRange(Image, SizeX, SizeY);
  const int32_t rows = std::min({SizeY, Bild.Height(), MAXFFTIMG + 1});
  const int32_t cols = std::min({SizeX, Bild.Width(), MAXFFTIMG + 1});
  for (int32_t y = 0; y < rows; ++y) {
    uint8_t* line = Bild.ScanLine(y);
    for (int32_t x = 0; x < cols; ++x) {
      const uint8_t v = Scaled(st, Image[y][x].r) > Th ? 255 : 0;
      PutChannelOrGray(line + 3 * x, Color, v);
    }
  }
}

void SetComplexToImageRE(platform::Bitmap& Bild, const TCimage& Image, int32_t Size, int32_t /*color*/,
                         int32_t factor) {
  Require24Bit(Bild, "SetComplexToImageRE");
  const int32_t rows = std::min({Size, Bild.Height(), MAXFFTIMG + 1});
  const int32_t cols = std::min({Size, Bild.Width(), MAXFFTIMG + 1});
  for (int32_t y = 0; y < rows; ++y) {
    uint8_t* line = Bild.ScanLine(y);
    for (int32_t x = 0; x < cols; ++x)
      PutFalseColour(line + 3 * x, platform::Round64(factor * Magnitude(Image[y][x])));
  }
}

double SetComplexToImageCenter(platform::Bitmap& Bild, const TCimage& Image, int32_t Size,
                               int32_t /*color*/, int32_t factor, double& Structure,
                               double& Orientation) {
  Require24Bit(Bild, "SetComplexToImageCenter");
  Structure = 0;
  Orientation = 0;
  if (Size < 1) return 0;
  const int32_t n = std::min(Size, MAXFFTIMG + 1);
  const Extended q = static_cast<Extended>(factor) * factor;
  const int32_t sd2 = Size / 2;

  Extended result = 0;
  Extended sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  int64_t nHalf = 0;
  Extended sr = 0, srr = 0;
  int64_t nAll = 0;
  for (int32_t w = 0; w < n; ++w) {
    const int32_t drow = (w + sd2) % Size;
    uint8_t* line = drow < Bild.Height() ? Bild.ScanLine(drow) : nullptr;
    for (int32_t i = 0; i < n; ++i) {
      const Extended E = Magnitude(Image[w][i]);
      int64_t G = 16777215;
      if (E <= 5) {
        const Extended fe = factor * E;
        G = q != 0 ? platform::Round64(fe * fe * fe * fe / q) : 0;
      }
      if (G != 0) result += E;
      const int32_t D = (i + sd2) % Size;
      if (line != nullptr && D < Bild.Width()) PutFalseColour(line + 3 * D, G);
      if (E > 1) {
        const Extended fx = D - sd2;
        const Extended fy = drow - sd2;
        if (i < sd2) {
          sx += fx;
          sy += fy;
          sxx += fx * fx;
          syy += fy * fy;
          sxy += fx * fy;
          ++nHalf;
        }
        const Extended rho = std::sqrt(fx * fx + fy * fy);
        sr += rho;
        srr += rho * rho;
        ++nAll;
      }
    }
  }
  if (nHalf == 0) return static_cast<double>(result);

  const Extended vxx = sxx - sx * sx / nHalf;
  const Extended vyy = syy - sy * sy / nHalf;
  const Extended vxy = sxy - sx * sy / nHalf;
  if (vxy != 0) {
    const Extended d = vxx - vyy;
    Orientation = static_cast<double>(std::atan((d + std::sqrt(4 * vxy * vxy + d * d)) / (2 * vxy)));
  }
  if (nAll > 1) {
    const Extended mean = sr / nAll;
    const Extended var = (srr / nAll - mean * mean) * nAll / (nAll - 1);
    if (var > 0) Structure = static_cast<double>(std::sqrt(var));
  }
  return static_cast<double>(result);
}

void doFFT(const platform::Bitmap& FromBit, platform::Bitmap& ToBit, int32_t Size, int32_t low,
           int32_t high, int32_t color, double amp, bool bandpass) {
  ToBit = FromBit;
  const int32_t n = PipelineSize(Size, FromBit, ToBit);
  if (n == 0) return;
  TCimage& img = FFTState().iComp;
  SetImageToComplex(FromBit, img, n, n, color);
  FFT2D(&img, n, n, 1);
  if (bandpass) {
    BandPassFilter(n, img, low, high, amp);
  } else {
    BandStopFilter(low, high, n, amp, img);
  }
  FFT2D(&img, n, n, -1);
  SetComplexToImage(ToBit, img, n, n, color);
}

void drawFFT(const platform::Bitmap& FromBit, platform::Bitmap& ToBit, int32_t Size, int32_t color,
             int32_t factor, double& Structure, double& Orientation, double& Count) {
  Structure = Orientation = Count = 0;
  if (color > 2) color = 1;
  const int32_t n = PipelineSize(Size, FromBit, ToBit);
  if (n == 0) return;
  TCimage& img = FFTState().iComp;
  SetImageToComplex(FromBit, img, n, n, color);
  FFT2D(&img, n, n, 1);
  Count = SetComplexToImageCenter(ToBit, img, n, color, factor, Structure, Orientation);
}

void DrawFFTLT(const platform::Bitmap& FromBit, platform::Bitmap& ToBit, int32_t size, int32_t color,
               int32_t factor) {
  if (color > 2) color = 1;
  const int32_t n = PipelineSize(size, FromBit, ToBit);
  if (n == 0) return;
  TCimage& img = FFTState().iComp;
  SetImageToComplex(FromBit, img, n, n, color);
  FFT2D(&img, n, n, 1);
  SetComplexToImageRE(ToBit, img, n, color, factor);
}

double abstand(double x1, double y1, double x2, double y2) {
  return std::sqrt((x2 - x1) * (x2 - x1) + (y2 - y1) * (y2 - y1));
}

}  // namespace analysis
