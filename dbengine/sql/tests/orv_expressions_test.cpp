// The expression object: its entry points (Locate, filters, the any-record condition, default
// values), evaluation and binding, the tree edits of planning, and filters evaluated by the
// table layer over a table.
#include "dbengine/sql/orv_expressions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dbengine/sql/tests/expr_sexpr.h"
#include "dbengine/sql/tests/filter_table.h"
#include "dbengine/storage/tests/expect_code.h"
#include "platform/base/clock.h"

namespace orv {
namespace {

using testing::Cell;
using testing::FilterTable;
using testing::SExpr;
using testing::Stamp;
using testing::TestCursor;
using Ids = std::vector<int64_t>;

// Name, Age, Born (a date-time), with NULLs in every column.
struct People : ::testing::Test {
  People() {
    table.Insert({std::string("Smith"), int64_t{42}, Stamp{45000.0}});
    table.Insert({std::string("Jones"), int64_t{30}, Stamp{45000.5}});
    table.Insert({std::monostate{}, int64_t{5}, Stamp{44000.0}});
    table.Insert({std::string("smithers"), std::monostate{}, std::monostate{}});
    table.Insert({std::string("Brown"), int64_t{5}, Stamp{45001.0}});
  }
  std::optional<int64_t> Locate(const std::string& Fields, const std::vector<TORVVarValue>& Keys,
                                bool CaseInsensitive = false, bool PartialKey = false) {
    return table.Locate(Fields, Keys, CaseInsensitive, PartialKey);
  }

