#pragma once
// What the statement tests share: a query over the engine's built-in MEMORY and TEMP
// databases that runs SQL through the statement processor, tables with the same rows in the
// engine and in SQLite, and results read as rows of cells that compare numbers with a
// relative tolerance.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/sql/orv_relational_algebra.h"
#include "dbengine/sql/orv_sql_processor.h"

namespace orv::testing {


// NULL, an integer, a double or a text.
using Cell = std::variant<std::monostate, int64_t, double, std::string>;
using Rows = std::vector<std::vector<Cell>>;

inline std::string CellText(const Cell& c) {
  if (std::holds_alternative<std::monostate>(c)) return "NULL";
  if (const auto* i = std::get_if<int64_t>(&c)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&c)) {
    char b[64];
    std::snprintf(b, sizeof b, "%.17g", *d);
    return b;
  }
  return "'" + std::get<std::string>(c) + "'";
}

inline std::string RowsText(const Rows& rows) {
  std::string s;
  for (const auto& r : rows) {
    for (size_t i = 0; i < r.size(); ++i) s += (i ? "|" : "") + CellText(r[i]);
    s += "\n";
  }
  return s;
}

// Numbers equal to 1e-12 relative (an integer and a double compare as numbers).
inline bool SameCell(const Cell& a, const Cell& b) {
  const auto number = [](const Cell& c) -> std::optional<double> {
    if (const auto* i = std::get_if<int64_t>(&c)) return static_cast<double>(*i);
    if (const auto* d = std::get_if<double>(&c)) return *d;
    return std::nullopt;
  };
  const auto na = number(a), nb = number(b);
  if (na && nb) {
    if (std::holds_alternative<int64_t>(a) && std::holds_alternative<int64_t>(b))
      return std::get<int64_t>(a) == std::get<int64_t>(b);
    return std::fabs(*na - *nb) <= 1e-12 * std::max({1.0, std::fabs(*na), std::fabs(*nb)});
  }
  return a == b;
}

inline bool SameRows(const Rows& a, const Rows& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].size() != b[i].size()) return false;
    for (size_t j = 0; j < a[i].size(); ++j)
      if (!SameCell(a[i][j], b[i][j])) return false;
  }
  return true;
}

// A column of a test table: SQL type INTEGER, DOUBLE or VARCHAR(n).
struct ColumnSpec {
  std::string Name;
  TORVAdvancedFieldType Type;
  int32_t Size = 0;
};

class SqlTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    memory = Connect("MEMORY");
    temp = Connect("TEMP");
    query = std::make_unique<TORVSessionSQLQuery>(memory.get(), temp.get());
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  }
  void TearDown() override {
    processor.reset();
    sqlite3_close(db);
    memory.reset();
    temp.reset();
    EngineTest::TearDown();
  }
  std::unique_ptr<TORVLocalSession> Connect(const std::string& Name) {
    return ConnectBuiltinDatabase(engine.DBDataList(), Name);
  }

  // The one translation of the test tables' column types into SQLite's.
  static std::string SqliteType(const ColumnSpec& c) {
    switch (c.Type) {
      case aftInteger: return "INTEGER";
      case aftDouble: return "DOUBLE";
      default: return "VARCHAR(" + std::to_string(c.Size) + ")";
    }
  }

  // The same rows in the engine's MEMORY database and in SQLite; Indexes: columns to index.
  void MakeTable(const std::string& Name, const std::vector<ColumnSpec>& Columns, const Rows& Data,
                 const std::vector<std::string>& Indexes = {}) {
    TORVFieldDefs fields;
    std::string ddl = "CREATE TABLE " + Name + " (";
    for (size_t i = 0; i < Columns.size(); ++i) {
      TORVFieldDef* f = fields.AddCreated();
      f->Name = Columns[i].Name;
      f->SetFieldDefDataType(Columns[i].Type, Columns[i].Size);
      ddl += (i ? ", " : "") + Columns[i].Name + " " + SqliteType(Columns[i]);
    }
    Exec(ddl + ")");
    TORVIndexDefs indexes;
    for (const std::string& column : Indexes) {
      TORVIndexDef* ix = indexes.AddCreated();
      ix->Name = "IX_" + Name + "_" + column;
      ix->AssignByNames({column}, {"ASC"}, {"CS"});
      Exec("CREATE INDEX IX_" + Name + "_" + column + " ON " + Name + " (" + column + ")");
    }
    {
      TORVLocalCursor creator;
      creator.FSession = memory.get();
      creator.FTableName = Name;
      creator.CreateTable(fields, indexes, TORVConstraintDefs());
    }
    TORVAODataset ds(memory.get(), temp.get());
    ds.Open(Name);
    sqlite3_stmt* insert = nullptr;
    std::string marks;
    for (size_t i = 0; i < Columns.size(); ++i) marks += i ? ",?" : "?";
    ASSERT_EQ(sqlite3_prepare_v2(db, ("INSERT INTO " + Name + " VALUES (" + marks + ")").c_str(), -1, &insert, nullptr),
              SQLITE_OK);
    Exec("BEGIN");
    for (const auto& r : Data) {
      ds.Append();
      sqlite3_reset(insert);
      for (size_t i = 0; i < r.size(); ++i) {
        TORVVariant v;
        const int col = static_cast<int>(i) + 1;
        if (const auto* n = std::get_if<int64_t>(&r[i])) {
          v.SetDataAsSignedInt64(*n);
          sqlite3_bind_int64(insert, col, *n);
        } else if (const auto* d = std::get_if<double>(&r[i])) {
          v.SetDataAsDouble(*d);
          sqlite3_bind_double(insert, col, *d);
        } else if (const auto* s = std::get_if<std::string>(&r[i])) {
          v.SetDataAsAnsiString(*s);
          sqlite3_bind_text(insert, col, s->c_str(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
        } else {
          sqlite3_bind_null(insert, col);
        }
        ds.SetFieldValue(v, static_cast<int32_t>(i));
      }
      ASSERT_TRUE(ds.Post(false));
      ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE) << sqlite3_errmsg(db);
    }
    Exec("COMMIT");
    sqlite3_finalize(insert);
  }
  void Exec(const std::string& Sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db, Sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    ASSERT_EQ(rc, SQLITE_OK) << message << ": " << Sql;
  }
  Rows Sqlite(const std::string& Sql) {
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, Sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db) << "\n" << Sql;
    Rows rows;
    while (st && sqlite3_step(st) == SQLITE_ROW) {
      std::vector<Cell> r;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        switch (sqlite3_column_type(st, i)) {
          case SQLITE_NULL: r.emplace_back(); break;
          case SQLITE_INTEGER: r.emplace_back(static_cast<int64_t>(sqlite3_column_int64(st, i))); break;
          case SQLITE_FLOAT: r.emplace_back(sqlite3_column_double(st, i)); break;
          default: r.emplace_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)))); break;
        }
      }
      rows.push_back(std::move(r));
    }
    sqlite3_finalize(st);
    return rows;
  }

  // Runs a script through a new processor and reads the result of its last statement.
  Rows Run(const std::string& Sql, bool RequestLive = false) {
    processor = std::make_unique<TORVLocalSQLProcessor>(query.get());
    processor->FRequestLive = RequestLive;
    processor->PrepareStatement(Sql);
    processor->OpenQuery();
    TORVAODataset* ds = processor->GetResultDataset();
    return ds ? Read(*ds) : Rows();
  }
  static Rows Read(TORVAODataset& ds) {
    Rows rows;
    TORVVariant v;
    for (ds.First(); !ds.Eof(); ds.Next()) {
      std::vector<Cell> r;
      for (int32_t i = 0; i < ds.FieldCount(false); ++i) {
        ds.GetFieldValue(v, i, false);
        if (v.IsNull())
          r.emplace_back();
        else if (v.IsStringDataType() || v.IsWideStringDataType())
          r.emplace_back(v.GetDataAsAnsiString());
        else if (v.DataType() == bftDouble || v.DataType() == bftSingle || v.DataType() == bftExtended)
          r.emplace_back(v.GetDataAsDouble());
        else
          r.emplace_back(v.GetDataAsSignedInt64());
      }
      rows.push_back(std::move(r));
    }
    return rows;
  }
  std::vector<std::string> ColumnNames() {
    std::vector<std::string> names;
    TORVAODataset* ds = processor->GetResultDataset();
    for (int32_t i = 0; ds && i < ds->FieldCount(false); ++i) names.push_back(ds->FieldDef(i, false)->Name);
    return names;
  }

  TORVScopedExpressionEngine expressions;
  std::unique_ptr<TORVLocalSession> memory;
  std::unique_ptr<TORVLocalSession> temp;
  std::unique_ptr<TORVSessionSQLQuery> query;
  std::unique_ptr<TORVLocalSQLProcessor> processor;
  sqlite3* db = nullptr;
};

// Stands in for the INSERT statement, which a later module registers: it appends one row to U
// and counts it, so that a script can be seen to run statement by statement.
class InsertDouble : public TORVSQLCommand {
 public:
  using TORVSQLCommand::TORVSQLCommand;
  void Parse() override {
    while (GetNextToken()) {
    }
  }
  void ExecSQL(IORVSQLQuery* Query, bool, bool, bool&, IORVAO*, TORVCursor*) override {
    TORVAODataset ds(Query->GetTableSession(false), Query->GetTempSession());
    ds.Open("U");
    ds.Append();
    TORVVariant v;
    v.SetDataAsSignedInt64(99);
    ds.SetFieldValue(v, 0);
    ds.Post(false);
    RowsAffected = 1;
  }
};

inline Cell I(int64_t v) { return v; }
inline Cell D(double v) { return v; }
inline Cell S(std::string v) { return v; }
inline Cell N() { return std::monostate{}; }

}  // namespace orv::testing
