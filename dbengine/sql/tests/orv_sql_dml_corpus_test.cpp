// The data-changing corpus (tests/data/corpus/dml.sql) through the query component on a
// database file, against SQLite: rows changed equal SQLite's changes() after every INSERT,
// UPDATE and DELETE, and the tables are equal row by row after every statement, also across
// START TRANSACTION ... ROLLBACK and COMMIT. The run is left in test-output/sql.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/sql/orv_sql_ddl.h"
#include "dbengine/sql/orv_query.h"
#include "dbengine/sql/tests/sql_test_support.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {
namespace {

using testing::Rows;

std::string Trim(std::string s) {
  const size_t b = s.find_first_not_of(" \t\r");
  const size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::string FirstWord(const std::string& Sql) {
  std::istringstream in(Sql);
  std::string w;
  in >> w;
  return AnsiUpperCase(w);
}

class DmlCorpus : public testing::SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    CreateFile(dir.File("corpus.odb"));
    database = NewDatabase("corpus", dir.File("corpus.odb"));
    database->SetMultiUser(true);
    database->Open();
  }
  void TearDown() override {
    database.reset();
    SqlTest::TearDown();
  }
  Rows Query(const std::string& Sql, int32_t* Changed) {
    TORVQuery q;
    q.SetDatabaseName("corpus");
    q.SetSQL(Sql);
    if (FirstWord(Sql) != "SELECT") {
      q.ExecSQL();
      if (Changed) *Changed = q.RowsAffected();
      return {};
    }
    q.Open();
    Rows rows;
    for (q.First(); !q.Eof(); q.Next()) {
      std::vector<testing::Cell> r;
      for (int i = 0; i < q.FieldCount(); ++i) {
        platform::data::TField* f = q.Fields()[i];
        if (f->IsNull())
          r.emplace_back();
        else if (f->DataType() == platform::data::ftString || f->DataType() == platform::data::ftWideString)
          r.emplace_back(f->AsString());
        else if (f->DataType() == platform::data::ftFloat)
          r.emplace_back(f->AsFloat());
        else
          r.emplace_back(static_cast<int64_t>(f->AsLargeInt()));
      }
      rows.push_back(std::move(r));
    }
    return rows;
  }
  std::unique_ptr<TORVDatabase> database;
};

TEST_F(DmlCorpus, ChangesAndTablesAgreeWithSqlite) {
  std::ifstream in(std::string(QUIRVEL_TEST_DATA) + "/corpus/dml.sql");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (line = Trim(line); !line.empty() && line.rfind("--", 0) != 0) lines.push_back(line);
  ASSERT_GE(lines.size(), 40u) << "the corpus file is missing or cut";
  std::filesystem::create_directories(QUIRVEL_TEST_OUTPUT);
  std::ofstream report(std::string(QUIRVEL_TEST_OUTPUT) + "/dml_corpus_report.txt");

  std::vector<std::string> tables;
  for (const std::string& line : lines) {
    const size_t bar = line.find("|||");
    const std::string ours = Trim(line.substr(0, bar));
    const std::string theirs = bar == std::string::npos ? ours : Trim(line.substr(bar + 3));
    SCOPED_TRACE(ours);
    int32_t changed = -1;
    try {
      Query(ours, &changed);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "raised: " << e.what();
      report << "FAIL  " << ours << "\n  raised: " << e.what() << "\n";
      continue;
    }
    Exec(theirs);
    std::string problem;
    const std::string word = FirstWord(ours);
    if ((word == "INSERT" || word == "UPDATE" || word == "DELETE") && changed != sqlite3_changes(db))
      problem += "  changed " + std::to_string(changed) + ", sqlite " + std::to_string(sqlite3_changes(db)) + "\n";
    // The tables SQLite has are the ones both must have.
    tables.clear();
    for (const auto& row : Sqlite("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"))
      tables.push_back(std::get<std::string>(row[0]));
    for (const std::string& table : tables) {
      const size_t columns = Sqlite("SELECT * FROM " + table + " LIMIT 1").empty()
                                 ? 0
                                 : Sqlite("SELECT * FROM " + table + " LIMIT 1")[0].size();
      std::string order;
      for (size_t c = 1; c <= columns; ++c) order += (c > 1 ? ", " : " ORDER BY ") + std::to_string(c);
      const std::string select = "SELECT * FROM " + table + order;
      const Rows a = Query(select, nullptr), b = Sqlite(select);
      if (!testing::SameRows(a, b))
        problem += "  " + table + " differs\n  engine:\n" + testing::RowsText(a) + "  sqlite:\n" + testing::RowsText(b);
    }
    report << (problem.empty() ? "ok    " : "FAIL  ") << ours << "\n" << problem;
    if (!problem.empty()) ADD_FAILURE() << problem;
  }
}

}  // namespace
}  // namespace orv

