#include "dbengine/sql/orv_expressions_nodes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

#include "dbengine/sql/tests/expr_test_support.h"
#include "dbengine/sql/tests/python_reference.h"
#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_str_utils.h"
#include "dbengine/storage/tests/expect_code.h"
#include "platform/base/cp1252.h"

namespace orv {
namespace {

using testing::Bool;
using testing::Bool1;
using testing::Bool2;
using testing::BoolN;
using testing::Cmp;
using testing::Dbl;
using testing::Int;
using testing::List;
using testing::Null;
using testing::Str;
using testing::Truth;
using testing::TruthOf;
using testing::TruthText;
using testing::WStr;
using Tri = std::optional<bool>;

constexpr Tri T = true, F = false, N = std::nullopt;

// ---- Three-valued logic -----------------------------------------------------------------------

TEST(ExprBoolean, TruthTablesOfAndOrNot) {
  const Tri values[] = {T, F, N};
  // SQL's three-valued logic: False wins AND over NULL, True wins OR over NULL.
  const auto and3 = [](Tri a, Tri b) -> Tri {
    if (a == F || b == F) return F;
    if (a == N || b == N) return N;
    return T;
  };
  const auto or3 = [](Tri a, Tri b) -> Tri {
    if (a == T || b == T) return T;
    if (a == N || b == N) return N;
    return F;
  };
  for (Tri a : values) {
    auto n = Bool1(doNOT, Truth(a));
    EXPECT_EQ(TruthOf(*n), a ? Tri(!*a) : N) << "NOT " << TruthText(a);
    for (Tri b : values) {
      auto x = Bool2(doAND, Truth(a), Truth(b));
      auto o = Bool2(doOR, Truth(a), Truth(b));
      EXPECT_EQ(TruthOf(*x), and3(a, b)) << TruthText(a) << " AND " << TruthText(b);
      EXPECT_EQ(TruthOf(*o), or3(a, b)) << TruthText(a) << " OR " << TruthText(b);
    }
  }
  // One AND node holds every conjunct: a later False still wins over an earlier NULL.
  auto many = BoolN(doAND, List(Truth(T), Truth(N), Truth(T), Truth(F)));
  EXPECT_EQ(TruthOf(*many), F);
}

TEST(ExprComparison, BothLogicsAgainstFive) {
  struct Row {
    std::optional<int32_t> left;
    Tri eq, ne, gt, lt, ge, le;  // three-valued
    Tri eq2, ne2, gt2, lt2;      // two-valued
  };
  // Three-valued: any NULL operand makes every comparison False (never NULL, <> included).
  // Two-valued: NULL sorts below every value.
  const Row rows[] = {
      {3, F, T, F, T, F, T, F, T, F, T},
      {5, T, F, F, F, T, T, T, F, F, F},
      {7, F, T, T, F, T, F, F, T, T, F},
      {std::nullopt, F, F, F, F, F, F, F, T, F, T},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.left ? std::to_string(*r.left) : "NULL");
    const auto run = [&](TORVDataOperator op, bool three) {
      auto n = Cmp(op, r.left ? Int(*r.left) : Null(), Int(5), three);
      return TruthOf(*n);
    };
    EXPECT_EQ(run(doEQ, true), r.eq);
    EXPECT_EQ(run(doNE, true), r.ne);
    EXPECT_EQ(run(doGT, true), r.gt);
    EXPECT_EQ(run(doLT, true), r.lt);
    EXPECT_EQ(run(doGE, true), r.ge);
    EXPECT_EQ(run(doLE, true), r.le);
    EXPECT_EQ(run(doEQ, false), r.eq2);
    EXPECT_EQ(run(doNE, false), r.ne2);
    EXPECT_EQ(run(doGT, false), r.gt2);
    EXPECT_EQ(run(doLT, false), r.lt2);
  }
  // Two NULLs are equal in two-valued logic and never in three-valued logic.
  EXPECT_EQ(TruthOf(*Cmp(doEQ, Null(), Null(), false)), T);
  EXPECT_EQ(TruthOf(*Cmp(doEQ, Null(), Null(), true)), F);
  // Two-valued NULL <> 'x' is True.
  EXPECT_EQ(TruthOf(*Cmp(doNE, Null(bftVarchar), Str("x"), false)), T);
}

TEST(ExprBoolean, InBetweenLikeAndIsNullWithNulls) {
  const auto in = [](TORVExprNodePtr v, bool negate) {
    return BoolN(negate ? doNOTIN : doIN, List(std::move(v), Int(1), Null()));
  };
  // A NULL in the list never matches: 2 IN (1, NULL) is False, not NULL.
  EXPECT_EQ(TruthOf(*in(Int(1), false)), T);
  EXPECT_EQ(TruthOf(*in(Int(2), false)), F);
  EXPECT_EQ(TruthOf(*in(Null(), false)), N);
  EXPECT_EQ(TruthOf(*in(Int(1), true)), F);
  EXPECT_EQ(TruthOf(*in(Int(2), true)), T);
  EXPECT_EQ(TruthOf(*in(Null(), true)), N);

  const auto between = [](TORVExprNodePtr v, TORVExprNodePtr lo, TORVExprNodePtr hi, bool negate) {
    return BoolN(negate ? doNOTBETWEEN : doBETWEEN, List(std::move(v), std::move(lo), std::move(hi)));
  };
  EXPECT_EQ(TruthOf(*between(Int(5), Int(1), Int(9), false)), T);
  EXPECT_EQ(TruthOf(*between(Int(1), Int(1), Int(9), false)), T);
  EXPECT_EQ(TruthOf(*between(Int(10), Int(1), Int(9), false)), F);
  EXPECT_EQ(TruthOf(*between(Int(10), Int(1), Int(9), true)), T);
  EXPECT_EQ(TruthOf(*between(Int(5), Null(), Int(9), false)), N);
  EXPECT_EQ(TruthOf(*between(Int(5), Int(1), Null(), true)), N);
  EXPECT_EQ(TruthOf(*between(Null(), Int(1), Int(9), false)), N);

  // LIKE: a NULL value is matched as the empty text; a NULL pattern gives NULL.
  EXPECT_EQ(TruthOf(*testing::Like(Null(bftVarchar), Str("%"))), T);
  EXPECT_EQ(TruthOf(*testing::Like(Null(bftVarchar), Str("a%"))), F);
  EXPECT_EQ(TruthOf(*testing::Like(Str("abc"), Null(bftVarchar))), N);
  EXPECT_EQ(TruthOf(*testing::Like(Str("abc"), Null(bftVarchar), "", false, true)), N);
  EXPECT_EQ(TruthOf(*testing::Like(Null(bftVarchar), Str("a%"), "", false, true)), T);

  // IS [NOT] NULL is never NULL.
  EXPECT_EQ(TruthOf(*Bool1(doISNULL, Null())), T);
  EXPECT_EQ(TruthOf(*Bool1(doISNULL, Int(0))), F);
  EXPECT_EQ(TruthOf(*Bool1(doISNOTNULL, Null())), F);
}

TEST(ExprBoolean, InAndBetweenIgnoreCaseEvenInACaseSensitiveFilter) {
  auto in = std::make_unique<TORVExprNodeBoolean>(doIN, false, false, "");
  in->AddChild(Str("abc"));
  in->AddChild(Str("x"));
  in->AddChild(Str("ABC"));
  EXPECT_EQ(TruthOf(*in), T);
  auto between = std::make_unique<TORVExprNodeBoolean>(doBETWEEN, Str("m"), Str("A"), Str("Z"), false, false);
  EXPECT_EQ(TruthOf(*between), T);
  // The comparison itself follows its own flag.
  EXPECT_EQ(TruthOf(*Cmp(doEQ, Str("abc"), Str("ABC"), true, false)), F);
  EXPECT_EQ(TruthOf(*Cmp(doEQ, Str("abc"), Str("ABC"), true, true)), T);
}

TEST(ExprBoolean, LikeCases) {
  struct Case {
    const char* value;
    const char* pattern;
    const char* escape;
    bool expected;
  };
  const Case cases[] = {
      {"abc", "a_c", "", true},       {"aXc", "a_c", "", true},      {"ac", "a_c", "", false},
      {"100%", "100!%", "!", true},   {"1000", "100!%", "!", false}, {"100", "100!%", "!", false},
      {"a_b", "a!_b", "!", true},     {"axb", "a!_b", "!", false},   {"", "%", "", true},
      {"abcx", "ab%x", "", true},     {"abx", "ab%x", "", true},     {"abxy", "ab%x", "", false},
      {"Smith", "S%h", "", true},     {"smith", "S%h", "", false},
  };
  for (const Case& c : cases) {
    auto n = testing::Like(Str(c.value), Str(c.pattern), c.escape);
    EXPECT_EQ(TruthOf(*n), Tri(c.expected)) << c.value << " LIKE " << c.pattern << " ESCAPE '" << c.escape << "'";
    auto w = testing::Like(WStr(platform::Cp1252ToUtf16(c.value)), Str(c.pattern), c.escape);
    EXPECT_EQ(TruthOf(*w), Tri(c.expected)) << "wide " << c.value << " LIKE " << c.pattern;
  }
  // The characters are compared in the engine's collation, which knows the case of é.
  EXPECT_EQ(TruthOf(*testing::Like(Str("\xC9t\xE9"), Str("\xE9T%"), "", true)), T);
  EXPECT_EQ(TruthOf(*testing::Like(Str("\xC9t\xE9"), Str("\xE9T%"), "", false)), F);
  // A number matched as its text.
  EXPECT_EQ(TruthOf(*testing::Like(Int(1234), Str("12%"))), T);
  ExpectCode(30120, [] { testing::Like(Int(1), Int(1))->GetDataValue(); });
}

// LIKE and NOT LIKE over random texts and patterns against Python's re.fullmatch, on constants
// and on a column of a record.
TEST(ExprBoolean, LikeAgainstPythonRegex) {
  const auto reference = testing::PythonLines("like_reference.py");
  ASSERT_GT(reference.size(), 1000u) << "python3 could not write the reference results";
  testing::ExprTable table({{"s", {aftString, 20}}});
  void* record = table.NewRecord();
  int failures = 0;
  for (const std::string& line : reference) {
    std::vector<std::string> f;
    std::stringstream in(line);
    for (std::string part; std::getline(in, part, '\t');) f.push_back(part);
    while (f.size() < 5) f.emplace_back();
    const bool ci = f[3] == "1";
    const Tri expected = f[4] == "1";
    auto like = testing::Like(Str(f[0]), Str(f[1]), f[2], ci);
    auto not_like = testing::Like(Str(f[0]), Str(f[1]), f[2], ci, true);
    table.SetText(record, "s", f[0]);
    auto on_field = testing::Like(table.Field("s"), Str(f[1]), f[2], ci);
    on_field->AssignCursorBuffer(record, false);
    const Tri got = TruthOf(*like), got_not = TruthOf(*not_like), got_field = TruthOf(*on_field);
    if ((got != expected || got_not != Tri(!*expected) || got_field != expected) && ++failures <= 20)
      ADD_FAILURE() << "'" << f[0] << "' LIKE '" << f[1] << "' ESCAPE '" << f[2] << "' ci " << ci << ": "
                    << TruthText(got) << " / NOT " << TruthText(got_not) << " / field " << TruthText(got_field)
                    << ", Python: " << TruthText(expected);
  }
  EXPECT_EQ(failures, 0);
}

TEST(ExprNodes, UnknownOperatorsAndMissingTypes) {
  ExpectCode(30117, [] { Cmp(doAND, Int(1), Int(2))->GetDataValue(); },
             "Unknown operator: 'AND' - Native error: 30117");
  ExpectCode(30116, [] { Bool2(doEQ, Int(1), Int(2))->GetDataValue(); });
  // The base rule: the common type of the children; nothing in common has no type.
  EXPECT_EQ(Cmp(doEQ, Int(1), Dbl(2))->GetDataType(), aftDouble);
  ExpectCode(30283, [] { Cmp(doEQ, Int(1), Null(bftBlob))->GetDataType(); });
  ExpectCode(30283, [] { BoolN(doAND, {})->GetDataType(); });
  // A tree missing an operand is reported, never read past its children.
  ExpectCode(30625, [] { BoolN(doNOT, {})->GetDataValue(); },
             "Operand 1 of operator 'NOT' is missing - Native error: 30625");
  ExpectCode(30625, [] { testing::Arith(doDIV, List(Int(1)))->GetDataValue(); });
  ExpectCode(30625, [] { BoolN(doBETWEEN, List(Int(1), Int(2)))->GetDataValue(); });
  ExpectCode(30622, [] {
    TORVExprNodeComparison(doGT, qALL, Int(1), Int(2), true, true, false).GetDataValue();
  });
}

// ---- Constants ------------------------------------------------------------------------------

TEST(ExprConst, TypeSizeAndPatterns) {
  auto s = Str("abc");
  auto w = WStr(u"abc");
  EXPECT_EQ(s->GetDataType(), aftString);
  EXPECT_EQ(s->GetDataSize(), 3);
  EXPECT_EQ(w->GetDataType(), aftWideString);
  EXPECT_EQ(w->GetDataSize(), 6);
  EXPECT_EQ(Int(5)->GetDataSize(), 0);
  EXPECT_EQ(Null(bftVarchar)->GetDataSize(), 0);

  auto as_const = [](TORVExprNodePtr& n) { return static_cast<TORVExprNodeConst*>(n.get()); };
  TORVExprNodePtr p1 = Str("Sm%"), p2 = Str("S%h"), p3 = Str("%"), p4 = WStr(u"Sm%");
  EXPECT_TRUE(as_const(p1)->IsLikePatternEqualToPartialComparePattern());
  EXPECT_FALSE(as_const(p2)->IsLikePatternEqualToPartialComparePattern());
  EXPECT_FALSE(as_const(p3)->IsLikePatternEqualToPartialComparePattern());
  as_const(p1)->TruncateForPartialCompare();
  as_const(p4)->TruncateForPartialCompare();
  EXPECT_EQ(p1->Value.GetDataAsAnsiString(), "Sm");
  EXPECT_EQ(p4->Value.DataType(), bftWideVarchar);
  EXPECT_EQ(p4->Value.GetDataAsWideString(), u"Sm");

  TORVExprNodePtr up = Str("ABC1"), low = Str("abc"), mixed = Str("aBc");
  EXPECT_TRUE(as_const(up)->IsUpperCase());
  EXPECT_FALSE(as_const(up)->IsLowerCase());
  EXPECT_TRUE(as_const(low)->IsLowerCase());
  EXPECT_FALSE(as_const(mixed)->IsUpperCase());
  EXPECT_FALSE(as_const(mixed)->IsLowerCase());
}

// ---- Field references -----------------------------------------------------------------------

class ExprFields : public ::testing::Test {
 protected:
  testing::ExprTable table{{{"id", {aftInteger, 0}}, {"name", {aftString, 20}}, {"price", {aftDouble, 0}}}};
};

TEST_F(ExprFields, ValuesAreLinkedIntoTheRecord) {
  void* r1 = table.NewRecord();
  void* r2 = table.NewRecord();
  table.SetInt(r1, "id", 7);
  table.SetText(r1, "name", "Smith");
  table.SetText(r2, "name", "Jones");
  auto name = table.Field("NAME");  // names compare without case
  auto& field = static_cast<TORVExprNodeField&>(*name);
  EXPECT_EQ(field.FFieldNo, 1);
  EXPECT_EQ(field.GetDataType(), aftString);
  EXPECT_EQ(field.GetDataSize(), 21);

  name->AssignCursorBuffer(r1, false);
  const TORVVariant& v = name->GetDataValue();
  EXPECT_TRUE(v.IsDataLinked());
  EXPECT_EQ(v.pData(), static_cast<uint8_t*>(r1) + field.FFieldOffsetInBuffer);
  EXPECT_EQ(v.GetDataAsAnsiString(), "Smith");
  name->AssignCursorBuffer(r2, false);
  EXPECT_EQ(name->GetDataValue().GetDataAsAnsiString(), "Jones");

  auto id = table.Field("id");
  id->AssignCursorBuffer(r2, false);
  EXPECT_TRUE(id->GetDataValue().IsNull());  // its null flag is set
  id->AssignCursorBuffer(r1, false);
  EXPECT_EQ(id->GetDataValue().GetDataAsSignedInt32(), 7);

  // Buffers meant for the outer query's columns leave this query's columns alone.
  id->AssignCursorBuffer(r2, true);
  EXPECT_EQ(id->GetDataValue().GetDataAsSignedInt32(), 7);
}

TEST_F(ExprFields, BindingErrorsAndVisibleNames) {
  ExpectCode(30115, [&] { table.Field("nope"); }, "Field 'nope' not found - Native error: 30115");
  ExpectCode(30202, [] { TORVExprNodeField f(nullptr, "id", ""); f.AssignCursor(nullptr, nullptr, nullptr); });
  TORVExprNodeField unbound(nullptr, "id", "");
  ExpectCode(30196, [&] { unbound.GetDataValue(); });
  ExpectCode(30284, [&] { unbound.GetDataType(); });

  // A column shown under an alias is found by the alias, as its column of the full list.
  table.cursor().ApplyProjection({"price", "id"}, {"cost", ""});
  auto cost = table.Field("cost");
  EXPECT_EQ(static_cast<TORVExprNodeField&>(*cost).FFieldNo, 2);
  void* r = table.NewRecord();
  table.SetDouble(r, "price", 2.5);
  cost->AssignCursorBuffer(r, false);
  EXPECT_EQ(cost->GetDataValue().GetDataAsDouble(), 2.5);
}

TEST_F(ExprFields, NarrowsWideConstantsComparedWithAnsiColumns) {
  void* r = table.NewRecord();
  table.SetText(r, "name", "abc");
  auto cmp = Cmp(doEQ, table.Field("name"), WStr(u"abc"));
  cmp->PatchWideStrings();
  EXPECT_EQ(cmp->Child(1)->Value.DataType(), bftVarchar);
  cmp->AssignCursorBuffer(r, false);
  EXPECT_EQ(TruthOf(*cmp), T);
  // Only constants compared with 8-bit text columns are narrowed.
  auto other = Cmp(doEQ, table.Field("id"), WStr(u"abc"));
  other->PatchWideStrings();
  EXPECT_EQ(other->Child(1)->Value.DataType(), bftWideVarchar);
}

// A relational operator with fixed columns and one current row.
class FakeAO : public IORVAO {
 public:
  struct Column {
    std::string name, table;
    TORVAdvancedFieldType type;
    std::unique_ptr<TORVVariant> value;
  };
  void Add(const std::string& name, const std::string& tableName, int32_t v) {
    auto value = std::make_unique<TORVVariant>(bftSignedInt32);
    value->SetDataAsSignedInt32(v);
    columns.push_back({name, tableName, aftInteger, std::move(value)});
  }
  int32_t FieldExists(const std::string& FieldName, const std::string& TableName, bool, TORVIntegerArray* FieldNumbers,
                      bool, bool) override {
    int32_t n = 0;
    for (size_t i = 0; i < columns.size(); ++i) {
      if (AnsiUpperCase(columns[i].name) != AnsiUpperCase(FieldName)) continue;
      if (!TableName.empty() && AnsiUpperCase(columns[i].table) != AnsiUpperCase(TableName)) continue;
      if (FieldNumbers) FieldNumbers->Append(static_cast<int32_t>(i));
      ++n;
    }
    return n;
  }
  void GetFieldValue(TORVVariant& Value, int32_t FieldNo, bool bCopy, bool) override {
    Value.Assign(*columns[static_cast<size_t>(FieldNo)].value, bCopy);
  }
  TORVAdvancedFieldType GetFieldType(int32_t FieldNo) override { return columns[static_cast<size_t>(FieldNo)].type; }
  int32_t GetFieldSize(int32_t) override { return 0; }
  int32_t GetFieldPrecision(int32_t) override { return 0; }
  std::string GetFieldNameByColumnNo(int32_t ColumnNo) override { return columns[static_cast<size_t>(ColumnNo)].name; }
  bool IsAOGroupBy() const override { return group_by; }

