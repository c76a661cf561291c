// The database file: an uncontended byte lock and release (goal: a pair under 20 µs), and a
// commit of 100 changed 4096-byte pages with its rollback journal and its three syncs. The peer
// of the commit is SQLite in rollback-journal mode with full syncs, updating 100 rows of
// 4000-byte blobs (about 100 pages) in one transaction, in the same folder; ratio_sqlite is
// ours / SQLite's time per commit.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_scratch.h"
#include "dbengine/file/orv_disk_engine_file.h"
#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "platform/files/fault_file.h"

namespace {

using bench::ScratchPath;

using Clock = std::chrono::steady_clock;
constexpr int kPages = 100;

void BM_LockUnlockPair(benchmark::State& state) {
  const std::string path = ScratchPath("bench_lock.orv");
  std::filesystem::remove(path);
  orv::TORVDatabaseFile file;
  file.CreateAndOpenFile(path);
  file.WriteBuffer(std::vector<uint8_t>(400).data(), 400, 0, 1);
  for (auto _ : state) {
    if (!file.LockByte(360, 1) || !file.UnlockByte(360, 1)) state.SkipWithError("lock refused");
  }
  file.CloseFile();
  std::filesystem::remove(path);
}
BENCHMARK(BM_LockUnlockPair)->Unit(benchmark::kMicrosecond);

// The same on a handle opened for reading, where exclusivity needs a check of other handles.
void BM_LockUnlockPairReadOnly(benchmark::State& state) {
  const std::string path = ScratchPath("bench_lock_ro.orv");
  {
    orv::TORVDatabaseFile file;
    file.CreateAndOpenFile(path);
    file.WriteBuffer(std::vector<uint8_t>(400).data(), 400, 0, 1);
    file.CloseFile();
  }
  orv::TORVDatabaseFile file;
  file.OpenFile(path, orv::amReadOnly, orv::smShareDenyNone);
  for (auto _ : state) {
    if (!file.LockByte(360, 1) || !file.UnlockByte(360, 1)) state.SkipWithError("lock refused");
  }
  file.CloseFile();
  std::filesystem::remove(path);
}
BENCHMARK(BM_LockUnlockPairReadOnly)->Unit(benchmark::kMicrosecond);

double SqliteCommit(sqlite3* db, sqlite3_stmt* update, int round) {
  std::vector<uint8_t> blob(4000, static_cast<uint8_t>(round));
  const auto t0 = Clock::now();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (int i = 0; i < kPages; ++i) {
    sqlite3_bind_blob(update, 1, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
    sqlite3_bind_int(update, 2, i);
    sqlite3_step(update);
    sqlite3_reset(update);
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

void BM_Commit100Pages(benchmark::State& state) {
  const std::string path = ScratchPath("bench_commit.orv");
  const std::string peer_path = ScratchPath("bench_commit.sqlite");
  std::filesystem::remove(path);
  std::filesystem::remove(peer_path);
  auto plan = std::make_shared<platform::FaultPlan>();  // counts only
  orv::TORVDiskPageManager pm(orv::MemoryManager(), platform::FaultInjectingFactory(plan));
  pm.CreateAndOpenDatabase(path, {}, 4096, 8);
  std::vector<int32_t> pages;
  for (int i = 0; i < kPages; ++i) {
    orv::TORVPage* page = pm.AddPage(1, orv::ptTableRecord);
    pages.push_back(page->FPageNo);
    pm.PutPage(page);
  }
  pm.ApplyChanges(1);

  sqlite3* db = nullptr;
  sqlite3_open(peer_path.c_str(), &db);
  sqlite3_exec(db,
               "PRAGMA page_size=4096; PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;"
               "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB);",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?2, ?1)", -1, &insert, nullptr);
  SqliteCommit(db, insert, 0);
  sqlite3_finalize(insert);
  sqlite3_stmt* update = nullptr;
  sqlite3_prepare_v2(db, "UPDATE t SET b = ?1 WHERE id = ?2", -1, &update, nullptr);

  double ours = 0, peer = 0;
  int round = 0;
  const int64_t syncs0 = plan->syncs, writes0 = plan->writes;
  for (auto _ : state) {
    ++round;
    const auto t0 = Clock::now();
    for (int32_t no : pages) {
      orv::TORVPage* page = pm.GetPage(1, no, orv::ptTableRecord, false);
      page->GetPageData()[0] = static_cast<uint8_t>(round);
      page->FIsDirty = true;
      pm.PutPage(page);
    }
    pm.ApplyChanges(1);
    const double t = std::chrono::duration<double>(Clock::now() - t0).count();
    ours += t;
    state.SetIterationTime(t);
    peer += SqliteCommit(db, update, round);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["syncs"] = static_cast<double>(plan->syncs - syncs0) / n;
  state.counters["writes"] = static_cast<double>(plan->writes - writes0) / n;
  state.counters["ours_ms"] = ours / n * 1000;
  state.counters["sqlite_ms"] = peer / n * 1000;
  state.counters["ratio_sqlite"] = ours / peer;
  sqlite3_finalize(update);
  sqlite3_close(db);
  pm.CloseDatabase();
  std::filesystem::remove(path);
  std::filesystem::remove(peer_path);
}
BENCHMARK(BM_Commit100Pages)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace

BENCHMARK_MAIN();
