#pragma once
// The main window for the benchmarks of the application: made offscreen on a copy of the built
// home folder (its settings and sample images), with the UI services answered by a script, and
// the main() that runs the benchmarks the way the program runs (its memory settings).
//
// A benchmark that includes this header is built with QUIRVEL_BENCH_HOME naming the home folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "analysis/analyze_drivers_freq.h"
#include "analysis/my_fft.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/program.h"
#include "bench/bench_report.h"
#include "platform/ui/scripted_ui.h"

namespace bench {

inline platform::ui::ScriptedUi& Ui() {
  static platform::ui::ScriptedUi ui;
  static platform::ui::ScopedServices scoped(ui);
  return ui;
}

// The window on a home folder of its own, removed again with it.
struct HomeWindow {
  explicit HomeWindow(const std::string& tag) {
    Ui();
    namespace fs = std::filesystem;
    home = (fs::temp_directory_path() / ("quirvel_bench_" + tag + "_" + std::to_string(::getpid()))).string();
    fs::remove_all(home);
    fs::copy(QUIRVEL_BENCH_HOME, home, fs::copy_options::recursive);
    folder = std::make_unique<app::ScopedProgramFolder>(home);
    frm = std::make_unique<app::THRMainFrm>();
    analysis::FFTState().MakeResident(analysis::MaxFreqSize);  // as the program does at start-up
  }
  ~HomeWindow() {
    frm.reset();
    folder.reset();
    std::filesystem::remove_all(home);
  }
  HomeWindow(const HomeWindow&) = delete;
  HomeWindow& operator=(const HomeWindow&) = delete;
  std::string Sample(const std::string& name) const { return home + "/Images/" + name; }

  std::string home;
  std::unique_ptr<app::ScopedProgramFolder> folder;
  std::unique_ptr<app::THRMainFrm> frm;
};

// The body of a window benchmark's main(): `before` runs once the toolkit is up and before any
// benchmark, `after` with the figures of the run.
inline int RunWindowBenchmarks(int argc, char** argv, const std::function<void()>& before,
                               const std::function<void(const SummaryReporter&)>& after) {
  app::KeepImageMemory();  // as the program does
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (before) before();
  SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  if (after) after(rep);
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench
