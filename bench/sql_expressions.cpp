// A filter over record buffers: a > 5 AND s LIKE 'ab%x' evaluated on 1,000,000 records of a
// table (an integer and a text column), as the table layer evaluates a filter record by
// record. The budget is 100 ms for the million, and an evaluation must not allocate: every
// malloc of the process is counted while the filter runs. The peer is SQLite counting the
// same rows of an in-memory table with the same condition. Also: Locate of a date-time among
// 10,000 rows of a MEMORY table (10 ms).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "dbengine/sql/orv_expressions.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/tests/support/table_fixture.h"

// Every allocation of the process goes through malloc (operator new included): counting it
// shows whether an evaluation allocates.
namespace {
std::atomic<int64_t> g_mallocs{0};
}
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t n) {
  g_mallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}
void* calloc(size_t n, size_t m) {
  g_mallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(n, m);
}
void* realloc(void* p, size_t n) {
  g_mallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}
}

namespace {

using namespace orv;
constexpr int kRecords = 1000000;

struct Data {
  Data() {
    TORVFieldDefs defs;
    testing::AddField(defs, "a", aftInteger);
    testing::AddField(defs, "s", aftString, 12);
    fixture.Create(defs);
    TORVCursor& cursor = *fixture.cursor;
    record_size = cursor.FRecordBufferSize;
    records.assign(static_cast<size_t>(record_size) * kRecords, 0);
    std::mt19937 rng(7);
    TORVVariant a(bftSignedInt32), s(bftVarchar);
    for (int i = 0; i < kRecords; ++i) {
      const int32_t av = static_cast<int32_t>(rng() % 10);
      std::string sv;
      const int len = 2 + static_cast<int>(rng() % 7);
      for (int k = 0; k < len; ++k) sv += "abx"[rng() % 3];
      a.Clear(bftSignedInt32);
      a.SetDataAsSignedInt32(av);
      s.Clear(bftVarchar);
      s.SetDataAsAnsiString(sv);
      void* record = Record(i);
      cursor.SetFieldValue(a, 0, true, record);
      cursor.SetFieldValue(s, 1, true, record);
      if (av > 5 && sv.size() >= 3 && sv.compare(0, 2, "ab") == 0 && sv.back() == 'x') ++expected;
      values.emplace_back(av, sv);
    }
  }
  void* Record(int i) { return records.data() + static_cast<size_t>(i) * static_cast<size_t>(record_size); }

