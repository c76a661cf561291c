// The transmission analysis on the full 1280 x 1024 image: AnalyzeTRANSImage (detection,
// filter, inner dots, sizes and the population search) on a clean halftone (budget 0.5 s) and
// on a noise frame that runs into the label limit (budget 3 s).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "analysis/analyze.h"
#include "analysis/analyze_grid.h"
#include "analysis/analyze_population.h"
#include "analysis/analyze_threshold.h"

namespace {

using analysis::AnalyzeState;
using analysis::ImHeight;
using analysis::ImWidth;
using platform::Bitmap;

// Anti-aliased round dark dots of period 60 px at 22 degrees, 35 % coverage, with noise.
Bitmap Halftone() {
  Bitmap b(ImWidth, ImHeight);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> noise(-4, 4);
  const double d = 60, a = 22 * 3.14159265358979 / 180, r = d * std::sqrt(0.35 / 3.14159265358979);
  const double c = std::cos(a), s = std::sin(a);
  for (int y = 0; y < ImHeight; ++y) {
    uint8_t* line = b.ScanLine(y);
    for (int x = 0; x < ImWidth; ++x) {
      const double u = (x * c + y * s) / d, v = (-x * s + y * c) / d;
      const double du = (u - std::nearbyint(u)) * d, dv = (v - std::nearbyint(v)) * d;
      const double edge = std::clamp(std::sqrt(du * du + dv * dv) - r + 0.5, 0.0, 1.0);  // 0 inside, 1 outside
      const int g = static_cast<int>(std::lround(30 + 195 * edge)) + noise(rng);
      line[3 * x] = line[3 * x + 1] = line[3 * x + 2] = static_cast<uint8_t>(std::clamp(g, 0, 255));
    }
  }
  return b;
}

// Dark specks of every size from 2 to 10 pixels across at random places, more than the
// 9,999 labels hold, most of them large enough to pass the size filter: every size class is
// crowded, and each candidate population is a random cloud.
Bitmap Noise() {
  Bitmap b(ImWidth, ImHeight);
  b.Fill(230);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> ux(0, ImWidth), uy(0, ImHeight), ur(1.0, 5.0);
  for (int k = 0; k < 14000; ++k) {
    const double cx = ux(rng), cy = uy(rng), r = ur(rng);
    for (int y = std::max(0, int(cy - r)); y <= std::min(ImHeight - 1, int(cy + r)); ++y) {
      uint8_t* line = b.ScanLine(y);
      for (int x = std::max(0, int(cx - r)); x <= std::min(ImWidth - 1, int(cx + r)); ++x)
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) line[3 * x] = line[3 * x + 1] = line[3 * x + 2] = 20;
    }
  }
  return b;
}

void Run(benchmark::State& state, const Bitmap& img) {
  auto st = std::make_unique<AnalyzeState>();
  analysis::FillLocalTh(*st, 128);
  Bitmap disp(ImWidth, ImHeight);
  size_t dots = 0;
  for (auto _ : state) {
    analysis::AnalyzeTRANSImage(*st, img, disp, 0, {}, 10, false, 0, 0);
    dots = 0;
    for (analysis::TDot* d = st->GDotList; d; d = d->next) ++dots;
  }
  state.counters["dots"] = static_cast<double>(dots);
  state.counters["populations"] = st->GAlternativencount;
  if (st->GAlternative) state.counters["period"] = st->GAlternative->distance;
  analysis::ClearResult(*st);
}

void BM_AnalyzeTRANSImage_Halftone(benchmark::State& state) { Run(state, Halftone()); }
void BM_AnalyzeTRANSImage_Noise(benchmark::State& state) { Run(state, Noise()); }

BENCHMARK(BM_AnalyzeTRANSImage_Halftone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AnalyzeTRANSImage_Noise)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
