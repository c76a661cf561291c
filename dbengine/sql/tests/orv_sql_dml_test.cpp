// INSERT, UPDATE and DELETE against SQLite: the same statements on the same rows must change
// the same rows (sqlite3_changes) and leave equal tables.
#include <gtest/gtest.h>

#include "dbengine/sql/orv_sql_dml.h"
#include "dbengine/sql/tests/sql_test_support.h"
#include "dbengine/storage/orv_except.h"

namespace orv {
namespace {

using testing::D;
using testing::I;
using testing::N;
using testing::S;

class Dml : public testing::SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    MakeTable("T", {{"ID", aftInteger}, {"A", aftInteger}, {"B", aftInteger}, {"NAME", aftString, 10}},
              {{I(1), I(10), I(1), S("x")},
               {I(2), I(20), I(2), S("y")},
               {I(3), I(10), I(3), S("z")},
               {I(4), N(), I(2), S("w")},
               {I(5), I(50), I(5), N()}},
              {"B"});
    MakeTable("U", {{"ID", aftInteger}, {"C", aftInteger}, {"D", aftString, 10}},
              {{I(1), I(100), S("one")}, {I(3), I(300), S("three")}, {I(9), I(900), S("nine")}});
  }
  // Runs the statement here and in SQLite (its own text when given) and compares the counts.
  void Both(const std::string& Sql, const std::string& Lite = {}) {
    SCOPED_TRACE(Sql);
    Run(Sql);
    Exec(Lite.empty() ? Sql : Lite);
    EXPECT_EQ(processor->FRowsAffected, sqlite3_changes(db));
  }
  void ExpectSameTable(const std::string& Name) {
    const std::string sql = "SELECT * FROM " + Name + " ORDER BY ID";
    const testing::Rows ours = Run(sql), theirs = Sqlite(sql);
    EXPECT_TRUE(testing::SameRows(ours, theirs)) << Name << "\nours:\n"
                                                 << testing::RowsText(ours) << "sqlite:\n"
                                                 << testing::RowsText(theirs);
  }
  int32_t ErrorCode(const std::string& Sql) {
    try {
      Run(Sql);
    } catch (const EORVException& e) {
      return e.NativeError();
    } catch (const std::exception&) {
      return -1;  // a record refused by the engine
    }
    return 0;
  }
};

TEST_F(Dml, StatementsChangeWhatSqliteChanges) {
  const char* script[] = {
      "INSERT INTO T VALUES (6, 60, 6, 'v'), (7, NULL, 2, 'u')",
      "INSERT INTO T (ID, NAME) VALUES (8, 'only')",
      "INSERT INTO T (NAME, ID, B) VALUES ('swap', 9, 1 + 1)",
      "INSERT INTO U (ID, C) SELECT ID + 100, A FROM T WHERE A IS NOT NULL",
      "INSERT INTO T SELECT ID + 1000, A, B, NAME FROM T",
      "UPDATE T SET A = A * 2 + 1 WHERE B = 2",
      "UPDATE T SET NAME = 'n' || NAME, A = ID WHERE ID > 1000 AND B BETWEEN 2 AND 3",
      "UPDATE T SET A = B, B = A WHERE ID < 4",
      "UPDATE T SET A = (SELECT C FROM U WHERE U.ID = T.ID) WHERE ID IN (SELECT ID FROM U)",
      "UPDATE T SET A = NULL WHERE NAME IS NULL",
      "DELETE FROM T WHERE B = 2",
      "DELETE FROM T WHERE ID IN (SELECT ID - 1000 FROM T WHERE ID > 1000) AND A > 15",
      "DELETE FROM U WHERE NOT EXISTS (SELECT * FROM T WHERE T.ID = U.ID)",
      "UPDATE T SET B = B + 1",
      "DELETE FROM T",
  };
  for (const char* sql : script) {
    Both(sql);
    ExpectSameTable("T");
    ExpectSameTable("U");
  }
}

TEST_F(Dml, UpdateOfTheIndexedColumnChangesEachRowOnce) {
  // The view walks the index on B: a row moved further along it must not be met again.
  Both("UPDATE T SET B = B + 1 WHERE B >= 2");
  ExpectSameTable("T");
  Both("UPDATE T SET B = B + 10 WHERE B > 0");
  ExpectSameTable("T");
}

