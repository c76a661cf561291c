#pragma once
// Synthetic halftones with a known answer: round dots on a square lattice of period D at a
// screen angle (degrees, y downwards), covering a known share of the image, dark dots on a
// bright ground or bright dots on a dark one; either binary (a pixel takes the colour of its
// centre) or anti-aliased (4 x 4 samples per pixel), then optionally a light 3 x 3 binomial
// blur and uniform noise.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "platform/image/bitmap.h"

namespace analysis::fixture {

struct Screen {
  double period;    // pixels
  double angle;     // degrees
  double coverage;  // share of the image covered by the dots, 0..0.78
  double phase_x = 0.3, phase_y = 0.6;  // lattice offset, in periods
};

struct HalftoneOptions {
  bool dark_dots = true;
  bool antialias = false;
  bool blur = false;
  int noise = 0;          // +- levels
  uint8_t dot = 30;       // dot level when dark dots (swapped with ground otherwise)
  uint8_t ground = 225;
  unsigned seed = 1;
};

// Coverage of each pixel by the dots of the given screens (the dots do not overlap).
inline std::vector<double> DotCoverage(int w, int h, const std::vector<Screen>& screens, bool antialias) {
  std::vector<double> cov(static_cast<size_t>(w) * h, 0.0);
  const int n = antialias ? 4 : 1;
  for (const Screen& s : screens) {
    const double a = s.angle * std::numbers::pi / 180, c = std::cos(a), sn = std::sin(a);
    const double r = s.period * std::sqrt(s.coverage / std::numbers::pi);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int in = 0;
        for (int sy = 0; sy < n; ++sy)
          for (int sx = 0; sx < n; ++sx) {
            const double px = x + (n == 1 ? 0.0 : (sx + 0.5) / n - 0.5);
            const double py = y + (n == 1 ? 0.0 : (sy + 0.5) / n - 0.5);
            const double u = (px * c + py * sn) / s.period - s.phase_x;
            const double v = (-px * sn + py * c) / s.period - s.phase_y;
            const double du = (u - std::nearbyint(u)) * s.period, dv = (v - std::nearbyint(v)) * s.period;
            in += du * du + dv * dv <= r * r;
          }
        cov[static_cast<size_t>(y) * w + x] += static_cast<double>(in) / (n * n);
      }
  }
  return cov;
}

inline platform::Bitmap Halftone(int w, int h, const std::vector<Screen>& screens, const HalftoneOptions& o) {
  const std::vector<double> cov = DotCoverage(w, h, screens, o.antialias);
  const double dot = o.dark_dots ? o.dot : o.ground, ground = o.dark_dots ? o.ground : o.dot;
  std::vector<double> v(cov.size());
  for (size_t i = 0; i < cov.size(); ++i) v[i] = ground + (dot - ground) * std::min(cov[i], 1.0);
  if (o.blur) {
    std::vector<double> b(v.size());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        double s = 0, wsum = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int xx = std::clamp(x + dx, 0, w - 1), yy = std::clamp(y + dy, 0, h - 1);
            const double k = (dx ? 1 : 2) * (dy ? 1 : 2);
            s += k * v[static_cast<size_t>(yy) * w + xx];
            wsum += k;
          }
        b[static_cast<size_t>(y) * w + x] = s / wsum;
      }
    v.swap(b);
  }
  std::mt19937 rng(o.seed);
  std::uniform_int_distribution<int> noise(-o.noise, o.noise);
  platform::Bitmap bmp(w, h);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const int g = std::clamp(static_cast<int>(std::lround(v[static_cast<size_t>(y) * w + x])) + noise(rng), 0, 255);
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = static_cast<uint8_t>(g);
    }
  }
  return bmp;
}

}  // namespace analysis::fixture
