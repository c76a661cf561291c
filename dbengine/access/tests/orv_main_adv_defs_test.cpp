#include "dbengine/access/orv_main_adv_defs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbengine/access/orv_local_engine_cursor.h"
#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/storage/orv_base_defs.h"
#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/tests/expect_code.h"
#include "platform/data/field_defs.h"
#include "platform/data/index_defs.h"

namespace orv {
namespace {

namespace pd = platform::data;

std::vector<std::string> ConstraintNames(const TORVConstraintDefs& Defs) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < Defs.GetCount(); ++i) names.push_back(Defs.GetDef(i)->Name);
  return names;
}

std::vector<TORVConstraintType> ConstraintTypes(const TORVConstraintDefs& Defs) {
  std::vector<TORVConstraintType> types;
  for (int32_t i = 0; i < Defs.GetCount(); ++i) types.push_back(Defs.GetDef(i)->ConstraintType);
  return types;
}

// The platform fields every index test names.
struct PlatformFields {
  PlatformFields() {
    fields.Add("ID", pd::ftInteger);
    fields.Add("Name", pd::ftString, 20);
    fields.Add("A", pd::ftInteger);
    fields.Add("B", pd::ftInteger);
    fields.Add("C", pd::ftInteger);
  }
  pd::TFieldDefs fields;
};

