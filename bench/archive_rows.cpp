// The archive's store path and open: one measurement with its 1280 x 1024 high-range image
// stored as a PLATE row (PNG made, row appended and posted to a multi-user file; goal under
// 150 ms), and OpenHRDB on an archive of 10,000 PLATE rows (goal under 0.5 s).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "archive/hr_db_data.h"
#include "bench/bench_scratch.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/orv_main_table.h"
#include "platform/image/bitmap.h"
#include "platform/image/png_codec.h"

namespace {

// A high-range capture: smooth 16-bit values with noise, as the camera leaves them.
platform::Bitmap Capture() {
  platform::Bitmap b(1280, 1024);
  uint32_t seed = 12345;
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* p = b.ScanLine(y);
    for (int x = 0; x < b.Width(); ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int v = 3000 + ((x * 7 + y * 3) % 7000) + static_cast<int>((seed >> 24) & 63);
      p[3 * x] = static_cast<uint8_t>(v & 255);
      p[3 * x + 1] = static_cast<uint8_t>(v >> 8);
      p[3 * x + 2] = static_cast<uint8_t>((seed >> 16) & 255);
    }
  }
  return b;
}

analysis::TMessung Result() {
  analysis::TMessung m;
  m.aType = analysis::MT_PLATEDOT;
  m.DotArea = 42.5;
  m.LCM = 60;
  m.Alpha = 15;
  m.DiamAvg = 55.25;
  return m;
}

struct Archive {
  explicit Archive(const std::string& path, bool fresh) {
    engine.Startup();
    if (fresh) archive::CreateArchiveTemplate(path);
    data = std::make_unique<archive::THRDBData>();
    data->SetDatabaseFileName(path);
  }
  ~Archive() {
    data.reset();
    engine.Shutdown();
  }
  orv::TORVEngine engine;
  std::unique_ptr<archive::THRDBData> data;
};

void BM_StoreMeasurementWithImage(benchmark::State& state) {
  const std::string path = bench::ScratchPath("bench_archive_store.orv");
  Archive a(path, true);
  a.data->OpenHRDB();
  const platform::Bitmap img = Capture();
  const analysis::TMessung m = Result();
  double dt = 46000;
  for (auto _ : state) a.data->AddPLATEMessung(dt += 1.0 / 86400, img, m, "");
  state.counters["rows"] = a.data->PLATETAB().RecordCount();
  a.data.reset();
  std::filesystem::remove(path);
}
BENCHMARK(BM_StoreMeasurementWithImage)->Unit(benchmark::kMillisecond)->Iterations(20);

// The picture's share of a store: the capture encoded as the archive keeps it, and as files are.
void BM_EncodeCapturePng(benchmark::State& state) {
  const platform::Bitmap img = Capture();
  const auto how = state.range(0) ? platform::PngCompression::Fast : platform::PngCompression::Small;
  size_t bytes = 0;
  for (auto _ : state) bytes = platform::EncodePng(img, how).size();
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodeCapturePng)->Unit(benchmark::kMillisecond)->Iterations(10)->Arg(1)->Arg(0);

void BM_OpenArchiveOf10000Rows(benchmark::State& state) {
  const std::string path = bench::ScratchPath("bench_archive_open.orv");
  {
    Archive a(path, true);
    a.data->OpenHRDB();
    const platform::Bitmap img(64, 48);
    const analysis::TMessung m = Result();
    for (int i = 0; i < 10000; ++i) a.data->AddPLATEMessung(46000 + i / 1440.0, img, m, "");
  }
  Archive a(path, false);
  for (auto _ : state) {
    a.data->OpenHRDB();
    benchmark::DoNotOptimize(a.data->PLATETAB().RecordCount());
    state.PauseTiming();
    a.data->Disconnect();
    state.ResumeTiming();
  }
  a.data.reset();
  std::filesystem::remove(path);
}
BENCHMARK(BM_OpenArchiveOf10000Rows)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
