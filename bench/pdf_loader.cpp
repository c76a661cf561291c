// The loader's goal: loading and saving again a 100-page document of our own at 100 pages per
// second or more (Release build). Every page carries text in an embedded font, shapes and a
// picture shared by all pages, as a multi-page report would.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_report.h"
#include "pdfwriter/mrvx_doc.h"

namespace {

std::string HundredPages() {
  platform::ManualClock clock(45000);
  std::string out;
  pdfwriter::TMorvex doc(&clock);
  doc.Launcher = nullptr;
  doc.SetOutputStream(&out);
  doc.BeginDoc();
  platform::Bitmap logo(64, 32, platform::PixelFormat::pf24bit);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64 * 3; ++x) logo.ScanLine(y)[x] = static_cast<uint8_t>(x * 3 + y * 5);
  const int image = doc.AddImage(logo, pdfwriter::TMRVXImageCompressionType::icFlate);
  for (int page = 0; page < 100; ++page) {
    if (page > 0) doc.AddPage();
    pdfwriter::TMRVXPage& p = *doc.CurrentPage();
    p.ShowImage(image, 40, 30, 128, 64, 0);
    p.SetFont("Arial", 0, 10, 0, false);
    for (int line = 0; line < 40; ++line) {
      p.TextOut(40, 120 + 16.0f * line, 0, "Measurement " + std::to_string(page * 40 + line) + ": dot area 42.17 %");
      p.Rectangle(400, 120 + 16.0f * line, 120, 10);
      p.Stroke();
    }
  }
  doc.EndDoc();
  return out;
}

void BM_LoadAndSaveHundredPages(benchmark::State& state) {
  const std::string source = HundredPages();
  platform::ManualClock clock(45000);
  for (auto _ : state) {
    std::string out;
    pdfwriter::TMorvex doc(&clock);
    doc.Launcher = nullptr;
    doc.SetOutputStream(&out);
    if (doc.LoadFromStream(source) != 100) state.SkipWithError("pages lost");
    doc.BeginDoc();
    doc.EndDoc();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(source.size());
  state.counters["pages/s"] = benchmark::Counter(100.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
// 100 pages per second: the whole document within 1000 ms.
BENCHMARK(BM_LoadAndSaveHundredPages)->Unit(benchmark::kMillisecond);

// Loading alone, for the share of the parser.
void BM_LoadHundredPages(benchmark::State& state) {
  const std::string source = HundredPages();
  for (auto _ : state) {
    pdfwriter::TMorvex doc;
    benchmark::DoNotOptimize(doc.LoadFromStream(source));
  }
  state.counters["pages/s"] = benchmark::Counter(100.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadHundredPages)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  bench::PrintBudgets(rep, {{"BM_LoadAndSaveHundredPages", 1000}});
  benchmark::Shutdown();
  return 0;
}