  TORVScopedExpressionEngine engine;
  FilterTable table{{{"Name", {aftString, 20}}, {"Age", {aftInteger, 0}}, {"Born", {aftDateTime, 0}}}};
};

TORVVarValue Text(const char* s) { return TORVVarValue::Ansi(s); }
TORVVarValue Number(int64_t v) { return TORVVarValue::Int(varInteger, v); }

// ---- Locate ---------------------------------------------------------------------------------------

TEST_F(People, LocateBuildsTwoValuedEqualitiesJoinedByAnd) {
  TORVExpression e;
  e.ParseForLocate(&table.cursor(), "Name; Age", {Text("Jones"), Number(30)}, false, false);
  EXPECT_EQ(SExpr(e.Root()), "(AND (=[2v] NAME 'Jones') (=[2v] AGE 30))");
  EXPECT_EQ(table.Locate(e), 2);
  e.ParseForLocate(&table.cursor(), "Age", {Number(5)}, false, false);
  EXPECT_EQ(SExpr(e.Root()), "(=[2v] AGE 5)") << "one name, one value";
  EXPECT_EQ(table.Locate(e), 3);

  ExpectCode(30112, [&] { e.ParseForLocate(&table.cursor(), "Name;Age", {Text("Jones")}, false, false); },
             "Count of FieldNames (2) not equal counts of KeyValues (1) - Native error: 30112");
  ExpectCode(30115, [&] { e.ParseForLocate(&table.cursor(), "Nobody", {Number(1)}, false, false); });
}

TEST_F(People, LocateKeys) {
  // A number for a date-time field is a day number: the chart hands over the X of its point.
  TORVExpression e;
  e.ParseForLocate(&table.cursor(), "Born", {Number(45000)}, false, false);
  EXPECT_EQ(SExpr(e.Root()), "(=[2v] BORN TIMESTAMP'2023-03-15')");
  EXPECT_EQ(table.Locate(e), 1);
  EXPECT_EQ(Locate("Born", {TORVVarValue::Float(varDouble, 45000.5)}), 2) << "an exact date-time";
  EXPECT_EQ(Locate("Born", {TORVVarValue::Float(varDate, 45001.0)}), 5);
  EXPECT_EQ(Locate("Born", {Number(45002)}), std::nullopt);
  // A NULL key finds a NULL field (two-valued: NULL equals NULL); an empty text is NULL.
  EXPECT_EQ(Locate("Name", {TORVVarValue::Null()}), 3);
  EXPECT_EQ(Locate("Name", {Text("")}), 3);
  EXPECT_EQ(Locate("Age", {TORVVarValue::Null()}), 4);
  // Partial keys compare the beginning; case-insensitive keys ignore case.
  EXPECT_EQ(Locate("Name", {Text("Sm")}, false, true), 1);
  EXPECT_EQ(Locate("Name", {Text("Sm")}), std::nullopt);
  EXPECT_EQ(Locate("Name", {Text("SMITHERS")}, true), 4);
  EXPECT_EQ(Locate("Name;Age", {Text("smi"), TORVVarValue::Null()}, false, true), 4);
}

TEST_F(People, AnyRecordCondition) {
  const auto any = [&](const char* field, TORVDataOperator op, int64_t v) {
    TORVVariant value(bftSignedInt32);
    value.SetDataAsSignedInt32(static_cast<int32_t>(v));
    TORVExpression e;
    e.ParseForIsAnyRecordMatchCondition(&table.cursor(), field, op, value);
    return table.Locate(e).has_value();
  };
  EXPECT_TRUE(any("Age", doGT, 41));
  EXPECT_FALSE(any("Age", doGT, 42));
  EXPECT_TRUE(any("Age", doLT, 5)) << "two-valued: a NULL sorts below every value";
  EXPECT_TRUE(any("Age", doNE, 42));
  TORVExpression e;
  TORVVariant five(bftSignedInt32);
  five.SetDataAsSignedInt32(5);
  ExpectCode(30117, [&] { e.ParseForIsAnyRecordMatchCondition(&table.cursor(), "Age", doLIKE, five); });
}

// ---- Filters --------------------------------------------------------------------------------------

TEST_F(People, FiltersOverTheTable) {
  EXPECT_EQ(table.Visible("Age = 5"), (Ids{3, 5}));
  EXPECT_EQ(table.Visible("Age <> 5"), (Ids{1, 2})) << "three-valued: a NULL Age is not <> 5";
  EXPECT_EQ(table.Visible("Age = NULL"), Ids{}) << "= NULL is never True";
  EXPECT_EQ(table.Visible("Age IS NULL"), Ids{4});
  // A text field against a text constant is two-valued: NULL is unequal to and below 'abc'.
  EXPECT_EQ(table.Visible("Name <> 'Smith'"), (Ids{2, 3, 4, 5}));
  EXPECT_EQ(table.Visible("Name < 'C'"), (Ids{3, 5}));
  EXPECT_EQ(table.Visible("Name = ''"), Ids{3});
  EXPECT_EQ(table.Visible("Name <> ''"), (Ids{1, 2, 4, 5}));
  EXPECT_EQ(table.Visible("Name LIKE 'Sm%'"), Ids{1});
  EXPECT_EQ(table.Visible("Name LIKE 'sm%'", true), (Ids{1, 4}));
  EXPECT_EQ(table.Visible("Name LIKE '%'"), (Ids{1, 2, 3, 4, 5})) << "% matches a NULL text";
  EXPECT_EQ(table.Visible("Name LIKE 'S_i%'"), Ids{1});
  EXPECT_EQ(table.Visible("Name LIKE 'Sm_%'"), Ids{1}) << "an underscore stays a wildcard";
  EXPECT_EQ(table.Visible("Name = 'Sm*'"), Ids{});
  EXPECT_EQ(table.Visible("Name = 'Sm*'", false, true), Ids{1});
  EXPECT_EQ(table.Visible("Born >= '2023-03-15' AND Born < '2023-03-16'"), (Ids{1, 2}));
  EXPECT_EQ(table.Visible("Age BETWEEN 5 AND 30 AND NOT Name IS NULL"), (Ids{2, 5}));
  EXPECT_EQ(table.Visible("Age IN (30, 42) OR Name LIKE '%ow%'"), (Ids{1, 2, 5}));
  EXPECT_EQ(table.Visible("Age + 1 > 6 AND UPPER(Name) LIKE '%S'"), Ids{2});
  EXPECT_EQ(table.Visible("(Age = 5) IS NOT TRUE"), (Ids{1, 2, 4}));
  // A complete condition followed by one more word: the word is not read.
  EXPECT_EQ(table.Visible("Age = 42 garbage"), Ids{1});
}

TEST_F(People, ABadFilterIsAnErrorAndLeavesNoFilter) {
  TestCursor& c = table.cursor();
  ExpectCode(30119, [&] { c.ActivateFilters("", false, false); });
  ExpectCode(30119, [&] { c.ActivateFilters(" /* nothing */ ", false, false); });
  ExpectCode(30115, [&] { c.ActivateFilters("Nobody = 1", false, false); });
  ExpectCode(30066, [&] { c.ActivateFilters("= 1", false, false); });
  ExpectCode(30059, [&] { c.ActivateFilters("(Age = 1", false, false); });
  ExpectCode(30358, [&] { c.ActivateFilters("Age = :p", false, false); });
  EXPECT_EQ(c.FFilterExpression, nullptr);
  EXPECT_EQ(table.Scan().size(), 5u);
}

// The archive window's filter: a date-time range in quoted texts, job and plate patterns and
// one of two measurement types. A job LIKE '%' matches rows without a job.
TEST(ArchiveFilter, CountsTheRowsOfTheRangeJobPlateAndTypes) {
  TORVScopedExpressionEngine engine;
  FilterTable table{{{"DateTime", {aftDateTime, 0}},
                     {"JOBID", {aftString, 40}},
                     {"Plate", {aftString, 40}},
                     {"Algorithm", {aftString, 40}}}};
  const char* algorithms[] = {"DOTAREA", "LINEWIDTH", "SCREEN"};
  int64_t expected = 0;
  // Days 45000 to 45029 (2023-03-15 to 2023-04-13), four rows a day at 6:00, 12:00, 18:00, 23:59:59.
  for (int day = 0; day < 30; ++day) {
    for (int k = 0; k < 4; ++k) {
      const double time = k == 3 ? (86399.0 / 86400.0) : 0.25 * (k + 1);
      const int n = day * 4 + k;
      const std::string job = n % 5 == 0 ? std::string() : "J" + std::to_string(n % 7);
      const std::string plate = "p" + std::to_string(n % 13);
      const std::string algorithm = algorithms[n % 3];
      table.Insert({Stamp{45000 + day + time}, job.empty() ? Cell{} : Cell{job}, plate, algorithm});
      const bool in_range = day >= 5 && day <= 20;
      const bool plate_p1 = plate.rfind("p1", 0) == 0;
      if (in_range && plate_p1 && (algorithm == "DOTAREA" || algorithm == "SCREEN")) ++expected;
    }
  }
  const std::string filter =
      "DateTime >= \"2023-03-20 00:00:00\" AND DateTime <= \"2023-04-04 23:59:59\" AND JOBID LIKE \"%\" AND "
      "Plate LIKE \"p1%\" AND (Algorithm = \"DOTAREA\" OR Algorithm = \"SCREEN\")";
  EXPECT_EQ(static_cast<int64_t>(table.Visible(filter).size()), expected);
  EXPECT_GT(expected, 10);
}

// ---- Evaluation and shape -------------------------------------------------------------------------

TEST_F(People, GetValueAndGetResult) {
  TORVExpression e;
  e.ParseForFilter(&table.cursor(), "Age > 3", false, false);
  ASSERT_EQ(Locate("ID", {Number(4)}), 4);  // its Age is NULL
  e.AssignCursorBuffer(table.cursor().FCurrentRecordBuffer, false);
  EXPECT_FALSE(e.GetResult()) << "a comparison with NULL is False, never NULL";

  TORVExpression arithmetic;
  arithmetic.ParseForFilter(&table.cursor(), "Age + 1", false, false);
  arithmetic.AssignCursorBuffer(table.cursor().FCurrentRecordBuffer, false);
  EXPECT_TRUE(arithmetic.GetValue(true)->IsNull());
  const TORVVariant* v = arithmetic.GetValue(false);
  EXPECT_EQ(v->DataType(), bftLogical) << "without NULL logic a NULL becomes False";
  EXPECT_FALSE(v->GetDataAsBoolean());

  TORVExpression empty;
  EXPECT_EQ(empty.GetValue(false), nullptr);
  ExpectCode(30110, [&] { empty.GetResult(); });
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(empty.GetDataType(), aftUnknown);
}

TEST_F(People, ShapeQueries) {
  const auto parse = [&](const char* text) {
    auto e = std::make_unique<TORVExpression>();
    TORVLexer lexer(text, nullptr, false);
    lexer.GetNextCommand();
    e->LCursor = &table.cursor();
    e->ParseForValueExpression(nullptr, &lexer);
    return e;
  };
  std::string t, f;
  auto field = parse("T.Age");
  EXPECT_TRUE(field->IsField());
  EXPECT_TRUE(field->IsFieldsExpression());
  field->GetFieldInfo(t, f);
  EXPECT_EQ(t + "." + f, "T.Age");
  EXPECT_EQ(field->GetDataType(), aftInteger);
  auto sum = parse("Age + 1");
  EXPECT_FALSE(sum->IsField());
  EXPECT_TRUE(sum->IsFieldsExpression());
  ExpectCode(30198, [&] { sum->GetFieldInfo(t, f); });
  auto nested = parse("(Age + 1) * 2");
  EXPECT_FALSE(nested->IsFieldsExpression());
  EXPECT_TRUE(nested->CanBeUsedInGroupBy("NAME; AGE"));
  EXPECT_FALSE(nested->CanBeUsedInGroupBy("NAME"));
  EXPECT_FALSE(nested->IsAggregated());
  auto count = parse("COUNT(*)");
  EXPECT_TRUE(count->IsAggregated());
  EXPECT_TRUE(count->IsAggregatedCountAll());
}

TEST(TORVExpression, SqlEntryPointsNeedATokenAndLeaveTheLexerAfterTheirPart) {
  TORVLexer lexer("a = 1 ORDER BY a", nullptr, false);
  lexer.GetNextCommand();
  TORVExpression e;
  e.ParseForBooleanExpression(nullptr, &lexer);
  EXPECT_EQ(SExpr(e.Root()), "(= a 1)");
  TToken t;
  ASSERT_TRUE(lexer.GetCurrentToken(t));
  EXPECT_EQ(t.Text, "ORDER");

  TORVLexer done("a", nullptr, false);
  done.GetNextCommand();
  done.GetNextToken(t);
  ExpectCode(30118, [&] { e.ParseForBooleanExpression(nullptr, &done); });
  ExpectCode(30136, [&] { e.ParseForValueExpression(nullptr, &done); });
  ExpectCode(30497, [&] { e.ParseForRowSubqueryExpression(nullptr, &done); });

  TORVLexer values("VALUES (1, 2)", nullptr, false);
  values.GetNextCommand();
  e.ParseForValueExpression(nullptr, &values);
  EXPECT_TRUE(e.IsEmpty()) << "no value expression starts at VALUES: no tree, no error";
  e.ParseForRowSubqueryExpression(nullptr, &values);
  EXPECT_TRUE(e.IsEmpty());
}

TEST(TORVExpression, TokenSteps) {
  TORVLexer lexer("a , 5", nullptr, false);
  lexer.GetNextCommand();
  TORVExpression e;
  e.LLex = &lexer;
  ASSERT_TRUE(e.GetCurrentToken());
  int32_t saved = 0;
  e.SaveState(saved);
  ExpectCode(30064, [&] { e.GetNextToken(TTokenTypes{tktInt}, true); },
             "Unexpected token ',' found at line 1, column 3 - Native error: 30064");
  EXPECT_TRUE(e.GetNextToken(TTokenTypes{tktInt}, true));
  EXPECT_EQ(e.Token.Text, "5");
  EXPECT_FALSE(e.GetNextToken(TTokenTypes(), false));
  ExpectCode(30063, [&] { e.GetNextToken(TTokenTypes(), true); });
  e.RestoreState(saved);
  EXPECT_EQ(e.Token.Text, "a");
}

// ---- Default values -------------------------------------------------------------------------------

TEST(DefaultValues, WhatCountsAsAnExpression) {
  const auto non_constant = [](const char* text) {
    TORVVariant v(bftVarchar);
    v.SetDataAsAnsiString(text);
    return IsNonConstantExpression(v);
  };
  EXPECT_TRUE(non_constant("NOW"));
  EXPECT_TRUE(non_constant("CURRENT_DATE + 1"));
  EXPECT_FALSE(non_constant("12")) << "evaluates to its own text";
  EXPECT_FALSE(non_constant("Name")) << "a column";
  EXPECT_FALSE(non_constant("Name || 'x'")) << "refers to a column";
  EXPECT_FALSE(non_constant("UPPER(Name) || 'x'")) << "needs a record to be evaluated";
  EXPECT_TRUE(non_constant("'abc'")) << "the text without its quotes differs";
  EXPECT_FALSE(non_constant("1 2 3")) << "more than one token left over";
  EXPECT_FALSE(non_constant("(SELECT 1)"));
  EXPECT_FALSE(non_constant("'unterminated"));
  EXPECT_FALSE(IsNonConstantExpression(TORVVariant(bftVarchar))) << "NULL";
  TORVVariant number(bftSignedInt32);
  number.SetDataAsSignedInt32(5);
  EXPECT_FALSE(IsNonConstantExpression(number));

  TORVExpression e;
  EXPECT_TRUE(e.ParseForDefaultValueExpression("NOW"));
  EXPECT_TRUE(e.ParseForDefaultValueExpression("1 2")) << "one token the parse cannot use may remain";
  EXPECT_FALSE(e.ParseForDefaultValueExpression("1 +")) << "but not an operator that lost its operand";
  EXPECT_FALSE(e.ParseForDefaultValueExpression("1; 2"));
  EXPECT_FALSE(e.ParseForDefaultValueExpression(""));
  EXPECT_FALSE(e.ParseForDefaultValueExpression("ABS("));
}

TEST(DefaultValues, TheTableLayerEvaluatesThemOnInsert) {
  TORVScopedExpressionEngine engine;
  const double before = platform::GetClock().Now();
  FilterTable table{{{"Created", {aftDateTime, 0}}, {"Count", {aftInteger, 0}}, {"Label", {aftString, 10}}},
                    {{"Created", "NOW"}, {"Count", "12"}, {"Label", "'abc'"}}};
  EXPECT_NE(table.fixture.Table().FFieldManager->FFieldDefs.GetDef(1)->DefaultValueExpr, nullptr);
  EXPECT_EQ(table.fixture.Table().FFieldManager->FFieldDefs.GetDef(2)->DefaultValueExpr, nullptr);
  table.Insert({});
  TestCursor& c = table.cursor();
  c.InternalFirst();
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  TORVVariant created;
  c.GetFieldValue(created, 1, true);
  EXPECT_NEAR(created.GetDataAsTDateTime(), before, 5.0 / 86400);
  EXPECT_EQ(c.GetInt("Count"), 12);
  EXPECT_EQ(c.GetText("Label"), "abc");
}

// ---- Tree edits -----------------------------------------------------------------------------------

TEST_F(People, TreeEditsOfPlanning) {
  TORVExpression a;
  a.ParseForFilter(&table.cursor(), "Age = 1 AND (Name = 'x' AND (Age = 2 AND Age = 3)) AND Age = 4", false, false);
  EXPECT_EQ(SExpr(a.Root()),
            "(AND (= Age 1) (= Age 4) (=[2v] Name 'x') (= Age 2) (= Age 3))");

  TORVExpression b;
  b.ParseForFilter(&table.cursor(), "Age = 5 OR Age = 6", false, false);
  TORVExpression c;
  c.AddAndMoveNodesFromExpression(b);
  EXPECT_EQ(b.Root(), nullptr);
  TORVExpression d;
  d.ParseForFilter(&table.cursor(), "Age = 7 AND Age = 8", false, false);
  c.AddAndMoveNodesFromExpression(d);
  EXPECT_EQ(SExpr(c.Root()), "(AND (OR (= Age 5) (= Age 6)) (= Age 7) (= Age 8))");

  // Nodes taken out for an index scan come back with AddNode; a root AND left without
  // children leaves nothing to evaluate.
  TORVScanSearchConditionArray conditions;
  TORVScanSearchCondition condition;
  condition.IndexID = 1;
  condition.Condition = scEqual;
  for (int32_t i = 0; i < c.Root()->ChildCount(); ++i) {
    condition.ParentExpressions.push_back(&c);
    condition.ParentExpressionNodes.push_back(c.Root()->Child(i));
  }
  conditions.AddCondition(condition);
  std::vector<TORVExpressionNode*> taken = condition.ParentExpressionNodes;
  c.RemoveExtractedNodes(conditions, 0, -1);
  EXPECT_EQ(c.Root()->ChildCount(), 0);
  EXPECT_TRUE(c.IsEmpty());
  for (TORVExpressionNode* n : taken) c.AddNode(n);
  EXPECT_FALSE(c.IsEmpty());
  EXPECT_EQ(SExpr(c.Root()), "(AND (OR (= Age 5) (= Age 6)) (= Age 7) (= Age 8))");

  TORVExpression single;
  single.ParseForFilter(&table.cursor(), "Age = 9", false, false);
  TORVScanSearchConditionArray root_only;
  TORVScanSearchCondition whole;
  whole.IndexID = 1;
  whole.ParentExpressions.push_back(&single);
  whole.ParentExpressionNodes.push_back(single.Root());
  root_only.AddCondition(whole);
  TORVExpressionNode* root = single.Root();
  single.RemoveExtractedNodes(root_only, 0, -1);
  EXPECT_TRUE(single.IsEmpty());
  single.AddNode(root);
  EXPECT_EQ(SExpr(single.Root()), "(= Age 9)");
}

}  // namespace
}  // namespace orv
