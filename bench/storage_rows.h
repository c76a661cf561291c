#pragma once
// What the storage benchmarks share: the rows of the memory and disk table benchmarks (ID Int32
// primary, K Int32 indexed, NAME VarChar(40), VAL Double; 1,000,000 rows in random ID order and
// 100,000 random primary-key lookups), the same work on SQLite through its C API (prepared
// statements, one transaction), and the counters each benchmark reports.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;
constexpr int kRows = 1000000;
constexpr int kLookups = 100000;

struct Data {
  std::vector<int32_t> ids, ks, lookups;
  std::vector<std::string> names;
  std::vector<double> vals;
};

inline const Data& Rows() {
  static const Data data = [] {
    Data d;
    std::mt19937 rng(42);
    d.ids.resize(kRows);
    std::iota(d.ids.begin(), d.ids.end(), 1);
    std::shuffle(d.ids.begin(), d.ids.end(), rng);
    for (int i = 0; i < kRows; ++i) {
      d.ks.push_back(static_cast<int32_t>(rng() % 100000));
      d.names.push_back("name " + std::to_string(d.ids[static_cast<size_t>(i)]));
      d.vals.push_back(static_cast<double>(rng() % 1000000) / 7.0);
    }
    for (int i = 0; i < kLookups; ++i) d.lookups.push_back(static_cast<int32_t>(1 + rng() % kRows));
    return d;
  }();
  return data;
}

// ---- SQLite ------------------------------------------------------------------------------------

// SQLite with its defaults on Path (":memory:" for a database in memory).
struct Sqlite {
  explicit Sqlite(const std::string& Path) {
    sqlite3_open(Path.c_str(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE t (id INTEGER PRIMARY KEY, k INTEGER, name VARCHAR(40), val REAL);"
                 "CREATE INDEX ix_k ON t (k);",
                 nullptr, nullptr, nullptr);
  }
  ~Sqlite() { sqlite3_close(db); }
  double Insert() {
    const Data& d = Rows();
    sqlite3_stmt* st = nullptr;
    const auto t0 = Clock::now();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?, ?, ?, ?)", -1, &st, nullptr);
    for (size_t r = 0; r < static_cast<size_t>(kRows); ++r) {
      sqlite3_bind_int(st, 1, d.ids[r]);
      sqlite3_bind_int(st, 2, d.ks[r]);
      sqlite3_bind_text(st, 3, d.names[r].c_str(), static_cast<int>(d.names[r].size()), SQLITE_STATIC);
      sqlite3_bind_double(st, 4, d.vals[r]);
      if (sqlite3_step(st) != SQLITE_DONE) std::abort();
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    return std::chrono::duration<double>(Clock::now() - t0).count();
  }
  double Lookups(double& checksum) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT name, val FROM t WHERE id = ?", -1, &st, nullptr);
    const auto t0 = Clock::now();
    for (int32_t id : Rows().lookups) {
      sqlite3_bind_int(st, 1, id);
      if (sqlite3_step(st) != SQLITE_ROW) std::abort();
      checksum += sqlite3_column_double(st, 1) + sqlite3_column_text(st, 0)[5];
      sqlite3_reset(st);
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    sqlite3_finalize(st);
    return s;
  }
  double Scan(double& checksum) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT val FROM t", -1, &st, nullptr);
    int64_t n = 0;
    const auto t0 = Clock::now();
    while (sqlite3_step(st) == SQLITE_ROW) {
      checksum += sqlite3_column_double(st, 0);
      ++n;
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    sqlite3_finalize(st);
    if (n != kRows) std::abort();
    return s;
  }
  sqlite3* db = nullptr;
};

inline void Report(benchmark::State& state, double ours, double sqlite, double goal) {
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_s"] = ours / n;
  state.counters["sqlite_s"] = sqlite / n;
  state.counters["ratio_sqlite"] = ours / sqlite;
  if (goal > 0) state.counters["goal"] = goal;  // 0: reported without a goal
}

}  // namespace bench
