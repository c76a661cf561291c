// The PDF writer's goal: a 100-page document with 200 drawing operators per page written to
// memory in under 200 ms (Release build). Content is deflated at level 9, as in reports.
#include <benchmark/benchmark.h>

#include <string>

#include "pdfwriter/mrvx_doc.h"

namespace {

void BM_HundredPagesToMemory(benchmark::State& state) {
  platform::ManualClock clock(45000);
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out;
    pdfwriter::TMorvex doc(&clock);
    doc.Launcher = nullptr;
    doc.SetOutputStream(&out);
    doc.BeginDoc();
    for (int page = 0; page < 100; ++page) {
      if (page > 0) doc.AddPage();
      pdfwriter::TMRVXPage& p = *doc.CurrentPage();
      // 200 operators: 40 rounds of colour, rectangle, fill, ellipse, stroke.
      for (int i = 0; i < 40; ++i) {
        const float x = static_cast<float>(10 + (i * 13) % 500), y = static_cast<float>(20 + (i * 17) % 700);
        p.SetRGBFillColor(0x10203 * i);
        p.Rectangle(x, y, 40.5f, 20.25f);
        p.Fill();
        p.Ellipse(x, y, 30, 15);  // one operator call, five content lines
        p.Stroke();
      }
    }
    doc.EndDoc();
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_HundredPagesToMemory)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
