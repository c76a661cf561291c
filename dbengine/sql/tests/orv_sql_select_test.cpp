// Statements run through the processor over MEMORY tables: the processor's script rules, the
// parsed shapes of SELECT and set operations, the plan's errors and live results, subqueries.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "dbengine/sql/orv_sql_select.h"
#include "dbengine/sql/orv_sql_subquery.h"
#include "dbengine/sql/tests/sql_test_support.h"
#include "dbengine/storage/tests/expect_code.h"

namespace orv {
namespace {

using testing::D;
using testing::I;
using testing::N;
using testing::Rows;
using testing::S;

class Select : public testing::SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    MakeTable("T", {{"ID", aftInteger}, {"A", aftInteger}, {"NAME", aftString, 10}, {"V", aftDouble}},
              {{I(1), I(10), S("x"), D(1.5)},
               {I(2), I(20), S("y"), D(2.5)},
               {I(3), I(10), S("z"), N()},
               {I(4), N(), S("x"), D(4.0)}});
    MakeTable("U", {{"ID", aftInteger}, {"TID", aftInteger}, {"W", aftInteger}},
              {{I(1), I(1), I(100)}, {I(2), I(1), I(200)}, {I(3), I(3), I(300)}, {I(4), I(9), I(400)}});
  }
};

TEST_F(Select, Smoke) {
  EXPECT_EQ(testing::RowsText(Run("SELECT ID, A FROM T ORDER BY ID")), "1|10\n2|20\n3|10\n4|NULL\n");
  EXPECT_EQ(testing::RowsText(Run("SELECT ID, A + 1 AS B FROM T WHERE A = 10 ORDER BY ID")), "1|11\n3|11\n");
  EXPECT_EQ(testing::RowsText(Run("SELECT A, COUNT(*) AS N FROM T GROUP BY A ORDER BY A")),
            "NULL|1\n10|2\n20|1\n");
  EXPECT_EQ(testing::RowsText(Run("SELECT T.ID, U.W FROM T JOIN U ON T.ID = U.TID ORDER BY 2")),
            "1|100\n1|200\n3|300\n");
  EXPECT_EQ(testing::RowsText(Run("SELECT ID FROM T WHERE ID IN (SELECT TID FROM U) ORDER BY ID")), "1\n3\n");
  EXPECT_EQ(testing::RowsText(
                Run("SELECT ID FROM T WHERE EXISTS (SELECT * FROM U WHERE U.TID = T.ID AND U.W > 150) ORDER BY ID")),
            "1\n3\n");
}


// ---- The processor's script rules -----------------------------------------------------------------

class Processor : public Select {
 protected:
  void SetUp() override {
    Select::SetUp();
    previous = RegisterSQLCommand(TORVSQLStatement::Insert, [](TORVLexer& Lexer, IORVSQLQuery* Query) {
      return MakeCommand<testing::InsertDouble>(Lexer, Query);
    });
  }
  void TearDown() override {
    RegisterSQLCommand(TORVSQLStatement::Insert, previous);
    Select::TearDown();
  }
  int64_t CountU() { return std::get<int64_t>(Run("SELECT COUNT(*) AS N FROM U")[0][0]); }
  TORVSQLCommandMaker previous;
};

TEST_F(Processor, ScriptRunsStatementByStatement) {
  EXPECT_EQ(testing::RowsText(Run("INSERT INTO U VALUES (99); SELECT COUNT(*) AS N FROM U")), "5\n");
  EXPECT_EQ(processor->FRowsAffected, 1) << "the INSERT's row counts, the SELECT's rows do not";
  EXPECT_TRUE(processor->FReadOnly);

  // An error in the second statement leaves the first applied: there is no implicit transaction.
  try {
    Run("INSERT INTO U VALUES (99); SELECT NOPE FROM U");
    ADD_FAILURE() << "the second statement names no column of U";
  } catch (const EORVException&) {
  }
  EXPECT_EQ(processor->FRowsAffected, 1);
  EXPECT_EQ(CountU(), 6);

  // A script ending with a statement that produces no rows returns no cursor.
  processor = std::make_unique<TORVLocalSQLProcessor>(query.get());
  processor->PrepareStatement("SELECT ID FROM U; INSERT INTO U VALUES (99)");
  EXPECT_EQ(processor->OpenQuery(), nullptr);
  EXPECT_EQ(processor->FRowsAffected, 1);
}

