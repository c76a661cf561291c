// The camera path per 1280 x 1024 frame: the motion detector of the live preview (budget
// 5 ms), the one-shot grab (one copy on the streaming thread, budget 2 ms, against a plain
// memcpy of the same bytes) and its hand-off into a bitmap on the GUI thread, and the
// simulated camera (15 frames per second within 20 % of one core: budget 13 ms per frame,
// and measured as the CPU time of a paced stream).
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "capture/motiondetect.h"
#include "capture/vcap.h"
#include "capture/vcap_graph.h"
#include "platform/video/simulated_camera.h"

namespace {

using namespace platform::video;
constexpr int W = 1280;
constexpr int H = 1024;

SimulatedCamera& Camera(int noise = 0, int shift = 0) {
  static std::vector<std::unique_ptr<SimulatedCamera>> cams;
  SimulatedCameraConfig c;
  c.noise = noise;
  c.shiftX = shift;
  cams.push_back(std::make_unique<SimulatedCamera>(c, "sim:bench"));
  return *cams.back();
}

// A frame of the simulated camera as a top-down bitmap.
platform::Bitmap Picture(SimulatedCamera& cam, uint64_t index) {
  std::vector<uint8_t> packed, dib;
  SimulatedSettings s;
  s.shutter = ssc250;
  cam.RenderFrame(cam.Config().modes[0], s, index, packed, dib);
  platform::Bitmap b(W, H);
  for (int y = 0; y < H; ++y) std::memcpy(b.ScanLine(y), dib.data() + DibStride(W, 24) * (H - 1 - y), W * 3);
  return b;
}

// A moving sample: consecutive frames shifted by 2 points, with sensor noise; the detector is
// primed with the first.
struct MovingSample {
  std::vector<platform::Bitmap> frames;
  capture::TMotionDetect_bmp det;
  MovingSample() {
    SimulatedCamera& cam = Camera(3, 2);
    frames = {Picture(cam, 0), Picture(cam, 1)};
    det.initialize(frames[0]);
  }
};

void BM_MotionFeedFrame(benchmark::State& state) {
  MovingSample m;
  size_t i = 1;
  for (auto _ : state) benchmark::DoNotOptimize(m.det.feedFrame(m.frames[i++ % 2]));
  state.counters["changed"] = m.det.Value();
}
BENCHMARK(BM_MotionFeedFrame)->Unit(benchmark::kMillisecond);

void BM_MotionFeedAndPaint(benchmark::State& state) {
  MovingSample m;
  size_t i = 1;
  for (auto _ : state) {
    platform::Bitmap& f = m.frames[i++ % 2];
    m.det.feedFrame(f);
    m.det.getImage(f, false);
  }
}
BENCHMARK(BM_MotionFeedAndPaint)->Unit(benchmark::kMillisecond);

void BM_GrabCopy(benchmark::State& state) {
  std::vector<uint8_t> frame(DibStride(W, 24) * H, 90);
  capture::TSampleGrabberCB cb;  // no owner: only the copy is measured
  for (auto _ : state) {
    cb.SetGrabbingEnabled(true);
    cb.BufferCB(0, frame.data(), static_cast<int32_t>(frame.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_GrabCopy)->Unit(benchmark::kMillisecond);

void BM_GrabCopyPeerMemcpy(benchmark::State& state) {
  std::vector<uint8_t> frame(DibStride(W, 24) * H, 90);
  std::vector<uint8_t> copy(frame.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), frame.data(), frame.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_GrabCopyPeerMemcpy)->Unit(benchmark::kMillisecond);

// The GUI thread's side: the held frame drawn upright into a new bitmap for OnBitmapGrabbed.
void BM_GrabToBitmap(benchmark::State& state) {
  auto backend = std::make_shared<SimulatedCameraBackend>();
  SimulatedCameraConfig c;
  c.onRequest = true;
  auto cam = backend->AddDevice(c);
  ScopedVideoBackends scoped({backend});
  capture::TVideoCapture cap;
  cap.SetWantAudio(false);
  cap.SetWantCapture(false);
  cap.ChooseDevices(0, -1);
  int64_t grabbed = 0;
  cap.OnBitmapGrabbed = [&](capture::TCapturedBitmap& bmp) { grabbed += bmp.Height(); };
  cap.CaptureFrame();
  cam->Trigger();
  cam->WaitForFrames(1, 5000);
  capture::TWMSampleCaptured msg{capture::WM_SAMPLECAPTURED, cap.GrabberCallback(), 0, 0};
  for (auto _ : state) cap.BitmapGrabbed(msg);
  cap.StopPreview();
  if (grabbed != static_cast<int64_t>(state.iterations()) * H) state.SkipWithError("no frame was drawn");
}
BENCHMARK(BM_GrabToBitmap)->Unit(benchmark::kMillisecond);

void BM_SimulatedFrame(benchmark::State& state) {
  SimulatedCamera& cam = Camera(static_cast<int>(state.range(0)));
  const SimulatedMode mode = cam.Config().modes[static_cast<size_t>(state.range(1))];
  std::vector<uint8_t> packed, dib;
  SimulatedSettings s;
  uint64_t i = 0;
  for (auto _ : state) cam.RenderFrame(mode, s, i++, packed, dib);
  state.SetLabel(std::string(state.range(1) == 0 ? "1280x1024 RGB24" : "640x480 YUY2") +
                 (state.range(0) ? " with noise" : ""));
}
BENCHMARK(BM_SimulatedFrame)->Args({0, 0})->Args({4, 0})->Args({0, 1})->Unit(benchmark::kMillisecond);

// A paced stream of 15 frames per second for 3 s: the process's CPU time per second of
// streaming, in percent of one core (the sink only counts the frames).
void BM_SimulatedStream15fps(benchmark::State& state) {
  struct Counter : FrameSink {
    std::atomic<int> frames{0};
    void Receive(const Frame&) override { ++frames; }
    void DeviceLost() override {}
  } sink;
  SimulatedCameraBackend backend;
  auto cam = backend.AddDevice();
  HRESULT hr;
  auto dev = backend.Open(cam->Id(), hr);
  double percent = 0;
  for (auto _ : state) {
    timespec c0{}, c1{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
    const auto t0 = std::chrono::steady_clock::now();
    dev->Start(sink);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    dev->Stop();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
    const double cpu = (c1.tv_sec - c0.tv_sec) + (c1.tv_nsec - c0.tv_nsec) * 1e-9;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    percent = 100.0 * cpu / wall;
  }
  state.counters["cpu_percent_of_one_core"] = percent;
  state.counters["frames_per_s"] = sink.frames / 3.0;
}
BENCHMARK(BM_SimulatedStream15fps)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
