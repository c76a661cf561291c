// FFT2D of a 1024 x 1024 image in the work images' 80-bit precision, beside FFTW on the same
// data in long double and in double. The ratio to FFTW long double is the figure to watch.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <memory>
#include <random>
#include <vector>

#include "analysis/my_fft.h"
#include "bench/bench_report.h"

namespace {

constexpr int N = 1024;

// A plate-like test image: a screen of dots plus noise, the same for every contender.
const std::vector<double>& Input() {
  static const std::vector<double> data = [] {
    std::vector<double> v(N * N);
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> noise(-8, 8);
    for (int y = 0; y < N; ++y)
      for (int x = 0; x < N; ++x)
        v[y * N + x] = 128 + 90 * std::cos(0.31 * x + 0.12 * y) * std::cos(0.12 * x - 0.31 * y) + noise(rng);
    return v;
  }();
  return data;
}

void BM_FFT2D_Extended(benchmark::State& state) {
  analysis::TCimage& img = analysis::FFTState().iComp;
  const auto& in = Input();
  for (auto _ : state) {
    state.PauseTiming();
    for (int y = 0; y < N; ++y)
      for (int x = 0; x < N; ++x) img[y][x] = analysis::tcomplex{in[y * N + x], 0};
    state.ResumeTiming();
    benchmark::DoNotOptimize(analysis::FFT2D(&img, N, N, 1));
  }
}
BENCHMARK(BM_FFT2D_Extended)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FFTW_LongDouble(benchmark::State& state) {
  auto* a = static_cast<fftwl_complex*>(fftwl_malloc(sizeof(fftwl_complex) * N * N));
  const fftwl_plan p = fftwl_plan_dft_2d(N, N, a, a, FFTW_FORWARD, FFTW_MEASURE);
  const auto& in = Input();
  for (auto _ : state) {
    state.PauseTiming();
    for (int k = 0; k < N * N; ++k) {
      a[k][0] = in[k];
      a[k][1] = 0;
    }
    state.ResumeTiming();
    fftwl_execute(p);
    benchmark::DoNotOptimize(a[1][0]);
  }
  fftwl_destroy_plan(p);
  fftwl_free(a);
}
BENCHMARK(BM_FFTW_LongDouble)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FFTW_Double(benchmark::State& state) {
  auto* a = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * N * N));
  const fftw_plan p = fftw_plan_dft_2d(N, N, a, a, FFTW_FORWARD, FFTW_MEASURE);
  const auto& in = Input();
  for (auto _ : state) {
    state.PauseTiming();
    for (int k = 0; k < N * N; ++k) {
      a[k][0] = in[k];
      a[k][1] = 0;
    }
    state.ResumeTiming();
    fftw_execute(p);
    benchmark::DoNotOptimize(a[1][0]);
  }
  fftw_destroy_plan(p);
  fftw_free(a);
}
BENCHMARK(BM_FFTW_Double)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  const auto& t = rep.ms;
  if (t.count("BM_FFT2D_Extended") && t.count("BM_FFTW_LongDouble") && t.count("BM_FFTW_Double")) {
    const double ours = t.at("BM_FFT2D_Extended");
    std::printf("FFT2D 1024 x 1024: %.1f ms; FFTW long double %.1f ms (ratio %.2f, target <= 4); FFTW double %.1f ms "
                "(ratio %.2f)\n",
                ours, t.at("BM_FFTW_LongDouble"), ours / t.at("BM_FFTW_LongDouble"), t.at("BM_FFTW_Double"),
                ours / t.at("BM_FFTW_Double"));
  }
  benchmark::Shutdown();
  return 0;
}
