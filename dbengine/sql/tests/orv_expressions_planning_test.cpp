// Index scan conditions made from a condition's comparisons and NULL tests: which index a node
// can serve and with what key, how a multi-column key is extended, and that a filtered table
// with indexes shows exactly the rows it shows without them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/tests/filter_table.h"
#include "dbengine/storage/tests/expect_code.h"

namespace orv {
namespace {

using testing::FilterTable;
using testing::IndexSpec;
using testing::Stamp;
using Ids = std::vector<int64_t>;

const std::vector<std::pair<std::string, std::pair<TORVAdvancedFieldType, int32_t>>> kColumns = {
    {"Name", {aftString, 5}}, {"Age", {aftInteger, 0}}, {"Born", {aftDate, 0}}, {"Price", {aftDouble, 0}}};

struct IndexConditions : ::testing::Test {
  IndexConditions() {
    table.Insert({std::string("Smith"), int64_t{42}, Stamp{45000.0}, 10.5});
    table.Insert({std::string("Jones"), int64_t{30}, Stamp{45001.0}, 10.0});
    table.Insert({std::monostate{}, int64_t{5}, std::monostate{}, std::monostate{}});
    table.Insert({std::string("smith"), std::monostate{}, Stamp{45002.0}, 3.0});
    table.Insert({std::string("Brown"), int64_t{5}, Stamp{45000.0}, 12.0});
  }

  // An index over the table's columns; no letter in AscDesc/CaseIns: ascending, with case.
  TORVIndexDef* Index(const std::vector<std::string>& Fields, const std::string& Desc = "",
                      const std::string& NoCase = "") {
    TORVIndexDef* d = indexes.AddCreated();
    d->ObjectID = ++last_id;
    d->Name = "I" + std::to_string(last_id);
    std::vector<std::string> asc, cases;
    for (size_t i = 0; i < Fields.size(); ++i) {
      asc.push_back(i < Desc.size() && Desc[i] == 'D' ? "DESC" : "ASC");
      cases.push_back(i < NoCase.size() && NoCase[i] == 'N' ? "NO_CASE" : "CASE");
    }
    d->AssignByNames(Fields, asc, cases);
    return d;
  }
  TORVScanSearchConditionArray& Conditions(const std::string& Filter, bool CaseInsensitive = false,
                                           bool PartialKey = false) {
    e.ParseForFilter(&table.cursor(), Filter, CaseInsensitive, PartialKey);
    conditions.Items.clear();
    e.CreateIndexScanConditions(indexes, conditions, table.cursor().GetSessionID());
    return conditions;
  }
  // The single condition a filter gives (its kind, key columns and index), or "none".
  std::string One(const std::string& Filter, bool CaseInsensitive = false, bool PartialKey = false) {
    TORVScanSearchConditionArray& c = Conditions(Filter, CaseInsensitive, PartialKey);
    if (c.Count() == 0) return "none";
    if (c.Count() > 1) return std::to_string(c.Count()) + " conditions";
    static const char* kNames[] = {"none", "=", "<", ">", "<=", ">="};
    return std::string(kNames[c[0].Condition]) + " key " + std::to_string(c[0].KeyFieldCount) + " on I" +
           std::to_string(c[0].IndexID) + (c[0].ParentExpressionNodes.empty() ? " (tested)" : "");
  }

