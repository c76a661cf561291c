// The table component's filter and Locate over MEMORY tables. RecordCount of a filter with a
// date-time range and a LIKE over 100,000 rows without an index, against SQLite's
// SELECT count(*) with the same WHERE over the same rows (budget: at most 3 times SQLite's
// time); Locate of a date-time among 10,000 rows, as the archive's chart click finds the row of
// a point (budget 10 ms).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench/bench_report.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/sql/orv_expressions.h"

namespace {

using namespace orv;
using namespace platform::data;

constexpr int kRows = 100000;
constexpr double kStart = 45000.0;  // days; one row every 7 minutes
constexpr double kStep = 7.0 / 1440.0;
const char* const kWhere =
    "DateTime >= '2023-03-20 00:00:00' AND DateTime <= '2023-06-30 23:59:59' AND Plate LIKE 'p1%'";

std::string PlateOf(int i) { return "p" + std::to_string(i % 7) + "-" + std::to_string(i); }

struct Engine {
  Engine() { engine.Startup(); }
  ~Engine() { engine.Shutdown(); }
  TORVEngine engine;
  TORVScopedExpressionEngine expressions;
};

std::unique_ptr<TORVTable> MakeTable(const std::string& Name, int Rows) {
  auto table = std::make_unique<TORVTable>();
  table->SetName(Name);
  table->SetDatabaseName("MEMORY");
  table->SetTableName(Name);
  table->FieldDefs().Add("ID", ftInteger, 0, false);
  table->FieldDefs().Add("DateTime", ftDateTime, 0, false);
  table->FieldDefs().Add("Plate", ftString, 20, false);
  table->CreateTable();
  table->Open();
  for (int i = 0; i < Rows; ++i) table->AppendRecord({i, Variant::FromDate(kStart + i * kStep), PlateOf(i)});
  return table;
}

int64_t g_engine_count = -1;
int64_t g_sqlite_count = -2;

void BM_FilterRecordCount(benchmark::State& state) {
  Engine engine;
  auto table = MakeTable("BENCHF", kRows);
  table->SetFilterText(kWhere);
  for (auto _ : state) {
    table->SetFiltered(true);
    g_engine_count = table->RecordCount();
    state.PauseTiming();
    table->SetFiltered(false);
    state.ResumeTiming();
  }
  state.counters["rows"] = static_cast<double>(g_engine_count);
}
BENCHMARK(BM_FilterRecordCount)->Unit(benchmark::kMillisecond);

void BM_SqliteCount(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_exec(db, "PRAGMA case_sensitive_like = ON; CREATE TABLE t(ID INTEGER, DateTime TEXT, Plate TEXT); BEGIN",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?1, datetime(?2 + 2415018.5), ?3)", -1, &insert, nullptr);
  for (int i = 0; i < kRows; ++i) {
    const std::string plate = PlateOf(i);
    sqlite3_bind_int(insert, 1, i);
    sqlite3_bind_double(insert, 2, kStart + i * kStep);
    sqlite3_bind_text(insert, 3, plate.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_stmt* count = nullptr;
  sqlite3_prepare_v2(db, (std::string("SELECT count(*) FROM t WHERE ") + kWhere).c_str(), -1, &count, nullptr);
  for (auto _ : state) {
    sqlite3_reset(count);
    sqlite3_step(count);
    g_sqlite_count = sqlite3_column_int64(count, 0);
  }
  sqlite3_finalize(count);
  sqlite3_close(db);
  state.counters["rows"] = static_cast<double>(g_sqlite_count);
}
BENCHMARK(BM_SqliteCount)->Unit(benchmark::kMillisecond);

void BM_LocateDateTime(benchmark::State& state) {
  Engine engine;
  constexpr int kLocateRows = 10000;
  auto table = MakeTable("BENCHL", kLocateRows);
  const Variant last = Variant::FromDate(kStart + (kLocateRows - 1) * kStep);
  bool found = false;
  for (auto _ : state) {
    table->First();
    found = table->Locate("DateTime", last, {});
  }
  if (!found || table->FieldByName("ID")->AsInteger() != kLocateRows - 1) state.SkipWithError("the row was not found");
}
BENCHMARK(BM_LocateDateTime)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  bench::PrintBudgets(rep, {{"BM_LocateDateTime", 10}});
  const auto& t = rep.ms;
  if (t.count("BM_FilterRecordCount") && t.count("BM_SqliteCount"))
    std::printf("%s over %d rows: %lld rows, %.1f ms; SQLite %lld rows, %.1f ms (ratio %.2f, budget 3)\n", kWhere,
                kRows, static_cast<long long>(g_engine_count), t.at("BM_FilterRecordCount"),
                static_cast<long long>(g_sqlite_count), t.at("BM_SqliteCount"),
                t.at("BM_FilterRecordCount") / t.at("BM_SqliteCount"));
  benchmark::Shutdown();
  return 0;
}
