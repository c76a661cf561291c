// The stripe analysis of the structure page on the full 1280 x 1024 image: the raster of
// window shares (budget 150 ms) against a plain walk over every window's pixels, and the
// whole command with its two bitmaps, pictures and structure value (budget 500 ms).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "analysis/analyze_drivers_stripes.h"
#include "analysis/analyze_threshold.h"
#include "bench/bench_report.h"
#include "platform/fonts/canvas_text_renderer.h"

namespace {

using analysis::ImHeight;
using analysis::ImWidth;
using platform::Bitmap;

// A plate surface with an engraved stripe: specks on a bright ground, dense in the stripe.
Bitmap Surface() {
  Bitmap b(ImWidth, ImHeight);
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> pct(0, 99);
  for (int y = 0; y < ImHeight; ++y) {
    uint8_t* line = b.ScanLine(y);
    for (int x = 0; x < ImWidth; ++x) {
      const bool stripe = std::abs(x - 640) < 200;
      const uint8_t g = pct(rng) < (stripe ? 65 : 12) ? 50 : 200;
      line[3 * x] = line[3 * x + 1] = line[3 * x + 2] = g;
    }
  }
  return b;
}

std::unique_ptr<analysis::AnalyzeState> State() {
  auto st = std::make_unique<analysis::AnalyzeState>();
  st->PixelperInch = 43000;
  analysis::FillLocalTh(*st, 128);
  return st;
}

void BM_StripeRaster(benchmark::State& state) {
  const Bitmap A = Surface();
  auto st = State();
  auto r = std::make_unique<analysis::TStripeRaster>();
  for (auto _ : state) {
    analysis::MakeStripeRaster(A, st->ThImage, st->PixelperInch, 48, *r, nullptr);
    benchmark::DoNotOptimize(r->mean);
  }
}
BENCHMARK(BM_StripeRaster)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same cells by visiting every pixel of every window (about 38 million tests).
void BM_StripeRasterWindowWalk(benchmark::State& state) {
  const Bitmap A = Surface();
  auto st = State();
  auto r = std::make_unique<analysis::TStripeRaster>();
  analysis::MakeStripeRaster(A, st->ThImage, st->PixelperInch, 48, *r, nullptr);
  constexpr int dim = analysis::StripeDim;
  for (auto _ : state) {
    int64_t total = 0;
    for (int row = 0; row < r->rows; ++row)
      for (int col = 0; col < r->cols; ++col) {
        const int x = r->xs[static_cast<size_t>(col)], y = r->ys[static_cast<size_t>(row)];
        int n = 0, b = 0;
        for (int j = -dim; j <= dim; ++j) {
          if (y + j < 0 || y + j >= ImHeight) continue;
          const uint8_t* line = A.ScanLine(y + j);
          for (int i = -dim; i <= dim; ++i) {
            if (x + i < 0 || x + i >= ImWidth) continue;
            ++n;
            b += line[3 * (x + i)] > st->ThImage[x + i][y + j];
          }
        }
        total += n ? std::lround(b * 1000.0 / n) : 0;
      }
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_StripeRasterWindowWalk)->Unit(benchmark::kMillisecond)->UseRealTime();

struct FolderHost : analysis::TDriverHost {
  std::filesystem::path home;
  std::string HomeFile(std::string_view name) override { return (home / std::string(name)).string(); }
};

void BM_StructureStreifenClick(benchmark::State& state) {
  Bitmap dbmp = Surface(), rbmp(ImWidth, ImHeight);
  auto st = State();
  auto hist = std::make_unique<analysis::THist>();
  analysis::TMessung mess;
  analysis::TDriverWindow win;
  win.ImgCaptured = true;
  FolderHost host;
  host.home = std::filesystem::temp_directory_path() / "quirvel_bench_stripes";
  std::filesystem::create_directories(host.home);
  analysis::TDriverContext c{*st, dbmp, rbmp, *hist, mess, win, host};
  for (auto _ : state) {
    analysis::StructureStreifenClick(c);
    benchmark::DoNotOptimize(mess.DotArea);
  }
  std::filesystem::remove_all(host.home);
}
BENCHMARK(BM_StructureStreifenClick)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // The raster's numbers are drawn as in the program (about 4,000 texts a run).
  platform::InstallCanvasTextRenderer();
  bench::SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  bench::PrintBudgets(rep, {{"BM_StripeRaster", 150}, {"BM_StructureStreifenClick", 500}});
  const auto sat = rep.ms.find("BM_StripeRaster"), walk = rep.ms.find("BM_StripeRasterWindowWalk");
  if (sat != rep.ms.end() && walk != rep.ms.end() && sat->second > 0)
    std::printf("window walk / summed-area raster: %.1f x\n", walk->second / sat->second);
  benchmark::Shutdown();
  return 0;
}