TEST_F(Dml, RowSubquerySetsSeveralColumns) {
  Run("UPDATE T SET (A, NAME) = (SELECT C, D FROM U WHERE U.ID = T.ID) WHERE ID IN (1, 3)");
  EXPECT_EQ(processor->FRowsAffected, 2);
  EXPECT_EQ(testing::RowsText(Run("SELECT ID, A, NAME FROM T WHERE ID IN (1, 3) ORDER BY ID")),
            "1|100|'one'\n3|300|'three'\n");
}

TEST_F(Dml, ParametersOfSetAndWhere) {
  // The WHERE clause's parameters travel with its tokens into the row-finding select.
  processor = std::make_unique<TORVLocalSQLProcessor>(query.get());
  TORVSQLParam* v = processor->FSQLParams.AddCreated();
  v->Name = "v";
  v->SetDataAsSignedInt64(77);
  TORVSQLParam* low = processor->FSQLParams.AddCreated();
  low->Name = "low";
  low->SetDataAsSignedInt64(3);
  processor->PrepareStatement("UPDATE T SET A = :v WHERE ID >= :low; INSERT INTO U VALUES (:low, :v, 'p')");
  processor->OpenQuery();
  EXPECT_EQ(processor->FRowsAffected, 4);
  EXPECT_EQ(testing::RowsText(Run("SELECT ID, A FROM T WHERE A = 77 ORDER BY ID")), "3|77\n4|77\n5|77\n");
  EXPECT_EQ(testing::RowsText(Run("SELECT C FROM U WHERE D = 'p'")), "77\n");
}

TEST_F(Dml, AliasAndQualifiedColumns) {
  Run("UPDATE T x SET T.A = 7 WHERE x.ID = 2");
  EXPECT_EQ(testing::RowsText(Run("SELECT A FROM T WHERE ID = 2")), "7\n");
  EXPECT_EQ(ErrorCode("UPDATE T x SET x.A = 1"), 30221) << "the alias does not qualify a SET column";
}

TEST_F(Dml, ParseAndRunErrors) {
  struct Case {
    const char* Sql;
    int32_t Code;
  } cases[] = {
      {"INSERT INTO T (ID, A) VALUES (1)", 20259},
      {"INSERT INTO T (ID) VALUES (1), (2, 3)", 20259},  // every row is checked, not only the first
      {"INSERT INTO T VALUES (1, 2, 3, 'a', 5)", 20259},
      {"INSERT INTO T (ID, A)", 30213},
      {"INSERT INTO T", 30209},
      {"INSERT T VALUES (1)", 30206},
      {"INSERT INTO T VALUES (1 2)", 30212},  // a comma, not any token, separates values
      {"INSERT INTO T VALUES 1", 30214},
      {"INSERT INTO T VALUES (1) x", 20260},
      {"UPDATE T SET A 1", 30221},
      {"UPDATE T SET A = 1 B = 2", 30222},
      {"UPDATE T A = 1", 30220},
      {"UPDATE T SET A = 1 WHER ID = 1", 30222},
      {"DELETE FROM T WHER ID = 5", 20260},
      {"UPDATE T SET NOPE = 1", 30258},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorCode(c.Sql), c.Code) << c.Sql;
  EXPECT_NE(ErrorCode("DELETE T"), 0) << "FROM is required";
  // An unknown column inside a computed select item: the statement fails and is freed cleanly.
  for (const char* sql : {"INSERT INTO U SELECT NOPE + 1, 2, 'x' FROM T", "SELECT NOPE + 1, ID FROM T"})
    EXPECT_NE(ErrorCode(sql), 0) << sql;
  // None of them changed a row.
  EXPECT_EQ(testing::RowsText(Run("SELECT COUNT(*) FROM T")), "5\n");
}

TEST_F(Dml, FailedRowIsCancelledEarlierRowsStay) {
  // A value the column cannot take stops the statement at that row; rows posted before stay.
  EXPECT_NE(ErrorCode("INSERT INTO T (ID, NAME) VALUES (20, 'ok'), (21, 'much too long for ten')"), 0);
  EXPECT_EQ(testing::RowsText(Run("SELECT ID FROM T WHERE ID >= 20")), "20\n");
}

}  // namespace
}  // namespace orv
