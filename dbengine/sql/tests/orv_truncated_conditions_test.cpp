// Conditions cut off in the middle ("ID >", "X BETWEEN 1", "NOT") are refused with an error
// that names what is missing, both as a table component's filter text and as the WHERE of a
// SELECT; none is ever read as the shorter condition before the cut. SQLite refuses every one
// of these texts too, which shows that each really is incomplete.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/access/orv_main_table.h"
#include "dbengine/sql/tests/sql_test_support.h"

namespace orv {
namespace {

using testing::I;
using testing::S;

struct Truncated {
  const char* condition;
  int32_t code;
  const char* names;  // a part of the message that names what is missing
};

// 30059: the lexer's unbalanced parenthesis; 30063: the end where an operand of * or / was due;
// 30067, 30069, 30070: IS, AND and OR without what follows them; 30640: the rest.
const std::vector<Truncated> kTruncated = {
    {"ID >", 30640, "Operand expected after '>', but the end of the command found"},
    {"ID <> ", 30640, "Operand expected after '<>'"},
    {"ID > 3 AND", 30069, "Boolean expression expected"},
    {"ID > 3 OR", 30070, "Boolean expression expected"},
    {"(ID > 3", 30059, "Missing symbol ')'"},
    {"NOT", 30640, "Boolean expression expected after NOT"},
    {"ID > 3 AND NOT", 30640, "Boolean expression expected after NOT"},
    {"ID IN (1,", 30059, "Missing symbol ')'"},
    {"ID IN", 30640, "'(' expected after IN"},
    {"ID IN (1 2)", 30640, "',' or ')' expected in the IN list, but '2' found"},
    {"ID IN (1, )", 30640, "Value of the IN list expected"},
    {"ID BETWEEN 1", 30640, "AND expected after the lower bound of BETWEEN"},
    {"ID BETWEEN 1 AND", 30640, "Upper bound expected"},
    {"ID NOT BETWEEN", 30640, "Lower bound expected after BETWEEN"},
    {"NAME LIKE", 30640, "Pattern expected after LIKE"},
    {"NAME NOT", 30640, "LIKE, BETWEEN or IN expected after NOT"},
    {"NAME IS", 30067, "TRUE, FALSE or UNKNOWN"},
    {"ID + 1 >", 30640, "Operand expected after '>'"},
    {"ID > 1 +", 30640, "Operand expected after '+'"},
    {"ID - > 1", 30640, "Operand expected after '-', but '>' found"},
    {"NAME || = 'a'", 30640, "Operand expected after '||'"},
    {"NAME = 'a' ||", 30640, "Operand expected after '||'"},
    {"ID * 2 = 2 *", 30063, "Unexpected end of SQL command"},
};

class TruncatedConditions : public testing::SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    MakeTable("T", {{"ID", aftInteger}, {"NAME", aftString, 10}}, {{I(1), S("a")}, {I(5), S("b")}});
  }
  static std::string Message(const std::function<void()>& f, int32_t& code) {
    try {
      f();
    } catch (const EORVException& e) {
      code = e.NativeError();
      return e.what();
    }
    code = 0;
    return "accepted";
  }
};

TEST_F(TruncatedConditions, AreRefusedByFiltersAndWhereNamingWhatIsMissing) {
  TORVTable table;
  table.SetDatabaseName("MEMORY");
  table.SetTableName("T");
  table.Open();
  table.SetFiltered(true);  // each text is parsed as it is set
  for (const Truncated& c : kTruncated) {
    SCOPED_TRACE(c.condition);
    const std::string select = std::string("SELECT ID FROM T WHERE ") + c.condition;
    sqlite3_stmt* st = nullptr;
    EXPECT_NE(sqlite3_prepare_v2(db, select.c_str(), -1, &st, nullptr), SQLITE_OK) << "SQLite takes it";
    sqlite3_finalize(st);

    int32_t code = 0;
    std::string message = Message([&] { table.SetFilterText(c.condition); }, code);
    EXPECT_EQ(code, c.code) << message;
    EXPECT_NE(message.find(c.names), std::string::npos) << message;

    message = Message([&] { Run(select); }, code);
    EXPECT_EQ(code, c.code) << message;
    EXPECT_NE(message.find(c.names), std::string::npos) << message;
  }
  // The complete forms still work.
  table.SetFilterText("ID > 3 AND NAME NOT LIKE 'a%' AND ID IN (1, 5) AND ID BETWEEN 1 AND 5");
  EXPECT_EQ(table.RecordCount(), 1);
  EXPECT_EQ(testing::RowsText(Run("SELECT ID FROM T WHERE NOT ID - 1 > 3 ORDER BY ID")), "1\n");
}

}  // namespace
}  // namespace orv
