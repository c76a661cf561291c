// The dataset over a database file: 10,000 archive-like rows (a date-time and six text fields)
// read from First to Eof with every field read (goal: under 0.2 s), single-user and multi-user.
// The peer is SQLite reading the same rows with the same column types through a prepared
// SELECT; ratio_sqlite is ours / SQLite's time per pass.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/bench_scratch.h"
#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/orv_main_table.h"
#include "platform/base/datetime.h"

namespace {

using bench::ScratchPath;

using Clock = std::chrono::steady_clock;
constexpr int kRows = 10000;
const char* const kTexts[] = {"PLATE", "OPERATOR", "CUSTOMER", "JOB", "SCREEN", "REMARK"};

std::string Text(int row, int column) {
  return std::string(kTexts[column]) + "-" + std::to_string(row * 7 + column) + " Flexo 60 L/cm";
}

double SqliteSecondsPerPass() {
  const std::string path = ScratchPath("bench_dataset.sqlite");
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db,
               "CREATE TABLE ARCHIVE(MEASURED REAL, PLATE TEXT, OPERATOR TEXT, CUSTOMER TEXT, JOB TEXT, "
               "SCREEN TEXT, REMARK TEXT); BEGIN;",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO ARCHIVE VALUES(?,?,?,?,?,?,?)", -1, &insert, nullptr);
  for (int r = 0; r < kRows; ++r) {
    sqlite3_bind_double(insert, 1, 45000.0 + r / 100.0);
    for (int c = 0; c < 6; ++c) {
      const std::string t = Text(r, c);
      sqlite3_bind_text(insert, c + 2, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    }
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db, "SELECT * FROM ARCHIVE", -1, &select, nullptr);
  const int passes = 20;
  size_t sink = 0;
  const auto start = Clock::now();
  for (int p = 0; p < passes; ++p) {
    while (sqlite3_step(select) == SQLITE_ROW) {
      sink += static_cast<size_t>(sqlite3_column_double(select, 0));
      for (int c = 1; c <= 6; ++c) sink += static_cast<size_t>(sqlite3_column_bytes(select, c));
    }
    sqlite3_reset(select);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count() / passes;
  benchmark::DoNotOptimize(sink);
  sqlite3_finalize(select);
  sqlite3_close(db);
  std::filesystem::remove(path);
  return seconds;
}

void BM_ReadArchiveRows(benchmark::State& state) {
  const bool multi_user = state.range(0) != 0;
  const std::string path = ScratchPath(multi_user ? "bench_dataset_mu.orv" : "bench_dataset.orv");
  std::filesystem::remove(path);
  orv::TORVEngine engine;
  engine.Startup();
  {
    orv::TORVDatabase maker(nullptr);
    maker.SetDatabaseName("Maker");
    maker.SetDatabaseFileName(path);
    maker.CreateDatabase();
  }
  auto db = std::make_unique<orv::TORVDatabase>(nullptr);
  db->SetDatabaseName("Archive");
  db->SetDatabaseFileName(path);
  db->SetSilentMode(true);
  db->SetMultiUser(multi_user);
  db->Open();
  auto table = std::make_unique<orv::TORVTable>();
  table->SetDatabaseName("Archive");
  table->SetTableName("ARCHIVE");
  table->FieldDefs().Add("MEASURED", platform::data::ftDateTime);
  for (const char* name : kTexts) table->FieldDefs().Add(name, platform::data::ftString, 40);
  table->CreateTable();
  table->Open();
  for (int r = 0; r < kRows; ++r) {
    table->Append();
    table->Fields()[0]->SetAsDateTime(45000.0 + r / 100.0);
    for (int c = 0; c < 6; ++c) table->Fields()[c + 1]->SetAsString(Text(r, c));
    table->Post();
  }
  table->Close();
  table->Open();

  size_t sink = 0;
  double seconds = 0;
  int64_t passes = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    int rows = 0;
    for (table->First(); !table->Eof(); table->Next()) {
      sink += static_cast<size_t>(table->Fields()[0]->AsDateTime());
      for (int c = 1; c <= 6; ++c) sink += table->Fields()[c]->AsString().size();
      ++rows;
    }
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    ++passes;
    if (rows != kRows) state.SkipWithError("rows missing");
  }
  benchmark::DoNotOptimize(sink);
  state.counters["rows"] = kRows;
  state.counters["seconds_per_pass"] = seconds / static_cast<double>(passes);
  state.counters["goal_seconds"] = 0.2;
  state.counters["ratio_sqlite"] = seconds / static_cast<double>(passes) / SqliteSecondsPerPass();
  table.reset();
  db.reset();
  engine.Shutdown();
  std::filesystem::remove(path);
}
BENCHMARK(BM_ReadArchiveRows)->Arg(0)->Arg(1)->ArgName("multi_user")->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
