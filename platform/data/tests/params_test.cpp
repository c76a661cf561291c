#include "platform/data/params.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/data/database_error.h"
#include "platform/data/tests/vector_dataset.h"

namespace platform::data {
namespace {

using ::testing::ElementsAreArray;

struct ParseCase {
  const char* sql;
  const char* text;
  std::vector<std::string> names;
};

class ParseSQLTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseSQLTest, FindsTheParametersAndReplacesThem) {
  const ParseCase& c = GetParam();
  TParams params;
  EXPECT_EQ(params.ParseSQL(c.sql, true), c.text);
  std::vector<std::string> names;
  for (int i = 0; i < params.Count(); ++i) names.push_back(params[i]->Name());
  EXPECT_THAT(names, ElementsAreArray(c.names));
  for (int i = 0; i < params.Count(); ++i) {
    EXPECT_EQ(params[i]->DataType(), ftUnknown);
    EXPECT_EQ(params[i]->ParamType(), ptInput);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ParseSQLTest,
    ::testing::Values(
        ParseCase{"select * from T where A = :A and B>:b2", "select * from T where A = ? and B>?", {"A", "b2"}},
        ParseCase{":x + :X + :y", "? + ? + ?", {"x", "y"}},  // one parameter per name
        ParseCase{"where s = 'it''s :no' and :yes", "where s = 'it''s :no' and ?", {"yes"}},
        ParseCase{"select \"a:b\", `c:d`, [e:f] from t", "select \"a:b\", `c:d`, [e:f] from t", {}},
        ParseCase{"select 'a' || '::' from t where x = y::z", "select 'a' || '::' from t where x = y:z", {}},
        ParseCase{"x = : y, z = :1, end:", "x = : y, z = :1, end:", {}},
        ParseCase{"-- :c comment\n:d /* :e */ :f", "-- :c comment\n? /* :e */ ?", {"d", "f"}},
        ParseCase{"where a = :\"my param\" and b = :\"q\"\"x\"", "where a = ? and b = ?", {"my param", "q\"x"}},
        ParseCase{"time '12:30' :p1_x$#,", "time '12:30' ?,", {"p1_x$#"}},
        ParseCase{"where Größe = :größe", "where Größe = ?", {"größe"}},
        ParseCase{"unterminated 'abc :x", "unterminated 'abc :x", {}},
        ParseCase{"open comment /* :x", "open comment /* :x", {}},
        ParseCase{":\"\" and :\"open", ":\"\" and :\"open", {}}));

TEST(ParamsTest, ParseWithoutCreatingKeepsTheList) {
  TParams params;
  params.CreateParam(ftInteger, "a", ptInput);
  EXPECT_EQ(params.ParseSQL("where x = :b and y = :a", false), "where x = ? and y = ?");
  EXPECT_EQ(params.Count(), 1);
}

TEST(ParamsTest, TypedValuesSetTheirTypeAndByNameLookups) {
  TParams params;
  params.ParseSQL(":when :count :name :blob :memo", true);
  params.ParamByName("WHEN")->SetAsTime(0.5);
  params.ParamByName("count")->SetAsInteger(7);
  params.ParamByName("name")->SetValue(Variant(u"wide"));
  params.ParamByName("blob")->SetAsBlob({1, 2});
  params.ParamByName("memo")->SetAsMemo("µ");
  EXPECT_EQ(params[0]->DataType(), ftTime);
  EXPECT_DOUBLE_EQ(params[0]->AsDateTime(), 0.5);
  EXPECT_EQ(params[1]->DataType(), ftInteger);
  EXPECT_EQ(params[2]->DataType(), ftWideString);
  EXPECT_EQ(params[3]->AsBlob(), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(params[4]->AsAnsiString(), "\xB5");
  EXPECT_TRUE(params[4]->Bound());
  params[1]->Clear();
  EXPECT_TRUE(params[1]->IsNull());
  EXPECT_EQ(params[1]->DataType(), ftInteger);
  EXPECT_THAT([&] { params.ParamByName("missing"); },
              ::testing::ThrowsMessage<EDatabaseError>("Parameter 'missing' not found"));
}

TEST(ParamsTest, AssignValuesCopiesByNameAndIsEqualComparesAll) {
  TParams a, b;
  a.ParseSQL(":x :y", true);
  b.ParseSQL(":Y :z", true);
  b.ParamByName("y")->SetAsFloat(2.5);
  b.ParamByName("z")->SetAsString("zz");
  a.AssignValues(b);
  EXPECT_EQ(a.ParamByName("y")->Name(), "y");  // the name stays, the value comes
  EXPECT_DOUBLE_EQ(a.ParamByName("y")->AsFloat(), 2.5);
  EXPECT_TRUE(a.ParamByName("x")->IsNull());
  EXPECT_FALSE(a.IsEqual(b));
  TParams c;
  c.Assign(b);
  EXPECT_TRUE(c.IsEqual(b));
  c[0]->SetAsFloat(3);
  EXPECT_FALSE(c.IsEqual(b));
}

TEST(ParamsTest, AssignFieldTakesNameTypeAndValue) {
  testing::VectorDataSet ds({{"Plate", ftString, 10}, {"Count", ftInteger}});
  ds.Open();
  ds.AppendRecord({"P-1"});
  TParam p;
  p.AssignField(*ds.FieldByName("Plate"));
  EXPECT_EQ(p.Name(), "Plate");
  EXPECT_EQ(p.DataType(), ftString);
  EXPECT_EQ(p.AsString(), "P-1");
  EXPECT_TRUE(p.Bound());
  p.AssignField(*ds.FieldByName("Count"));
  EXPECT_TRUE(p.IsNull());
  EXPECT_EQ(p.DataType(), ftInteger);
}

}  // namespace
}  // namespace platform::data
