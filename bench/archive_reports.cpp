// The report builder's goals (Release build): one single-measurement report with its
// 1280 x 1024 analysis image in under 0.5 s, and a history report of 10,000 archive rows in
// under 3 s, each written to its file as the program does. The single report appends its row
// to a double, or to a real archive file; the history report reads its rows from rows in
// memory, or from a real archive file's MASK table through the window's filter.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "archive/cal_rep_builder.h"
#include "archive/hr_db_data.h"
#include "archive/report_history.h"
#include "archive/tests/report_test_support.h"
#include "bench/bench_report.h"
#include "bench/bench_scratch.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/sql/orv_expressions.h"
#include "platform/base/clock.h"
#include "platform/image/canvas.h"

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

// An archive file of our engine, opened as the program opens it.
struct ArchiveFile {
  explicit ArchiveFile(const std::string& file) : path(bench::ScratchPath(file)) {
    engine.Startup();
    archive::CreateArchiveTemplate(path);
    data->SetDatabaseFileName(path);
    data->OpenHRDB();
  }
  ~ArchiveFile() {
    data.reset();
    engine.Shutdown();
    std::filesystem::remove(path);
  }
  orv::TORVScopedExpressionEngine expressions;
  orv::TORVEngine engine;
  std::string path;
  std::unique_ptr<archive::THRDBData> data = std::make_unique<archive::THRDBData>();
};

void BM_SingleMeasurementReportIntoArchive(benchmark::State& state) {
  Setup s;
  ArchiveFile file("bench_report_rows.orv");
  s.rep.Archive = file.data.get();
  archive::ReportContext ctx = MakeContext(s.home.Path());
  RunReports(state, s, ctx, archive::rkPlate);
  state.counters["rows"] = file.data->PLATETAB().RecordCount();
}
BENCHMARK(BM_SingleMeasurementReportIntoArchive)->Unit(benchmark::kMillisecond)->Iterations(20);

// The archive window's side: its filter lines, a chart of its size and the MASK tab.
class WindowHistory : public archive::DataSetHistory {
 public:
  std::vector<FilterLine> FilterLines() override { return TableHistory().filter; }
  int ChartWidth() override { return 800; }
  int ChartHeight() override { return 400; }
  void PaintChart(platform::Bitmap& target) override { TableHistory().PaintChart(target); }
  archive::HistoryTab ActiveTab() override { return archive::HistoryTab::MASK; }
  int AlgItemIndex() override { return 0; }
};

void BM_HistoryReport10000FromArchive(benchmark::State& state) {
  Setup s;
  ArchiveFile file("bench_report_history.orv");
  // 10,000 pixel-pattern rows and 1,000 dot-area rows the filter leaves out.
  orv::TORVTable& mask = archive::testing::StoreMaskHistory(*file.data, 10000);
  WindowHistory history;
  history.SetRows(&mask);
  archive::ReportContext ctx = MakeContext(s.home.Path());
  ctx.History = &history;
  ctx.SUnits = 1;
  RunReports(state, s, ctx, archive::rkHistory);
  state.counters["rows"] = mask.RecordCount();
}
BENCHMARK(BM_HistoryReport10000FromArchive)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  bench::PrintBudgets(rep, {{"BM_SingleMeasurementReport", 500},
                            {"BM_HistoryReport10000", 3000},
                            {"BM_SingleMeasurementReportIntoArchive", 500},
                            {"BM_HistoryReport10000FromArchive", 3000}});
  benchmark::Shutdown();
  return 0;
}
