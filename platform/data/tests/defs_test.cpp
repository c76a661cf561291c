#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/data/database_error.h"
#include "platform/data/field_defs.h"
#include "platform/data/index_defs.h"
#include "platform/data/numeric_field.h"
#include "platform/data/string_field.h"

namespace platform::data {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(FieldDefsTest, NamesAreUniqueWithoutRegardToCase) {
  TFieldDefs defs;
  defs.Add("ID", ftAutoInc);
  defs.Add("Name", ftString, 40, true);
  EXPECT_THAT([&] { defs.Add("name", ftInteger); },
              ::testing::ThrowsMessage<EDatabaseError>("Duplicate name 'name' in TFieldDefs"));
  EXPECT_THAT([&] { defs.Add("", ftInteger); }, ::testing::ThrowsMessage<EDatabaseError>("Field name missing"));
  EXPECT_THROW(defs.Add("Neg", ftString, -1), EDatabaseError);
  EXPECT_EQ(defs.IndexOf("NAME"), 1);
  EXPECT_EQ(defs[1]->FieldNo(), 2);
  EXPECT_THAT([&] { defs.Find("Other"); }, ::testing::ThrowsMessage<EDatabaseError>("Field 'Other' not found"));
  EXPECT_THROW(defs[0]->SetName("NAME"), EDatabaseError);

  TFieldDefs copy;
  copy.Assign(defs);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy[1]->Name(), "Name");
  EXPECT_EQ(copy[1]->Size(), 40);
  EXPECT_TRUE(copy[1]->Required());
}

TEST(FieldDefsTest, CreateFieldObjectGivesTheClassWithNameSizeAndRequired) {
  TFieldDefs defs;
  std::unique_ptr<TField> f = defs.Add("Name", ftString, 40, true)->CreateFieldObject();
  ASSERT_NE(dynamic_cast<TStringField*>(f.get()), nullptr);
  EXPECT_EQ(f->FieldName(), "Name");
  EXPECT_EQ(f->Size(), 40);
  EXPECT_TRUE(f->Required());
  std::unique_ptr<TField> g = defs.Add("G", ftGuid, 10)->CreateFieldObject();
  EXPECT_EQ(g->Size(), 38);  // a GUID's text has one length
  std::unique_ptr<TField> n = defs.Add("N", ftInteger, 0)->CreateFieldObject();
  EXPECT_EQ(n->Size(), 0);
  for (TFieldType t : {ftUnknown, ftBCD, ftCursor, ftVariant, ftFMTBcd})
    EXPECT_EQ(defs.Add(std::string("X") + FieldTypeName(t), t)->CreateFieldObject(), nullptr) << FieldTypeName(t);
}

class IndexDefsTest : public ::testing::Test {
 protected:
  IndexDefsTest() {
    defs.Add("PK", "ID", {ixPrimary, ixUnique});
    defs.Add("ByNameDate", "Name;DateTime", {});
    defs.Add("ByNameCI", "Name", {ixCaseInsensitive});
    defs.Add("ByDate", "DateTime", {ixDescending});
    defs.Add("Expr", "Job", {ixExpression});
  }
  TIndexDefs defs;
};

TEST_F(IndexDefsTest, FindIndexForFieldsPrefersExactThenLeadingColumns) {
  struct Case {
    const char* fields;
    bool case_insensitive;
    const char* expected;  // nullptr: none
  };
  const Case cases[] = {
      {"ID", false, "PK"},
      {"name", false, "ByNameDate"},  // leading column of a longer index
      {"Name", true, "ByNameCI"},     // exact, case-insensitive wanted
      {" Name ; DateTime ", false, "ByNameDate"},
      {"DateTime", false, "ByDate"},
      {"DateTime;Name", false, nullptr},
      {"Job", false, nullptr},  // expression indexes never qualify
      {"", false, nullptr},
  };
  for (const Case& c : cases) {
    TIndexDef* d = defs.GetIndexForFields(c.fields, c.case_insensitive);
    if (c.expected == nullptr) {
      EXPECT_EQ(d, nullptr) << c.fields;
    } else {
      ASSERT_NE(d, nullptr) << c.fields;
      EXPECT_EQ(d->Name(), c.expected) << c.fields;
    }
  }
  EXPECT_EQ(defs.FindIndexForFields("Name")->Name(), "ByNameDate");
  EXPECT_THAT([&] { defs.FindIndexForFields("Plate"); },
              ::testing::ThrowsMessage<EDatabaseError>("No index for fields 'Plate'"));
}

TEST_F(IndexDefsTest, NamesLookupsAndCopies) {
  EXPECT_EQ(defs.Find("pk")->Options(), (TIndexOptions{ixPrimary, ixUnique}));
  EXPECT_THAT([&] { defs.Find("None"); }, ::testing::ThrowsMessage<EDatabaseError>("Index 'None' not found"));
  EXPECT_THROW(defs.Add("BYDATE", "X", {}), EDatabaseError);
  defs.Add("", "A", {});
  defs.Add("", "B", {});  // unnamed definitions do not clash
  defs[1]->SetDescFields("DateTime");
  TIndexDefs copy;
  copy.Assign(defs);
  EXPECT_EQ(copy.Count(), defs.Count());
  EXPECT_EQ(copy[1]->DescFields(), "DateTime");
  EXPECT_THAT(SplitFieldNames(" A; ;B;"), ElementsAre("A", "B"));
}

}  // namespace
}  // namespace platform::data