  std::vector<Column> columns;
  bool group_by = false;
};

TEST(ExprFieldsOnOperators, BindToTheOperatorOrItsOuterQuery) {
  FakeAO inner, outer;
  inner.Add("a", "t1", 10);
  inner.Add("b", "t1", 20);
  outer.Add("c", "t2", 30);
  auto sum = testing::Arith(doADD, List(std::make_unique<TORVExprNodeField>(nullptr, "b", "t1"),
                                       std::make_unique<TORVExprNodeField>(nullptr, "c", "")));
  sum->AssignAO(&inner, &outer, nullptr);
  EXPECT_EQ(sum->GetDataValue().GetDataAsSignedInt32(), 50);
  inner.columns[1].value->SetDataAsSignedInt32(21);  // the next row
  EXPECT_EQ(sum->GetDataValue().GetDataAsSignedInt32(), 51);
  auto& b = static_cast<TORVExprNodeField&>(*sum->Child(0));
  EXPECT_EQ(b.FFieldNameInAO, "b");
  EXPECT_EQ(b.GetDataType(), aftInteger);

  TORVExprNodeField missing(nullptr, "z", "t1");
  ExpectCode(30197, [&] { missing.AssignAO(&inner, &outer, nullptr); },
             "Field 't1.z' not found - Native error: 30197");

  // Push-down: a column this operator has can be evaluated here; an outer column only with the
  // outer query given.
  TORVExprNodeField c(nullptr, "c", "");
  EXPECT_FALSE(c.CanBeAssigned(&inner, nullptr, nullptr, false));
  EXPECT_TRUE(c.CanBeAssigned(&inner, &outer, nullptr, false));
  EXPECT_TRUE(c.FGetFromParent);
}

TEST(ExprFieldsOnOperators, AliasesGroupByAndSelectListItems) {
  TORVExprNodeField f(nullptr, "total", "");
  std::vector<TORVSelectListItem> list(3);
  list[0].Pseudonym = "TOTAL";
  list[0].FieldName = "amount";
  list[0].TableName = "orders";
  list[1].Pseudonym = "total";
  list[1].IsExpression = true;  // an alias of an expression is not a column
  list[1].FieldName = "ignored";
  f.ReplacePseudonyms(list);
  EXPECT_EQ(f.FFieldName, "amount");
  EXPECT_EQ(f.FTableName, "orders");
  TORVSelectListItem item;
  f.FillItem(item);
  EXPECT_EQ(item.FieldName, "amount");

  EXPECT_TRUE(f.CanBeUsedInGroupBy(" Region ; AMOUNT"));
  EXPECT_FALSE(f.CanBeUsedInGroupBy("region"));
  auto expr = testing::Arith(doADD, List(std::make_unique<TORVExprNodeField>(nullptr, "a", ""), Int(1)));
  EXPECT_TRUE(expr->CanBeUsedInGroupBy("A"));
  EXPECT_FALSE(expr->CanBeUsedInGroupBy("B"));
}

// A cursor whose BLOB streams hold a text per record buffer: what the real cursors do with
// the table's BLOB pages.
class ClobCursor : public testing::TestCursor {
 public:
  using TestCursor::TestCursor;
  TORVStream* InternalCreateBlobStream(bool, bool, int32_t FieldNo, TORVBLOBOpenMode, bool) override {
    opened_on = FCurrentRecordBuffer;
    ++open_streams;
    auto stream = std::make_unique<TORVMemoryStream>();
    const std::string& text = texts[FCurrentRecordBuffer];
    if (!text.empty()) stream->Write(text.data(), static_cast<int32_t>(text.size()));
    last_field = FieldNo;
    FBLOBStreams.push_back(std::move(stream));
    return FBLOBStreams.back().get();
  }
  void InternalCloseBLOB(int32_t) override {
    FBLOBStreams.clear();
    --open_streams;
  }
  std::map<const void*, std::string> texts;
  const void* opened_on = nullptr;
  int open_streams = 0;
  int32_t last_field = -1;
};

TEST(ExprFieldsOnCursors, ClobColumnsAreReadWholeThroughTheCursorsStream) {
  testing::ExprTable table({{"id", {aftInteger, 0}}, {"memo", {aftMemo, 0}}, {"wmemo", {aftWideMemo, 0}}});
  ClobCursor cursor(table.fixture.session, "T");
  cursor.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
  void* current = cursor.FCurrentRecordBuffer;
  void* r1 = table.NewRecord();
  void* r2 = table.NewRecord();
  for (void* r : {r1, r2}) {
    SetNullFlag(false, 1, r);  // the BLOB descriptors themselves are the cursor's business
    SetNullFlag(false, 2, r);
  }
  const std::string long_text(70000, 'q');
  cursor.texts[r1] = long_text;
  cursor.texts[r2] = std::string("h\0i\0", 4);  // "hi" in UTF-16LE for the wide column

  TORVExprNodeField memo(&cursor, "memo", "");
  memo.AssignCursorBuffer(r1, false);
  const TORVVariant& v = memo.GetDataValue();
  EXPECT_EQ(v.DataType(), bftVarchar);
  EXPECT_EQ(v.GetDataAsAnsiString(), long_text);
  EXPECT_EQ(cursor.opened_on, r1);                    // opened on the record under test
  EXPECT_EQ(cursor.FCurrentRecordBuffer, current);  // and switched back
  EXPECT_EQ(cursor.open_streams, 0);                // and released
  EXPECT_EQ(cursor.last_field, 1);

  TORVExprNodeField wide(&cursor, "wmemo", "");
  wide.AssignCursorBuffer(r2, false);
  EXPECT_EQ(wide.GetDataValue().GetDataAsWideString(), u"hi");
  EXPECT_EQ(wide.GetDataValue().DataType(), bftWideVarchar);
  EXPECT_EQ(cursor.open_streams, 0);
}

// ---- Subqueries -----------------------------------------------------------------------------

// A subquery node over a fixed list of integers.
class FakeSubquery : public TORVExprNode, public IORVSubqueryNode {
 public:
  explicit FakeSubquery(std::vector<int32_t> rows) : TORVExprNode(true, false), rows_(std::move(rows)) {}
  TORVVariant& GetDataValue() override { return Value; }
  bool Exists() override {
    ++runs;
    return !rows_.empty();
  }
  bool IsValueIn(const TORVVariant& v) override {
    ++runs;
    if (v.IsNull()) return false;
    return std::find(rows_.begin(), rows_.end(), v.GetDataAsSignedInt32()) != rows_.end();
  }
  bool QuantifiedCompare(TORVDataOperator op, TORVQuantifier q, const TORVVariant& v) override {
    ++runs;
    last_op = op;
    last_quantifier = q;
    const int32_t x = v.GetDataAsSignedInt32();
    const auto holds = [&](int32_t s) { return op == doGT ? x > s : x == s; };
    return q == qALL ? !rows_.empty() && std::all_of(rows_.begin(), rows_.end(), holds)
                     : std::any_of(rows_.begin(), rows_.end(), holds);
  }
  int runs = 0;
  TORVDataOperator last_op = doUNDEFINED;
  TORVQuantifier last_quantifier = qUNDEFINED;

