// Statements run through the processor over MEMORY tables: the processor's script rules, the
// parsed shapes of SELECT and set operations, the plan's errors and live results, subqueries.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orv