namespace orv {
namespace {

TEST_F(DmlCorpus, CommitFlushAndBlobValues) {
  {
    TORVLexer lexer("COMMIT WORK FLUSH; COMMIT", nullptr, false);
    lexer.GetNextCommand();
    EXPECT_TRUE(MakeCommand<TORVSQLCommit>(lexer, nullptr)->FFlush);
    lexer.GetNextCommand();
    EXPECT_FALSE(MakeCommand<TORVSQLCommit>(lexer, nullptr)->FFlush);
  }
  Query("CREATE TABLE B (ID INTEGER, BL BLOB, M MEMO)", nullptr);
  Query("START TRANSACTION", nullptr);
  int32_t changed = 0;
  Query("INSERT INTO B VALUES (1, 'as text', 'memo'), (2, NULL, 'x')", &changed);
  EXPECT_EQ(changed, 2);
  Query("UPDATE B SET M = NULL, BL = 'new' WHERE ID = 2", &changed);
  Query("COMMIT FLUSH", nullptr);
  // What the commit flushed is in the file for a database opened afresh.
  database.reset();
  database = NewDatabase("corpus", dir.File("corpus.odb"));
  database->Open();
  TORVTable t;
  t.SetDatabaseName("corpus");
  t.SetTableName("B");
  t.Open();
  std::string rows;
  for (t.First(); !t.Eof(); t.Next())
    for (const char* f : {"ID", "BL", "M"})
      rows += (t.FieldByName(f)->IsNull() ? std::string("NULL") : t.FieldByName(f)->AsString()) + "|";
  t.Close();
  EXPECT_EQ(rows, "1|as text|memo|2|new|NULL|");
}

}  // namespace
}  // namespace orv

namespace orv {
namespace {

TEST_F(DmlCorpus, StatementsOnATableOfAnotherFile) {
  const std::string other = dir.File("other.odb");
  CreateFile(other);
  const std::string t = "'" + other + "'.X";
  int32_t changed = 0;
  Query("CREATE TABLE " + t + " (A INTEGER, B VARCHAR(4))", nullptr);
  Query("CREATE INDEX ix ON " + t + " (A)", nullptr);
  Query("INSERT INTO " + t + " VALUES (1, 'a'), (2, 'b'), (3, 'c')", &changed);
  EXPECT_EQ(changed, 3);
  Query("UPDATE " + t + " SET B = 'z' WHERE A >= 2", &changed);
  EXPECT_EQ(changed, 2);
  Query("DELETE FROM " + t + " WHERE A = 1", &changed);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(testing::RowsText(Query("SELECT A, B FROM " + t + " ORDER BY A", nullptr)), "2|'z'\n3|'z'\n");
  Query("DROP INDEX '" + other + "'.X.ix", nullptr);
  Query("ALTER TABLE " + t + " ADD (C INTEGER)", nullptr);
  EXPECT_EQ(testing::RowsText(Query("SELECT * FROM " + t + " ORDER BY A", nullptr)), "2|'z'|NULL\n3|'z'|NULL\n");
  Query("DROP TABLE " + t, nullptr);
  // The table was the other file's: this database never had one.
  EXPECT_THROW(Query("SELECT * FROM X", nullptr), std::exception);
}

}  // namespace
}  // namespace orv
