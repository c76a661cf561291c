// The exposure series of the camera window on the simulated camera at 15 frames per second:
// a 19-step series must take the time its frames take plus less than 0.5 s for registration
// and combination. Reported per series: the wall time from the start to the combined image,
// the frames it used and their time at 15 frames per second, what is left over (overhead_s),
// and the time from the last frame to the end of the combination (combine_s). The combination
// alone on 19 frames is measured as well.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/myimage_series.h"
#include "capture/preview.h"
#include "capture/vcap.h"
#include "platform/ui/scripted_ui.h"
#include "platform/video/simulated_camera.h"

namespace {

using namespace platform::video;
using Clock = std::chrono::steady_clock;

QApplication& App() {
  static int argc = 1;
  static char name[] = "bench_capture_series";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// The main window's part: the combined image and the moment the capture finish is called.
struct Host : capture::TPreviewHost {
  void PreviewImage(platform::Bitmap&) override {}
  platform::Bitmap& CapturedImage() override { return image; }
  void SetCaptureRange(uint32_t, uint32_t, uint32_t) override {}
  void CaptureFinish() override { finished = Clock::now(); }
  void ClearLog() override {}
  void AppendLog(const std::string&) override {}
  void SetGauge(int32_t) override {}
  void SetGaugeColor(uint32_t) override {}
  int32_t GainBarPosition() override { return 80; }
  std::string MessageText(int32_t offset) override { return std::to_string(offset); }
  platform::Bitmap image;
  Clock::time_point finished;
};

void BM_Series19At15fps(benchmark::State& state) {
  App();
  const int32_t perStep = static_cast<int32_t>(state.range(0));
  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scopedUi(ui);
  auto backend = std::make_shared<SimulatedCameraBackend>();
  SimulatedCameraConfig config;
  config.noise = 2;
  backend->AddDevice(config);
  ScopedVideoBackends scoped({backend});
  Host host;
  auto frm = std::make_unique<capture::TFrmPreview>();
  frm->SetHost(&host);
  Clock::time_point lastFrame;
  auto inner = frm->gCap->OnBitmapGrabbed;
  frm->gCap->OnBitmapGrabbed = [&](capture::TCapturedBitmap& bmp) {
    if (frm->VideoStatus == 5) lastFrame = Clock::now();
    inner(bmp);
  };
  frm->Refresh(5, 32, false, false);
  while (frm->VideoStatus != 2) QApplication::processEvents(QEventLoop::AllEvents, 5);

  const int frames = perStep * capture::NIMG + 1;
  const double frameTime = frames / 15.0;
  double total = 0, combine = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    frm->StartCapture(0, 18, perStep);
    while (frm->VideoStatus != 0) QApplication::processEvents(QEventLoop::AllEvents, 5);
    const auto end = Clock::now();
    const double seconds = std::chrono::duration<double>(end - start).count();
    state.SetIterationTime(seconds);
    total += seconds;
    combine += std::chrono::duration<double>(host.finished - lastFrame).count();
  }
  frm->gCap->StopPreview();
  const double n = static_cast<double>(state.iterations());
  state.counters["frames"] = frames;
  state.counters["frames_s"] = frameTime;
  state.counters["total_s"] = total / n;
  state.counters["overhead_s"] = total / n - frameTime;
  state.counters["combine_s"] = combine / n;
  if (!ui.Messages().empty()) state.SkipWithError(ui.Messages().front().text.c_str());
}
BENCHMARK(BM_Series19At15fps)->Arg(1)->Arg(2)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

// Registration and combination of 19 frames of the simulated camera (steps 0..18, gain 80).
void BM_CombineSeries19(benchmark::State& state) {
  SimulatedCameraConfig config;
  config.noise = 2;
  SimulatedCamera cam(config, "sim:bench");
  std::vector<platform::Bitmap> frames;
  for (int k = 0; k < capture::NIMG; ++k) {
    std::vector<uint8_t> packed, dib;
    SimulatedSettings s;
    s.shutter = k;
    s.gain = 80;
    cam.RenderFrame(cam.Config().modes[0], s, static_cast<uint64_t>(k), packed, dib);
    platform::Bitmap b(1280, 1024);
    const size_t stride = DibStride(1280, 24);
    for (int y = 0; y < 1024; ++y) std::memcpy(b.ScanLine(y), dib.data() + stride * (1023 - y), 1280 * 3);
    frames.push_back(std::move(b));
  }
  std::vector<platform::TPoint> shifts(capture::NIMG);
  platform::Bitmap combined;
  for (auto _ : state) {
    analysis::OverlayImgs(frames, shifts, capture::NIMG, 2, 128);
    uint32_t max = 0, min = 0, avg = 0;
    analysis::KombinierenBR(combined, frames, 0, 0, capture::NIMG, 2, shifts, max, min, avg);
    benchmark::DoNotOptimize(max);
  }
}
BENCHMARK(BM_CombineSeries19)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