TEST(AdvDefsTest, ColumnsAndKeysBecomeEngineFieldsAndConstraintsInOrder) {
  PlatformFields p;
  TORVAdvIndexDefs adv_indexes;
  adv_indexes.Add("PK", "ID;Name", {pd::ixPrimary, pd::ixUnique});
  adv_indexes.Add("ByA", "A", {});
  adv_indexes.Add("UqB", "B", {pd::ixUnique});
  TORVIndexDefs indexes;
  ConvertAdvIndexDefsToORVIndexDefs(adv_indexes, indexes, p.fields);

  TORVAdvFieldDefs adv;
  adv.Add("ID", aftInteger, 0, true);
  adv.Add("Name", aftString, 20, false);
  TORVAdvFieldDef* pic = adv.Add("Pic", aftBlob, 0, false, caZLIB, 6);
  pic->BLOBBlockSize = 0;
  TORVAdvFieldDef* val = adv.Add("Val", aftInteger, 0, true);
  val->MinValue->SetDataAsSignedInt64(1);
  TORVAdvFieldDef* blk = adv.Add(std::string(300, 'L'), aftBlob, 0, false);
  blk->BLOBBlockSize = -5;

  struct Case {
    bool temporary;
    std::vector<TORVConstraintType> types;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      // Per column NOT NULL then CHECK, then one key constraint per primary or unique index.
      {false, {ctNotNull, ctNotNull, ctCheck, ctPK, ctUnique}, {"", "", "", "C_PK$ID$Name", "C_Unique$B"}},
      // A temporary table's columns get no NOT NULL or CHECK; its keys keep theirs.
      {true, {ctPK, ctUnique}, {"C_PK$ID$Name", "C_Unique$B"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.temporary);
    TORVFieldDefs fields;
    TORVConstraintDefs constraints;
    constraints.AddCheck();  // cleared first
    ConvertAdvFieldDefsToORVFieldDefs(adv, fields, indexes, constraints, c.temporary);
    ASSERT_EQ(fields.GetCount(), 5);
    EXPECT_EQ(fields.GetDef(2)->BLOBBlockSize, 102400);
    EXPECT_EQ(fields.GetDef(2)->BLOBCompressionAlgorithm, caZLIB);
    EXPECT_EQ(fields.GetDef(2)->BLOBCompressionMode, 6);
    EXPECT_EQ(fields.GetDef(4)->BLOBBlockSize, 102400);
    EXPECT_EQ(fields.GetDef(4)->Name, std::string(255, 'L'));
    EXPECT_EQ(ConstraintTypes(constraints), c.types);
    std::vector<std::string> names = ConstraintNames(constraints);
    for (std::string& n : names)
      if (n.rfind("C_", 0) != 0) n.clear();
    EXPECT_EQ(names, c.names);
    if (c.temporary) continue;
    const auto* not_null = static_cast<const TORVConstraintDefNotNull*>(constraints.GetDef(1));
    EXPECT_EQ(not_null->ColumnName, "Val");
    const auto* check = static_cast<const TORVConstraintDefCheck*>(constraints.GetDef(2));
    EXPECT_EQ(check->ColumnName, "Val");
    EXPECT_EQ(check->MinValue->GetDataAsSignedInt64(), 1);
    EXPECT_TRUE(check->MaxValue->GetIsNull());
    const auto* pk = static_cast<const TORVConstraintDefPrimary*>(constraints.GetDef(3));
    EXPECT_EQ(pk->IndexName, "PK");
    ASSERT_EQ(pk->Columns.size(), 2u);
    EXPECT_EQ(pk->Columns[1].ColumnName, "Name");
  }
}

TEST(AdvDefsTest, FillORVIndexDefColumnsAndErrors) {
  PlatformFields p;
  struct Case {
    std::string fields;
    pd::TIndexOptions options;
    std::string desc, case_ins, sizes;
    std::vector<bool> descending, insensitive;
    std::vector<int32_t> max_sizes;
  };
  const std::vector<Case> cases = {
      {"A,B", {pd::ixDescending}, "", "", "", {true, true}, {false, false}, {20, 20}},
      {"A,B", {pd::ixDescending}, "B", "", "", {false, true}, {false, false}, {20, 20}},
      {"A;B", {pd::ixCaseInsensitive}, "", "", "7", {false, false}, {true, true}, {7, 20}},
      {"Name;A", {pd::ixCaseInsensitive}, "a", "name", "", {false, true}, {true, false}, {20, 20}},
      {"A; B ;C", {}, "", "", "10;;5", {false, false, false}, {false, false, false}, {10, 20, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields + " / " + c.desc + " / " + c.sizes);
    TORVIndexDef def;
    FillORVIndexDef(def, "IX", c.fields, c.options, true, c.desc, c.case_ins, c.sizes, p.fields);
    EXPECT_EQ(def.IndexType, itBTree);
    EXPECT_TRUE(def.Temporary);
    ASSERT_EQ(def.ColumnCount(), static_cast<int32_t>(c.descending.size()));
    for (int32_t j = 0; j < def.ColumnCount(); ++j) {
      EXPECT_EQ(def.Columns(j).Descending, c.descending[static_cast<size_t>(j)]) << j;
      EXPECT_EQ(def.Columns(j).CaseInsensitive, c.insensitive[static_cast<size_t>(j)]) << j;
      EXPECT_EQ(def.Columns(j).MaxIndexedSize, c.max_sizes[static_cast<size_t>(j)]) << j;
    }
  }
  TORVIndexDef def;
  ExpectCode(20048, [&] { FillORVIndexDef(def, "", "A", {}, false, "", "", "", p.fields); },
             "Invalid index name '' - Native error: 20048");
  ExpectCode(20049, [&] { FillORVIndexDef(def, "IX", "", {}, false, "", "", "", p.fields); });
  ExpectCode(20050, [&] { FillORVIndexDef(def, "IX", "A;Missing", {}, false, "", "", "", p.fields); },
             "Cannot find index field 'Missing' - Native error: 20050");
  EXPECT_ANY_THROW(FillORVIndexDef(def, "IX", "A", {}, false, "", "", "ten", p.fields));

  std::vector<std::string> list{"stale"};
  GetNamesList(list, "10;;5");
  EXPECT_EQ(list, (std::vector<std::string>{"10", "", "5"}));
  GetNamesList(list, " a , b;c");
  EXPECT_EQ(list, (std::vector<std::string>{"a", "b", "c"}));
  GetNamesList(list, "");
  EXPECT_TRUE(list.empty());
}

TEST(AdvDefsTest, EngineIndexesToAdvancedAndPlatformIndexes) {
  PlatformFields p;
  TORVAdvIndexDefs adv;
  adv.Add("PK", "ID", {pd::ixPrimary, pd::ixUnique});
  adv.Add("Desc", "A;B", {}, false, "A;B", "", "8;9");
  adv.Add("Mixed", "Name;A", {}, false, "A", "Name", "");
  TORVIndexDefs engine;
  ConvertAdvIndexDefsToORVIndexDefs(adv, engine, p.fields);
  TORVAdvIndexDefs back;
  ConvertORVIndexDefsToAdvIndexDefs(engine, back);
  ASSERT_EQ(back.GetCount(), 3);
  EXPECT_EQ(back[0]->Options, (pd::TIndexOptions{pd::ixPrimary, pd::ixUnique}));
  EXPECT_EQ(back[1]->Fields, "A;B");
  EXPECT_EQ(back[1]->DescFields, "A;B");
  EXPECT_EQ(back[1]->MaxIndexedSizes, "8;9");
  EXPECT_EQ(back[2]->DescFields, "A");
  EXPECT_EQ(back[2]->CaseInsFields, "Name");
  EXPECT_EQ(back[2]->MaxIndexedSizes, "20;20");

  // Platform form: ixDescending / ixCaseInsensitive where the list names every column.
  pd::TIndexDefs platform_indexes;
  ConvertAdvIndexDefsToIndexDefs(back, platform_indexes);
  ASSERT_EQ(platform_indexes.Count(), 3);
  EXPECT_TRUE(platform_indexes[1]->Options().Contains(pd::ixDescending));
  EXPECT_FALSE(platform_indexes[2]->Options().Contains(pd::ixDescending));
  EXPECT_FALSE(platform_indexes[2]->Options().Contains(pd::ixCaseInsensitive));
  EXPECT_EQ(platform_indexes[2]->DescFields(), "A");
  TORVAdvIndexDefs from_platform;
  ConvertIndexDefsToAdvIndexDefs(platform_indexes, from_platform);
  ASSERT_EQ(from_platform.GetCount(), 3);
  EXPECT_EQ(from_platform[2]->CaseInsFields, "Name");
  EXPECT_TRUE(from_platform[2]->MaxIndexedSizes.empty());
  EXPECT_FALSE(from_platform[0]->Temporary);
}

TEST(AdvDefsTest, ListsFindDeleteAndAssign) {
  TORVAdvFieldDefs fields;
  TORVAdvFieldDef* fresh = fields.AddFieldDef();
  EXPECT_EQ(fresh->ObjectID, -1);
  EXPECT_EQ(fresh->BLOBBlockSize, 102400);
  EXPECT_EQ(fresh->AutoincMaxValue, INT64_MAX);
  EXPECT_TRUE(fresh->DefaultValue->GetIsNull());
  fields.Clear();
  fields.Add("abc", aftInteger, 0, false);
  fields.Add("\xC9t\xE9", aftInteger, 0, false);  // "Été" in the engine's code page
  EXPECT_EQ(fields.Find("ABC"), fields[0]);
  EXPECT_EQ(fields.Find("\xC9T\xE9"), fields[1]);
  // Find upper-cases a to z only; the delete compares in the code page.
  EXPECT_EQ(fields.Find("\xE9t\xE9"), nullptr);
  fields.DeleteFieldDef("\xE9T\xC9");
  ASSERT_EQ(fields.GetCount(), 1);
  ExpectCode(30349, [&] { fields.DeleteFieldDef("nope"); }, "Field 'nope' not found - Native error: 30349");
  EXPECT_THROW(fields.GetDef(1), std::out_of_range);

  TORVAdvFieldDefs copy;
  fields[0]->DefaultValue->SetDataAsSignedInt64(5);
  copy.Assign(fields);
  fields[0]->DefaultValue->SetDataAsSignedInt64(6);
  EXPECT_EQ(copy[0]->DefaultValue->GetDataAsSignedInt64(), 5);

  TORVAdvIndexDefs indexes;
  indexes.Add("PK", "ID", {pd::ixPrimary});
  indexes.Add("Temporary_Idx", "A", {});
  indexes.Add("Marked", "B", {}, true);
  indexes.Add("Kept", "C", {});
  TORVAdvIndexDefs without;
  without.Assign(indexes, true);
  ASSERT_EQ(without.GetCount(), 2);
  EXPECT_EQ(without[0]->Name, "PK");
  EXPECT_EQ(without[1]->Name, "Kept");
  without.Assign(indexes, false);
  EXPECT_EQ(without.GetCount(), 4);
  EXPECT_EQ(indexes.Find("kept"), indexes[3]);
  indexes.DeleteIndexDef("temporary_idx");
  EXPECT_EQ(indexes.GetCount(), 3);
  ExpectCode(20190, [&] { indexes.DeleteIndexDef("gone"); });

  EXPECT_EQ(ConvertORVCompressionAlgorithmToCompressionAlgorithm(2), caBZIP);
  EXPECT_EQ(ConvertORVCompressionAlgorithmToCompressionAlgorithm(9), caNone);
  pd::TFieldDefs platform_fields;
  platform_fields.Add("Größe", pd::ftInteger);
  EXPECT_TRUE(FindFieldInFieldDefs(platform_fields, "GR\xD6\xDF" "E"));
  EXPECT_FALSE(FindFieldInFieldDefs(platform_fields, "Gr"));
}

// A table made from the platform form and read back through a cursor gives the same platform
// form: every column type, its size and Required (except for an autoincrement column, which
// the engine fills), and its keys.
class AdvDefsRoundTripTest : public testing::EngineTest {};

TEST_F(AdvDefsRoundTripTest, PlatformToAdvancedToEngineToPlatform) {
  struct Column {
    const char* name;
    pd::TFieldType type;
    int size;
    bool required;
  };
  const std::vector<Column> columns = {
      {"FString", pd::ftString, 20, true},  {"FSmallint", pd::ftSmallint, 0, false},
      {"FInteger", pd::ftInteger, 0, true}, {"FWord", pd::ftWord, 0, false},
      {"FBoolean", pd::ftBoolean, 0, false}, {"FFloat", pd::ftFloat, 0, false},
      {"FCurrency", pd::ftCurrency, 0, false}, {"FDate", pd::ftDate, 0, false},
      {"FTime", pd::ftTime, 0, false},       {"FDateTime", pd::ftDateTime, 0, false},
      {"FBytes", pd::ftBytes, 8, false},     {"FVarBytes", pd::ftVarBytes, 16, false},
      {"FAutoInc", pd::ftAutoInc, 0, true},  {"FBlob", pd::ftBlob, 0, false},
      {"FMemo", pd::ftMemo, 0, false},       {"FGraphic", pd::ftGraphic, 0, false},
      {"FFmtMemo", pd::ftFmtMemo, 0, false}, {"FFixedChar", pd::ftFixedChar, 4, false},
      {"FWide", pd::ftWideString, 10, false}, {"FLargeint", pd::ftLargeint, 0, false},
      {"FGuid", pd::ftGuid, 0, false},       {"FTimeStamp", pd::ftTimeStamp, 0, false},
      {"FWideMemo", pd::ftWideMemo, 0, false}, {"Größe", pd::ftInteger, 0, false},
  };
  pd::TFieldDefs source;
  for (const Column& c : columns) source.Add(c.name, c.type, c.size, c.required);
  pd::TIndexDefs source_indexes;
  source_indexes.Add("PK", "FInteger", {pd::ixPrimary, pd::ixUnique});
  source_indexes.Add("ByName", "FString;FDate", {pd::ixDescending});

  TORVAdvFieldDefs adv;
  ConvertFieldDefsToAdvFieldDefs(source, adv);
  TORVAdvIndexDefs adv_indexes;
  ConvertIndexDefsToAdvIndexDefs(source_indexes, adv_indexes);
  TORVIndexDefs indexes;
  ConvertAdvIndexDefsToORVIndexDefs(adv_indexes, indexes, source);
  TORVFieldDefs fields;
  TORVConstraintDefs constraints;
  ConvertAdvFieldDefsToORVFieldDefs(adv, fields, indexes, constraints, false);

  auto session = std::make_unique<TORVLocalSession>(engine.DBDataList());
  session->FDatabaseName = "MEMORY";
  session->SetConnected(true);
  {
    TORVLocalCursor maker;
    maker.FSession = session.get();
    maker.FTableName = "AllTypes";
    maker.CreateTable(fields, indexes, constraints);
  }
  TORVLocalCursor reader;
  reader.FSession = session.get();
  reader.FTableName = "AllTypes";
  reader.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
  reader.InternalInitFieldDefs();

  pd::TFieldDefs back;
  ConvertORVFieldDefsToFieldDefs(*reader.FFieldDefs, *reader.FConstraintDefs, back);
  ASSERT_EQ(back.Count(), static_cast<int>(columns.size()));
  for (size_t i = 0; i < columns.size(); ++i) {
    const Column& c = columns[i];
    const pd::TFieldDef& def = *back[static_cast<int>(i)];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(def.Name(), c.name);
    EXPECT_EQ(def.DataType(), c.type);
    EXPECT_EQ(def.Size(), c.size);
    EXPECT_EQ(def.Required(), c.required && c.type != pd::ftAutoInc);
  }
  // The advanced form keeps the autoincrement column required.
  TORVAdvFieldDefs adv_back;
  ConvertORVFieldDefsToAdvFieldDefs(*reader.FVisibleFieldDefs, *reader.FFieldDefs, *reader.FConstraintDefs,
                                    adv_back);
  EXPECT_TRUE(adv_back.Find("FAutoInc")->Required);
  EXPECT_TRUE(adv_back.Find("FString")->Required);
  EXPECT_FALSE(adv_back.Find("FBlob")->Required);
  EXPECT_NE(adv_back.Find("FBlob")->ObjectID, -1);
  EXPECT_EQ(adv_back.Find("FBlob")->BLOBBlockSize, 102400);

  TORVAdvIndexDefs adv_indexes_back;
  ConvertORVIndexDefsToAdvIndexDefs(*reader.GetIndexDefs(), adv_indexes_back);
  pd::TIndexDefs indexes_back;
  ConvertAdvIndexDefsToIndexDefs(adv_indexes_back, indexes_back);
  ASSERT_EQ(indexes_back.Count(), 2);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(indexes_back[i]->Name(), source_indexes[i]->Name());
    EXPECT_EQ(indexes_back[i]->Fields(), source_indexes[i]->Fields());
    EXPECT_EQ(indexes_back[i]->Options(), source_indexes[i]->Options());
  }
  reader.CloseTable();
}

// Reading constraints back: a constraint on a column the fields do not have, and a foreign key.
TEST(AdvDefsTest, ConstraintsOnUnknownColumnsAreErrors) {
  TORVFieldDefs fields;
  TORVFieldDef* f = fields.AddCreated();
  f->Name = "A";
  f->SetFieldDefDataType(aftInteger, 0);
  f->ObjectID = 7;
  TORVFieldDefs visible;
  visible.Assign(fields);
  visible.GetDef(0)->FieldNoReference = 0;
  TORVAdvFieldDefs adv;
  {
    TORVConstraintDefs constraints;
    constraints.AddNotNull()->ColumnObjectID = 8;
    ExpectCode(30032, [&] { ConvertORVFieldDefsToAdvFieldDefs(visible, fields, constraints, adv); },
               "Field #8 not found - Native error: 30032");
    pd::TFieldDefs platform_fields;
    ConvertORVFieldDefsToFieldDefs(fields, constraints, platform_fields);  // skipped there
    EXPECT_FALSE(platform_fields[0]->Required());
  }
  {
    TORVConstraintDefs constraints;
    constraints.AddCheck()->ColumnObjectID = 9;
    ExpectCode(30031, [&] { ConvertORVFieldDefsToAdvFieldDefs(visible, fields, constraints, adv); });
  }
  {
    TORVConstraintDefs constraints;
    constraints.AddNotNull()->ColumnObjectID = 7;
    ConvertORVFieldDefsToAdvFieldDefs(visible, fields, constraints, adv);
    EXPECT_TRUE(adv[0]->Required);
  }
}

}  // namespace
}  // namespace orv
