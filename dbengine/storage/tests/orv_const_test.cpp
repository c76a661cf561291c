#include "dbengine/storage/orv_const.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(ORVSQLReservedWords, OrderAndLookup) {
  EXPECT_EQ(ORVSQLReservedWords[0], "ABSOLUTE");
  EXPECT_EQ(ORVSQLReservedWords[rwEND_EXEC], "END-EXEC");
  EXPECT_EQ(rwEND_EXEC, 74);
  EXPECT_EQ(ORVSQLReservedWords[rwLAST_AUTOINC], "LASTAUTOINC");
  EXPECT_EQ(rwLAST_AUTOINC, 234);
  EXPECT_EQ(ORVSQLReservedWords[229], "ZONE");  // last SQL-92 word
  EXPECT_EQ(ORVSQLReservedWords[267], "ABS");
  EXPECT_EQ(rwABS, 267);
  EXPECT_EQ(ORVSQLReservedWords[ORVMaxSQLReservedWords], "RNDUP");
  EXPECT_EQ(rwNone, 292);
  for (int i = 0; i <= ORVMaxSQLReservedWords; ++i)
    EXPECT_EQ(FindReservedWord(ORVSQLReservedWords[static_cast<size_t>(i)]), i) << ORVSQLReservedWords[static_cast<size_t>(i)];
  EXPECT_EQ(FindReservedWord("SELECT"), rwSELECT);
  EXPECT_EQ(FindReservedWord("select"), rwNone);  // callers upper-case first
  EXPECT_EQ(FindReservedWord("PLATE"), rwNone);
}

TEST(ORVPageTypeNames, NamesOfEveryType) {
  EXPECT_EQ(PageTypeName(ptUnknown), "Unknown Page");
  EXPECT_EQ(PageTypeName(ptTableLocksFile), "TableLocks Page");
  EXPECT_EQ(PageTypeName(ptTableIndex), "TableIndex Page");
  EXPECT_EQ(PageTypeName(ptAnyPage), "Unknown Page");
  EXPECT_EQ(PageTypeName(-1), "Unknown Page");
  EXPECT_EQ(ptLastType, 12);
}

}  // namespace
}  // namespace orv