 private:
  std::vector<int32_t> rows_;
};

TEST(ExprSubqueries, ExistsInAndQuantifiedComparisonsAskTheSubqueryNode) {
  auto exists = Bool1(doEXISTS, std::make_unique<FakeSubquery>(std::vector<int32_t>{1}));
  EXPECT_EQ(TruthOf(*exists), T);
  auto none = Bool1(doEXISTS, std::make_unique<FakeSubquery>(std::vector<int32_t>{}));
  EXPECT_EQ(TruthOf(*none), F);

  auto in = Bool2(doIN, Int(3), std::make_unique<FakeSubquery>(std::vector<int32_t>{1, 3}));
  EXPECT_EQ(TruthOf(*in), T);
  auto not_in = Bool2(doNOTIN, Int(2), std::make_unique<FakeSubquery>(std::vector<int32_t>{1, 3}));
  EXPECT_EQ(TruthOf(*not_in), T);

  auto all = std::make_unique<TORVExprNodeComparison>(doGT, qALL, Int(5),
                                                      std::make_unique<FakeSubquery>(std::vector<int32_t>{1, 4}),
                                                      true, true, false);
  EXPECT_EQ(TruthOf(*all), T);
  auto& sub = static_cast<FakeSubquery&>(*all->Child(1));
  EXPECT_EQ(sub.last_op, doGT);
  EXPECT_EQ(sub.last_quantifier, qALL);
  auto any_empty = std::make_unique<TORVExprNodeComparison>(
      doGT, qANY, Int(5), std::make_unique<FakeSubquery>(std::vector<int32_t>{}), true, true, false);
  EXPECT_EQ(TruthOf(*any_empty), F);

  ExpectCode(30622, [] { Bool1(doEXISTS, Int(1))->GetDataValue(); });
}

// ---- Planning helpers -----------------------------------------------------------------------

TEST(ExprHelpers, FieldNameListsOperatorNamesAndComparisonOperators) {
  std::vector<std::string> names;
  FillFieldNames(names, " a ; b;;c");
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "", "C"}));
  FillFieldNames(names, "");
  EXPECT_TRUE(names.empty());

  EXPECT_EQ(GetOperatorName(doNE), "<>");
  EXPECT_EQ(GetOperatorName(doCOUNTALL), "COUNT(*)");
  EXPECT_EQ(GetOperatorName(doCONCAT), "||");
  EXPECT_EQ(GetOperatorName(doIN), "unknown");
  EXPECT_EQ(GetOperatorName(doSUBSTRING), "unknown");

  const TORVDataOperator ops[] = {doEQ, doNE, doGT, doLT, doGE, doLE};
  const TORVDataOperator reversed[] = {doEQ, doNE, doLT, doGT, doLE, doGE};
  const TORVDataOperator inverted[] = {doNE, doEQ, doLE, doGE, doLT, doGT};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(ReverseComparisonOperator(ops[i]), reversed[i]);
    EXPECT_EQ(InvertComparisonOperator(ops[i]), inverted[i]);
  }
  EXPECT_EQ(ReverseComparisonOperator(doLIKE), doUNDEFINED);
}

