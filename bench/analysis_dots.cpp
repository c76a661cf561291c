// Dot detection on the full 1280 x 1024 image: GetDots (classification, edge flags, labels
// and the dot chain with its counts) on a clean halftone (budget 60 ms) and on a noise frame
// that runs into the label limit (budget 500 ms), each beside a plain breadth-first flood
// fill labelling of the same classes as the baseline to beat.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "analysis/analyze.h"
#include "analysis/analyze_dots.h"

namespace {

using analysis::AnalyzeState;
using analysis::ImHeight;
using analysis::ImWidth;
using platform::Bitmap;

// Round dark dots of period 40 px at 15 degrees, about 30 % coverage, with a little noise.
Bitmap Halftone() {
  Bitmap b(ImWidth, ImHeight);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> noise(-10, 10);
  const double d = 40, a = 15 * 3.14159265358979 / 180, r = 0.31 * d;
  const double c = std::cos(a), s = std::sin(a);
  for (int y = 0; y < ImHeight; ++y) {
    uint8_t* line = b.ScanLine(y);
    for (int x = 0; x < ImWidth; ++x) {
      const double u = (x * c + y * s) / d, v = (-x * s + y * c) / d;
      const double du = (u - std::floor(u) - 0.5) * d, dv = (v - std::floor(v) - 0.5) * d;
      const int g = (du * du + dv * dv < r * r ? 40 : 215) + noise(rng);
      line[3 * x] = line[3 * x + 1] = line[3 * x + 2] = static_cast<uint8_t>(g);
    }
  }
  return b;
}

// Every pixel dark or bright at random: far more than 9,999 objects.
Bitmap Noise() {
  Bitmap b(ImWidth, ImHeight);
  std::mt19937 rng(11);
  std::bernoulli_distribution dark(0.5);
  for (int y = 0; y < ImHeight; ++y) {
    uint8_t* line = b.ScanLine(y);
    for (int x = 0; x < ImWidth; ++x) line[3 * x] = line[3 * x + 1] = line[3 * x + 2] = dark(rng) ? 0 : 255;
  }
  return b;
}

std::unique_ptr<AnalyzeState> StateWithThreshold() {
  auto st = std::make_unique<AnalyzeState>();
  for (int x = 0; x <= ImWidth; ++x)
    for (int y = 0; y <= ImHeight; ++y) st->ThImage[x][y] = 128;
  return st;
}

void RunGetDots(benchmark::State& state, const Bitmap& img) {
  auto st = StateWithThreshold();
  Bitmap disp(ImWidth, ImHeight);
  size_t dots = 0;
  for (auto _ : state) {
    analysis::ClearResult(*st);
    st->GDotList = analysis::GetDots(*st, img, disp, st->GResult, st->ThImage, 0, {0, 0, ImWidth, ImHeight});
    dots = 0;
    for (analysis::TDot* d = st->GDotList; d; d = d->next) ++dots;
  }
  analysis::ClearResult(*st);
  state.counters["dots"] = static_cast<double>(dots);
}

// The baseline: classes against the same threshold image, 4-connected components by a
// breadth-first flood fill into an array of labels (no edges, no per-object records).
void RunFloodFill(benchmark::State& state, const Bitmap& img) {
  auto st = StateWithThreshold();
  std::vector<int32_t> label(static_cast<size_t>(ImWidth) * ImHeight);
  std::vector<uint8_t> dark(label.size());
  std::vector<int32_t> queue(label.size());
  int32_t objects = 0;
  for (auto _ : state) {
    std::fill(label.begin(), label.end(), 0);
    for (int y = 0; y < ImHeight; ++y) {
      const uint8_t* line = img.ScanLine(y);
      for (int x = 0; x < ImWidth; ++x)
        dark[static_cast<size_t>(y) * ImWidth + x] = line[3 * x] < st->ThImage[x][y];
    }
    objects = 0;
    for (int32_t start = 0; start < static_cast<int32_t>(label.size()); ++start) {
      if (label[static_cast<size_t>(start)]) continue;
      const int32_t id = ++objects;
      const uint8_t cls = dark[static_cast<size_t>(start)];
      size_t head = 0, tail = 0;
      queue[tail++] = start;
      label[static_cast<size_t>(start)] = id;
      while (head < tail) {
        const int32_t p = queue[head++];
        const int32_t x = p % ImWidth, y = p / ImWidth;
        const int32_t nb[4] = {x > 0 ? p - 1 : -1, x + 1 < ImWidth ? p + 1 : -1, y > 0 ? p - ImWidth : -1,
                               y + 1 < ImHeight ? p + ImWidth : -1};
        for (int32_t q : nb) {
          if (q < 0 || label[static_cast<size_t>(q)] || dark[static_cast<size_t>(q)] != cls) continue;
          label[static_cast<size_t>(q)] = id;
          queue[tail++] = q;
        }
      }
    }
    benchmark::DoNotOptimize(label.data());
  }
  state.counters["objects"] = objects;
}

void BM_GetDots_Halftone(benchmark::State& state) { RunGetDots(state, Halftone()); }
void BM_FloodFill_Halftone(benchmark::State& state) { RunFloodFill(state, Halftone()); }
void BM_GetDots_Noise(benchmark::State& state) { RunGetDots(state, Noise()); }
void BM_FloodFill_Noise(benchmark::State& state) { RunFloodFill(state, Noise()); }

BENCHMARK(BM_GetDots_Halftone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FloodFill_Halftone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GetDots_Noise)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FloodFill_Noise)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
