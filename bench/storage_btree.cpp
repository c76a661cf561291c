// B-tree over an in-memory page store: 100,000 Int32 keys inserted in random order, a full
// ordered scan of them, and 1,000,000 short-key comparisons. The peers are SQLite (an
// indexed in-memory table filled and scanned in the same order) and std::multimap. The
// ratio counters are ours / the peer's time per run.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "dbengine/storage/orv_btree_key.h"
#include "dbengine/storage/orv_btree_page.h"
#include "dbengine/storage/orv_page.h"
#include "platform/base/byte_order.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kKeys = 100000;

// Pages kept in memory, as the memory engine keeps them: 4096 bytes, no page header.
class MemoryPages : public orv::TORVPageManager {
 public:
  MemoryPages() { SetPageGeometry(4096, 0); }
  void InternalAddPage(orv::TORVPage& Page) override {
    Page.FPageNo = static_cast<int32_t>(store_.size());
    store_.emplace_back(4096);
    Page.AllocPageBuffer();
  }
  void InternalRemovePage(int32_t) override {}
  bool InternalReadPage(orv::TORVPage& Page) override {
    if (!Page.FPageBuffer) Page.AllocPageBuffer();
    std::memcpy(Page.FPageBuffer, store_[static_cast<size_t>(Page.FPageNo)].data(), 4096);
    return true;
  }
  void InternalWritePage(orv::TORVPage& Page) override {
    std::memcpy(store_[static_cast<size_t>(Page.FPageNo)].data(), Page.FPageBuffer, 4096);
  }

 private:
  std::vector<std::vector<uint8_t>> store_;
};

// One Int32 column; records are never read (no text keys are cut).
class OneIntTable : public orv::IORVKeyTable {
 public:
  bool HasFieldDefs() const override { return true; }
  bool FindKeyField(std::string_view, orv::TORVKeyFieldInfo& Info) const override {
    Info = {orv::bftSignedInt32, 4, 1, 0};
    return true;
  }
  int32_t GetMemoryRecordBufferSize() const override { return 5; }
  void GetRecordBuffer(int32_t, orv::TORVNavigationInfo& Info) override { Info.GetRecordResult = orv::grrError; }
};

struct Tree {
  Tree() : page(&pages, &key_ref) {
    key_ref.Assign({{"K"}}, &table);
    key_ref.FReferenceSize = 6;
    orv::TORVBTreePageRef r = page.AddIndexPage(1);
    r->InitAsRoot();
    r->SetIsDirty(true);
    root = r->GetPageNo();
  }
  void Insert(int32_t key, int32_t id) {
    uint8_t record[5] = {0};
    platform::StoreLE32(record + 1, static_cast<uint32_t>(key));
    uint8_t k[5], ref[6];
    key_ref.MakeShortKeyFromRecordBuffer(record, k);
    orv::TORVPageItemID{id, 0}.WriteTo(ref);
    orv::TORVKeyPath path;
    page.GetIndexPage(1, root)->InsertLeafEntry(1, k, ref, path);
  }
  int64_t Scan() {
    int64_t sum = 0;
    orv::TORVKeyPath path;
    bool ok = page.GetIndexPage(1, root)->GetFirstPosition(1, path);
    while (ok) {
      // Whole leaves are read while the path stays on them.
      orv::TORVBTreePageRef leaf = page.GetIndexPage(1, path.Last().PageNo);
      const int32_t n = leaf->GetEntryCount();
      for (int32_t e = path.Last().EntryNo; e < n; ++e) sum += static_cast<int32_t>(platform::LoadLE32(leaf->GetPKey(e) + 1));
      path.Last().EntryNo = n - 1;
      leaf.reset();
      ok = orv::BTreeNextPosition(page, 1, path, {1, 2});
    }
    return sum;
  }
  MemoryPages pages;
  OneIntTable table;
  orv::TORVRecordKeyRef key_ref;
  orv::TORVBTreePage page;
  int32_t root = -1;
};

const std::vector<int32_t>& Keys() {
  static const std::vector<int32_t> keys = [] {
    std::mt19937 rng(1);
    std::vector<int32_t> k(kKeys);
    for (auto& v : k) v = static_cast<int32_t>(rng());
    return k;
  }();
  return keys;
}

