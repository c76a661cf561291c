// The query component over MEMORY tables: results opened as a dataset, parameters, the
// prepare / execute / RowsAffected life cycle and a detail query following its master.
#include "dbengine/sql/orv_query.h"

#include "dbengine/access/orv_main_table.h"

#include <gtest/gtest.h>

#include "dbengine/sql/tests/sql_test_support.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/tests/expect_code.h"
#include "platform/data/data_source.h"
#include "platform/data/field.h"

namespace orv {
namespace {

using testing::D;
using testing::I;
using testing::N;
using testing::S;

class Query : public testing::SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    MakeTable("T", {{"ID", aftInteger}, {"A", aftInteger}, {"NAME", aftString, 10}},
              {{I(1), I(10), S("x")}, {I(2), I(20), S("y")}, {I(3), I(10), S("z")}});
    MakeTable("U", {{"ID", aftInteger}, {"TID", aftInteger}, {"W", aftInteger}},
              {{I(1), I(1), I(100)}, {I(2), I(1), I(200)}, {I(3), I(3), I(300)}});
    previous = RegisterSQLCommand(TORVSQLStatement::Insert, [](TORVLexer& Lexer, IORVSQLQuery* Query) {
      return MakeCommand<testing::InsertDouble>(Lexer, Query);
    });
  }
  void TearDown() override {
    RegisterSQLCommand(TORVSQLStatement::Insert, previous);
    SqlTest::TearDown();
  }
  static std::unique_ptr<TORVQuery> NewQuery(const std::string& Sql) {
    auto q = std::make_unique<TORVQuery>();
    q->SetDatabaseName("MEMORY");
    q->SetSQL(Sql);
    return q;
  }
  // The rows of an open dataset, its fields as text joined by "|", rows by ";".
  static std::string Rows(platform::data::TDataSet& ds) {
    std::string s;
    for (ds.First(); !ds.Eof(); ds.Next()) {
      if (!s.empty()) s += ";";
      for (int i = 0; i < ds.FieldCount(); ++i) s += (i ? "|" : "") + ds.Fields()[i]->AsString();
    }
    return s;
  }
  TORVSQLCommandMaker previous;
};

TEST_F(Query, OpensAResultAndTakesParameters) {
  auto q = NewQuery("SELECT ID, \":x\" AS C, NAME FROM T WHERE A = :A ORDER BY ID");
  ASSERT_EQ(q->ParamCount(), 1) << "a colon between double quotes makes no parameter";
  q->ParamByName("A")->SetAsInteger(10);
  q->Open();
  EXPECT_EQ(Rows(*q), "1|:x|x;3|:x|z");
  EXPECT_TRUE(q->ReadOnly());
  EXPECT_EQ(q->RowsAffected(), 0) << "while prepared, the processor's count: a SELECT affects no rows";
  ExpectCode(30141, [&] { q->Prepare(); });
  // A new value runs the statement again.
  q->Close();
  q->ParamByName("A")->SetAsInteger(20);
  q->Open();
  EXPECT_EQ(Rows(*q), "2|:x|y");
  // The same text again does not close the query.
  q->SetSQL(q->SQL());
  EXPECT_TRUE(q->Active());
  q->Close();
  EXPECT_FALSE(q->Prepared()) << "closing clears the last database flag";
}

TEST_F(Query, LiveSingleTableResultIsEditable) {
  auto q = NewQuery("SELECT * FROM T WHERE A = 10");
  q->SetRequestLive(true);
  q->Open();
  EXPECT_FALSE(q->ReadOnly());
  EXPECT_EQ(Rows(*q), "1|10|x;3|10|z");
}

TEST_F(Query, ExecSQLCountsRows) {
  auto q = NewQuery("INSERT INTO U VALUES (99)");
  EXPECT_EQ(q->RowsAffected(), -1);
  q->ExecSQL();
  EXPECT_FALSE(q->Prepared());
  EXPECT_EQ(q->RowsAffected(), 1);
  // Held prepared, the count is the processor's.
  q->Prepare();
  q->ExecSQL();
  EXPECT_TRUE(q->Prepared());
  EXPECT_EQ(q->RowsAffected(), 1);
  q->UnPrepare();
  EXPECT_EQ(q->RowsAffected(), 1);
  auto count = NewQuery("SELECT COUNT(*) AS N FROM U");
  count->Open();
  EXPECT_EQ(Rows(*count), "5");
  ExpectCode(30142, [&] { NewQuery(" ")->Prepare(); });
}

// SELECT ... INTO through the query component: the result becomes a table of the database
// named before the full stop (here one on disk), whose rows a table component reads back.
TEST_F(Query, SelectIntoAnotherDatabase) {
  CreateFile(dir.File("into.orv"));
  auto disk = NewDatabase("IntoDb", dir.File("into.orv"));
  disk->Open();
  auto q = NewQuery("SELECT T.ID, T.NAME, U.W INTO IntoDb.JOINED FROM T JOIN U ON T.ID = U.TID ORDER BY W");
  q->ExecSQL();
  TORVTable stored;
  stored.SetDatabaseName("IntoDb");
  stored.SetTableName("JOINED");
  stored.Open();
  EXPECT_EQ(Rows(stored), "1|x|100;1|x|200;3|z|300");
  stored.Close();
  // The ORDER BY index of the result is not carried into the new table.
  stored.IndexDefs().SetUpdated(false);
  stored.IndexDefs().Update();
  EXPECT_EQ(stored.IndexDefs().Count(), 0);
  disk->Close();
}

TEST_F(Query, DetailFollowsMaster) {
  auto master = NewQuery("SELECT ID FROM T ORDER BY ID");
  platform::data::TDataSource source(master.get());
  auto detail = NewQuery("SELECT W FROM U WHERE TID = :ID ORDER BY W");
  detail->SetDataSource(&source);
  master->Open();
  detail->Open();
  EXPECT_EQ(Rows(*detail), "100;200");
  master->Next();
  EXPECT_EQ(Rows(*detail), "");
  master->Next();
  EXPECT_EQ(Rows(*detail), "300");
  // A query may not follow itself through its own source.
  platform::data::TDataSource own(detail.get());
  EXPECT_THROW(detail->SetDataSource(&own), std::exception);
}

}  // namespace
}  // namespace orv
