// The report builder's goals (Release build): one single-measurement report with its
// 1280 x 1024 analysis image in under 0.5 s, and a history report of 10,000 archive rows in
// under 3 s, each written to its file as the program does (the archive row goes to a double).
#include <benchmark/benchmark.h>

#include <filesystem>

#include "archive/cal_rep_builder.h"
#include "archive/tests/report_test_support.h"
#include "bench/bench_report.h"
#include "platform/base/clock.h"

namespace {

using archive::testing::MakeContext;
using archive::testing::RecordingArchive;
using archive::testing::TableHistory;
using archive::testing::TempHome;

struct Setup {
  TempHome home;
  platform::ManualClock clock{45000};
  RecordingArchive rows;
  archive::TCalRep rep;
  Setup() {
    rep.Clock = &clock;
    rep.Archive = &rows;
    rep.Launcher = nullptr;
  }
  // Each report gets a second of its own, so every file has its plain name.
  std::string Make(archive::ReportContext& ctx, int kind) {
    clock.Advance(1000);
    const std::string fn = rep.CreatePDF(ctx, kind, false);
    rows.calls.clear();
    return fn;
  }
};

// Makes report `kind` once per iteration; the file is measured and removed outside the time.
void RunReports(benchmark::State& state, Setup& s, archive::ReportContext& ctx, int kind) {
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string fn = s.Make(ctx, kind);
    state.PauseTiming();
    bytes = std::filesystem::file_size(fn);
    std::filesystem::remove(fn);
    state.ResumeTiming();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_SingleMeasurementReport(benchmark::State& state) {
  Setup s;
  archive::ReportContext ctx = MakeContext(s.home.Path());
  RunReports(state, s, ctx, archive::rkPlate);
}
BENCHMARK(BM_SingleMeasurementReport)->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_HistoryReport10000(benchmark::State& state) {
  Setup s;
  archive::ReportContext ctx = MakeContext(s.home.Path());
  TableHistory history;
  history.rows = archive::testing::MaskRows(10000);
  ctx.History = &history;
  RunReports(state, s, ctx, archive::rkHistory);
}
BENCHMARK(BM_HistoryReport10000)->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  bench::PrintBudgets(rep, {{"BM_SingleMeasurementReport", 500}, {"BM_HistoryReport10000", 3000}});
  benchmark::Shutdown();
  return 0;
}
