// The per-frame and per-display image work on the full 1280 x 1024 image: the display filter
// chain (budget 120 ms), the live preview's focus value (budget 25 ms, it runs on every
// frame) and the combination of a 19-step exposure series (budget 300 ms).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <random>
#include <vector>

#include "analysis/analyze_consts.h"
#include "analysis/myimage_filters.h"
#include "analysis/myimage_series.h"
#include "bench/bench_report.h"

namespace {

using analysis::ImHeight;
using analysis::ImWidth;
using platform::Bitmap;

// A halftone-like gray image with noise.
Bitmap Plate(unsigned seed, double gain) {
  Bitmap b(ImWidth, ImHeight);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> noise(-6, 6);
  for (int y = 0; y < ImHeight; ++y) {
    uint8_t* line = b.ScanLine(y);
    for (int x = 0; x < ImWidth; ++x) {
      const double v = gain * (128 + 100 * std::cos(0.3 * x + 0.1 * y) * std::cos(0.1 * x - 0.3 * y)) + noise(rng);
      const uint8_t g = static_cast<uint8_t>(std::lround(std::fmin(255, std::fmax(0, v))));
      line[3 * x] = line[3 * x + 1] = line[3 * x + 2] = g;
    }
  }
  return b;
}

void BM_DisplayChain(benchmark::State& state) {
  const Bitmap src = Plate(1, 1.0);
  Bitmap a, b(ImWidth, ImHeight), c;
  for (auto _ : state) {
    analysis::ApplyGuidedSharpFilter(src, a, 2, 2, 0);
    b = a;
    analysis::SharpbmpSkip(a, b, 5.0 / 4);
    benchmark::DoNotOptimize(analysis::EdgeEnhancement(b, c, 20, 0));
  }
}
BENCHMARK(BM_DisplayChain)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SharpnessIndexSobel(benchmark::State& state) {
  const Bitmap src = Plate(2, 1.0);
  double v, vs, brf;
  uint32_t ct, ct255;
  for (auto _ : state)
    benchmark::DoNotOptimize(
        analysis::SharpnessIndexSobel(src, platform::TRect{50, 50, 1230, 974}, 0, 10, 250, v, vs, brf, ct, ct255));
}
BENCHMARK(BM_SharpnessIndexSobel)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_KombinierenBR19(benchmark::State& state) {
  std::vector<Bitmap> frames;
  for (int k = 0; k < analysis::ShutterSteps; ++k) frames.push_back(Plate(10 + k, 3.0 / (1 + k)));
  std::vector<platform::TPoint> shifts(analysis::ShutterSteps);
  Bitmap out;
  uint32_t mx, mn, avg;
  for (auto _ : state) {
    analysis::OverlayImgs(frames, shifts, analysis::ShutterSteps, 2, 128);
    benchmark::DoNotOptimize(
        analysis::KombinierenBR(out, frames, 0, 0, analysis::ShutterSteps, 2, shifts, mx, mn, avg));
  }
}
BENCHMARK(BM_KombinierenBR19)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  bench::PrintBudgets(rep, {{"BM_DisplayChain", 120}, {"BM_SharpnessIndexSobel", 25}, {"BM_KombinierenBR19", 300}});
  benchmark::Shutdown();
  return 0;
}