TEST_F(Processor, Errors) {
  const auto run = [&](const std::string& Sql) { return [this, Sql] { Run(Sql); }; };
  ExpectCode(30145, run(""));
  ExpectCode(30145, run("  -- only a comment"));
  ExpectCode(20260, run("SELECT ID FROM T LIMIT 5"),
             // LIMIT is read as the table's alias
             "End of SQL command expected, but '5' found at line 1, column 24 - Native error: 20260");
  ExpectCode(30147, run("CREATE VIEW V AS SELECT ID FROM T"),
             "Object type keyword expected, but 'VIEW' found at line 1, column 8 - Native error: 30147");
  ExpectCode(30148, run("CREATE"), "Unexpected end of SQL command found at line 1, column 1 - Native error: 30148");
  ExpectCode(30149, run("DROP VIEW V"));
  ExpectCode(30353, run("RENAME TABLE"));
  ExpectCode(30153, run("GRANT ALL ON T"));
  ExpectCode(30154, run("FOO BAR"));
  ExpectCode(30184, run("SELECT *, ID FROM T"));
  ExpectCode(30158, run("SELECT TOP DISTINCT ID FROM T"));
  ExpectCode(30195, run("SELECT ID FROM T ORDER BY NOPE"));
  ExpectCode(20243, run("SELECT ID FROM T ORDER BY 2"));
  ExpectCode(30144, run("SELECT ID FROM T WHERE NOPE = 1"));
  ExpectCode(20244, run("SELECT A, COUNT(*) AS N FROM T GROUP BY A HAVING NOPE > 1"));
  ExpectCode(20270, run("SELECT C.ID FROM U C, T JOIN U ON U.W = C.W"));
  ExpectCode(20272, run("SELECT ID FROM T UNION SELECT ID INTO X FROM U"));
  // A data-changing statement's error names what it could not find.
  try {
    Run("UPDATE T SET NOPE = 1");
    ADD_FAILURE();
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("NOPE"), std::string::npos) << e.what();
  }
}

// SELECT ... INTO leaves the result as a stored table; SQLite's CREATE TABLE ... AS SELECT over
// the same rows says what it must hold. The statement still returns its result.
Rows Sorted(Rows R) {
  std::sort(R.begin(), R.end());
  return R;
}

TEST_F(Processor, SelectIntoStoresTheResult) {
  struct Case {
    const char* Into;  // our statement
    const char* Peer;  // SQLite's
    bool Live;
  };
  const Case cases[] = {
      {"SELECT * INTO X1 FROM T", "CREATE TABLE X1 AS SELECT * FROM T", true},
      {"SELECT ID, A * 2 AS B, NAME INTO X2 FROM T WHERE ID > 1",
       "CREATE TABLE X2 AS SELECT ID, A * 2 AS B, NAME FROM T WHERE ID > 1", false},
      {"SELECT T.ID, U.W INTO X3 FROM T LEFT JOIN U ON T.ID = U.TID",
       "CREATE TABLE X3 AS SELECT T.ID, U.W FROM T LEFT JOIN U ON T.ID = U.TID", false},
      {"SELECT A, COUNT(*) AS N, SUM(V) AS S INTO X4 FROM T GROUP BY A",
       "CREATE TABLE X4 AS SELECT A, COUNT(*) AS N, SUM(V) AS S FROM T GROUP BY A", false},
      {"SELECT DISTINCT NAME INTO MEMORY X5 FROM T ORDER BY NAME",
       "CREATE TABLE X5 AS SELECT DISTINCT NAME FROM T ORDER BY NAME", false},
      {"SELECT ID INTO X6 FROM T WHERE ID > 100", "CREATE TABLE X6 AS SELECT ID FROM T WHERE ID > 100", true},
      // A second INTO the same name replaces the table.
      {"SELECT W, ID INTO X2 FROM U WHERE W > 100", "DROP TABLE X2; CREATE TABLE X2 AS SELECT W, ID FROM U WHERE W > 100",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Into);
    const Rows returned = Run(c.Into, c.Live);
    Exec(c.Peer);
    const std::string table = std::string(c.Into).substr(std::string(c.Into).find("X"), 2);
    const Rows stored = Sorted(Run("SELECT * FROM " + table));
    EXPECT_TRUE(testing::SameRows(stored, Sorted(Sqlite("SELECT * FROM " + table)))) << testing::RowsText(stored);
    EXPECT_TRUE(testing::SameRows(Sorted(returned), stored)) << testing::RowsText(returned);
  }
  Run("SELECT * FROM X2");
  EXPECT_EQ(ColumnNames(), (std::vector<std::string>{"W", "ID"}));
}

