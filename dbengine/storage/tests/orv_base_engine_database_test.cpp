#include "dbengine/storage/orv_base_engine_database.h"

#include <gtest/gtest.h>

#include <cstring>

#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv {
namespace {

using testing::AddField;
using testing::TableFixture;
using testing::TestCursor;
using testing::TestSession;
using testing::VectorDatabaseData;

// ---- Record routines ------------------------------------------------------------------------------

struct FieldDataFixture {
  FieldDataFixture() {
    AddField(defs, "SI", aftShortint);
    AddField(defs, "CA", aftCardinal);
    AddField(defs, "SG", aftSingle);
    AddField(defs, "EX", aftExtended);
    AddField(defs, "ST", aftString, 8);
    AddField(defs, "WS", aftWideString, 4);
    AddField(defs, "BL", aftBlob);
    AddField(defs, "IN", aftInteger);
    AddField(defs, "GU", aftGuid);
    defs.RecalcFieldOffsets();
    record.assign(static_cast<size_t>(defs.GetMemoryRecordBufferSize()), 0xFF);
  }
  TORVFieldDefs defs;
  std::vector<uint8_t> record;
};

TEST(RecordRoutines, FieldDataTakesTheDatasetsForm) {
  FieldDataFixture fx;
  void* rec = fx.record.data();

  const int16_t shortint = -5;
  SetFieldData(0, fx.defs, &shortint, rec);
  EXPECT_EQ(fx.record[static_cast<size_t>(fx.defs.GetDef(0)->MemoryOffset)], 0xFB);
  int16_t si = 0;
  EXPECT_TRUE(GetFieldData(0, fx.defs, &si, rec));
  EXPECT_EQ(si, -5);

  const int64_t cardinal = 4294967295LL;
  SetFieldData(1, fx.defs, &cardinal, rec);
  int64_t ca = 0;
  ASSERT_TRUE(GetFieldData(1, fx.defs, &ca, rec));
  EXPECT_EQ(ca, 4294967295LL);

  const double tenth = 0.1;
  SetFieldData(2, fx.defs, &tenth, rec);
  double sg = 0;
  ASSERT_TRUE(GetFieldData(2, fx.defs, &sg, rec));
  EXPECT_EQ(sg, static_cast<double>(0.1f));
  EXPECT_NE(sg, 0.1);

  const double third = 1.0 / 3.0;
  SetFieldData(3, fx.defs, &third, rec);
  double ex = 0;
  ASSERT_TRUE(GetFieldData(3, fx.defs, &ex, rec));
  EXPECT_EQ(ex, third) << "a double survives the 10-byte form";

  const int32_t integer = -123456;
  SetFieldData(7, fx.defs, &integer, rec);
  int32_t in = 0;
  ASSERT_TRUE(GetFieldData(7, fx.defs, &in, rec));
  EXPECT_EQ(in, -123456);

  EXPECT_TRUE(GetFieldData(1, fx.defs, nullptr, rec)) << "nil buffer: only the NULL test";
}

TEST(RecordRoutines, EmptyTextsAndNilBuffersAreNull) {
  FieldDataFixture fx;
  void* rec = fx.record.data();
  const char text[9] = "abc";
  SetFieldData(4, fx.defs, text, rec);
  char back[9] = {};
  ASSERT_TRUE(GetFieldData(4, fx.defs, back, rec));
  EXPECT_STREQ(back, "abc");

  const char empty[9] = {};
  const char16_t wide_empty[5] = {};
  struct Case {
    int field;
    const void* buffer;
  } cases[] = {{4, empty}, {5, wide_empty}, {7, nullptr}, {8, empty}};
  for (const Case& c : cases) {
    SetNullFlag(false, c.field, rec);
    SetFieldData(c.field, fx.defs, c.buffer, rec);
    EXPECT_FALSE(GetFieldData(c.field, fx.defs, back, rec)) << "field " << c.field;
  }
  const char16_t wide[5] = u"ab";
  SetFieldData(5, fx.defs, wide, rec);
  EXPECT_TRUE(GetFieldData(5, fx.defs, nullptr, rec));

  // A BLOB field is only tested for NULL: its content travels through streams.
  SetNullFlag(false, 6, rec);
  uint8_t untouched[16];
  std::memset(untouched, 0xAB, sizeof untouched);
  EXPECT_TRUE(GetFieldData(6, fx.defs, untouched, rec));
  EXPECT_EQ(untouched[0], 0xAB);
}

TEST(RecordRoutines, Errors) {
  FieldDataFixture fx;
  int64_t any = 0;
  ExpectCode(10000, [&] { GetFieldData(9, fx.defs, &any, fx.record.data()); },
             "Invalid field number - FieldNo = 9, FieldCount = 9 - Native error: 10000");
  ExpectCode(10003, [&] { GetFieldData(0, fx.defs, &any, nullptr); });
  ExpectCode(10004, [&] { SetFieldData(9, fx.defs, &any, fx.record.data()); });
  ExpectCode(10122, [&] { CompareRecordBuffers(nullptr, &any, 8); });
  ExpectCode(10123, [&] { CompareRecordBuffers(&any, nullptr, 8); });
  int64_t other = 1;
  EXPECT_FALSE(CompareRecordBuffers(&any, &other, 8));
  other = 0;
  EXPECT_TRUE(CompareRecordBuffers(&any, &other, 8));
}

// ---- Database data --------------------------------------------------------------------------------

std::unique_ptr<TORVFieldDefs> OneIntegerField() {
  auto f = std::make_unique<TORVFieldDefs>();
  AddField(*f, "A", aftInteger);
  return f;
}

TEST(TORVDatabaseData, TablesAreFoundWithoutRegardToCase) {
  TableFixture fx;
  fx.Create(*OneIntegerField());
  TestCursor other(fx.session, "t");
  EXPECT_EQ(fx.db.FindTableData(&other), fx.cursor->TableData());
  EXPECT_EQ(fx.db.FindOrCreateTableData(&other), fx.cursor->TableData());
  EXPECT_TRUE(fx.db.TableExists("t"));
  EXPECT_FALSE(fx.db.TableExists("U"));
  std::vector<std::string> names;
  fx.session.GetTablesList(names);
  EXPECT_EQ(names, std::vector<std::string>{"T"});
}

TEST(TORVDatabaseData, TheBaseGivesEverySessionNumberZero) {
  struct PlainDatabase : TORVDatabaseData {
    TORVTableData* CreateTableData(TORVCursor*) override { return nullptr; }
    int32_t GetNewObjectId() override { return 1; }
  } db;
  TestSession a(db), b(db);
  EXPECT_EQ(a.FSessionID, 0);
  EXPECT_EQ(b.FSessionID, 0);
  EXPECT_EQ(db.FSessionList.size(), 2u);
  b.SetConnected(false);
  EXPECT_EQ(db.FSessionList.size(), 1u);
}

TEST(TORVDatabaseData, AnUnusedDatabaseGoesBackToItsOwner) {
  std::unique_ptr<VectorDatabaseData> owned = std::make_unique<VectorDatabaseData>();
  int released = 0, left = 0;
  owned->ReleaseIfUnused = [&](TORVDatabaseData& d) {
    ++released;
    EXPECT_EQ(&d, owned.get());
    owned.reset();
  };
  owned->LeaveDatabaseList = [&](TORVDatabaseData&) { ++left; };
  {
    TestSession s(*owned);
    EXPECT_FALSE(owned->FreeIfNoSessionsConnected()) << "a session is still connected";
  }
  EXPECT_TRUE(owned->FreeIfNoSessionsConnected());
  EXPECT_EQ(owned, nullptr);
  EXPECT_EQ(released, 1);
  EXPECT_EQ(left, 1) << "freeing it takes it out of the database list";
}

TEST(TORVDatabaseData, DestroyingItFreesEveryTableWithItsPagesAndRecords) {
  // ASan reports anything left behind.
  auto db = std::make_unique<VectorDatabaseData>();
  {
    TestSession s(*db);
    for (const char* name : {"A", "B", "C"}) {
      TORVFieldDefs f;
      AddField(f, "K", aftInteger);
      AddField(f, "S", aftString, 20);
      TORVIndexDefs i;
      testing::AddIndexDef(i, "ByK", {"K"}, true);
      TestCursor c(s, name);
      c.CreateTable(f, i, TORVConstraintDefs());
      c.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
      for (int k = 0; k < 300; ++k) ASSERT_EQ(c.InsertRow({{"K", k}}), 0);
      bool created = false;
      c.FindOrCreateIndex({"S"}, {"ASC"}, {"CASE"}, created);
      EXPECT_TRUE(created);
    }
    EXPECT_EQ(db->TableDataCount(), 3);
  }
  db.reset();
}

TEST(TORVDatabaseData, DeleteTableDataTakesOneTableOut) {
  TableFixture fx;
  fx.Create(*OneIntegerField());
  TORVTableData* table = fx.cursor->TableData();
  fx.cursor.reset();
  fx.db.DeleteTableData(table);
  EXPECT_EQ(fx.db.TableDataCount(), 0);
  fx.db.DeleteTableData(table);  // no longer listed: nothing happens
}

}  // namespace
}  // namespace orv
