// The main window's measurements: the plate command end to end (conversion, threshold,
// frequency search, transmission analysis, presentation) on the sample plate of the home
// folder, its analysis alone, the frequency search with and without its display, and the
// first plate command and display search of the process against the next ones.
//
// Targets: the plate command under 500 ms, and the first one of a process as fast as the
// next (the work images of the frequency search cost nothing until used); the frequency
// search with display under 600 ms. For scale: AnalyzeTRANSImage about 30 ms, a 1024-point
// FFT2D about 60 ms on this kind of machine (bench_analysis_fft).
#include <benchmark/benchmark.h>

#include <QToolButton>
#include <chrono>
#include <cstdio>

#include "analysis/analyze.h"
#include "analysis/analyze_population.h"
#include "bench/bench_window.h"

namespace {

// One window for every benchmark, with the sample plate loaded through the load button.
struct Window : bench::HomeWindow {
  Window() : HomeWindow("measure") {
    bench::Ui().QueueOpenFile(Sample("sample_plate.qvr"));
    frm->Loadbtn->click();
  }
};

Window& TheWindow() {
  static Window w;
  return w;
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The first plate command and the first search with display of the process, timed before any
// benchmark has run.
double g_first_ms = 0;
double g_first_show_ms = 0;

void BM_PlateCommand(benchmark::State& state) {
  Window& w = TheWindow();
  for (auto _ : state) w.frm->AnalyzePlateBtn->click();
  if (w.frm->st.MESSTYPE != analysis::MT_PLATEDOT) state.SkipWithError("no plate result");
}
BENCHMARK(BM_PlateCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

// The transmission analysis of the plate command alone, on the image the command prepared.
void BM_AnalyzeTRANSImage(benchmark::State& state) {
  Window& w = TheWindow();
  w.frm->AnalyzePlateBtn->click();
  analysis::AnalyzeState& a = analysis::Analysis();
  for (auto _ : state) {
    analysis::AnalyzeTRANSImage(a, *w.frm->st.dbmp, *w.frm->st.rbmp, 0, nullptr, 10, false, 0, 0);
  }
}
BENCHMARK(BM_AnalyzeTRANSImage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GetMaxFreqShow(benchmark::State& state) {
  Window& w = TheWindow();
  w.frm->AnalyzePlateBtn->click();
  double dx = 0, dy = 0;
  for (auto _ : state) w.frm->GetMaxFreq(dx, dy, true);
}
BENCHMARK(BM_GetMaxFreqShow)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GetMaxFreqSearch(benchmark::State& state) {
  Window& w = TheWindow();
  w.frm->AnalyzePlateBtn->click();
  double dx = 0, dy = 0;
  for (auto _ : state) w.frm->GetMaxFreq(dx, dy, false);
}
BENCHMARK(BM_GetMaxFreqSearch)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  const auto before = [] {
    Window& w = TheWindow();
    const auto start = std::chrono::steady_clock::now();
    w.frm->AnalyzePlateBtn->click();
    g_first_ms = MsSince(start);
    double dx = 0, dy = 0;
    const auto show = std::chrono::steady_clock::now();
    w.frm->GetMaxFreq(dx, dy, true);
    g_first_show_ms = MsSince(show);
  };
  return bench::RunWindowBenchmarks(argc, argv, before, [](const bench::SummaryReporter& rep) {
    bench::PrintBudgets(rep, {{"BM_PlateCommand", 500}, {"BM_GetMaxFreqShow", 600}});
    const auto versus = [&rep](const char* what, double first, const char* name) {
      if (const auto next = rep.ms.find(name); next != rep.ms.end()) {
        std::printf("first %s of the process: %.1f ms, the next ones: %.1f ms (%.2f x)\n", what, first, next->second,
                    first / next->second);
      }
    };
    versus("plate command", g_first_ms, "BM_PlateCommand");
    versus("search with display", g_first_show_ms, "BM_GetMaxFreqShow");
  });
}