double SqliteInsertSeconds(sqlite3*& db) {
  sqlite3_open(":memory:", &db);
  sqlite3_exec(db, "CREATE TABLE t(k INTEGER, id INTEGER); CREATE INDEX ik ON t(k, id);", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?1, ?2)", -1, &st, nullptr);
  const auto t0 = Clock::now();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (int i = 0; i < kKeys; ++i) {
    sqlite3_bind_int(st, 1, Keys()[static_cast<size_t>(i)]);
    sqlite3_bind_int(st, 2, i);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  const auto t1 = Clock::now();
  sqlite3_finalize(st);
  return std::chrono::duration<double>(t1 - t0).count();
}

double SqliteScanSeconds(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT k FROM t INDEXED BY ik ORDER BY k, id", -1, &st, nullptr);
  int64_t sum = 0;
  const auto t0 = Clock::now();
  while (sqlite3_step(st) == SQLITE_ROW) sum += sqlite3_column_int(st, 0);
  const auto t1 = Clock::now();
  benchmark::DoNotOptimize(sum);
  sqlite3_finalize(st);
  return std::chrono::duration<double>(t1 - t0).count();
}

void BM_InsertRandom100k(benchmark::State& state) {
  double ours = 0, sqlite = 0, multimap = 0;
  for (auto _ : state) {
    Tree tree;
    const auto t0 = Clock::now();
    for (int i = 0; i < kKeys; ++i) tree.Insert(Keys()[static_cast<size_t>(i)], i);
    const auto t1 = Clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    tree.pages.ApplyChanges(1);
    sqlite3* db = nullptr;
    sqlite += SqliteInsertSeconds(db);
    sqlite3_close(db);
    std::multimap<int32_t, int32_t> m;
    const auto t2 = Clock::now();
    for (int i = 0; i < kKeys; ++i) m.emplace(Keys()[static_cast<size_t>(i)], i);
    multimap += std::chrono::duration<double>(Clock::now() - t2).count();
    benchmark::DoNotOptimize(m.size());
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_s"] = ours / n;
  state.counters["sqlite_s"] = sqlite / n;
  state.counters["ratio_sqlite"] = ours / sqlite;
  state.counters["ratio_multimap"] = ours / multimap;
}
BENCHMARK(BM_InsertRandom100k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OrderedScan100k(benchmark::State& state) {
  Tree tree;
  for (int i = 0; i < kKeys; ++i) tree.Insert(Keys()[static_cast<size_t>(i)], i);
  tree.pages.ApplyChanges(1);
  sqlite3* db = nullptr;
  SqliteInsertSeconds(db);
  double ours = 0, sqlite = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(tree.Scan());
    ours += std::chrono::duration<double>(Clock::now() - t0).count();
    sqlite += SqliteScanSeconds(db);
  }
  sqlite3_close(db);
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_s"] = ours / n;
  state.counters["ratio_sqlite"] = ours / sqlite;
}
BENCHMARK(BM_OrderedScan100k)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_ShortKeyCompare1M(benchmark::State& state) {
  Tree tree;
  std::vector<std::array<uint8_t, 5>> keys(1024);
  for (size_t i = 0; i < keys.size(); ++i) {
    uint8_t record[5] = {0};
    platform::StoreLE32(record + 1, static_cast<uint32_t>(Keys()[i]));
    tree.key_ref.MakeShortKeyFromRecordBuffer(record, keys[i].data());
  }
  double ours = 0, plain = 0;
  for (auto _ : state) {
    int64_t sum = 0;
    const auto t0 = Clock::now();
    for (int i = 0; i < 1000000; ++i)
      sum += tree.key_ref.CompareShortKeys(keys[static_cast<size_t>(i) & 1023].data(),
                                           keys[static_cast<size_t>(i * 7 + 3) & 1023].data(), true, 1, nullptr, nullptr);
    ours += std::chrono::duration<double>(Clock::now() - t0).count();
    benchmark::DoNotOptimize(sum);
    const auto t1 = Clock::now();
    for (int i = 0; i < 1000000; ++i) {
      const int32_t a = static_cast<int32_t>(platform::LoadLE32(keys[static_cast<size_t>(i) & 1023].data() + 1));
      const int32_t b = static_cast<int32_t>(platform::LoadLE32(keys[static_cast<size_t>(i * 7 + 3) & 1023].data() + 1));
      sum += (a > b) - (a < b);
    }
    plain += std::chrono::duration<double>(Clock::now() - t1).count();
    benchmark::DoNotOptimize(sum);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_s"] = ours / n;
  state.counters["ratio_plain"] = ours / plain;
}
BENCHMARK(BM_ShortKeyCompare1M)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
