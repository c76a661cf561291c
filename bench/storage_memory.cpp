// A memory table through the storage API against SQLite in memory (C API, prepared statements,
// one transaction), both with ID Int32 primary, K Int32 indexed, NAME VarChar(40), VAL Double:
// 1,000,000 rows inserted in random ID order, 100,000 random primary-key lookups reading NAME
// and VAL, and a full scan reading VAL. Records are filled and read the way the dataset does
// it (field buffers through the cursor), posted and found through the cursor's table.
// ratio_sqlite is ours / SQLite's time; the goals are 3, 2 and 1.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/orv_mem_engine.h"
#include "bench/storage_rows.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace {

using bench::Clock;
using bench::Data;
using bench::kRows;
using bench::Report;
using bench::Rows;
using orv::testing::TestCursor;

// SQLite in memory.
struct Sqlite : bench::Sqlite {
  Sqlite() : bench::Sqlite(":memory:") {}
};

// ---- Ours -------------------------------------------------------------------------------------

struct Memory {
  Memory() {
    orv::TORVFieldDefs f;
    orv::testing::AddField(f, "ID", orv::aftInteger);
    orv::testing::AddField(f, "K", orv::aftInteger);
    orv::testing::AddField(f, "NAME", orv::aftString, 40);
    orv::testing::AddField(f, "VAL", orv::aftDouble);
    orv::TORVIndexDefs i;
    orv::testing::AddIndexDef(i, "PK", {"ID"}, false, true);
    orv::testing::AddIndexDef(i, "IX_K", {"K"});
    orv::TORVConstraintDefs c;
    orv::AddConstraintForIndex(*i.GetIndexDef(0), c);
    fx.Create(f, i, c);
  }
  double Insert() {
    const Data& d = Rows();
    TestCursor& c = *fx.cursor;
    char name[41];
    const auto t0 = Clock::now();
    for (size_t r = 0; r < static_cast<size_t>(kRows); ++r) {
      c.BeginInsert();
      c.SetFieldData(0, &d.ids[r], c.FCurrentRecordBuffer);
      c.SetFieldData(1, &d.ks[r], c.FCurrentRecordBuffer);
      std::snprintf(name, sizeof name, "%s", d.names[r].c_str());
      c.SetFieldData(2, name, c.FCurrentRecordBuffer);
      c.SetFieldData(3, &d.vals[r], c.FCurrentRecordBuffer);
      c.InternalPost(true);
      if (c.FErrorCode != 0) std::abort();
    }
    return std::chrono::duration<double>(Clock::now() - t0).count();
  }
  double Lookups(double& checksum) {
    TestCursor& c = *fx.cursor;
    c.SetIndexName("PK");
    void* key = c.AllocateKeyRecordBuffer();
    c.InternalInitKeyBuffer(key);
    c.FKeyBuffer = key;
    c.FKeyFieldCount = 1;
    char name[41];
    double val = 0;
    const auto t0 = Clock::now();
    for (int32_t id : Rows().lookups) {
      c.SetFieldData(0, &id, key);
      if (!c.FindKey(orv::scEqual) || c.GetRecordBuffer(orv::grmCurrent) != orv::grrOK) std::abort();
      c.GetFieldData(2, name, c.FCurrentRecordBuffer);
      c.GetFieldData(3, &val, c.FCurrentRecordBuffer);
      checksum += val + name[5];
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    c.FKeyBuffer = nullptr;
    c.FreeRecordBuffer(key);
    c.SetIndexName("");
    return s;
  }
  double Scan(double& checksum) {
    TestCursor& c = *fx.cursor;
    double val = 0;
    int64_t n = 0;
    const auto t0 = Clock::now();
    c.InternalFirst();
    while (c.GetRecordBuffer(orv::grmNext) == orv::grrOK) {
      c.GetFieldData(3, &val, c.FCurrentRecordBuffer);
      checksum += val;
      ++n;
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (n != kRows) std::abort();
    return s;
  }
  orv::testing::MemoryTableFixture fx;
};

void BM_Insert1M(benchmark::State& state) {
  double ours = 0, sqlite = 0;
  for (auto _ : state) {
    Memory m;
    ours += m.Insert();
    Sqlite s;
    sqlite += s.Insert();
  }
  Report(state, ours, sqlite, 3);
}
BENCHMARK(BM_Insert1M)->Unit(benchmark::kMillisecond)->Iterations(2);

// The filled tables are shared by the lookups and the scan.
template <class Table>
Table& Filled() {
  static Table* table = [] {
    auto* t = new Table();
    t->Insert();
    return t;
  }();
  return *table;
}

void BM_PrimaryKeyLookups100k(benchmark::State& state) {
  Memory& m = Filled<Memory>();
  Sqlite& s = Filled<Sqlite>();
  double ours = 0, sqlite = 0, a = 0, b = 0;
  for (auto _ : state) {
    ours += m.Lookups(a);
    sqlite += s.Lookups(b);
  }
  if (a != b) state.SkipWithError("the lookups read different values");
  Report(state, ours, sqlite, 2);
}
BENCHMARK(BM_PrimaryKeyLookups100k)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FullScan1M(benchmark::State& state) {
  Memory& m = Filled<Memory>();
  Sqlite& s = Filled<Sqlite>();
  double ours = 0, sqlite = 0, a = 0, b = 0;
  for (auto _ : state) {
    ours += m.Scan(a);
    sqlite += s.Scan(b);
  }
  Report(state, ours, sqlite, 1);
}
BENCHMARK(BM_FullScan1M)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