  testing::TableFixture fixture;
  int32_t record_size = 0;
  std::vector<uint8_t> records;
  std::vector<std::pair<int32_t, std::string>> values;
  int64_t expected = 0;
};

Data& TheData() {
  static Data data;
  return data;
}

// a > 5 AND s LIKE 'ab%x', parsed as the table layer parses a filter text.
std::unique_ptr<TORVExpression> Filter(TORVCursor& cursor) {
  auto e = std::make_unique<TORVExpression>();
  e->ParseForFilter(&cursor, "a > 5 AND s LIKE 'ab%x'", false, false);
  return e;
}

int64_t g_allocs_per_run = -1;

void BM_FilterOverRecordBuffers(benchmark::State& state) {
  Data& data = TheData();
  std::unique_ptr<TORVExpression> filter = Filter(*data.fixture.cursor);
  // One evaluation first: the values' first buffers and the collation tables are made once.
  filter->AssignCursorBuffer(data.Record(0), false);
  filter->GetResult();
  int64_t matches = 0;
  for (auto _ : state) {
    const int64_t before = g_mallocs.load();
    matches = 0;
    for (int i = 0; i < kRecords; ++i) {
      filter->AssignCursorBuffer(data.Record(i), false);
      matches += filter->GetResult();
    }
    g_allocs_per_run = g_mallocs.load() - before;
    benchmark::DoNotOptimize(matches);
  }
  if (matches != data.expected) state.SkipWithError("wrong number of matching records");
  state.counters["matches"] = static_cast<double>(matches);
  state.counters["allocs_per_eval"] = static_cast<double>(g_allocs_per_run) / kRecords;
}
BENCHMARK(BM_FilterOverRecordBuffers)->Unit(benchmark::kMillisecond);

void BM_SqliteCount(benchmark::State& state) {
  Data& data = TheData();
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_exec(db, "PRAGMA case_sensitive_like = ON; CREATE TABLE t(a INTEGER, s TEXT); BEGIN", nullptr, nullptr,
               nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?1, ?2)", -1, &insert, nullptr);
  for (const auto& [a, s] : data.values) {
    sqlite3_bind_int(insert, 1, a);
    sqlite3_bind_text(insert, 2, s.c_str(), -1, SQLITE_STATIC);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_stmt* count = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM t WHERE a > 5 AND s LIKE 'ab%x'", -1, &count, nullptr);
  int64_t matches = 0;
  for (auto _ : state) {
    sqlite3_reset(count);
    sqlite3_step(count);
    matches = sqlite3_column_int64(count, 0);
  }
  sqlite3_finalize(count);
  sqlite3_close(db);
  if (matches != data.expected) state.SkipWithError("SQLite counted another number of rows");
  state.counters["matches"] = static_cast<double>(matches);
}
BENCHMARK(BM_SqliteCount)->Unit(benchmark::kMillisecond);

// Locate of a date-time among 10,000 rows of a MEMORY table without an index, as the archive's
// chart click finds the row of a point: the Locate expression is built and the table searched
// for the last row. Budget 10 ms.
void BM_LocateDateTime(benchmark::State& state) {
  TORVScopedExpressionEngine engine;
  testing::MemoryTableFixture fixture;
  TORVFieldDefs defs;
  testing::AddField(defs, "ID", aftInteger);
  testing::AddField(defs, "DateTime", aftDateTime);
  TORVCursor& cursor = fixture.Create(defs);
  constexpr int kRows = 10000;
  TORVVariant id(bftSignedInt32), stamp(bftDateTime);
  for (int i = 0; i < kRows; ++i) {
    fixture.cursor->BeginInsert();
    id.SetDataAsSignedInt32(i);
    stamp.SetDataAsTDateTime(45000.0 + i / 24.0);
    cursor.SetFieldValue(id, 0, true, nullptr);
    cursor.SetFieldValue(stamp, 1, true, nullptr);
    fixture.cursor->InternalPost(true);
  }
  const std::vector<TORVVarValue> key{TORVVarValue::Float(varDate, 45000.0 + (kRows - 1) / 24.0)};
  bool found = false;
  for (auto _ : state) {
    std::unique_ptr<IORVExpression> e = GetExpressionFactory().ParseForLocate(cursor, "DateTime", key, false, false);
    found = fixture.Table().Locate(&cursor, e.get());
  }
  TORVVariant v;
  cursor.GetFieldValue(v, 0, true);
  if (!found || v.GetDataAsSignedInt32() != kRows - 1) state.SkipWithError("the row was not found");
}
BENCHMARK(BM_LocateDateTime)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  bench::PrintBudgets(rep, {{"BM_FilterOverRecordBuffers", 100}, {"BM_LocateDateTime", 10}});
  const auto& t = rep.ms;
  if (t.count("BM_FilterOverRecordBuffers") && t.count("BM_SqliteCount"))
    std::printf("a > 5 AND s LIKE 'ab%%x' over 1,000,000 records: %.1f ms, %lld allocations; SQLite %.1f ms (ratio "
                "%.2f)\n",
                t.at("BM_FilterOverRecordBuffers"), static_cast<long long>(g_allocs_per_run), t.at("BM_SqliteCount"),
                t.at("BM_FilterOverRecordBuffers") / t.at("BM_SqliteCount"));
  benchmark::Shutdown();
  return 0;
}
