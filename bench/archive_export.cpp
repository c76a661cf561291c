// The archive window's exports and filter over an archive of 10,000 MASK rows: the text export
// (goal under 1 s), the spreadsheet export (goal under 1 s), and the plot filter with its walk
// over the kept rows (goal under 0.2 s), beside SQLite answering the same filter on the same
// rows in memory.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "analysis/analyze.h"
#include "archive/hr_db_data.h"
#include "archive/hr_db_export.h"
#include "archive/hr_db_plot.h"
#include "bench/bench_scratch.h"
#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/sql/orv_expressions.h"
#include "platform/base/datetime.h"
#include "platform/data/field.h"

namespace {

constexpr int kRows = 10000;

struct RowText {
  double dt;
  std::string alg, job, plate, user, dot, lcm, width;
};

RowText MakeRow(int i) {
  char buf[32];
  RowText r;
  r.dt = platform::EncodeDate(2025, 1, 1) + i * 0.0371;
  r.alg = std::string(analysis::MTYPENAMES[static_cast<size_t>(analysis::MT_LAMSWSI + i % 4)]);
  r.job = "J-" + std::to_string(i % 50);
  r.plate = "P" + std::to_string(i % 7);
  r.user = i % 3 ? "Anna" : "Ben";
  std::snprintf(buf, sizeof buf, "%.2f%%", 5 + (i % 97) * 0.37);
  r.dot = buf;
  std::snprintf(buf, sizeof buf, "%.2f", 40 + (i % 13) * 1.5);
  r.lcm = buf;
  std::snprintf(buf, sizeof buf, "%.2f\u00B5m", 20 + (i % 31) * 1.27);
  r.width = buf;
  return r;
}

struct Archive {
  Archive() {
    engine.Startup();
    std::filesystem::remove(path);
    archive::CreateArchiveTemplate(path);
    data = std::make_unique<archive::THRDBData>();
    data->SetDatabaseFileName(path);
    data->OpenHRDB();
    orv::TORVTable& t = data->LAMSTAB();
    data->HRDatabase().StartTransaction();
    t.DisableControls();
    for (int i = 0; i < kRows; ++i) {
      const RowText r = MakeRow(i);
      t.Append();
      t.FieldByName("DateTime")->SetAsDateTime(r.dt);
      t.FieldByName("Algorithm")->SetAsString(r.alg);
      t.FieldByName("JOBID")->SetAsString(r.job);
      t.FieldByName("Plate")->SetAsString(r.plate);
      t.FieldByName("Operator")->SetAsString(r.user);
      t.FieldByName("DOTAREA")->SetAsString(r.dot);
      t.FieldByName("LCM")->SetAsString(r.lcm);
      t.FieldByName("LineWidth")->SetAsString(r.width);
      t.FieldByName("SizeTol")->SetAsInteger(i % 20);
      t.Post();
    }
    t.EnableControls();
    data->HRDatabase().Commit(true);
  }
  ~Archive() {
    data.reset();
    engine.Shutdown();
    std::filesystem::remove(path);
  }
  std::string path = bench::ScratchPath("bench_archive_export.orv");
  orv::TORVEngine engine;
  orv::TORVScopedExpressionEngine expressions;
  std::unique_ptr<archive::THRDBData> data;
};

Archive& Shared() {
  static Archive* a = new Archive;
  return *a;
}

archive::ArchiveFilterInput Filter() {
  archive::ArchiveFilterInput in;
  in.From = platform::EncodeDate(2025, 2, 1);
  in.To = platform::EncodeDate(2025, 12, 31);
  in.JobID = "J-1%";
  in.Alg1 = "MASK DOT AREA";
  in.Alg2 = "MASK PIXELPATTERN";
  return in;
}

void BM_TextExport10000Rows(benchmark::State& state) {
  Archive& a = Shared();
  const std::string file = bench::ScratchPath("bench_archive_export.txt");
  for (auto _ : state) archive::SaveToTxT(file, a.data->LAMSTAB());
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
  std::filesystem::remove(file);
}
BENCHMARK(BM_TextExport10000Rows)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_XlsExport10000Rows(benchmark::State& state) {
  Archive& a = Shared();
  const std::string file = bench::ScratchPath("bench_archive_export.xls");
  platform::xls::TDataToXLS writer;
  archive::ConfigureArchiveXLS(writer, &a.data->LAMSTAB(), "LAMS");
  for (auto _ : state) writer.SaveDatasetAs(file);
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
  std::filesystem::remove(file);
}
BENCHMARK(BM_XlsExport10000Rows)->Unit(benchmark::kMillisecond)->Iterations(5);

// The plot's filter and its walk: the filter set on the table, every kept row read for the chart.
void BM_PlotFilter10000Rows(benchmark::State& state) {
  Archive& a = Shared();
  const std::string filter = archive::ArchiveFilterText(Filter());
  size_t points = 0;
  for (auto _ : state) {
    const auto series = archive::PlotRows(archive::PlotRoutine::Mask, a.data->LAMSTAB(), filter, "MASK DOT AREA", 0,
                                          true, 0, [](int k) { return std::to_string(k); });
    points = series[0].Points.size();
  }
  state.counters["points"] = static_cast<double>(points);
  a.data->LAMSTAB().SetFiltered(false);
}
BENCHMARK(BM_PlotFilter10000Rows)->Unit(benchmark::kMillisecond)->Iterations(10);

// SQLite in memory, the same five columns and rows, the same condition, counting the rows.
void BM_SqliteSameFilter10000Rows(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_exec(db, "PRAGMA case_sensitive_like = ON; CREATE TABLE T(DateTime TEXT, Algorithm TEXT, JOBID TEXT, "
                   "Plate TEXT, Operator TEXT, DOTAREA TEXT); BEGIN;",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO T VALUES(?,?,?,?,?,?)", -1, &ins, nullptr);
  for (int i = 0; i < kRows; ++i) {
    const RowText r = MakeRow(i);
    const platform::DateParts p = platform::DecodeDateTime(r.dt);
    char dt[32];
    std::snprintf(dt, sizeof dt, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
    const std::string v[6] = {dt, r.alg, r.job, r.plate, r.user, r.dot};
    for (int c = 0; c < 6; ++c) sqlite3_bind_text(ins, c + 1, v[c].c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(ins);
    sqlite3_reset(ins);
  }
  sqlite3_finalize(ins);
  sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT DOTAREA FROM T WHERE DateTime >= '2025-02-01 00:00:00' AND DateTime <= '2025-12-31 "
                     "23:59:59' AND JOBID LIKE 'J-1%' AND Plate LIKE '%' AND Operator LIKE '%' AND (Algorithm = "
                     "'MASK DOT AREA' OR Algorithm = 'MASK PIXELPATTERN')",
                     -1, &q, nullptr);
  int rows = 0;
  for (auto _ : state) {
    rows = 0;
    while (sqlite3_step(q) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_text(q, 0));
      ++rows;
    }
    sqlite3_reset(q);
  }
  state.counters["rows"] = rows;
  sqlite3_finalize(q);
  sqlite3_close(db);
}
BENCHMARK(BM_SqliteSameFilter10000Rows)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
