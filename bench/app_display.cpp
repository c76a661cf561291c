// The main window's display: the display pipeline of the plate page (UpdateImage), loading a
// .QVR file up to the shown image (the load button with its dialog answered), and the zoom-4
// picture (DrawZoomed). The window runs offscreen on a copy of the built home folder, with the
// sample plate image.
//
// Targets: UpdateImage on the plate page under 200 ms, a .QVR load to the shown image under
// 400 ms, DrawZoomed at zoom 4 under 100 ms (a redraw at zoom 4, and the step into zoom 4,
// which makes the 63 MB picture first).
#include <benchmark/benchmark.h>

#include <QTabWidget>
#include <QToolButton>
#include <string>

#include "analysis/myimage.h"
#include "app/controls.h"
#include "bench/bench_window.h"

namespace {

using bench::Ui;

// One window for every benchmark, made at the first use: the plate page with the sample plate.
struct Window : bench::HomeWindow {
  Window() : HomeWindow("home") {
    app::ActivatePage(frm->Plate);
    sample = Sample("sample_plate.qvr");
    analysis::LoadBmpAsPng(*frm->st.ibmp, sample);
    frm->st.HaveImage = true;
    frm->UpdateImage();
  }
  std::string sample;
};

Window& TheWindow() {
  static Window w;
  return w;
}

void BM_UpdateImagePlate(benchmark::State& state) {
  Window& w = TheWindow();
  app::ActivatePage(w.frm->Plate);
  w.frm->st.ZoomOn = 1;
  for (auto _ : state) w.frm->UpdateImage();
}
BENCHMARK(BM_UpdateImagePlate)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadQvrToShownImage(benchmark::State& state) {
  Window& w = TheWindow();
  for (auto _ : state) {
    Ui().QueueOpenFile(w.sample);
    w.frm->Loadbtn->click();
  }
  if (!Ui().Messages().empty()) state.SkipWithError(Ui().Messages().front().text.c_str());
}
BENCHMARK(BM_LoadQvrToShownImage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DrawZoomed4(benchmark::State& state) {
  Window& w = TheWindow();
  w.frm->st.ZoomOn = 4;
  for (auto _ : state) w.frm->DrawZoomed(*w.frm->st.rbmp);
  w.frm->st.ZoomOn = 1;
}
BENCHMARK(BM_DrawZoomed4)->Unit(benchmark::kMillisecond)->UseRealTime();

// The step into zoom 4 from another zoom: the picture of the new size is made first.
void BM_DrawZoomed4New(benchmark::State& state) {
  Window& w = TheWindow();
  for (auto _ : state) {
    state.PauseTiming();
    w.frm->st.ZoomOn = 1;
    w.frm->DrawZoomed(*w.frm->st.rbmp);
    w.frm->st.ZoomOn = 4;
    state.ResumeTiming();
    w.frm->DrawZoomed(*w.frm->st.rbmp);
  }
  w.frm->st.ZoomOn = 1;
}
BENCHMARK(BM_DrawZoomed4New)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return bench::RunWindowBenchmarks(argc, argv, nullptr, [](const bench::SummaryReporter& rep) {
    bench::PrintBudgets(rep, {{"BM_UpdateImagePlate", 200},
                              {"BM_LoadQvrToShownImage", 400},
                              {"BM_DrawZoomed4", 100},
                              {"BM_DrawZoomed4New", 100}});
  });
}