// An import that cannot store the result raises 10403 with the import's account and changes
// nothing: the table being read cannot be replaced by its own result, nor one held open.
TEST_F(Processor, SelectIntoThatCannotStoreRaises) {
  const std::string before = testing::RowsText(Run("SELECT * FROM T ORDER BY ID"));
  try {
    Run("SELECT * INTO T FROM T WHERE ID > 2", true);
    ADD_FAILURE() << "the table being read was replaced";
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 10403) << e.what();
    EXPECT_NE(std::string(e.what()).find("Cannot create table"), std::string::npos) << e.what();
  }
  EXPECT_EQ(testing::RowsText(Run("SELECT * FROM T ORDER BY ID")), before);
  TORVAODataset holder(memory.get(), temp.get());
  holder.Open("U");
  ExpectCode(10403, [&] { Run("SELECT ID INTO U FROM T"); });
  holder.Close();
  EXPECT_EQ(testing::RowsText(Run("SELECT ID FROM U ORDER BY ID")), "1\n2\n3\n4\n");
}

TEST_F(Processor, LiveResults) {
  // A live request for one plain table returns the table itself, filtered: editable.
  EXPECT_EQ(testing::RowsText(Run("SELECT * FROM T WHERE A = 10", true)), "1|10|'x'|1.5\n3|10|'z'|NULL\n");
  EXPECT_FALSE(processor->FReadOnly);
  auto* root = dynamic_cast<TORVSQLCursorCommand*>(processor->LastCommand());
  ASSERT_TRUE(root && root->Root());
  EXPECT_TRUE(root->Root()->IsAOTable());
  EXPECT_FALSE(processor->OpenQuery()->FReadOnly);
  // Without RequestLive, or with anything computed, grouped or limited, a read-only copy.
  for (const auto& [sql, live] : std::vector<std::pair<std::string, bool>>{
           {"SELECT * FROM T WHERE A = 10", false},
           {"SELECT ID, A + 1 AS B FROM T", true},
           {"SELECT A, COUNT(*) AS N FROM T GROUP BY A", true},
           {"SELECT TOP 2 ID FROM T", true},
           {"SELECT T.ID FROM T JOIN U ON T.ID = U.TID", true}}) {
    Run(sql, live);
    EXPECT_TRUE(processor->FReadOnly) << sql;
    EXPECT_TRUE(processor->OpenQuery()->FReadOnly) << sql;
  }
}

TEST_F(Select, ColumnNamesAndOrder) {
  EXPECT_EQ(testing::RowsText(Run("SELECT ID, ID FROM T WHERE ID = 2")), "2|2\n");
  EXPECT_EQ(ColumnNames(), (std::vector<std::string>{"ID", "ID_1"}));
  Run("SELECT ID, ID AS X FROM T WHERE ID = 2");
  EXPECT_EQ(ColumnNames(), (std::vector<std::string>{"ID", "X"}));
  // ORDER BY moved from the last select to the whole union; a parenthesised union likewise.
  EXPECT_EQ(testing::RowsText(Run("SELECT A FROM T UNION SELECT W FROM U ORDER BY A DESC")),
            "400\n300\n200\n100\n20\n10\nNULL\n");
  EXPECT_EQ(testing::RowsText(Run("(SELECT ID FROM T) UNION (SELECT W FROM U) ORDER BY 1 DESC")),
            "400\n300\n200\n100\n4\n3\n2\n1\n");
  EXPECT_EQ(testing::RowsText(Run("SELECT TOP 2, 2 ID FROM T ORDER BY ID DESC")), "3\n2\n");
  EXPECT_EQ(testing::RowsText(Run("SELECT DISTINCT TOP 2 A FROM T ORDER BY A")), "NULL\n10\n");
  // A FROM subquery is read by its alias in the select list and WHERE.
  EXPECT_EQ(testing::RowsText(Run("SELECT S.I FROM (SELECT ID AS I, A FROM T) S WHERE S.A = 10 ORDER BY S.I")),
            "1\n3\n");
  // The outer join keeps its own ON condition: rows of T without a matching U still appear.
  EXPECT_EQ(testing::RowsText(
                Run("SELECT T.ID, U.W FROM T LEFT JOIN U ON T.ID = U.TID AND U.W = 200 ORDER BY 1")),
            "1|200\n2|NULL\n3|NULL\n4|NULL\n");
}

// ---- The parsed shapes --------------------------------------------------------------------------------