TEST_F(ExprFields, FieldAndConstantSidesOfAComparison) {
  TORVExprNodeField* field = nullptr;
  TORVExprNode* constant = nullptr;
  auto plain = Cmp(doEQ, Str("abc"), table.Field("name"));
  auto& c1 = static_cast<TORVExprNodeComparison&>(*plain);
  c1.GetFieldAndConstNodes(field, constant);
  EXPECT_EQ(field, plain->Child(1));
  EXPECT_EQ(constant, plain->Child(0));

  // UPPER(name) = 'ABC' can use a case-insensitive index on name (and so becomes
  // case-insensitive); UPPER(name) = 'abc' cannot.
  auto upper = Cmp(doEQ, testing::StrFn(doUPPER, List(table.Field("name"))), Str("ABC"));
  auto& c2 = static_cast<TORVExprNodeComparison&>(*upper);
  c2.GetFieldAndConstNodes(field, constant);
  EXPECT_EQ(field, upper->Child(0)->Child(0));
  EXPECT_TRUE(c2.FCaseInsensitive);
  auto mismatch = Cmp(doEQ, testing::StrFn(doUPPER, List(table.Field("name"))), Str("abc"));
  static_cast<TORVExprNodeComparison&>(*mismatch).GetFieldAndConstNodes(field, constant);
  EXPECT_EQ(field, nullptr);
  EXPECT_EQ(constant, nullptr);

  EXPECT_EQ(TORVExprNodeComparison::GetFieldNode(upper->Child(0)), upper->Child(0)->Child(0));
  ExpectCode(30624, [] { TORVExprNodeComparison::GetFieldNode(Int(1).get()); });
}

