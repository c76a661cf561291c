#include "dbengine/storage/orv_base_engine_fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/tests/support/expression_double.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv {
namespace {

using testing::AddField;
using testing::TableFixture;
using testing::TestCursor;

// ---- Autoincrement ---------------------------------------------------------------------------------

struct Sequence {
  const char* what;
  TORVAdvancedFieldType type;
  int64_t initial, increment, min, max;
  bool cycled;
  std::vector<int64_t> expected;  // values handed out; a trailing 20160 sentinel means "raises next"
};

constexpr int64_t kRaises = std::numeric_limits<int64_t>::min();
constexpr int64_t kNoMax = 0;

TEST(TORVBaseFieldManager, AutoincrementSequences) {
  const Sequence cases[] = {
      {"increment 0 counts by 1", aftAutoInc, 0, 0, 0, kNoMax, false, {1, 2, 3}},
      {"increment 5 from 10", aftAutoInc, 10, 5, 0, kNoMax, false, {15, 20, 25}},
      {"maximum 3 cycling from 1", aftAutoInc, 0, 1, 1, 3, true, {1, 2, 3, 1, 2}},
      {"maximum 3 not cycling", aftAutoInc, 0, 1, 1, 3, false, {1, 2, 3, kRaises}},
      {"a Shortint stops at 127", aftAutoIncShortint, 125, 1, 0, INT64_MAX, false, {126, 127, kRaises}},
      {"a Shortint cycles at 127", aftAutoIncShortint, 126, 1, -3, INT64_MAX, true, {127, -3, -2}},
      {"a Byte stops at 255", aftAutoIncByte, 254, 1, 0, kNoMax, false, {255, kRaises}},
      {"the maximum below the type's", aftAutoIncSmallint, 0, 10, 0, 25, false, {10, 20, kRaises}},
      {"64-bit overflow passes the maximum", aftAutoIncLargeint, INT64_MAX - 3, 2, 0, kNoMax, false,
       {INT64_MAX - 1, kRaises}},
      {"64-bit overflow cycles", aftAutoIncLargeint, INT64_MAX - 1, 1, 7, kNoMax, true, {INT64_MAX, 7, 8}},
  };
  for (const Sequence& c : cases) {
    SCOPED_TRACE(c.what);
    TORVBaseFieldManager m(nullptr);
    TORVFieldDef* f = AddField(m.FFieldDefs, "ID", c.type);
    f->AutoincInitialValue = c.initial;
    f->AutoincIncrement = c.increment;
    f->AutoincMinValue = c.min;
    f->AutoincMaxValue = c.max;
    f->AutoincCycled = c.cycled;
    m.RecalcFieldOffsets();
    m.InitLastAutoIncValues();
    for (int64_t v : c.expected) {
      if (v == kRaises)
        ExpectCode(20160, [&] { m.GetNextAutoincVal(0); }, "Autoinc max value exceeded for field 'ID' - Native error: 20160");
      else
        EXPECT_EQ(m.GetNextAutoincVal(0), v);
    }
  }
}

TEST(TORVBaseFieldManager, AutoincrementFieldNumbers) {
  TORVBaseFieldManager m(nullptr);
  AddField(m.FFieldDefs, "ID", aftAutoInc);
  ExpectCode(30402, [&] { m.GetNextAutoincVal(1); });
  ExpectCode(30403, [&] { m.GetNextAutoincVal(0); }, "Field #0 not found - Native error: 30403");
}

// A table with an autoincrement ID (Integer) and a Shortint autoincrement SI.
struct AutoincFixture : TableFixture {
  explicit AutoincFixture(int64_t shortint_start = 0) {
    TORVFieldDefs f;
    AddField(f, "ID", aftAutoIncInteger);
    AddField(f, "SI", aftAutoIncShortint)->AutoincInitialValue = shortint_start;
    AddField(f, "V", aftInteger);
    Create(f);
  }
  int64_t Counter(int field) const { return Table().FFieldManager->FLastAutoIncValues[static_cast<size_t>(field)]; }
};

TEST(TORVBaseFieldManager, ExplicitValuesMoveTheCounterOnlyForward) {
  AutoincFixture fx;
  TestCursor& c = *fx.cursor;
  for (int i = 0; i < 7; ++i) ASSERT_EQ(c.InsertRow({{"V", i}}), 0);
  EXPECT_EQ(fx.Counter(0), 7);
  struct Case {
    int64_t explicit_value;
    int64_t counter_after;
  } cases[] = {{5, 7}, {100, 100}, {-5, 100}, {-2147483647 - 1, 100}};
  for (const Case& k : cases) {
    ASSERT_EQ(c.InsertRow({{"ID", k.explicit_value}}), 0) << c.FErrorMessage;
    EXPECT_EQ(fx.Counter(0), k.counter_after) << "after storing " << k.explicit_value;
  }
  ASSERT_EQ(c.InsertRow({}), 0);
  EXPECT_EQ(c.GetInt("ID"), 101);

  // A negative Shortint is read as one too.
  ASSERT_EQ(fx.Counter(1), 12);
  ASSERT_EQ(c.InsertRow({{"SI", -1}}), 0);
  EXPECT_EQ(fx.Counter(1), 12) << "-1 lies below the counter";
}

TEST(TORVBaseFieldManager, AShortintCounterRefusesToWrapIntoDuplicates) {
  AutoincFixture fx(120);
  TestCursor& c = *fx.cursor;
  std::vector<int64_t> seen;
  for (int i = 0; i < 7; ++i) {
    ASSERT_EQ(c.InsertRow({}), 0) << c.FErrorMessage;
    seen.push_back(*c.GetInt("SI"));
  }
  EXPECT_EQ(seen.back(), 127);
  EXPECT_EQ(c.InsertRow({}), -8) << "the eighth would wrap to -128";
  EXPECT_NE(c.FErrorMessage.find("20160"), std::string::npos) << c.FErrorMessage;
  EXPECT_EQ(c.GetRecordCount(), 7);
}

TEST(TORVBaseFieldManager, LastValuesPerSession) {
  AutoincFixture fx;
  TestCursor& c = *fx.cursor;
  EXPECT_EQ(c.LastAutoincValue(0), 0) << "single user, nothing inserted: the table's counter";
  ASSERT_EQ(c.InsertRow({}), 0);
  ASSERT_EQ(c.InsertRow({}), 0);
  EXPECT_EQ(c.LastAutoincValue(0), 2);
  EXPECT_EQ(c.LastAutoincValue(2), 0) << "not an autoincrement field";

  testing::TestSession other(fx.db);
  auto o = fx.Open(other);
  EXPECT_EQ(o->LastAutoincValue(0), 2) << "no value of its own yet: the table's";
  ASSERT_EQ(o->InsertRow({}), 0);
  EXPECT_EQ(o->LastAutoincValue(0), 3);
  EXPECT_EQ(c.LastAutoincValue(0), 2) << "each session keeps its own last value";

  testing::TestSession multi(fx.db);
  multi.FMultiUser = true;
  auto m = fx.Open(multi);
  ExpectCode(30012, [&] { m->LastAutoincValue(0); },
             "No SequenceLastValue in session for sequence 'ID'. Call GetNextVal first - Native error: 30012");
}

TEST(TORVBaseFieldManager, MostUpdatedBlock) {
  TORVBaseFieldManager m(nullptr);
  AddField(m.FFieldDefs, "A", aftAutoIncLargeint)->AutoincInitialValue = -3;
  AddField(m.FFieldDefs, "B", aftInteger);
  m.InitLastAutoIncValues();
  m.FLastAutoIncValues[0] = 0x0102030405060708;
  std::vector<uint8_t> buf(3 + m.MostUpdatedSize(), 0xEE);
  int32_t offset = 3;
  m.SaveMostUpdated(buf, offset);
  EXPECT_EQ(offset, 3 + 4 + 16);
  const std::vector<uint8_t> head(buf.begin() + 3, buf.begin() + 15);
  EXPECT_EQ(head, (std::vector<uint8_t>{2, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1}));

  TORVBaseFieldManager n(nullptr);
  offset = 3;
  n.LoadMostUpdated(buf, offset);
  EXPECT_EQ(n.FLastAutoIncValues, m.FLastAutoIncValues);
  EXPECT_EQ(offset, 23);

  // A block that claims more than there is, or a negative count, is refused.
  offset = 3;
  ExpectCode(10433, [&] { n.LoadMostUpdated(std::span<const uint8_t>(buf.data(), buf.size() - 1), offset); });
  buf[3] = 0xFF, buf[4] = 0xFF, buf[5] = 0xFF, buf[6] = 0xFF;
  ExpectCode(10433, [&] { n.LoadMostUpdated(buf, offset); });
  ExpectCode(10433, [&] { n.LoadMostUpdated(std::span<const uint8_t>(buf.data(), 2), offset = 0); });
  offset = 1;
  ExpectCode(10434, [&] { m.SaveMostUpdated(std::span<uint8_t>(buf.data(), 20), offset); });
}

// ---- Record forms ----------------------------------------------------------------------------------

TEST(TORVBaseFieldManager, NineFieldsTakeTwoNullFlagBytesInBothForms) {
  TORVBaseFieldManager m(nullptr);
  for (int i = 0; i < 8; ++i) AddField(m.FFieldDefs, "F" + std::to_string(i), aftSmallint);
  AddField(m.FFieldDefs, "B", aftBlob);
  m.RecalcFieldOffsets();
  EXPECT_EQ(m.NullFlagsSize(), 2);
  EXPECT_EQ(m.FFieldDefs.GetDef(0)->MemoryOffset, 2);
  EXPECT_EQ(m.FFieldDefs.GetDef(0)->DiskOffset, 2);

  std::vector<uint8_t> mem(static_cast<size_t>(m.FFieldDefs.GetMemoryRecordBufferSize()));
  for (size_t i = 0; i < mem.size(); ++i) mem[i] = static_cast<uint8_t>(i * 7 + 1);
  std::vector<uint8_t> disk(static_cast<size_t>(m.FFieldDefs.GetDiskRecordBufferSize()));
  m.MemRecordBufferToDiskRecordBuffer(mem.data(), disk.data());
  std::vector<uint8_t> again(mem.size(), 0xCC);
  m.DiskRecordBufferToMemRecordBuffer(disk.data(), again.data());
  // Everything but the memory-only tail of the BLOB field (10 bytes in memory, 6 stored).
  const size_t stored_end = mem.size() - 4;
  EXPECT_TRUE(std::equal(mem.begin(), mem.begin() + static_cast<ptrdiff_t>(stored_end), again.begin()));
  EXPECT_EQ(std::vector<uint8_t>(again.end() - 4, again.end()), std::vector<uint8_t>(4, 0));

  EXPECT_TRUE(m.CompareRecordBuffers(mem.data(), again.data())) << "the BLOB's memory-only tail does not count";
  for (size_t at : {size_t{1}, size_t{2}, stored_end - 1}) {
    std::vector<uint8_t> changed = mem;
    changed[at] ^= 0x10;
    EXPECT_FALSE(m.CompareRecordBuffers(mem.data(), changed.data())) << "byte " << at;
  }
}

TEST(TORVBaseFieldManager, BlobFieldsPresent) {
  TORVBaseFieldManager m(nullptr);
  AddField(m.FFieldDefs, "A", aftInteger);
  EXPECT_FALSE(m.BlobFieldsPresent());
  AddField(m.FFieldDefs, "B", aftMemo)->BLOBBlockSize = 0;
  ExpectCode(10421, [&] { m.BlobFieldsPresent(); }, "BLOB block size should be > 0 for field B - Native error: 10421");
  m.FFieldDefs.GetDef(1)->BLOBBlockSize = 4096;
  EXPECT_TRUE(m.BlobFieldsPresent());
}

// ---- Default values --------------------------------------------------------------------------------

TEST(TORVBaseFieldManager, DefaultValuesFillANewRecord) {
  testing::ScopedDefaultExpressionFactory expressions;
  TableFixture fx;
  TORVFieldDefs f;
  AddField(f, "N", aftInteger)->DefaultValue->SetDataAsSignedInt32(17);
  AddField(f, "E", aftInteger)->DefaultValue->SetDataAsAnsiString("EXPR:42");
  AddField(f, "T", aftString, 6)->DefaultValue->SetDataAsAnsiString("abc");
  AddField(f, "X", aftSmallint)->DefaultValue->SetDataAsAnsiString("12");
  AddField(f, "Z", aftInteger);
  AddField(f, "B", aftBlob)->DefaultValue->SetDataAsAnsiString("ignored");
  TestCursor& c = fx.Create(f);
  c.BeginInsert();
  EXPECT_EQ(c.GetInt("N"), 17);
  EXPECT_EQ(c.GetInt("E"), 42) << "an expression's value converted to the field's type";
  EXPECT_EQ(c.GetText("T"), "abc");
  EXPECT_EQ(c.GetInt("X"), 12) << "a text default of a number field is stored as a number";
  EXPECT_EQ(c.GetInt("Z"), std::nullopt);
  TORVVariant blob;
  c.GetFieldValue(blob, 5, true);
  EXPECT_TRUE(blob.GetIsNull()) << "BLOB defaults are not applied";
}

TEST(TORVBaseFieldManager, ADefaultLongerThanItsFieldIsRefused) {
  TORVBaseFieldManager m(nullptr);
  AddField(m.FFieldDefs, "T", aftString, 3)->DefaultValue->SetDataAsAnsiString("abcdef");
  m.RecalcFieldOffsets();
  std::vector<uint8_t> record(static_cast<size_t>(m.FFieldDefs.GetMemoryRecordBufferSize()) + 16, 0x5A);
  record[0] = 1;
  ExpectCode(20056, [&] { m.ApplyDefaultValuesToRecordBuffer(nullptr, record.data()); });
  EXPECT_EQ(record[record.size() - 16], 0x5A) << "nothing written past the record";
}

}  // namespace
}  // namespace orv
