#include "dbengine/sql/orv_expressions_aggregates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

#include "dbengine/sql/tests/expr_test_support.h"
#include "dbengine/sql/tests/python_reference.h"
#include "dbengine/storage/tests/expect_code.h"

namespace orv {
namespace {

using testing::Int;
using testing::List;
using testing::Null;
using testing::Str;

std::unique_ptr<TORVExprNodeAggregated> Agg(TORVDataOperator op, TORVExprNodePtr arg, bool distinct = false) {
  return std::make_unique<TORVExprNodeAggregated>(op, distinct, std::move(arg));
}

// Feeds one constant per record: the constant node is changed between the Accumulate calls.
class ConstFeed {
 public:
  explicit ConstFeed(TORVDataOperator op, bool distinct = false) {
    auto c = testing::Const();
    value_ = c.get();
    node = Agg(op, std::move(c), distinct);
    node->Init();
  }
  void Add(TORVExprNodePtr v) {
    value_->Value.Assign(v->Value, true);
    node->Accumulate();
  }
  std::unique_ptr<TORVExprNodeAggregated> node;

 private:
  TORVExprNode* value_;
};

TEST(ExprAggregates, EmptyGroupsNullsAndTypes) {
  for (TORVDataOperator op : {doSUM, doAVG, doMIN, doMAX}) {
    ConstFeed f(op);
    f.Add(Null());
    EXPECT_TRUE(f.node->GetDataValue().IsNull()) << GetOperatorName(op);
  }
  ConstFeed count(doCOUNT);
  count.Add(Null());
  EXPECT_EQ(count.node->GetDataValue().GetDataAsSignedInt32(), 0);
  EXPECT_EQ(count.node->GetDataValue().DataType(), bftSignedInt32);
  // COUNT(*) counts records, NULL or not; the grouping operator may also set the count.
  TORVExprNodeAggregated all(doCOUNTALL);
  all.Init();
  for (int i = 0; i < 3; ++i) all.Accumulate();
  EXPECT_EQ(all.GetDataValue().GetDataAsSignedInt32(), 3);
  all.SetCountAll(17);
  EXPECT_EQ(all.GetDataValue().GetDataAsSignedInt32(), 17);
  EXPECT_TRUE(all.IsAggregatedCountAll());
  EXPECT_FALSE(count.node->IsAggregatedCountAll());

  EXPECT_EQ(Agg(doSUM, Int(1))->GetDataType(), aftLargeint);
  EXPECT_EQ(Agg(doSUM, testing::Dbl(1))->GetDataType(), aftDouble);
  EXPECT_EQ(Agg(doAVG, Int(1))->GetDataType(), aftDouble);
  EXPECT_EQ(Agg(doMIN, Str("abc"))->GetDataType(), aftString);
  EXPECT_EQ(Agg(doMAX, Str("abc"))->GetDataSize(), 3);
  EXPECT_EQ(Agg(doCOUNT, Str("abc"))->GetDataType(), aftInteger);
  EXPECT_EQ(all.GetDataType(), aftInteger);
  EXPECT_EQ(Agg(doSUM, nullptr)->GetDataType(), aftUnknown);
}

TEST(ExprAggregates, SumOfIntegersGoesBeyond32Bits) {
  ConstFeed sum(doSUM);
  for (int i = 0; i < 4; ++i) sum.Add(Int(2000000000));
  const TORVVariant& v = sum.node->GetDataValue();
  EXPECT_EQ(v.DataType(), bftSignedInt64);
  EXPECT_EQ(v.GetDataAsSignedInt64(), 8000000000);
  ConstFeed huge(doSUM);
  huge.Add(testing::Int64(INT64_MAX));
  EXPECT_THROW(huge.Add(Int(1)), std::overflow_error);
}

TEST(ExprAggregates, AvgCanBeReadTwice) {
  ConstFeed avg(doAVG);
  for (int v : {1, 2, 4}) avg.Add(Int(v));
  EXPECT_DOUBLE_EQ(avg.node->GetDataValue().GetDataAsDouble(), 7.0 / 3);
  EXPECT_DOUBLE_EQ(avg.node->GetDataValue().GetDataAsDouble(), 7.0 / 3);
  avg.node->Init();
  EXPECT_TRUE(avg.node->GetDataValue().IsNull());
}

TEST(ExprAggregates, MinAndMaxOfTextsIgnoreCase) {
  ConstFeed min(doMIN), max(doMAX);
  for (const char* s : {"B", "a", "C"}) {
    min.Add(Str(s));
    max.Add(Str(s));
  }
  EXPECT_EQ(min.node->GetDataValue().GetDataAsAnsiString(), "a");
  EXPECT_EQ(max.node->GetDataValue().GetDataAsAnsiString(), "C");
}

TEST(ExprAggregates, DistinctCountsEachValueOnce) {
  ConstFeed sum(doSUM, true), count(doCOUNT, true), avg(doAVG, true), texts(doCOUNT, true);
  for (int v : {3, 3, 5, 3, 5, 7}) {
    sum.Add(Int(v));
    count.Add(Int(v));
    avg.Add(Int(v));
  }
  EXPECT_EQ(sum.node->GetDataValue().GetDataAsSignedInt64(), 15);
  EXPECT_EQ(count.node->GetDataValue().GetDataAsSignedInt32(), 3);
  EXPECT_DOUBLE_EQ(avg.node->GetDataValue().GetDataAsDouble(), 5.0);
  for (const char* s : {"abc", "ABC", "abc"}) texts.Add(Str(s));
  EXPECT_EQ(texts.node->GetDataValue().GetDataAsSignedInt32(), 2);
  // Every group starts afresh.
  sum.node->Init();
  sum.Add(Int(3));
  EXPECT_EQ(sum.node->GetDataValue().GetDataAsSignedInt64(), 3);
}

// An operator without columns that is, or is not, a grouping operator.
class EmptyAO : public IORVAO {
 public:
  explicit EmptyAO(bool GroupBy) : group_by_(GroupBy) {}
  int32_t FieldExists(const std::string&, const std::string&, bool, TORVIntegerArray*, bool, bool) override { return 0; }
  void GetFieldValue(TORVVariant&, int32_t, bool, bool) override {}
  TORVAdvancedFieldType GetFieldType(int32_t) override { return aftUnknown; }
  int32_t GetFieldSize(int32_t) override { return 0; }
  int32_t GetFieldPrecision(int32_t) override { return 0; }
  std::string GetFieldNameByColumnNo(int32_t) override { return ""; }
  bool IsAOGroupBy() const override { return group_by_; }

