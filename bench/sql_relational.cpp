// The relational operators over MEMORY tables, each tree built by hand as the statement layer
// would build it and every result row read, against SQLite in memory with the same rows and
// indexes in the same run. Goal: at most 3 times SQLite's time.
//   - GROUP BY over 100,000 rows in 100 groups with COUNT(*) and SUM (index on the key);
//   - an inner join of 10,000 x 10,000 rows on an indexed key (10,000 result rows).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "dbengine/access/orv_local_engine_session.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/sql/orv_relational_algebra.h"
#include "dbengine/sql/orv_sql_lexer.h"

namespace {

using namespace orv;

constexpr int kGroupRows = 100000;
constexpr int kGroups = 100;
constexpr int kJoinRows = 10000;

struct Column {
  std::string name;
  std::vector<int64_t> values;
};

// The same integer tables in the engine's MEMORY database and in an SQLite database in memory,
// each with an ascending index on its column Indexed.
class Data {
 public:
  Data() {
    engine.Startup();
    memory = Connect("MEMORY");
    temp = Connect("TEMP");
    sqlite3_open(":memory:", &db);
    std::mt19937 rng(11);
    std::vector<int64_t> k(kGroupRows), v(kGroupRows);
    for (int i = 0; i < kGroupRows; ++i) {
      k[static_cast<size_t>(i)] = static_cast<int64_t>(rng() % kGroups);
      v[static_cast<size_t>(i)] = static_cast<int64_t>(rng() % 1000);
    }
    MakeTable("G", {{"K", k}, {"V", v}}, "K");
    for (const char* name : {"J1", "J2"}) {
      std::vector<int64_t> id(kJoinRows), key(kJoinRows);
      std::iota(id.begin(), id.end(), 0);
      std::iota(key.begin(), key.end(), 0);
      std::shuffle(key.begin(), key.end(), rng);
      MakeTable(name, {{"ID", id}, {"K", key}}, "K");
    }
  }
  ~Data() {
    sqlite3_close(db);
    memory.reset();
    temp.reset();
    engine.Shutdown();
  }

  std::unique_ptr<TORVAO> Table(const std::string& Name) {
    return std::make_unique<TORVAOTable>(Name, std::make_unique<TORVAODataset>(memory.get(), temp.get()), "");
  }

  TORVEngine engine;
  std::unique_ptr<TORVLocalSession> memory, temp;
  sqlite3* db = nullptr;

