// A disk table through the storage API against SQLite on a file (C API, prepared statements,
// default settings), both with ID Int32 primary, K Int32 indexed, NAME VarChar(40), VAL Double:
// 1,000,000 rows inserted in random ID order in one transaction, committed to the file;
// 100,000 random primary-key lookups reading NAME and VAL; a full scan reading VAL. Records are
// filled and read the way the dataset does it (field buffers through the cursor).
// ratio_sqlite is ours / SQLite's time; the goals are 3, 2 and 1. The multi-user lookups (each
// read under its own ltS lock with the table's counters reloaded) are reported without a goal.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "bench/storage_rows.h"
#include "dbengine/file/orv_disk_engine_database.h"
#include "dbengine/file/tests/disk_cursor.h"
#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace {

using bench::Clock;
using bench::Data;
using bench::kRows;
using bench::Report;
using bench::Rows;
using orv::testing::DiskTable;
using orv::testing::DiskTestCursor;

// A folder of its own for the files of one run, removed at the end.
struct Folder {
  Folder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qvbenchXXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    path = tmpl;
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};
Folder& Files() {
  static Folder folder;
  return folder;
}

// ---- Ours -------------------------------------------------------------------------------------

double Lookups(DiskTestCursor& c, double& checksum) {
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

struct Disk {
  explicit Disk(const std::string& Name)
      : path(Files().path + "/" + Name + ".orv"), t(std::make_unique<DiskTable>(path)) {
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
    cursor = &t->Create("T", f, i, c);
  }
  double Insert() {
    const Data& d = Rows();
    DiskTestCursor& c = *cursor;
    char name[41];
    const auto t0 = Clock::now();
    t->session->StartTransaction();
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
    t->session->Commit(true);
    return std::chrono::duration<double>(Clock::now() - t0).count();
  }
  double Lookups(double& checksum) { return ::Lookups(*cursor, checksum); }
  double Scan(double& checksum) {
    DiskTestCursor& c = *cursor;
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
  // Gives the file up (the multi-user connection opens it afterwards).
  void Close() {
    cursor = nullptr;
    t.reset();
  }
  std::string path;
  std::unique_ptr<DiskTable> t;
  DiskTestCursor* cursor = nullptr;
};

// ---- SQLite ------------------------------------------------------------------------------------

// SQLite on a file of its own, with its defaults.
struct Sqlite : bench::Sqlite {
  explicit Sqlite(const std::string& Name) : bench::Sqlite(Reset(Files().path + "/" + Name + ".sqlite")) {}
  static std::string Reset(const std::string& Path) {
    std::filesystem::remove(Path);
    return Path;
  }
};

void BM_Insert1M(benchmark::State& state) {
  double ours = 0, sqlite = 0;
  int run = 0;
  for (auto _ : state) {
    const std::string name = "insert" + std::to_string(run++);
    {
      Disk m(name);
      ours += m.Insert();
    }
    Sqlite s(name);
    sqlite += s.Insert();
  }
  Report(state, ours, sqlite, 3);
}
BENCHMARK(BM_Insert1M)->Unit(benchmark::kMillisecond)->Iterations(1);

// The filled tables are shared by the lookups and the scans.
template <class Table>
Table& Filled() {
  static Table* table = [] {
    auto* t = new Table("filled");
    t->Insert();
    return t;
  }();
  return *table;
}

void BM_PrimaryKeyLookups100k(benchmark::State& state) {
  Disk& m = Filled<Disk>();
  Sqlite& s = Filled<Sqlite>();
  double ours = 0, sqlite = 0, a = 0, b = 0;
  for (auto _ : state) {
    ours += m.Lookups(a);
    sqlite += s.Lookups(b);
  }
  if (a != b) state.SkipWithError("the lookups read different values");
  Report(state, ours, sqlite, 2);
}
BENCHMARK(BM_PrimaryKeyLookups100k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FullScan1M(benchmark::State& state) {
  Disk& m = Filled<Disk>();
  Sqlite& s = Filled<Sqlite>();
  double ours = 0, sqlite = 0, a = 0, b = 0;
  for (auto _ : state) {
    ours += m.Scan(a);
    sqlite += s.Scan(b);
  }
  Report(state, ours, sqlite, 1);
}
BENCHMARK(BM_FullScan1M)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same lookups from a second connection in multi-user mode: every read takes the table's
// ltS lock and reloads its counters from the file. Against SQLite's lookups, without a goal.
void BM_MultiUserLookups100k(benchmark::State& state) {
  Disk& m = Filled<Disk>();
  Sqlite& s = Filled<Sqlite>();
  // The single-user connection gives the file up first (this runs last).
  m.Close();
  DiskTable shared(m.path, true, 4096, false);
  DiskTestCursor& c = shared.Open("T");
  double ours = 0, sqlite = 0, a = 0, b = 0;
  for (auto _ : state) {
    ours += Lookups(c, a);
    sqlite += s.Lookups(b);
  }
  if (a != b) state.SkipWithError("the lookups read different values");
  Report(state, ours, sqlite, 0);
}
BENCHMARK(BM_MultiUserLookups100k)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