 private:
  bool group_by_;
};

TEST(ExprAggregates, ErrorsAndWhereTheyCanBeEvaluated) {
  ConstFeed sum(doSUM), avg(doAVG);
  ExpectCode(30132, [&] { sum.Add(Str("x")); }, "Not numeric argument in numeric operator 'SUM' - Native error: 30132");
  ExpectCode(30133, [&] { avg.Add(Str("x")); });
  ExpectCode(30134, [] {
    TORVExprNodeAggregated odd(doUPPER, false, Int(1));
    odd.Accumulate();
  });
  auto node = Agg(doSUM, Int(1));
  EXPECT_TRUE(node->IsAggregated());
  EXPECT_TRUE(node->CanBeUsedInGroupBy("X"));
  EXPECT_TRUE(testing::Arith(doADD, List(Agg(doSUM, Int(1)), Int(1)))->IsAggregated());
  EXPECT_FALSE(testing::Arith(doADD, List(Int(1), Int(1)))->IsAggregated());
  // Only a grouping operator evaluates aggregates.
  EmptyAO plain(false), grouping(true);
  EXPECT_FALSE(node->CanBeAssigned(nullptr, nullptr, nullptr, false));
  EXPECT_FALSE(node->CanBeAssigned(&plain, nullptr, nullptr, false));
  EXPECT_TRUE(node->CanBeAssigned(&grouping, nullptr, nullptr, true));
  EXPECT_FALSE(Agg(doSUM, std::make_unique<TORVExprNodeField>(nullptr, "x", ""))->CanBeAssigned(&grouping, nullptr,
                                                                                               nullptr, false));
}

// SUM, AVG, MIN, MAX, COUNT, COUNT(*) and the DISTINCT forms over random integer, double and
// text columns with NULLs, fed from records of a table, against Python.
TEST(ExprAggregates, AgainstPythonOverRandomColumns) {
  const auto reference = testing::PythonLines("aggregate_reference.py");
  ASSERT_GT(reference.size(), 300u) << "python3 could not write the reference results";
  testing::ExprTable table({{"i", {aftInteger, 0}}, {"d", {aftDouble, 0}}, {"s", {aftString, 10}}});
  struct Aggregate {
    const char* name;
    TORVDataOperator op;
    const char* field;
    bool distinct;
  };
  const Aggregate aggregates[] = {
      {"SUM_I", doSUM, "i", false},         {"AVG_I", doAVG, "i", false},
      {"MIN_I", doMIN, "i", false},         {"MAX_I", doMAX, "i", false},
      {"COUNT_I", doCOUNT, "i", false},     {"SUM_D", doSUM, "d", false},
      {"AVG_D", doAVG, "d", false},         {"MIN_D", doMIN, "d", false},
      {"MAX_D", doMAX, "d", false},         {"MIN_S", doMIN, "s", false},
      {"MAX_S", doMAX, "s", false},         {"COUNT_S", doCOUNT, "s", false},
      {"COUNT_ALL", doCOUNTALL, "", false}, {"SUM_DISTINCT_I", doSUM, "i", true},
      {"COUNT_DISTINCT_I", doCOUNT, "i", true}, {"AVG_DISTINCT_D", doAVG, "d", true},
      {"COUNT_DISTINCT_S", doCOUNT, "s", true},
  };
  std::map<std::string, std::unique_ptr<TORVExprNodeAggregated>> nodes;
  for (const Aggregate& a : aggregates)
    nodes[a.name] = a.op == doCOUNTALL ? std::make_unique<TORVExprNodeAggregated>(doCOUNTALL)
                                       : Agg(a.op, table.Field(a.field), a.distinct);
  int groups = 0, failures = 0;
  bool beyond_32_bits = false;
  for (const std::string& line : reference) {
    std::istringstream in(line);
    std::string tag;
    in >> tag;
    if (tag == "G") {
      ++groups;
      for (auto& [name, node] : nodes) node->Init();
    } else if (tag == "R") {
      std::vector<std::string> f;
      std::stringstream cells(line.substr(2));
      for (std::string cell; std::getline(cells, cell, '\t');) f.push_back(cell);
      ASSERT_EQ(f.size(), 3u) << line;
      void* record = table.NewRecord();
      if (f[0] != "\\N") table.SetInt(record, "i", std::stoll(f[0]));
      if (f[1] != "\\N") table.SetDouble(record, "d", std::strtod(f[1].c_str(), nullptr));
      if (f[2] != "\\N") table.SetText(record, "s", f[2]);
      for (auto& [name, node] : nodes) {
        node->AssignCursorBuffer(record, false);
        node->Accumulate();
      }
    } else if (tag == "E") {
      std::string name, expected;
      in >> name >> expected;
      const TORVVariant& got = nodes.at(name)->GetDataValue();
      bool same = false;
      if (expected == "NULL") {
        same = got.IsNull();
      } else if (got.IsNull()) {
        same = false;
      } else if (got.IsStringDataType()) {
        same = got.GetDataAsAnsiString() == expected;
      } else if (got.DataType() == bftDouble) {
        const double e = std::strtod(expected.c_str(), nullptr), g = got.GetDataAsDouble();
        same = std::fabs(g - e) <= 1e-12 * std::max(1.0, std::fabs(e));
      } else {
        same = got.GetDataAsSignedInt64() == std::stoll(expected);
        if (name == "SUM_I" && std::llabs(std::stoll(expected)) > INT32_MAX) beyond_32_bits = true;
      }
      if (!same && ++failures <= 20)
        ADD_FAILURE() << "group " << groups << " " << name << ": " << (got.IsNull() ? "NULL" : got.GetDataAsAnsiString())
                      << ", Python: " << expected;
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(groups, 10);
  EXPECT_TRUE(beyond_32_bits);
}

}  // namespace
}  // namespace orv
