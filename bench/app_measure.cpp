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

#include <QApplication>
#include <QTabWidget>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "analysis/analyze.h"
#include "analysis/analyze_population.h"
#include "analysis/analyze_threshold.h"
#include "analysis/myimage.h"
#include "app/controls.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/program.h"
#include "bench/bench_report.h"
#include "platform/ui/scripted_ui.h"

namespace {

namespace fs = std::filesystem;

platform::ui::ScriptedUi& Ui() {
  static platform::ui::ScriptedUi ui;
  static platform::ui::ScopedServices scoped(ui);
  return ui;
}

// One window for every benchmark, on a home folder of its own with the sample plate loaded
// through the load button.
struct Window {
  Window() {
    home = (fs::temp_directory_path() / ("quirvel_bench_measure_" + std::to_string(::getpid()))).string();
    fs::remove_all(home);
    fs::copy(QUIRVEL_BENCH_HOME, home, fs::copy_options::recursive);
    folder = std::make_unique<app::ScopedProgramFolder>(home);
    frm = std::make_unique<app::THRMainFrm>();
    Ui().QueueOpenFile(home + "/Images/sample_plate.qvr");
    frm->Loadbtn->click();
  }
  ~Window() {
    frm.reset();
    folder.reset();
    fs::remove_all(home);
  }
  std::string home;
  std::unique_ptr<app::ScopedProgramFolder> folder;
  std::unique_ptr<app::THRMainFrm> frm;
};

Window& TheWindow() {
  Ui();
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
  app::KeepImageMemory();  // as the program does
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  {
    Window& w = TheWindow();
    const auto start = std::chrono::steady_clock::now();
    w.frm->AnalyzePlateBtn->click();
    g_first_ms = MsSince(start);
    double dx = 0, dy = 0;
    const auto show = std::chrono::steady_clock::now();
    w.frm->GetMaxFreq(dx, dy, true);
    g_first_show_ms = MsSince(show);
  }
  bench::SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  bench::PrintBudgets(rep, {{"BM_PlateCommand", 500}, {"BM_GetMaxFreqShow", 600}});
  if (const auto next = rep.ms.find("BM_PlateCommand"); next != rep.ms.end()) {
    std::printf("first plate command of the process: %.1f ms, the next ones: %.1f ms (%.2f x)\n", g_first_ms,
                next->second, g_first_ms / next->second);
  }
  if (const auto next = rep.ms.find("BM_GetMaxFreqShow"); next != rep.ms.end()) {
    std::printf("first search with display of the process: %.1f ms, the next ones: %.1f ms (%.2f x)\n",
                g_first_show_ms, next->second, g_first_show_ms / next->second);
  }
  benchmark::Shutdown();
  return 0;
}
