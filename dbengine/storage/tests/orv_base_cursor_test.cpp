#include "dbengine/storage/orv_base_cursor.h"

#include <gtest/gtest.h>

#include <cstring>

#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv {
namespace {

using testing::AddField;
using testing::TableFixture;
using testing::TestCursor;

// A table of a 10-character text T, a Shortint S, an Integer I and a 5-character text U.
struct CursorFixture : TableFixture {
  CursorFixture() {
    TORVFieldDefs f;
    AddField(f, "T", aftString, 10);
    AddField(f, "S", aftShortint);
    AddField(f, "I", aftInteger);
    AddField(f, "U", aftString, 5);
    Create(f);
    c().BeginInsert();
  }
  TestCursor& c() { return *cursor; }
  uint8_t* Field(int no) {
    return static_cast<uint8_t*>(c().FCurrentRecordBuffer) + c().FFieldDefs->GetDef(no)->MemoryOffset;
  }
};

TEST(TORVCursor, FieldValuesReadAndWriteTheRecordBuffer) {
  CursorFixture fx;
  TORVVariant v(bftSignedInt32);
  fx.c().GetFieldValue(v, 0, true);
  EXPECT_TRUE(v.GetIsNull());
  EXPECT_EQ(v.DataType(), bftSignedInt32) << "a NULL field leaves the value's type";

  TORVVariant text;
  text.SetDataAsAnsiString("abc");
  fx.c().SetFieldValue(text, 0, true, nullptr);
  TORVVariant back;
  fx.c().GetFieldValue(back, 0, true);
  EXPECT_EQ(back.DataSize(), 11) << "the field's whole memory size";
  EXPECT_EQ(back.GetDataAsAnsiString(), "abc");

  // The value is converted in place to the field's type.
  TORVVariant number;
  number.SetDataAsSignedInt64(-7);
  fx.c().SetFieldValue(number, 1, true, nullptr);
  EXPECT_EQ(number.DataType(), bftSignedInt8);
  EXPECT_EQ(fx.c().GetInt("S"), -7);

  TORVVariant null_value;
  fx.c().SetFieldValue(null_value, 1, true, nullptr);
  EXPECT_EQ(fx.c().GetInt("S"), std::nullopt);
  EXPECT_EQ(static_cast<int8_t>(fx.Field(1)[0]), -7) << "NULL leaves the bytes";
}

TEST(TORVCursor, AnEmptyTextClearsTheFieldInsteadOfKeepingItsBytes) {
  CursorFixture fx;
  fx.c().SetText("T", "previous");
  TORVVariant empty(bftVarchar);
  const char zero = 0;
  empty.SetData(&zero, 1, bftVarchar, true);
  fx.c().SetFieldValue(empty, 0, true, nullptr);
  EXPECT_EQ(fx.c().GetText("T"), "");
  for (int i = 0; i < 11; ++i) EXPECT_EQ(fx.Field(0)[i], 0) << i;
}

TEST(TORVCursor, FieldValueErrors) {
  CursorFixture fx;
  TORVVariant v;
  v.SetDataAsAnsiString("0123456789X");
  ExpectCode(20056, [&] { fx.c().SetFieldValue(v, 0, true, nullptr); });
  ExpectCode(20191, [&] { fx.c().GetFieldValue(v, 4, true); });
  ExpectCode(10317, [&] { fx.c().GetFieldValue(v, 4, false); });
  ExpectCode(20192, [&] { fx.c().SetFieldValue(v, 4, true, nullptr); });
  ExpectCode(20193, [&] { fx.c().SetFieldValue(v, -1, false, nullptr); });
  int32_t buffer = 0;
  ExpectCode(10005, [&] { fx.c().GetFieldData(4, &buffer, fx.c().FCurrentRecordBuffer); },
             "Invalid field number - FieldNo = 4, FieldCount = 4 - Native error: 10005");
  ExpectCode(10006, [&] { fx.c().SetFieldData(4, &buffer, fx.c().FCurrentRecordBuffer); });
}

TEST(TORVCursor, FieldDataGoesThroughTheVisibleFields) {
  CursorFixture fx;
  fx.c().ApplyProjection({"I", "S"}, {"", ""});
  const int32_t forty_two = 42;
  fx.c().SetFieldData(0, &forty_two, fx.c().FCurrentRecordBuffer);
  EXPECT_EQ(fx.c().GetInt("I"), 42);
  int32_t out = 0;
  EXPECT_TRUE(fx.c().GetFieldData(0, &out, fx.c().FCurrentRecordBuffer));
  EXPECT_EQ(out, 42);
  EXPECT_FALSE(fx.c().GetFieldData(1, &out, fx.c().FCurrentRecordBuffer)) << "S is NULL";
}

TEST(TORVCursor, ClearStringFieldsGarbageLeavesEqualValuesEqualBytes) {
  CursorFixture fx;
  std::memcpy(fx.Field(3), "ab\0xyz", 6);  // U: "ab", then leftovers
  SetNullFlag(false, 3, fx.c().FCurrentRecordBuffer);
  std::memcpy(fx.Field(0), "\0garbage", 8);  // T is NULL, its bytes are garbage
  fx.c().ClearStringFieldsGarbage(fx.c().FCurrentRecordBuffer);
  EXPECT_EQ(std::memcmp(fx.Field(3), "ab\0\0\0\0", 6), 0);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(fx.Field(0)[i], 0);
}

TEST(TORVCursor, ProjectionAliasesAreMadeUnique) {
  CursorFixture fx;
  fx.c().ApplyProjection({"T", "S", "I"}, {"X", "X", "X"});
  ASSERT_EQ(fx.c().FVisibleFieldDefs->GetCount(), 3);
  EXPECT_EQ(fx.c().FVisibleFieldDefs->GetDef(0)->Name, "X");
  EXPECT_EQ(fx.c().FVisibleFieldDefs->GetDef(1)->Name, "X_1");
  EXPECT_EQ(fx.c().FVisibleFieldDefs->GetDef(2)->Name, "X_2");
  EXPECT_EQ(fx.c().FVisibleFieldDefs->GetDef(1)->FieldNoReference, 1);

  fx.c().ApplyProjection({"I", "I"}, {"", ""});
  EXPECT_EQ(fx.c().FVisibleFieldDefs->GetDef(1)->Name, "I") << "no alias: the field's own name, twice";

  ExpectCode(10321, [&] { fx.c().ApplyProjection({"T"}, {}); });
  ExpectCode(10322, [&] { fx.c().ApplyProjection({}, {}); });
  ExpectCode(10323, [&] { fx.c().ApplyProjection({"S", "Nope"}, {"", ""}); }, "Cannot find field Nope - Native error: 10323");
  EXPECT_EQ(fx.c().FVisibleFieldDefs->GetCount(), 1) << "the defs before the unknown one were rebuilt";
}

TEST(TORVCursor, RenameFieldOfTheCursorsDefinitions) {
  CursorFixture fx;
  ExpectCode(30345, [&] { fx.c().TORVCursor::RenameField("Nope", "X"); });
  ExpectCode(30346, [&] { fx.c().TORVCursor::RenameField("T", "s"); },
             "Cannot rename field 'T'. Field 's' already exists - Native error: 30346");
  fx.c().TORVCursor::RenameField("T", "Title");
  EXPECT_EQ(fx.c().FFieldDefs->GetDef(0)->Name, "Title");
}

TEST(TORVCursor, PositionsRangesAndRestrictions) {
  CursorFixture fx;
  TestCursor& c = fx.c();
  c.CurrentRecordID = {7, 2};
  c.FirstPosition = false;
  TORVCursorPos* pos = c.SavePosition();
  c.CurrentRecordID = {1, 0};
  c.LastPosition = true;
  c.RestorePosition(pos);
  c.FreePosition(pos);
  EXPECT_EQ(pos, nullptr);
  EXPECT_EQ(c.CurrentRecordID, (TORVPageItemID{7, 2}));
  EXPECT_FALSE(c.LastPosition);

  EXPECT_FALSE(c.IsViewRestricted());
  c.FRecordBitmap->FActive = true;
  uint8_t start[64] = {};
  c.ApplyRange(start, nullptr, 1, 0, true, false);
  EXPECT_TRUE(c.IsRangeApplied());
  EXPECT_TRUE(c.IsViewRestricted());
  EXPECT_FALSE(c.FRecordBitmap->FActive) << "a new range rebuilds the bitmap";
  c.ResetRange();
  EXPECT_FALSE(c.IsRangeApplied());
  c.FilterRecord = [](const void*, void*) { return true; };
  EXPECT_TRUE(c.IsFilterApplied());
  c.FilterRecord = nullptr;
  c.FDistinctFieldCount = 1;
  EXPECT_TRUE(c.IsViewRestricted());
}

TEST(TORVCursor, IndexNameSelectsTheIndexByName) {
  TableFixture fx;
  TORVFieldDefs f;
  AddField(f, "A", aftInteger);
  TORVIndexDefs i;
  testing::AddIndexDef(i, "ByA", {"A"});
  TestCursor& c = fx.Create(f, i);
  c.SetIndexName("bya");
  EXPECT_EQ(c.FIndexID, c.FIndexDefs->GetIndexDef(0)->ObjectID);
  c.SetIndexName("other");
  EXPECT_EQ(c.FIndexID, -1);
  EXPECT_FALSE(c.IsIndexApplied());
}

TEST(TORVBaseSession, NamedObjectsAreReplacedByIdOrName) {
  TableFixture fx;
  TORVBaseSession& s = fx.session;
  s.SetObject(std::make_unique<TORVSessionNamedObjectSequenceValue>(5, 10));
  s.SetObject(std::make_unique<TORVSessionNamedObjectSequenceValue>(5, 11));
  ASSERT_EQ(s.FSessionNamedObjectList.size(), 1u) << "the same id replaces the old object";
  EXPECT_EQ(static_cast<TORVSessionNamedObjectSequenceValue*>(s.GetObjectByID(5))->FValue, 11);

  s.SetObject(std::make_unique<TORVSessionNamedObject>("Seq"));
  s.SetObject(std::make_unique<TORVSessionNamedObject>("Seq"));
  EXPECT_EQ(s.FSessionNamedObjectList.size(), 2u) << "id -1: the name decides";
  EXPECT_NE(s.GetObjectByName("SEQ"), nullptr);
  EXPECT_EQ(s.GetObjectByName("Other"), nullptr);
  s.DeleteObject(5);
  EXPECT_EQ(s.GetObjectByID(5), nullptr);
  EXPECT_EQ(TORVSessionNamedObject(std::string(300, 'n')).FName.size(), 255u);
}

}  // namespace
}  // namespace orv
