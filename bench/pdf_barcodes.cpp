// The barcodes' goal: a page with 20 barcodes drawn on its canvas and written into the PDF
// (through the metafile translator) in under 20 ms (Release build).
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_report.h"
#include "pdfwriter/mrvx_doc.h"

namespace {

using pdfwriter::TMRVXBarcodeType;

void BM_PageOfTwentyBarcodes(benchmark::State& state) {
  platform::ManualClock clock(45000);
  const std::pair<TMRVXBarcodeType, const char*> kinds[] = {
      {TMRVXBarcodeType::bcCodeEAN13, "400638133393"}, {TMRVXBarcodeType::bcCode128B, "Plate 7/2025-04"},
      {TMRVXBarcodeType::bcCode39, "QUIRVEL 39"},      {TMRVXBarcodeType::bcCode93, "QC-REPORT-93"},
      {TMRVXBarcodeType::bcCode_2_5_interleaved, "1234567890"}};
  size_t bytes = 0, content = 0;
  for (auto _ : state) {
    std::string out;
    pdfwriter::TMorvex doc(&clock);
    doc.Launcher = nullptr;
    doc.SetOutputStream(&out);
    doc.BeginDoc();
    for (int i = 0; i < 20; ++i) {
      const auto& [type, text] = kinds[i % 5];
      doc.CurrentPage()->DrawBarcode(type, 40 + (i % 2) * 380, 40 + (i / 2) * 100, 60, 2, i % 4 == 3 ? 90 : 0, text,
                                     type == TMRVXBarcodeType::bcCodeEAN13, 0, 0xFFFFFF);
    }
    doc.EndDoc();
    bytes = out.size();
    const auto* stream = static_cast<const pdfwriter::TMRVXStreamObject*>(
        doc.Resolve(doc.PageArr()[0].PageObj->GetValue("Contents")));
    content = stream->Stream.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["content"] = static_cast<double>(content);  // deflated
}
BENCHMARK(BM_PageOfTwentyBarcodes)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  bench::PrintBudgets(rep, {{"BM_PageOfTwentyBarcodes", 20}});
  benchmark::Shutdown();
  return 0;
}
