// SELECT statements through the statement processor (parse, plan, operator tree, every result
// row read) over MEMORY tables, against SQLite in memory with the same rows and indexes in the
// same run. Goal: each at most 3 times SQLite's time.
//   (1) SELECT id, name, val FROM t WHERE k BETWEEN x AND x + 9999   (k indexed, 10,000 rows)
//   (2) SELECT grp, COUNT(*) AS n, SUM(val) AS s FROM t GROUP BY grp  (100,000 rows, 100 groups)
//   (3) SELECT a.id, b.val FROM a JOIN b ON a.id = b.aid               (10,000 x 10,000)
// Beside them the fixed cost of a one-row query by primary key (statement text to row, SQLite
// preparing its statement every time as well).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "dbengine/access/orv_local_engine_session.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/orv_sql_processor.h"

namespace {

using namespace orv;

constexpr int kRows = 100000;
constexpr int kJoinRows = 10000;
constexpr int kLow = 40000;


struct Column {
  std::string name;
  TORVAdvancedFieldType type;
  int32_t size;
  bool primary = false;
  bool indexed = false;
};

class Data {
 public:
  Data() {
    engine.Startup();
    memory = Connect("MEMORY");
    temp = Connect("TEMP");
    query = std::make_unique<TORVSessionSQLQuery>(memory.get(), temp.get());
    sqlite3_open(":memory:", &db);
    std::mt19937 rng(7);
    std::vector<int64_t> perm(kRows);
    for (int i = 0; i < kRows; ++i) perm[static_cast<size_t>(i)] = i;
    std::shuffle(perm.begin(), perm.end(), rng);
    Make("t",
         {{"id", aftInteger, 0, true}, {"k", aftInteger, 0, false, true}, {"grp", aftInteger, 0},
          {"name", aftString, 20}, {"val", aftDouble, 0}},
         kRows, [&](int r, int c, TORVVariant& v, sqlite3_stmt* st) {
           switch (c) {
             case 0: Int(v, st, c, r); break;
             case 1: Int(v, st, c, perm[static_cast<size_t>(r)]); break;
             case 2: Int(v, st, c, r % 100); break;
             case 3: Text(v, st, c, "name" + std::to_string(r % 997)); break;
             default: Real(v, st, c, (r % 1000) / 8.0); break;
           }
         });
    Make("a", {{"id", aftInteger, 0, true}}, kJoinRows,
         [&](int r, int c, TORVVariant& v, sqlite3_stmt* st) { Int(v, st, c, r); });
    Make("b", {{"id", aftInteger, 0, true}, {"aid", aftInteger, 0, false, true}, {"val", aftDouble, 0}}, kJoinRows,
         [&](int r, int c, TORVVariant& v, sqlite3_stmt* st) {
           if (c == 0) Int(v, st, c, r);
           if (c == 1) Int(v, st, c, (r * 7919) % kJoinRows);
           if (c == 2) Real(v, st, c, r * 0.5);
         });
  }
  ~Data() {
    sqlite3_close(db);
    query.reset();
    memory.reset();
    temp.reset();
    engine.Shutdown();
  }

  TORVEngine engine;
  TORVScopedExpressionEngine expressions;
  std::unique_ptr<TORVLocalSession> memory, temp;
  std::unique_ptr<TORVSessionSQLQuery> query;
  sqlite3* db = nullptr;

 private:
  std::unique_ptr<TORVLocalSession> Connect(const std::string& Name) {
    return ConnectBuiltinDatabase(engine.DBDataList(), Name);
  }
  static void Int(TORVVariant& v, sqlite3_stmt* st, int c, int64_t x) {
    v.SetDataAsSignedInt64(x);
    sqlite3_bind_int64(st, c + 1, x);
  }
  static void Real(TORVVariant& v, sqlite3_stmt* st, int c, double x) {
    v.SetDataAsDouble(x);
    sqlite3_bind_double(st, c + 1, x);
  }
  static void Text(TORVVariant& v, sqlite3_stmt* st, int c, const std::string& x) {
    v.SetDataAsAnsiString(x);
    sqlite3_bind_text(st, c + 1, x.c_str(), static_cast<int>(x.size()), SQLITE_TRANSIENT);
  }
  template <class Fill>
  void Make(const std::string& Name, const std::vector<Column>& Columns, int Rows, Fill fill) {
    TORVFieldDefs fields;
    TORVIndexDefs indexes;
    std::string ddl = "CREATE TABLE " + Name + " (";
    for (size_t i = 0; i < Columns.size(); ++i) {
      const Column& c = Columns[i];
      TORVFieldDef* f = fields.AddCreated();
      f->Name = c.name;
      f->SetFieldDefDataType(c.type, c.size);
      ddl += (i ? ", " : "") + c.name +
             (c.type == aftInteger ? " INTEGER" : c.type == aftDouble ? " DOUBLE" : " VARCHAR(20)") +
             (c.primary ? " PRIMARY KEY" : "");
      if (c.primary || c.indexed) {
        TORVIndexDef* ix = indexes.AddCreated();
        ix->Name = Name + "_" + c.name;
        ix->AssignByNames({c.name}, {"ASC"}, {"CASE"});
        ix->Primary = ix->Unique = c.primary;
      }
    }
    sqlite3_exec(db, (ddl + ")").c_str(), nullptr, nullptr, nullptr);
    for (const Column& c : Columns)
      if (c.indexed)
        sqlite3_exec(db, ("CREATE INDEX " + Name + "_" + c.name + " ON " + Name + " (" + c.name + ")").c_str(),
                     nullptr, nullptr, nullptr);
    {
      TORVLocalCursor creator;
      creator.FSession = memory.get();
      creator.FTableName = Name;
      creator.CreateTable(fields, indexes, TORVConstraintDefs());
    }
    std::string insert = "INSERT INTO " + Name + " VALUES (";
    for (size_t i = 0; i < Columns.size(); ++i) insert += i ? ", ?" : "?";
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &st, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    TORVAODataset ds(memory.get(), temp.get());
    ds.Open(Name);
    for (int r = 0; r < Rows; ++r) {
      ds.Append();
      for (size_t c = 0; c < Columns.size(); ++c) {
        TORVVariant v;
        fill(r, static_cast<int>(c), v, st);
        ds.SetFieldValue(v, static_cast<int32_t>(c));
      }
      ds.Post(false);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
};

Data& TheData() {
  static Data data;
  return data;
}

// Runs Sql through a processor and reads every row; the row count.
int64_t Engine(const std::string& Sql) {
  Data& data = TheData();
  TORVLocalSQLProcessor processor(data.query.get());
  processor.PrepareStatement(Sql);
  processor.OpenQuery();
  TORVAODataset& ds = *processor.GetResultDataset();
  const int32_t columns = ds.FieldCount(false);
  TORVVariant v;
  int64_t rows = 0;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    for (int32_t i = 0; i < columns; ++i) ds.GetFieldValue(v, i, false);
    ++rows;
  }
  return rows;
}

// The same through SQLite, prepared every time when Prepare, else once.
int64_t Sqlite(sqlite3_stmt*& St, const std::string& Sql, bool Prepare) {
  if (Prepare || !St) {
    sqlite3_finalize(St);
    sqlite3_prepare_v2(TheData().db, Sql.c_str(), -1, &St, nullptr);
  } else {
    sqlite3_reset(St);
  }
  int64_t rows = 0;
  while (sqlite3_step(St) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(St); ++i) benchmark::DoNotOptimize(sqlite3_column_value(St, i));
    ++rows;
  }
  return rows;
}

const std::string kRange =
    "SELECT id, name, val FROM t WHERE k BETWEEN " + std::to_string(kLow) + " AND " + std::to_string(kLow + 9999);
const std::string kGroup = "SELECT grp, COUNT(*) AS n, SUM(val) AS s FROM t GROUP BY grp";
const std::string kJoin = "SELECT a.id, b.val FROM a JOIN b ON a.id = b.aid";
const std::string kPoint = "SELECT id, name, val FROM t WHERE id = 4242";

void Check(benchmark::State& state, int64_t Rows, int64_t Expected) {
  if (Rows != Expected) state.SkipWithError(("rows " + std::to_string(Rows)).c_str());
  state.counters["rows"] = static_cast<double>(Rows);
}

void BM_RangeEngine(benchmark::State& state) {
  TheData();  // the tables are made outside the timing
  int64_t rows = 0;
  for (auto _ : state) rows = Engine(kRange);
  Check(state, rows, 10000);
}
void BM_RangeSqlite(benchmark::State& state) {
  sqlite3_stmt* st = nullptr;
  TheData();  // the tables are made outside the timing
  int64_t rows = 0;
  for (auto _ : state) rows = Sqlite(st, kRange, false);
  sqlite3_finalize(st);
  Check(state, rows, 10000);
}
void BM_GroupEngine(benchmark::State& state) {
  TheData();  // the tables are made outside the timing
  int64_t rows = 0;
  for (auto _ : state) rows = Engine(kGroup);
  Check(state, rows, 100);
}
void BM_GroupSqlite(benchmark::State& state) {
  sqlite3_stmt* st = nullptr;
  TheData();  // the tables are made outside the timing
  int64_t rows = 0;
  for (auto _ : state) rows = Sqlite(st, kGroup, false);
  sqlite3_finalize(st);
  Check(state, rows, 100);
}
void BM_JoinEngine(benchmark::State& state) {
  TheData();  // the tables are made outside the timing
  int64_t rows = 0;
  for (auto _ : state) rows = Engine(kJoin);
  Check(state, rows, kJoinRows);
}
void BM_JoinSqlite(benchmark::State& state) {
  sqlite3_stmt* st = nullptr;
  TheData();  // the tables are made outside the timing
  int64_t rows = 0;
  for (auto _ : state) rows = Sqlite(st, kJoin, false);
  sqlite3_finalize(st);
  Check(state, rows, kJoinRows);
}
void BM_PointEngine(benchmark::State& state) {
  TheData();  // the tables are made outside the timing
  int64_t rows = 0;
  for (auto _ : state) rows = Engine(kPoint);
  Check(state, rows, 1);
}
void BM_PointSqlite(benchmark::State& state) {
  sqlite3_stmt* st = nullptr;
  TheData();  // the tables are made outside the timing
  int64_t rows = 0;
  for (auto _ : state) rows = Sqlite(st, kPoint, true);
  sqlite3_finalize(st);
  Check(state, rows, 1);
}
BENCHMARK(BM_RangeEngine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RangeSqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GroupEngine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GroupSqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JoinEngine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JoinSqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PointEngine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PointSqlite)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  const auto& t = rep.ms;
  const auto ratio = [&](const char* what, const char* ours, const char* peer, bool goal) {
    if (!t.count(ours) || !t.count(peer)) return;
    const double r = t.at(ours) / t.at(peer);
    std::printf("%s: %.3f ms, SQLite %.3f ms (ratio %.2f%s)\n", what, t.at(ours), t.at(peer), r,
                goal ? (r <= 3 ? ", goal <= 3: met" : ", goal <= 3: missed") : "");
  };
  ratio("(1) range of 10,000 rows on the k index", "BM_RangeEngine", "BM_RangeSqlite", true);
  ratio("(2) GROUP BY over 100,000 rows, 100 groups", "BM_GroupEngine", "BM_GroupSqlite", true);
  ratio("(3) join of 10,000 x 10,000 on b.aid", "BM_JoinEngine", "BM_JoinSqlite", true);
  ratio("fixed cost of a one-row query by primary key", "BM_PointEngine", "BM_PointSqlite", false);
  benchmark::Shutdown();
  return 0;
}
