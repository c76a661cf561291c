// Table and index DDL: what CREATE, ALTER, DROP, TRUNCATE and RENAME leave in the engine, and
// the errors of the statements as a table of cases.
#include <gtest/gtest.h>

#include <algorithm>

#include "dbengine/sql/orv_sql_ddl.h"
#include "dbengine/sql/tests/sql_test_support.h"
#include "dbengine/storage/orv_except.h"

namespace orv {
namespace {

using testing::I;
using testing::S;

class Ddl : public testing::SqlTest {
 protected:
  // The error code and message of a script; 0 when it runs.
  std::pair<int32_t, std::string> Error(const std::string& Sql) {
    try {
      Run(Sql);
    } catch (const EORVException& e) {
      return {e.NativeError(), e.what()};
    } catch (const std::exception& e) {
      return {-1, e.what()};  // a record refused by the engine
    }
    return {0, {}};
  }
  std::vector<std::string> IndexNames(const std::string& Table) {
    TORVAODataset ds(memory.get(), temp.get());
    ds.Open(Table);
    std::vector<std::string> names;
    const TORVIndexDefs* defs = ds.Cursor().FIndexDefs.get();
    for (int32_t i = 0; defs && i < defs->GetCount(); ++i) names.push_back(defs->GetIndexDef(i)->Name);
    std::sort(names.begin(), names.end());
    return names;
  }
  const TORVFieldDef* Field(TORVAODataset& ds, int32_t No) { return ds.FieldDef(No, true); }
  std::vector<std::string> Columns(const std::string& Table) {
    Run("SELECT * FROM " + Table);
    return ColumnNames();
  }
};

TEST_F(Ddl, CreateTableWithIndexesAndColumnOptions) {
  Run("CREATE TABLE P (id AUTOINC, name VARCHAR(40) NOT NULL, PRIMARY KEY (id))");
  EXPECT_EQ(IndexNames("P"), std::vector<std::string>{"C_PK$id"});
  Run("INSERT INTO P (name) VALUES ('a'), ('b')");
  EXPECT_EQ(testing::RowsText(Run("SELECT id, name FROM P ORDER BY id")), "1|'a'\n2|'b'\n");
  EXPECT_NE(Error("INSERT INTO P (id) VALUES (7)").first, 0) << "name is required";

  Run("CREATE TABLE Q (a INTEGER UNIQUE, b INTEGER, INDEX (b), UNIQUE INDEX named (a DESC, b))");
  EXPECT_EQ(IndexNames("Q"), (std::vector<std::string>{"C_Unique$a", "i$b", "named"}));
  Run("INSERT INTO Q VALUES (1, 1)");
  EXPECT_NE(Error("INSERT INTO Q VALUES (1, 2)").first, 0) << "the unique index on a refuses a second 1";

  Run("CREATE TABLE A (id AUTOINC(INTEGER, INCREMENT 2, INITIALVALUE 100, CYCLED), w LARGEINT)");
  TORVAODataset ds(memory.get(), temp.get());
  ds.Open("A");
  EXPECT_EQ(Field(ds, 0)->AdvancedFieldType, aftAutoInc);
  EXPECT_EQ(Field(ds, 0)->AutoincIncrement, 2);
  EXPECT_EQ(Field(ds, 0)->AutoincInitialValue, 100);
  EXPECT_TRUE(Field(ds, 0)->AutoincCycled);
  EXPECT_EQ(Field(ds, 1)->AdvancedFieldType, aftLargeint);
}

TEST_F(Ddl, DefaultsReadBackAsTheirValues) {
  // An expression's default keeps the type of its value: 3, 2.5, and a text.
  Run("CREATE TABLE D (k INTEGER, d DATE DEFAULT CURRENT_DATE, s VARCHAR(5) DEFAULT 'x', n INTEGER DEFAULT 1+2, "
      "f DOUBLE DEFAULT 5 / 2.0, t VARCHAR(9) DEFAULT 'ab' || 'cd')");
  Run("INSERT INTO D (k) VALUES (1)");
  EXPECT_EQ(testing::RowsText(Run("SELECT k, s, n, f, t FROM D WHERE d IS NOT NULL")), "1|'x'|3|2.5|'abcd'\n");
}

TEST_F(Ddl, AlterRenameTruncateAndDrop) {
  MakeTable("T", {{"ID", aftInteger}, {"A", aftInteger}}, {{I(1), I(10)}, {I(2), I(20)}});
  Run("ALTER TABLE T ADD (C INTEGER, E VARCHAR(4))");
  EXPECT_EQ(Columns("T"), (std::vector<std::string>{"ID", "A", "C", "E"}));
  EXPECT_EQ(testing::RowsText(Run("SELECT ID, A, C FROM T ORDER BY ID")), "1|10|NULL\n2|20|NULL\n");
  Run("ALTER TABLE T ADD (IF NOT EXISTS C INTEGER)");
  Run("ALTER TABLE T DROP (C)");
  Run("ALTER TABLE T DROP COLUMN E");
  EXPECT_EQ(Columns("T"), (std::vector<std::string>{"ID", "A"}));
  Run("ALTER TABLE T MODIFY (A LARGEINT)");
  Run("ALTER TABLE T RENAME COLUMN A TO B");
  Run("ALTER TABLE T RENAME B TO C");
  EXPECT_EQ(testing::RowsText(Run("SELECT ID, C FROM T ORDER BY ID")), "1|10\n2|20\n");
  Run("ALTER TABLE T RENAME TO U");
  Run("RENAME TABLE U TO V");
  EXPECT_EQ(testing::RowsText(Run("SELECT COUNT(*) FROM V")), "2\n");
  Run("TRUNCATE TABLE V");
  EXPECT_EQ(testing::RowsText(Run("SELECT COUNT(*) FROM V")), "0\n");
  Run("DROP TABLE V");
  Run("DROP TABLE V");
  Run("DROP TABLE IF EXISTS V");
  EXPECT_NE(Error("SELECT * FROM V").first, 0);
}

TEST_F(Ddl, IndexStatements) {
  MakeTable("T", {{"ID", aftInteger}, {"A", aftInteger}, {"B", aftString, 8}}, {{I(1), I(1), S("x")}});
  Run("CREATE UNIQUE INDEX ix ON T (A DESC, B NOCASE)");
  {
    TORVAODataset ds(memory.get(), temp.get());
    ds.Open("T");
    const TORVIndexDef* ix = ds.Cursor().FIndexDefs->GetIndexDef(0);
    ASSERT_EQ(ix->Name, "ix");
    EXPECT_TRUE(ix->Unique);
  }
  // Case-insensitive on B: 'X' equals 'x' under the same A.
  EXPECT_NE(Error("INSERT INTO T VALUES (2, 1, 'X')").first, 0);
  Run("INSERT INTO T VALUES (2, 2, 'X')");
  Run("DROP INDEX T.ix");
  EXPECT_TRUE(IndexNames("T").empty());
  Run("INSERT INTO T VALUES (3, 1, 'X')");
}

TEST_F(Ddl, StatementErrors) {
  MakeTable("T", {{"ID", aftInteger}, {"A", aftInteger}}, {{I(1), I(10)}});
  struct Case {
    const char* Sql;
    int32_t Code;
    int32_t Inner;  // the code named in a wrapped message; 0 for none
  } cases[] = {
      {"CREATE TABLE N (a INT)", 30232, 0},
      {"CREATE TABLE N (a VARCHAR)", 30233, 0},
      {"CREATE TABLE N (a INTEGER) x", 30246, 0},
      {"CREATE TABLE T (a INTEGER)", 30247, 0},
      {"CREATE TABLE N (b VARCHAR(5) UNIQE)", 30229, 0},  // an unknown word is not skipped
      {"CREATE TABLE N a INTEGER", 30226, 0},
      {"CREATE TABLE N (id AUTOINC(FLOAT))", 30295, 0},
      {"CREATE TABLE N (id AUTOINC(STEP 2))", 30294, 0},
      {"CREATE TABLE N (a INTEGER NOT 5)", 30237, 0},
      {"CREATE TABLE N (a INTEGER DEFAULT 1, b INTEGER DEFAULT 1 DEFAULT 2)", 30299, 0},
      {"DROP TABLE T x y", 30246, 0},
      {"ALTER TABLE T ADD (A INTEGER)", 30265, 30351},
      {"ALTER TABLE T MODIFY (NOPE INTEGER)", 30265, 30259},
      {"ALTER TABLE T SELECT (A)", 30252, 0},
      {"ALTER TABLE T RENAME COLUMN A B", 30352, 0},
      {"RENAME TABLE T U", 30355, 0},
      {"DROP INDEX ix", 30498, 0},
      {"CREATE INDEX ix ON T 5", 30273, 0},
      {"CREATE UNIQUE ix ON T (A)", 30267, 0},
      {"CREATE INDEX ix T (A)", 30270, 0},
      {"START x", 30460, 0},
      {"START", 30459, 0},
  };
  for (const Case& c : cases) {
    const auto [code, message] = Error(c.Sql);
    EXPECT_EQ(code, c.Code) << c.Sql << ": " << message;
    if (c.Inner) EXPECT_NE(message.find(std::to_string(c.Inner)), std::string::npos) << c.Sql << ": " << message;
  }
  EXPECT_EQ(Error("CREATE TABLE N (a INT)").second.find("Unknown field type 'INT'") != std::string::npos, true);
  // A failed CREATE leaves no table behind; IF NOT EXISTS on an existing one does nothing.
  EXPECT_NE(Error("SELECT * FROM N").first, 0);
  Run("CREATE TABLE IF NOT EXISTS T (X INTEGER)");
  EXPECT_EQ(Columns("T"), (std::vector<std::string>{"ID", "A"}));
}

}  // namespace
}  // namespace orv
