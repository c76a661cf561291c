// Thresholds and gray conversion on a full 1280 x 1024 image, one core.
// Goals: GetLocalTH + FillLocalTh under 100 ms, GetGraybmpAndHistZero under 30 ms.
// DilatationLTH is measured against the direct window count it replaces.
#include <benchmark/benchmark.h>

#include <memory>

#include "analysis/analyze_threshold.h"
#include "analysis/myimage.h"
#include "analysis/myimage_gray.h"

namespace {

using analysis::AnalyzeState;
using analysis::Bitmap;
using analysis::ImHeight;
using analysis::ImWidth;

int Noise(int x, int y) {
  uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return static_cast<int>(h % 13) - 6;
}

// A halftone of 8-pixel cells under light that falls off towards the right.
Bitmap Halftone() {
  Bitmap b(ImWidth, ImHeight);
  for (int y = 0; y < ImHeight; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < ImWidth; ++x) {
      const bool dot = x % 8 < 4 && y % 8 < 4;
      const int v = (dot ? 40 : 200) - x * 40 / ImWidth + Noise(x, y);
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = static_cast<uint8_t>(v);
    }
  }
  return b;
}

// A raw capture and its zero reference: uneven light, dots at a third of it.
void HighRange(Bitmap& src, Bitmap& zero) {
  src = Bitmap(ImWidth, ImHeight);
  zero = Bitmap(ImWidth, ImHeight);
  for (int y = 0; y < ImHeight; ++y) {
    for (int x = 0; x < ImWidth; ++x) {
      const uint32_t light = 20000 + static_cast<uint32_t>(x * 5 + y * 3);
      const bool dot = x % 8 < 4 && y % 8 < 4;
      analysis::Set16BitValue(zero.ScanLine(y), x, light);
      analysis::Set16BitValue(src.ScanLine(y), x, (dot ? light / 3 : light) + static_cast<uint32_t>(Noise(x, y) + 6));
    }
  }
}

void BM_GetLocalTH_Grid(benchmark::State& state) {
  auto st = std::make_unique<AnalyzeState>();
  const Bitmap bmp = Halftone();
  uint8_t contrast = 0;
  int32_t proc = 0;
  for (auto _ : state) {
    analysis::FillLocalTh(*st, 128);
    benchmark::DoNotOptimize(analysis::GetLocalTH(*st, bmp, 200, 0, 255, contrast, proc, false, 256, 4));
  }
}
BENCHMARK(BM_GetLocalTH_Grid)->Unit(benchmark::kMillisecond);

void BM_GetLocalTH_GlobalFallback(benchmark::State& state) {
  auto st = std::make_unique<AnalyzeState>();
  const Bitmap bmp = Halftone();
  uint8_t contrast = 0;
  int32_t proc = 0;
  for (auto _ : state) {
    analysis::FillLocalTh(*st, 128);
    benchmark::DoNotOptimize(analysis::GetLocalTH(*st, bmp, 0, 0, 255, contrast, proc, false, 256, 4));
  }
}
BENCHMARK(BM_GetLocalTH_GlobalFallback)->Unit(benchmark::kMillisecond);

void BM_GetGraybmpAndHistZero(benchmark::State& state) {
  Bitmap src;
  Bitmap zero;
  HighRange(src, zero);
  Bitmap ibmp;
  Bitmap dbmp;
  analysis::THist hist;
  const double gamma = state.range(0) == 0 ? 1.0 : 0.8;
  for (auto _ : state) {
    state.PauseTiming();
    ibmp = src;  // the conversion rewrites its source
    state.ResumeTiming();
    analysis::GetGraybmpAndHistZero(hist, ibmp, dbmp, zero, 280, 0, 0, 0, gamma);
    benchmark::DoNotOptimize(hist.MaxPos);
  }
}
BENCHMARK(BM_GetGraybmpAndHistZero)->Arg(0)->Arg(1)->ArgName("gamma08")->Unit(benchmark::kMillisecond);

void BM_GetGrayBmp16Hist(benchmark::State& state) {
  Bitmap src;
  Bitmap zero;
  HighRange(src, zero);
  Bitmap rel;
  analysis::Get16bitBmpZero(src, zero, rel);
  Bitmap dbmp;
  analysis::THist hist;
  int32_t max = 0;
  int32_t min = 0;
  for (auto _ : state) {
    analysis::GetGrayBmp16Hist(0, 10000, 255, hist, rel, dbmp, 300, -20, 1, max, min);
    benchmark::DoNotOptimize(max);
  }
}
BENCHMARK(BM_GetGrayBmp16Hist)->Unit(benchmark::kMillisecond);

// The direct count over the whole window for every pixel: the baseline of the sliding count.
void NaiveDilatation(const Bitmap& from, Bitmap& to, const analysis::TIntImage& th, int dim, int level) {
  for (int y = dim; y < from.Height() - dim; ++y) {
    uint8_t* out = to.ScanLine(y);
    for (int x = dim; x < from.Width() - dim; ++x) {
      int count = 0;
      for (int v = y - dim; v <= y + dim; ++v) {
        const uint8_t* row = from.ScanLine(v);
        for (int u = x - dim; u <= x + dim; ++u) count += row[3 * u + 2] > th[x][y];
      }
      out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = count > level ? 255 : 0;
    }
  }
}

void BM_DilatationLTH(benchmark::State& state) {
  auto st = std::make_unique<AnalyzeState>();
  const Bitmap bmp = Halftone();
  uint8_t contrast = 0;
  int32_t proc = 0;
  analysis::GetLocalTH(*st, bmp, 200, 0, 255, contrast, proc, false, 256, 4);
  Bitmap out(ImWidth, ImHeight);
  const int dim = static_cast<int>(state.range(1));
  for (auto _ : state) {
    if (state.range(0) == 0) {
      analysis::DilatationLTH(bmp, out, st->ThImage, 2, dim, 2);
    } else {
      NaiveDilatation(bmp, out, st->ThImage, dim, 2);
    }
    benchmark::DoNotOptimize(out.Bits());
  }
}
BENCHMARK(BM_DilatationLTH)->ArgsProduct({{0, 1}, {3, 9}})->ArgNames({"naive", "dim"})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