class Shapes : public Select {
 protected:
  std::string Shape(const std::string& Sql) {
    lexers.push_back(std::make_unique<TORVLexer>(Sql, nullptr, false));
    lexers.back()->GetNextCommand();
    return QueryShape(*MakeCommand<TORVSQLUnion>(*lexers.back(), query.get()));
  }
  int32_t Code(const std::string& Sql) {
    try {
      Shape(Sql);
    } catch (const EORVException& e) {
      return e.NativeError();
    }
    return 0;
  }
  std::vector<std::unique_ptr<TORVLexer>> lexers;
};

TEST_F(Shapes, JoinsAndSetOperations) {
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT * FROM A JOIN B ON P = 1 JOIN C ON Q = 1",
       "(select (join inner (join inner (table A) (table B) on) (table C) on))"},
      {"SELECT * FROM A JOIN B JOIN C ON Q = 1 ON P = 1",
       "(select (join inner (table A) (join inner (table B) (table C) on) on))"},
      {"SELECT * FROM A NATURAL JOIN B", "(select (join natural inner (table A) (table B)))"},
      {"SELECT * FROM A LEFT OUTER JOIN B USING (ID, K)", "(select (join left (table A) (table B) (using ID K)))"},
      {"SELECT * FROM A CROSS JOIN B", "(select (join cross (table A) (table B)))"},
      {"SELECT * FROM A, B X, MEMORY F.C AS Y PASSWORD 'p'", "(select (table A) (table B X) (table F.C Y))"},
      {"SELECT * FROM (A FULL JOIN B ON P = 1) Z", "(select (join full (table A) (table B) on))"},
      {"SELECT * FROM (SELECT ID FROM U UNION SELECT ID FROM T) S",
       "(select (subquery S (union (select (table U)) (select (table T)))))"},
      {"SELECT A FROM T UNION SELECT A FROM U INTERSECT SELECT A FROM V",
       "(union (select (table T)) (intersect (select (table U)) (select (table V))))"},
      {"SELECT A FROM T EXCEPT ALL SELECT A FROM U MINUS SELECT A FROM V",
       "(except (except all (select (table T)) (select (table U))) (select (table V)))"},
      {"(SELECT A FROM T UNION CORRESPONDING BY (A, B) SELECT A FROM U) INTERSECT CORRESPONDING SELECT A FROM V",
       "(intersect corresponding (union corresponding A B (select (table T)) (select (table U))) (select (table V)))"},
  };
  for (const auto& [sql, shape] : cases) EXPECT_EQ(Shape(sql), shape) << sql;
  EXPECT_EQ(Code("SELECT * FROM A CROSS OUTER JOIN B"), 30175);
  EXPECT_EQ(Code("SELECT TOP 3 DISTINCT A FROM T"), 30160);
  EXPECT_EQ(Code("SELECT DISTINCT TOP 3 A FROM T"), 0);
  EXPECT_EQ(Code("SELECT A FROM T GROUP A"), 30185);
  EXPECT_EQ(Code("SELECT A FROM T GROUP BY A + 1"), 10409);
  EXPECT_EQ(Code("SELECT A FROM T ORDER A"), 30188);
  EXPECT_EQ(Code("SELECT A FROM T JOIN U USING ID"), 30167);
  EXPECT_EQ(Code("SELECT A FROM T, 5"), 30181);
  EXPECT_EQ(Code("SELECT A FROM"), 30161);
  EXPECT_EQ(Code("SELECT A FROM T PASSWORD X"), 30178);
}

TEST_F(Shapes, TableReferenceParts) {
  lexers.push_back(std::make_unique<TORVLexer>("SELECT * FROM MEMORY \"f.odb\".TBL AS Q PASSWORD 'pw'", nullptr, false));
  lexers.back()->GetNextCommand();
  auto u = MakeCommand<TORVSQLUnion>(*lexers.back(), query.get());
  const TORVTableReference& ref = *u->FRootNode->SelectCommand->FromTables[0];
  EXPECT_EQ(ref.DatabaseName, "f.odb");
  EXPECT_EQ(ref.TableName, "TBL");
  EXPECT_EQ(ref.Pseudonym, "Q");
  EXPECT_EQ(ref.Password, "pw");
  EXPECT_TRUE(ref.InMemory);
  // TOP n, m and INTO reach the command.
  lexers.push_back(std::make_unique<TORVLexer>("SELECT TOP 10, 5 * INTO MEMORY IMMEDIATE D.X FROM T", nullptr, false));
  lexers.back()->GetNextCommand();
  u = MakeCommand<TORVSQLUnion>(*lexers.back(), query.get());
  const TORVSQLSelect& s = *u->FRootNode->SelectCommand;
  EXPECT_EQ(s.TopRowCount, 10);
  EXPECT_EQ(s.FirstRowNo, 5);
  EXPECT_EQ(u->IntoDatabase, "D");
  EXPECT_EQ(u->IntoTable, "X");
  EXPECT_TRUE(u->IntoMemory);
  EXPECT_TRUE(u->IntoImmediate);
}