// A comparison converts its constant once and keeps the conversion for the following records;
// what it answers must be what converting every time answers, also after the constant changed
// and when the constant's text is no date-time at all.
TEST(ExprComparison, KeptConversionOfTheConstantAnswersAsAFreshOne) {
  testing::ExprTable table{{{"dt", {aftDateTime, 0}}, {"price", {aftDouble, 0}}}};
  const double days[] = {45004.0, 45005.0, 45005.5};  // 2023-03-19, 2023-03-20 00:00 and 12:00
  std::vector<void*> records;
  for (double d : days) {
    void* r = table.NewRecord();
    TORVVariant v(bftDateTime);
    v.SetDataAsTDateTime(d);
    table.Set(r, "dt", v);
    table.SetDouble(r, "price", d - 45003.0);  // 1, 2, 2.5
    records.push_back(r);
  }
  records.push_back(table.NewRecord());  // all NULL
  const auto answers = [&](TORVExprNode& n) {
    std::string s;
    for (void* r : records) {
      n.AssignCursorBuffer(r, false);
      s += TruthText(TruthOf(n)) + " ";
    }
    return s;
  };

  auto ge = Cmp(doGE, table.Field("dt"), Str("2023-03-20 00:00:00"));
  EXPECT_EQ(answers(*ge), "FALSE TRUE TRUE FALSE ");
  ge->Child(1)->Value.SetDataAsAnsiString("2023-03-20 06:00:00");
  EXPECT_EQ(answers(*ge), "FALSE FALSE TRUE FALSE ") << "a changed constant is converted again";
  auto lt = Cmp(doLT, Str("2023-03-20"), table.Field("dt"));  // the constant on the left
  EXPECT_EQ(answers(*lt), "FALSE FALSE TRUE FALSE ");
  auto price = Cmp(doGT, table.Field("price"), Int(2));
  EXPECT_EQ(answers(*price), "FALSE FALSE TRUE FALSE ");
  auto two_valued = Cmp(doLE, table.Field("dt"), Str("2023-03-20"), false);  // NULL sorts first
  EXPECT_EQ(answers(*two_valued), "TRUE TRUE FALSE TRUE ");

  auto bad = Cmp(doEQ, table.Field("dt"), Str("noon"));
  for (int pass = 0; pass < 2; ++pass) {
    bad->AssignCursorBuffer(records[0], false);
    ExpectCode(30051, [&] { bad->GetDataValue(); });
  }
  bad->AssignCursorBuffer(records[3], false);
  EXPECT_EQ(TruthOf(*bad), F) << "a NULL field is never compared with the converted text";
}

}  // namespace
}  // namespace orv