 private:
  std::unique_ptr<TORVLocalSession> Connect(const std::string& Name) {
    return ConnectBuiltinDatabase(engine.DBDataList(), Name);
  }
  void MakeTable(const std::string& Name, const std::vector<Column>& Columns, const std::string& Indexed) {
    TORVFieldDefs fields;
    TORVIndexDefs indexes;
    std::string ddl = "CREATE TABLE " + Name + " (";
    for (size_t i = 0; i < Columns.size(); ++i) {
      TORVFieldDef* f = fields.AddCreated();
      f->Name = Columns[i].name;
      f->SetFieldDefDataType(aftInteger, 0);
      ddl += (i ? ", " : "") + Columns[i].name + " INTEGER";
    }
    TORVIndexDef* index = indexes.AddCreated();
    index->Name = Name + "_BY_" + Indexed;
    index->AssignByNames({Indexed}, {"ASC"}, {"CASE"});
    {
      TORVLocalCursor creator;
      creator.FSession = memory.get();
      creator.FTableName = Name;
      creator.CreateTable(fields, indexes, TORVConstraintDefs());
    }
    sqlite3_exec(db, (ddl + ")").c_str(), nullptr, nullptr, nullptr);
    sqlite3_exec(db, ("CREATE INDEX " + Name + "_BY_" + Indexed + " ON " + Name + " (" + Indexed + ")").c_str(),
                 nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    std::string insert = "INSERT INTO " + Name + " VALUES (";
    for (size_t i = 0; i < Columns.size(); ++i) insert += i ? ", ?" : "?";
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &st, nullptr);
    TORVAODataset ds(memory.get(), temp.get());
    ds.Open(Name);
    TORVVariant v;
    const size_t rows = Columns[0].values.size();
    for (size_t r = 0; r < rows; ++r) {
      ds.Append();
      for (size_t c = 0; c < Columns.size(); ++c) {
        v.SetDataAsSignedInt64(Columns[c].values[r]);
        ds.SetFieldValue(v, static_cast<int32_t>(c));
        sqlite3_bind_int64(st, static_cast<int>(c) + 1, Columns[c].values[r]);
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

TORVSelectListItem Col(const std::string& Table, const std::string& Field) {
  TORVSelectListItem item;
  item.TableName = Table;
  item.FieldName = Field;
  return item;
}

// A computed select-list item; the item owns the expression until the operator takes it.
TORVSelectListItem Computed(std::unique_ptr<TORVExpression> Expr, std::string Alias) {
  TORVSelectListItem item;
  item.IsExpression = true;
  item.ValueExpr = Expr.release();
  item.Pseudonym = std::move(Alias);
  return item;
}

// Reads every row of the executed root's result; returns the row count and the sum of the
// last visible column.
std::pair<int64_t, int64_t> ReadAll(TORVAO& Root) {
  TORVAODataset& ds = *Root.ResultDataset();
  const int32_t columns = ds.FieldCount(false);
  TORVVariant v;
  int64_t rows = 0, sum = 0;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    for (int32_t i = 0; i < columns; ++i) ds.GetFieldValue(v, i, false);
    if (!v.IsNull()) sum += v.GetDataAsSignedInt64();
    ++rows;
  }
  return {rows, sum};
}

int64_t ExpectedSum() {
  // Every V once, whichever group it falls in.
  std::mt19937 rng(11);
  int64_t sum = 0;
  for (int i = 0; i < kGroupRows; ++i) {
    rng();
    sum += static_cast<int64_t>(rng() % 1000);
  }
  return sum;
}

// SELECT K, COUNT(*), SUM(V) FROM G GROUP BY K
void BM_GroupByTree(benchmark::State& state) {
  Data& data = TheData();
  std::pair<int64_t, int64_t> result;
  for (auto _ : state) {
    TORVLexer count_text("COUNT(*)", nullptr, true), sum_text("SUM(V)", nullptr, true);
    count_text.GetNextCommand();
    sum_text.GetNextCommand();
    auto count = std::make_unique<TORVExpression>();
    count->ParseForValueExpression(nullptr, &count_text);
    auto sum = std::make_unique<TORVExpression>();
    sum->ParseForValueExpression(nullptr, &sum_text);
    std::vector<TORVSelectListItem> items = {Col("", "K"), Computed(std::move(count), "C"),
                                             Computed(std::move(sum), "S")};
    TORVFields by;
    by.Append(Col("", "K"));
    TORVAOGroupBy group(data.Table("G"), items, &by);
    group.SetResultFields(items, false);
    for (TORVSelectListItem& item : items) delete item.ValueExpr;
    group.Execute(true, nullptr, nullptr);
    result = ReadAll(group);
  }
  if (result.first != kGroups || result.second != ExpectedSum()) state.SkipWithError("wrong groups");
  state.counters["rows"] = static_cast<double>(result.first);
}
BENCHMARK(BM_GroupByTree)->Unit(benchmark::kMillisecond);

void BM_GroupBySqlite(benchmark::State& state) {
  Data& data = TheData();
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(data.db, "SELECT K, COUNT(*), SUM(V) FROM G GROUP BY K", -1, &st, nullptr);
  int64_t rows = 0, sum = 0;
  for (auto _ : state) {
    sqlite3_reset(st);
    rows = sum = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int i = 0; i < 3; ++i) benchmark::DoNotOptimize(sqlite3_column_int64(st, i));
      sum += sqlite3_column_int64(st, 2);
      ++rows;
    }
  }
  sqlite3_finalize(st);
  if (rows != kGroups || sum != ExpectedSum()) state.SkipWithError("wrong groups");
}
BENCHMARK(BM_GroupBySqlite)->Unit(benchmark::kMillisecond);

// SELECT J1.ID, J2.ID FROM J1 JOIN J2 ON J1.K = J2.K
void BM_JoinTree(benchmark::State& state) {
  Data& data = TheData();
  std::pair<int64_t, int64_t> result;
  for (auto _ : state) {
    TORVFields f1, f2;
    f1.Append(Col("J1", "K"));
    f2.Append(Col("J2", "K"));
    TORVAOJoin join(data.Table("J1"), data.Table("J2"), ajtInner, false, &f1, &f2, nullptr);
    std::vector<TORVSelectListItem> items = {Col("J1", "ID"), Col("J2", "ID")};
    join.SetResultFields(items, false);
    join.Execute(true, nullptr, nullptr);
    result = ReadAll(join);
  }
  if (result.first != kJoinRows) state.SkipWithError("wrong number of joined rows");
  state.counters["rows"] = static_cast<double>(result.first);
}
BENCHMARK(BM_JoinTree)->Unit(benchmark::kMillisecond);

void BM_JoinSqlite(benchmark::State& state) {
  Data& data = TheData();
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(data.db, "SELECT J1.ID, J2.ID FROM J1 JOIN J2 ON J1.K = J2.K", -1, &st, nullptr);
  int64_t rows = 0;
  for (auto _ : state) {
    sqlite3_reset(st);
    rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_int64(st, 0));
      benchmark::DoNotOptimize(sqlite3_column_int64(st, 1));
      ++rows;
    }
  }
  sqlite3_finalize(st);
  if (rows != kJoinRows) state.SkipWithError("wrong number of joined rows");
}
BENCHMARK(BM_JoinSqlite)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::SummaryReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  const auto& t = rep.ms;
  const auto ratio = [&](const char* what, const char* ours, const char* peer) {
    if (!t.count(ours) || !t.count(peer)) return;
    const double r = t.at(ours) / t.at(peer);
    std::printf("%s: %.1f ms, SQLite %.1f ms (ratio %.2f, goal <= 3: %s)\n", what, t.at(ours), t.at(peer), r,
                r <= 3 ? "met" : "missed");
  };
  ratio("GROUP BY over 100,000 rows, 100 groups, COUNT and SUM", "BM_GroupByTree", "BM_GroupBySqlite");
  ratio("inner join 10,000 x 10,000 on an indexed key, all rows read", "BM_JoinTree", "BM_JoinSqlite");
  benchmark::Shutdown();
  return 0;
}