  TORVScopedExpressionEngine engine;
  FilterTable table{kColumns};
  TORVIndexDefs indexes;
  int32_t last_id = 0;
  TORVExpression e;
  TORVScanSearchConditionArray conditions;
};

TEST_F(IndexConditions, ComparisonsAndNullTestsServeAMatchingIndex) {
  Index({"Name"});
  // The condition names the node it was made from, which the search takes out while it runs.
  TORVScanSearchConditionArray& c = Conditions("Name = 'Smith'");
  ASSERT_EQ(c.Count(), 1);
  EXPECT_EQ(c[0].Condition, scEqual);
  EXPECT_TRUE(c[0].CreatedFromExpression);
  EXPECT_EQ(c[0].Expression, nullptr);
  ASSERT_EQ(c[0].ParentExpressions, std::vector<IORVScanExpression*>{&e});
  EXPECT_EQ(c[0].ParentExpressionNodes, std::vector<TORVExpressionNode*>{e.Root()});

  EXPECT_EQ(One("Name <> 'Smith'"), "none");
  EXPECT_EQ(One("Name LIKE 'S%'"), "none");
  EXPECT_EQ(One("Name = 'Smith' OR Name = 'Jones'"), "none") << "nothing is taken out of OR";
  EXPECT_EQ(One("Name IS NULL"), "= key 1 on I1");
  EXPECT_EQ(One("Name IS NOT NULL"), "> key 1 on I1") << "NULL is the least key";
  EXPECT_EQ(One("Name = Name"), "none");
}

TEST_F(IndexConditions, OperatorsByDirectionAndNullKeys) {
  Index({"Age"});
  Index({"Price"}, "D");
  Index({"Age"}, "D");
  // One condition per usable index; the comparison read from the column's side.
  TORVScanSearchConditionArray& c = Conditions("10 < Age");
  ASSERT_EQ(c.Count(), 2);
  EXPECT_EQ(c[0].Condition, scGreater);
  EXPECT_EQ(c[1].Condition, scLower) << "descending";
  EXPECT_EQ(One("Price > 10"), "< key 1 on I2");
  EXPECT_EQ(One("Price <> 10"), "none");
  EXPECT_EQ(One("Price IS NOT NULL"), "< key 1 on I2");
  // A range reaching the NULL keys holds rows the comparison rejects: the node stays and is
  // tested on each record of the range.
  EXPECT_EQ(One("Price < 10"), "> key 1 on I2 (tested)");
  EXPECT_EQ(One("Price >= 10"), "<= key 1 on I2");
}

TEST_F(IndexConditions, CaseSizeAndKindOfTheConstant) {
  Index({"Name"});
  Index({"Name"}, "", "N");
  EXPECT_EQ(One("Name = 'Smith'"), "= key 1 on I1");
  EXPECT_EQ(One("Name = 'Smith'", true), "= key 1 on I2") << "a case-insensitive filter";
  EXPECT_EQ(One("UPPER(Name) = 'SMITH'"), "= key 1 on I2");
  EXPECT_EQ(One("LOWER(Name) = 'smith'"), "= key 1 on I2");
  EXPECT_EQ(One("UPPER(Name) = 'Smith'"), "none");
  EXPECT_EQ(One("Name = 'Smithe'"), "none") << "longer than the column holds";
  EXPECT_EQ(One("Name = 'Sm*'", false, true), "none") << "a partial key";
  Index({"Age"});
  Index({"Born"});
  EXPECT_EQ(One("Age = 5"), "= key 1 on I3");
  EXPECT_EQ(One("Age = 5.0"), "= key 1 on I3");
  EXPECT_EQ(One("Age >= 4.5"), "none") << "an integer key would round it";
  EXPECT_EQ(One("Age = '5'"), "none");
  EXPECT_EQ(One("Age = NULL"), "none") << "unknown for every row";
  EXPECT_EQ(One("Born = DATE '2023-03-15'"), "= key 1 on I4");
  EXPECT_EQ(One("Born = TIMESTAMP '2023-03-15 12:00:00'"), "none");
}

TEST_F(IndexConditions, MultiColumnKeysAreExtendedAfterEqualities) {
  TORVIndexDef* both = Index({"Age", "Name"});
  TORVScanSearchConditionArray& c = Conditions("Name = 'Brown' AND Age = 5");
  ASSERT_EQ(c.Count(), 1);
  EXPECT_TRUE(e.ExtendMultiFieldIndexCondition(c[0], both));
  EXPECT_EQ(c[0].KeyFieldCount, 2);
  EXPECT_EQ(c[0].ParentExpressionNodes.size(), 2u);
  EXPECT_FALSE(e.ExtendMultiFieldIndexCondition(c[0], both)) << "every column has its key";

  Conditions("Age > 1 AND Name = 'Brown'");
  ASSERT_EQ(conditions.Count(), 1);
  EXPECT_FALSE(e.ExtendMultiFieldIndexCondition(conditions[0], both));

  Conditions("Age = 5 AND Name IS NULL");
  ASSERT_EQ(conditions.Count(), 1);
  EXPECT_TRUE(e.ExtendMultiFieldIndexCondition(conditions[0], both));
  EXPECT_EQ(conditions[0].KeyFieldCount, 2);
}

TEST_F(IndexConditions, ATemporaryIndexServesOnlyItsSession) {
  TORVIndexDef* temporary = Index({"Age"});
  temporary->Temporary = true;
  temporary->SessionID = table.cursor().GetSessionID() + 1;
  EXPECT_EQ(One("Age = 5"), "none");
  temporary->SessionID = table.cursor().GetSessionID();
  EXPECT_EQ(One("Age = 5"), "= key 1 on I1");
}

TEST_F(IndexConditions, MalformedRequestsAreErrors) {
  e.ParseForFilter(&table.cursor(), "Age = 5", false, false);
  TORVIndexDef* empty = indexes.AddCreated();
  empty->ObjectID = 9;
  ExpectCode(20057, [&] { e.Root()->AddAsIndexScanCondition(conditions, empty, &e); });
  e.ParseForFilter(&table.cursor(), "Age = Age", false, false);
  ExpectCode(20055, [&] { e.Root()->AddAsIndexScanCondition(conditions, Index({"Age"}), &e); });
  e.ParseForFilter(&table.cursor(), "Age IS NULL", false, false);
  ExpectCode(20255, [&] { e.Root()->AddAsIndexScanCondition(conditions, empty, &e); });
}

// The table's own record search with indexes on every column shows what it shows without.
TEST(IndexedFilters, SelectWhatTheUnindexedTableSelects) {
  TORVScopedExpressionEngine engine;
  FilterTable plain{kColumns};
  FilterTable indexed{kColumns,
                      {},
                      {IndexSpec{"N", {"Name"}, {}, {}}, IndexSpec{"NI", {"Name"}, {"DESC"}, {"NO_CASE"}},
                       IndexSpec{"A", {"Age"}, {"DESC"}, {}}, IndexSpec{"AN", {"Age", "Name"}, {}, {}},
                       IndexSpec{"B", {"Born"}, {}, {}}, IndexSpec{"P", {"Price"}, {}, {}}}};
  for (FilterTable* t : {&plain, &indexed}) {
    t->Insert({std::string("Smith"), int64_t{42}, Stamp{45000.0}, 10.5});
    t->Insert({std::string("Jones"), int64_t{30}, Stamp{45001.0}, 10.0});
    t->Insert({std::monostate{}, int64_t{5}, std::monostate{}, std::monostate{}});
    t->Insert({std::string("smith"), std::monostate{}, Stamp{45002.0}, 3.0});
    t->Insert({std::string("Brown"), int64_t{5}, Stamp{45000.0}, 12.0});
    t->Insert({std::string("Abel"), int64_t{5}, Stamp{45003.0}, -1.0});
  }
  const std::vector<std::pair<std::string, bool>> filters = {
      {"Name = 'Smith'", false},        {"Name = 'smith'", true},   {"UPPER(Name) = 'SMITH'", false},
      {"Name > 'Jones'", false},        {"Name < 'Jones'", false},  {"Name <= 'Smith'", true},
      {"Age < 30", false},              {"Age <= 30", false},       {"Age > 5", false},
      {"30 > Age", false},              {"Age >= 4.5", false},      {"Age = 5.5", false},
      {"Age = 5 AND Name = 'Brown'", false}, {"Age = 5 AND Name IS NULL", false}, {"Age = 5 AND Name > 'B'", false},
      {"Age IS NULL", false},           {"Age IS NOT NULL", false}, {"Price < 10.5 AND Price > 0", false},
      {"Born = DATE '2023-03-15'", false}, {"Born < DATE '2023-03-17'", false}, {"Name = 'Smithers'", false},
      {"Age > 1 AND Age < 40 AND Price >= 10", false}};
  EXPECT_EQ(indexed.Visible("Name = 'Sm*'", false, true), plain.Visible("Name = 'Sm*'", false, true));
  for (const auto& [filter, case_insensitive] : filters) {
    SCOPED_TRACE(filter);
    const Ids expected = plain.Visible(filter, case_insensitive);
    EXPECT_EQ(indexed.Visible(filter, case_insensitive), expected);
  }
  EXPECT_EQ(plain.Visible("Age < 30"), (Ids{3, 5, 6})) << "a NULL age is not below 30";
}

}  // namespace
}  // namespace orv