// ---- Subquery nodes ------------------------------------------------------------------------------------

class Subqueries : public Select {
 protected:
  void TearDown() override {
    // The nodes hold result tables of the engine: they go before it.
    expr.reset();
    Select::TearDown();
  }
  // The subquery node of "X IN (SELECT ...)" parsed over the fixture's query.
  TORVExprNodeSubquery& Node(const std::string& Condition) {
    RegisterSubqueryNodeFactory();
    lexer = std::make_unique<TORVLexer>(Condition, nullptr, false);
    lexer->GetNextCommand();
    expr = std::make_unique<TORVExpression>();
    expr->ParseForBooleanExpression(query.get(), lexer.get());
    auto* node = dynamic_cast<TORVExprNodeSubquery*>(expr->Root()->Child(1));
    if (!node) throw std::logic_error("no subquery node");
    return *node;
  }
  static std::unique_ptr<TORVVariant> Int(int64_t v) {
    auto x = std::make_unique<TORVVariant>();
    x->SetDataAsSignedInt64(v);
    return x;
  }
  std::unique_ptr<TORVLexer> lexer;
  std::unique_ptr<TORVExpression> expr;
};

TEST_F(Subqueries, UncorrelatedRunsOnceAndCachesIn) {
  TORVExprNodeSubquery& node = Node("X IN (SELECT TID FROM U WHERE W > 100)");
  EXPECT_FALSE(node.Correlated());
  const auto one = Int(1), three = Int(3), nine = Int(9);
  EXPECT_TRUE(node.IsValueIn(*one));
  EXPECT_TRUE(node.IsValueIn(*one));
  EXPECT_EQ(node.LocateCount(), 1) << "the same value on consecutive records locates once";
  EXPECT_TRUE(node.IsValueIn(*three));
  EXPECT_TRUE(node.IsValueIn(*nine));
  EXPECT_EQ(node.LocateCount(), 3);
  EXPECT_FALSE(node.IsValueIn(TORVVariant()));
  EXPECT_EQ(node.RunCount(), 1) << "an uncorrelated query runs once";
}

TEST_F(Subqueries, CorrelationAndQuantifiers) {
  EXPECT_TRUE(Node("X IN (SELECT TID FROM U WHERE U.TID = T.ID)").Correlated());
  TORVExprNodeSubquery& all = Node("X > ALL (SELECT W FROM U WHERE W > 1000)");
  EXPECT_TRUE(all.QuantifiedCompare(doGT, qALL, *Int(5))) << "no row violates it";
  EXPECT_FALSE(all.QuantifiedCompare(doGT, qANY, *Int(5)));
  TORVExprNodeSubquery& some = Node("X > ALL (SELECT W FROM U)");
  EXPECT_TRUE(some.QuantifiedCompare(doGT, qALL, *Int(401)));
  EXPECT_FALSE(some.QuantifiedCompare(doGT, qALL, *Int(400)));
  EXPECT_TRUE(some.QuantifiedCompare(doGT, qANY, *Int(101)));
  EXPECT_FALSE(some.QuantifiedCompare(doLT, qANY, *Int(400)));
  EXPECT_TRUE(some.QuantifiedCompare(doEQ, qANY, *Int(300)));
}

TEST_F(Select, CorrelatedSubqueriesSeeTheOuterRecord) {
  EXPECT_EQ(testing::RowsText(Run("SELECT ID, (SELECT COUNT(*) FROM U WHERE U.TID = T.ID) AS N FROM T ORDER BY ID")),
            "1|2\n2|0\n3|1\n4|0\n");
  EXPECT_EQ(testing::RowsText(Run("SELECT ID FROM T WHERE NOT EXISTS (SELECT ID FROM U WHERE U.TID = T.ID) ORDER BY ID")),
            "2\n4\n");
  EXPECT_EQ(testing::RowsText(Run("SELECT ID FROM U WHERE TID IN (SELECT ID FROM T WHERE T.A * 15 < U.W) ORDER BY ID")),
            "2\n3\n");
}

}  // namespace
}  // namespace orv
