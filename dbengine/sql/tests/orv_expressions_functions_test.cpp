#include "dbengine/sql/orv_expressions_functions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <stdexcept>

#include "dbengine/sql/tests/expr_test_support.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_str_utils.h"
#include "platform/base/cp1252.h"
#include "dbengine/storage/tests/expect_code.h"
#include "platform/base/clock.h"
#include "platform/base/datetime.h"

namespace orv {
namespace {

using testing::Arith;
using testing::Bool;
using testing::Cast;
using testing::Dbl;
using testing::Int;
using testing::Int64;
using testing::List;
using testing::Null;
using testing::Str;
using testing::StrFn;
using testing::WStr;

// What a node must give: its type and its value as text (nullopt: NULL). Numbers are
// compared as numbers.
struct Expected {
  TORVBaseFieldType type;
  std::optional<std::string> text;
};

struct Case {
  const char* what;
  std::function<TORVExprNodePtr()> make;
  Expected expected;
};

void Check(const Case& c) {
  SCOPED_TRACE(c.what);
  TORVExprNodePtr node = c.make();
  const TORVVariant& v = node->GetDataValue();
  EXPECT_EQ(v.DataType(), c.expected.type) << BftToStr(v.DataType());
  if (!c.expected.text) {
    EXPECT_TRUE(v.IsNull()) << v.GetDataAsAnsiString();
    return;
  }
  ASSERT_FALSE(v.IsNull());
  if (v.IsNumericDataType())
    EXPECT_DOUBLE_EQ(v.GetDataAsDouble(), std::stod(*c.expected.text));
  else if (v.IsWideStringDataType())
    EXPECT_EQ(platform::Utf16ToCp1252(v.GetDataAsWideString()), *c.expected.text);
  else
    EXPECT_EQ(v.GetDataAsAnsiString(), *c.expected.text);
}

TORVExprNodePtr Round(TORVExprNodePtr x, TORVExprNodePtr n = nullptr, std::optional<TReservedWord> mode = {}) {
  auto node = Arith(doROUND, List(std::move(x)));
  if (n) node->AddChild(std::move(n));
  if (mode) node->AddChild(Int(*mode));
  return node;
}

TEST(ExprArithmetic, Values) {
  const Case cases[] = {
      {"1 + 2", [] { return Arith(doADD, List(Int(1), Int(2))); }, {bftSignedInt32, "3"}},
      {"1 + NULL", [] { return Arith(doADD, List(Int(1), Null())); }, {bftSignedInt32, {}}},
      {"NULL + 1", [] { return Arith(doADD, List(Null(), Int(1))); }, {bftSignedInt32, {}}},
      {"1 + 2.5", [] { return Arith(doADD, List(Int(1), Dbl(2.5))); }, {bftDouble, "3.5"}},
      {"10 - 3", [] { return Arith(doADD, List(Int(10), Arith(doSUB, List(Int(3))))); }, {bftSignedInt32, "7"}},
      {"2 * 3 * 4", [] { return Arith(doMUL, List(Int(2), Int(3), Int(4))); }, {bftSignedInt32, "24"}},
      {"7 / 2", [] { return Arith(doDIV, List(Int(7), Int(2))); }, {bftSignedInt32, "3"}},
      {"-7 / 2", [] { return Arith(doDIV, List(Int(-7), Int(2))); }, {bftSignedInt32, "-3"}},
      {"7.0 / 2", [] { return Arith(doDIV, List(Dbl(7), Int(2))); }, {bftDouble, "3.5"}},
      {"ABS(-5)", [] { return Arith(doABS, List(Int(-5))); }, {bftSignedInt32, "5"}},
      {"ABS(-2.5)", [] { return Arith(doABS, List(Dbl(-2.5))); }, {bftDouble, "2.5"}},
      {"ABS(NULL)", [] { return Arith(doABS, List(Null())); }, {bftSignedInt32, {}}},
      {"ABS(-2147483648)", [] { return Arith(doABS, List(Int(INT32_MIN))); }, {bftSignedInt64, "2147483648"}},
      {"CEIL(2.1)", [] { return Arith(doCEIL, List(Dbl(2.1))); }, {bftSignedInt32, "3"}},
      {"FLOOR(-2.1)", [] { return Arith(doFLOOR, List(Dbl(-2.1))); }, {bftSignedInt32, "-3"}},
      {"CEIL(2147483647.0)", [] { return Arith(doCEIL, List(Dbl(2147483647.0))); }, {bftSignedInt32, "2147483647"}},
      {"SIGN(-0.5)", [] { return Arith(doSIGN, List(Dbl(-0.5))); }, {bftSignedInt32, "-1"}},
      {"SIGN(0)", [] { return Arith(doSIGN, List(Int(0))); }, {bftSignedInt32, "0"}},
      {"SQR(3)", [] { return Arith(doSQR, List(Int(3))); }, {bftSignedInt32, "9"}},
      {"SQR(1.5)", [] { return Arith(doSQR, List(Dbl(1.5))); }, {bftDouble, "2.25"}},
      {"POWER(2, 10)", [] { return Arith(doPOWER, List(Int(2), Int(10))); }, {bftDouble, "1024"}},
      {"SQRT(16)", [] { return Arith(doSQRT, List(Int(16))); }, {bftDouble, "4"}},
      {"LOG(1)", [] { return Arith(doLOG, List(Int(1))); }, {bftDouble, "0"}},
      {"EXP(0)", [] { return Arith(doEXP, List(Int(0))); }, {bftDouble, "1"}},
      {"ACOS(1)", [] { return Arith(doACOS, List(Int(1))); }, {bftDouble, "0"}},
      {"ROUND(2.5)", [] { return Round(Dbl(2.5)); }, {bftSignedInt32, "2"}},
      {"ROUND(3.5)", [] { return Round(Dbl(3.5)); }, {bftSignedInt32, "4"}},
      {"ROUND(-2.5)", [] { return Round(Dbl(-2.5)); }, {bftSignedInt32, "-2"}},
      {"ROUND(2.675, 2)", [] { return Round(Dbl(2.675), Int(2)); }, {bftDouble, "2.68"}},
      {"ROUND(1234.5, -1)", [] { return Round(Dbl(1234.5), Int(-1)); }, {bftDouble, "1230"}},
      {"ROUND(2.5, 0, HALFUP)", [] { return Round(Dbl(2.5), Int(0), rwHALFUP); }, {bftDouble, "3"}},
      {"ROUND(-2.5, 0, HALFNEG)", [] { return Round(Dbl(-2.5), Int(0), rwHALFNEG); }, {bftDouble, "-3"}},
      {"ROUND(2.5, 0, HALFDOWN)", [] { return Round(Dbl(2.5), Int(0), rwHALFDOWN); }, {bftDouble, "2"}},
      {"ROUND(2.671, 2, RNDPOS)", [] { return Round(Dbl(2.671), Int(2), rwRNDPOS); }, {bftDouble, "2.68"}},
      {"ROUND(-2.679, 2, RNDDOWN)", [] { return Round(Dbl(-2.679), Int(2), rwRNDDOWN); }, {bftDouble, "-2.67"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(ExprArithmetic, Errors) {
  // A NULL argument of a function that reads a number is an error, not NULL.
  ExpectCode(30016, [] { Arith(doACOS, List(Null()))->GetDataValue(); });
  ExpectCode(30016, [] { Arith(doCEIL, List(Null()))->GetDataValue(); });
  ExpectCode(30128, [] { Arith(doDIV, List(Int(1), Int(0)))->GetDataValue(); });
  // No NaN and no infinity come out of a function as if they were results.
  ExpectCode(30623, [] { Arith(doSQRT, List(Int(-1)))->GetDataValue(); });
  ExpectCode(30623, [] { Arith(doLOG, List(Int(0)))->GetDataValue(); });
  ExpectCode(30623, [] { Arith(doPOWER, List(Int(0), Int(-1)))->GetDataValue(); });
  // Integers that do not fit the 32-bit result overflow instead of being undefined.
  for (double x : {3e10, -3e10, 2147483647.5, 2147483648.0, std::nan("")}) {
    SCOPED_TRACE(x);
    EXPECT_THROW(Arith(doCEIL, List(Dbl(x)))->GetDataValue(), std::overflow_error);
    EXPECT_THROW(Arith(doFLOOR, List(Dbl(x + 1)))->GetDataValue(), std::overflow_error);
    EXPECT_THROW(Round(Dbl(x + 1))->GetDataValue(), std::overflow_error);
  }
  EXPECT_EQ(Arith(doFLOOR, List(Dbl(-2147483647.5)))->GetDataValue().GetDataAsSignedInt32(), INT32_MIN);
  EXPECT_THROW(Arith(doCEIL, List(Dbl(-2147483649.5)))->GetDataValue(), std::overflow_error);
  ExpectCode(30620, [] { Arith(doRAND, List(Int(0)))->GetDataValue(); },
             "The argument of RAND must be positive, but it is 0 - Native error: 30620");
  ExpectCode(30620, [] { Arith(doRAND, List(Int(-3)))->GetDataValue(); });
  ExpectCode(30621, [] { Round(Dbl(1), Int(0), rwSELECT)->GetDataValue(); },
             "Unknown rounding mode 'SELECT' in function ROUND - Native error: 30621");
  ExpectCode(30121, [] { Arith(doUPPER, List(Int(1)))->GetDataValue(); });
}

TEST(ExprArithmetic, RandIsRepeatableOnceSeeded) {
  auto rand = Arith(doRAND, List(Int(6)));
  const auto draw = [&] {
    std::vector<int32_t> v;
    for (int i = 0; i < 600; ++i) v.push_back(rand->GetDataValue().GetDataAsSignedInt32());
    return v;
  };
  SetRandSeed(42);
  const std::vector<int32_t> first = draw();
  SetRandSeed(42);
  EXPECT_EQ(draw(), first);
  const std::set<int32_t> seen(first.begin(), first.end());
  EXPECT_EQ(seen, (std::set<int32_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(rand->GetDataType(), aftInteger);
}

TEST(ExprStrings, Values) {
  const Case cases[] = {
      {"'ab' || NULL", [] { return StrFn(doCONCAT, List(Str("ab"), Null(bftVarchar))); }, {bftVarchar, "ab"}},
      {"NULL || 'ab'", [] { return StrFn(doCONCAT, List(Null(bftVarchar), Str("ab"))); }, {bftVarchar, "ab"}},
      {"1 + 2 || 'x'", [] { return StrFn(doCONCAT, List(Int(1), Int(2), Str("x"))); }, {bftVarchar, "12x"}},
      {"UPPER('abc')", [] { return StrFn(doUPPER, List(Str("abc"))); }, {bftVarchar, "ABC"}},
      {"UPPER(NULL)", [] { return StrFn(doUPPER, List(Null(bftVarchar))); }, {bftVarchar, {}}},
      {"UPPER('\xE9t\xE9')", [] { return StrFn(doUPPER, List(Str("\xE9t\xE9"))); }, {bftVarchar, "\xC9T\xC9"}},
      {"LOWER(wide)", [] { return StrFn(doLOWER, List(WStr(u"\u00C4B\u0160"))); }, {bftWideVarchar, "\xE4" "b\x9A"}},
      {"TRIM", [] { return StrFn(doTRIM, List(Str(" \t a b\n "))); }, {bftVarchar, "a b"}},
      {"LTRIM", [] { return StrFn(doLTRIM, List(Str("  a b  "))); }, {bftVarchar, "a b  "}},
      {"RTRIM", [] { return StrFn(doRTRIM, List(Str("  a b  "))); }, {bftVarchar, "  a b"}},
      {"TRIM(wide)", [] { return StrFn(doTRIM, List(WStr(u" \u00E4 "))); }, {bftWideVarchar, "\xE4"}},
      {"LENGTH(NULL)", [] { return StrFn(doLENGTH, List(Null(bftVarchar))); }, {bftSignedInt32, "0"}},
      {"LENGTH('abc')", [] { return StrFn(doLENGTH, List(Str("abc"))); }, {bftSignedInt32, "3"}},
      {"LENGTH(12345)", [] { return StrFn(doLENGTH, List(Int(12345))); }, {bftSignedInt32, "5"}},
      {"LENGTH(wide)", [] { return StrFn(doLENGTH, List(WStr(u"\u00E4\u00F6"))); }, {bftSignedInt32, "2"}},
      {"POSITION('cd' IN 'abcdef')", [] { return StrFn(doPOS, List(Str("cd"), Str("abcdef"))); },
       {bftSignedInt32, "3"}},
      {"POSITION('x' IN 'abc')", [] { return StrFn(doPOS, List(Str("x"), Str("abc"))); }, {bftSignedInt32, "0"}},
      {"POSITION(NULL IN 'abc')", [] { return StrFn(doPOS, List(Null(bftVarchar), Str("abc"))); },
       {bftSignedInt32, "0"}},
      {"POSITION(wide)", [] { return StrFn(doPOS, List(WStr(u"\u00F6"), Str("a\xF6"))); }, {bftSignedInt32, "2"}},
      {"SUBSTRING('abcdef' FROM 2 FOR 3)", [] { return StrFn(doSUBSTRING, List(Str("abcdef"), Int(2), Int(3))); },
       {bftVarchar, "bcd"}},
      {"SUBSTRING('abcdef' FROM 4)", [] { return StrFn(doSUBSTRING, List(Str("abcdef"), Int(4))); },
       {bftVarchar, "def"}},
      {"SUBSTRING('abcdef' FROM 0 FOR 2)", [] { return StrFn(doSUBSTRING, List(Str("abcdef"), Int(0), Int(2))); },
       {bftVarchar, "ab"}},
      {"SUBSTRING('abc' FROM 2 FOR 99)", [] { return StrFn(doSUBSTRING, List(Str("abc"), Int(2), Int(99))); },
       {bftVarchar, "bc"}},
      // A negative count and a start past the end take nothing: the empty text, which the
      // engine stores as NULL.
      {"SUBSTRING('abc' FROM 2 FOR -1)", [] { return StrFn(doSUBSTRING, List(Str("abc"), Int(2), Int(-1))); },
       {bftVarchar, {}}},
      {"SUBSTRING('abc' FROM 5)", [] { return StrFn(doSUBSTRING, List(Str("abc"), Int(5))); }, {bftVarchar, {}}},
      {"SUBSTRING(wide)", [] { return StrFn(doSUBSTRING, List(WStr(u"\u00E4bc"), Int(1), Int(2))); },
       {bftWideVarchar, "\xE4" "b"}},
      {"SUBSTRING(12345 FROM 2 FOR 2)", [] { return StrFn(doSUBSTRING, List(Int(12345), Int(2), Int(2))); },
       {bftVarchar, "23"}},
  };
  for (const Case& c : cases) Check(c);
  ExpectCode(30131, [] { StrFn(doABS, List(Str("a")))->GetDataValue(); });
  ExpectCode(30016, [] { StrFn(doSUBSTRING, List(Str("abc"), Null()))->GetDataValue(); });
}

TEST(ExprCast, ValuesAndSizes) {
  const Case cases[] = {
      {"CAST(98765 AS VARCHAR(3))", [] { return Cast(Int(98765), aftString, Int(3)); }, {bftVarchar, "987"}},
      {"CAST('12' AS INTEGER)", [] { return Cast(Str("12"), aftInteger); }, {bftSignedInt32, "12"}},
      {"CAST(NULL AS INTEGER)", [] { return Cast(Null(), aftInteger); }, {bftSignedInt32, {}}},
      {"CAST(2.5 AS VARCHAR)", [] { return Cast(Dbl(2.5), aftString); }, {bftVarchar, "2.5"}},
      {"CAST('abc' AS WIDESTRING(2))", [] { return Cast(Str("abc"), aftWideString, Int(2)); },
       {bftWideVarchar, "ab"}},
      // A negative size keeps nothing: the empty text, stored as NULL.
      {"CAST('abc' AS VARCHAR(-1))", [] { return Cast(Str("abc"), aftString, Int(-1)); }, {bftVarchar, {}}},
  };
  for (const Case& c : cases) Check(c);

  auto long_text = Cast(Str(std::string(5000, 'x')), aftString);
  EXPECT_EQ(long_text->GetDataValue().GetDataAsAnsiString().size(), 4096u);

  struct SizeCase {
    TORVBaseFieldType operand;
    int32_t size;
  };
  const SizeCase sizes[] = {{bftSignedInt8, 4}, {bftSignedInt16, 6}, {bftSignedInt32, 11}, {bftSignedInt64, 20},
                            {bftUnsignedInt8, 3}, {bftUnsignedInt16, 5}, {bftUnsignedInt32, 10}, {bftLogical, 5},
                            {bftDouble, 26},      {bftDateTime, 26},    {bftCurrency, 21}};
  for (const SizeCase& s : sizes)
    EXPECT_EQ(Cast(Null(s.operand), aftString)->GetDataSize(), s.size) << BftToStr(s.operand);
  EXPECT_EQ(Cast(Str("abcd"), aftString)->GetDataSize(), 4);
  EXPECT_EQ(Cast(Int(1), aftString, Int(7))->GetDataSize(), 7);
  EXPECT_EQ(Cast(Str("1"), aftInteger)->GetDataSize(), 0);
  EXPECT_EQ(Cast(Str("1"), aftInteger)->GetDataType(), aftInteger);
  EXPECT_EQ(Cast(Int(1), aftString, Int(-5))->GetDataSize(), 0);
  ExpectCode(30466, [] { Cast(Null(bftUnknown), aftString)->GetDataSize(); },
             "Unsupported data type 'Unknown' - Native error: 30466");
}

TEST(ExprCase, ValuesOfCaseAndCoalesce) {
  const auto coalesce = [](std::vector<TORVExprNodePtr> args) { return TORVExprNodeCase::CreateCoalesce(std::move(args)); };
  EXPECT_EQ(coalesce(List(Null(), Null(), Int(3)))->GetDataValue().GetDataAsSignedInt32(), 3);
  EXPECT_TRUE(coalesce(List(Null(), Null()))->GetDataValue().IsNull());

  const auto simple = [](TORVExprNodePtr input, bool with_else) {
    auto c = TORVExprNodeCase::CreateSimpleCase(std::move(input));
    c->AddWhenExpression(Int(1));
    c->AddResultExpression(Str("one"));
    c->AddWhenExpression(Null());
    c->AddResultExpression(Str("null"));
    c->AddWhenExpression(Int(2));
    c->AddResultExpression(Str("two"));
    if (with_else) c->SetElseResultExpression(Str("other"));
    return c;
  };
  EXPECT_EQ(simple(Int(2), true)->GetDataValue().GetDataAsAnsiString(), "two");
  EXPECT_EQ(simple(Int(5), true)->GetDataValue().GetDataAsAnsiString(), "other");
  EXPECT_TRUE(simple(Int(5), false)->GetDataValue().IsNull());
  EXPECT_EQ(simple(Null(), false)->GetDataValue().GetDataAsAnsiString(), "null");  // NULL matches NULL here

  // A WHEN condition that is NULL is not true: the next one is tried, and no error is raised.
  auto searched = TORVExprNodeCase::CreateSearchedCase();
  searched->AddWhenExpression(testing::Truth(std::nullopt));
  searched->AddResultExpression(Str("a"));
  searched->AddWhenExpression(Bool(false));
  searched->AddResultExpression(Str("b"));
  searched->AddWhenExpression(Bool(true));
  searched->AddResultExpression(Str("c"));
  EXPECT_EQ(searched->GetDataValue().GetDataAsAnsiString(), "c");
  auto only_null = TORVExprNodeCase::CreateSearchedCase();
  only_null->AddWhenExpression(testing::Truth(std::nullopt));
  only_null->AddResultExpression(Str("a"));
  only_null->SetElseResultExpression(Str("else"));
  EXPECT_EQ(only_null->GetDataValue().GetDataAsAnsiString(), "else");
  // The selected branch's value is linked, not copied.
  const TORVVariant& linked = searched->GetDataValue();
  EXPECT_TRUE(linked.IsDataLinked());
}

TEST(ExprCase, SizesInsertCastsToTheResultType) {
  // CASE ... THEN 'ab' ELSE 12345 END: a text column; the ELSE branch becomes a CAST.
  auto c = TORVExprNodeCase::CreateSearchedCase();
  c->AddWhenExpression(Bool(false));
  c->AddResultExpression(Str("ab"));
  c->SetElseResultExpression(Int(12345));
  EXPECT_EQ(c->GetDataType(), aftString);
  EXPECT_EQ(c->GetDataSize(), 11);
  EXPECT_NE(dynamic_cast<TORVExprNodeCast*>(c->FElseResultExpression), nullptr);
  EXPECT_EQ(c->Child(2), c->FElseResultExpression);
  const TORVVariant& v = c->GetDataValue();
  EXPECT_EQ(v.DataType(), bftVarchar);
  EXPECT_EQ(v.GetDataAsAnsiString(), "12345");
  EXPECT_EQ(c->GetDataSize(), 11);  // a second call inserts nothing more
  EXPECT_EQ(dynamic_cast<TORVExprNodeCast*>(c->FElseResultExpression)->Child(0)->GetDataType(), aftInteger);

  auto co = TORVExprNodeCase::CreateCoalesce(List(Null(bftVarchar), Int64(7)));
  EXPECT_EQ(co->GetDataType(), aftString);
  EXPECT_EQ(co->GetDataSize(), 20);
  EXPECT_EQ(co->GetDataValue().GetDataAsAnsiString(), "7");
  EXPECT_EQ(co->GetDataValue().DataType(), bftVarchar);
  EXPECT_EQ(TORVExprNodeCase::CreateCoalesce(List(Int(1), Dbl(2)))->GetDataType(), aftDouble);
  EXPECT_EQ(TORVExprNodeCase::CreateSearchedCase()->GetDataType(), aftUnknown);

  // CONCAT: every operand becomes text of the result's type.
  auto concat = StrFn(doCONCAT, List(Str("abc"), Int(12)));
  EXPECT_EQ(concat->GetDataType(), aftString);
  EXPECT_EQ(concat->GetDataSize(), 3 + 11);
  EXPECT_NE(dynamic_cast<TORVExprNodeCast*>(concat->Child(1)), nullptr);
  EXPECT_EQ(dynamic_cast<TORVExprNodeCast*>(concat->Child(0)), nullptr);
  EXPECT_EQ(concat->GetDataValue().GetDataAsAnsiString(), "abc12");
}

TEST(ExprTypes, FixedAnswersOfTheFunctions) {
  struct TypeCase {
    const char* what;
    std::function<TORVExprNodePtr()> make;
    TORVAdvancedFieldType type;
    int32_t size;
  };
  const TypeCase cases[] = {
      {"ABS(int)", [] { return Arith(doABS, List(Int(1))); }, aftInteger, 0},
      {"SQR(double)", [] { return Arith(doSQR, List(Dbl(1))); }, aftDouble, 0},
      {"CEIL", [] { return Arith(doCEIL, List(Dbl(1))); }, aftInteger, 0},
      {"SIGN", [] { return Arith(doSIGN, List(Dbl(1))); }, aftInteger, 0},
      {"ROUND(x)", [] { return Round(Dbl(1)); }, aftInteger, 0},
      {"ROUND(x, n)", [] { return Round(Dbl(1), Int(1)); }, aftDouble, 0},
      {"SQRT", [] { return Arith(doSQRT, List(Int(1))); }, aftDouble, 0},
      {"POWER", [] { return Arith(doPOWER, List(Int(1), Int(1))); }, aftDouble, 0},
      {"int + largeint", [] { return Arith(doADD, List(Int(1), Int64(1))); }, aftLargeint, 0},
      {"'ab' + 'cde'", [] { return Arith(doADD, List(Str("ab"), Str("cde"))); }, aftString, 5},
      {"UPPER(varchar)", [] { return StrFn(doUPPER, List(Str("abc"))); }, aftString, 3},
      {"LOWER(wide)", [] { return StrFn(doLOWER, List(WStr(u"abc"))); }, aftWideString, 6},
      {"LENGTH", [] { return StrFn(doLENGTH, List(Str("abc"))); }, aftInteger, 0},
      {"POSITION", [] { return StrFn(doPOS, List(Str("a"), Str("abc"))); }, aftInteger, 0},
      {"SUBSTRING(s, 1, 2)", [] { return StrFn(doSUBSTRING, List(Str("abcdef"), Int(1), Int(2))); }, aftString, 6},
      {"SUBSTRING(NULL text, 1, 3)", [] { return StrFn(doSUBSTRING, List(Null(bftVarchar), Int(1), Int(3))); },
       aftString, 3},
      {"SUBSTRING(NULL text, 1)", [] { return StrFn(doSUBSTRING, List(Null(bftVarchar), Int(1))); }, aftString,
       4096},
      {"SUBSTRING(int, 1)", [] { return StrFn(doSUBSTRING, List(Int(5), Int(1))); }, aftInteger, 0},
      {"SYSDATE", [] { return std::make_unique<TORVExprNodeDateFunction>(doSYSDATE); }, aftDateTime, 0},
      {"CURRENT_DATE", [] { return std::make_unique<TORVExprNodeDateFunction>(doCURRENT_DATE); }, aftDate, 0},
      {"CURRENT_TIME", [] { return std::make_unique<TORVExprNodeDateFunction>(doCURRENT_TIME); }, aftTime, 0},
      {"TOSTRING", [] { return std::make_unique<TORVExprNodeDateFunction>(doTOSTRING, Null(), "DD.MM.YYYY"); },
       aftString, 10},
      {"TODATE(time)", [] { return std::make_unique<TORVExprNodeDateFunction>(doTODATE, Str("1"), "HH24:NN"); },
       aftTime, 0},
      {"EXTRACT", [] { return std::make_unique<TORVExprNodeDateFunction>(doEXTRACT, dtefDay, Null()); }, aftWord, 0},
      {"MIMETOBIN", [] { return std::make_unique<TORVExprNodeBlob>(doMIMETOBIN, Str("AA=="), true, false); },
       aftString, 0},
      {"ROWNUM", [] { return std::make_unique<TORVExprNodeSystem>(doROWNUM, "", "", "", "", false); }, aftInteger, 0},
  };
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(c.what);
    TORVExprNodePtr n = c.make();
    EXPECT_EQ(n->GetDataType(), c.type) << AftToStr(n->GetDataType());
    EXPECT_EQ(n->GetDataSize(), c.size);
  }
  ExpectCode(30287, [] { TORVExprNodeDateFunction(doABS).GetDataType(); });
  ExpectCode(30130, [] { TORVExprNodeDateFunction(doABS).GetDataValue(); });
}

TEST(ExprDates, FunctionsOnTheProcessClock) {
  const TDateTime now = platform::EncodeDate(2024, 2, 29) + platform::EncodeTime(13, 45, 30, 0);
  platform::ManualClock clock(now);
  platform::ScopedClock scoped(clock);
  TORVExprNodeDateFunction sysdate(doSYSDATE), today(doCURRENT_DATE), time(doCURRENT_TIME);
  EXPECT_EQ(sysdate.GetDataValue().DataType(), bftDateTime);
  EXPECT_NEAR(sysdate.GetDataValue().GetDataAsTDateTime(), now, 1e-9);
  EXPECT_EQ(today.GetDataValue().DataType(), bftDate);
  EXPECT_EQ(today.GetDataValue().GetDataAsTDate(), platform::EncodeDate(2024, 2, 29));
  EXPECT_EQ(time.GetDataValue().DataType(), bftTime);
  EXPECT_NEAR(time.GetDataValue().GetDataAsTTime(), platform::EncodeTime(13, 45, 30, 0), 1e-9);
  clock.Advance(60000);  // evaluated anew each time
  EXPECT_NEAR(time.GetDataValue().GetDataAsTTime(), platform::EncodeTime(13, 46, 30, 0), 1e-9);
}

TEST(ExprDates, ToDateToStringAndExtract) {
  const auto todate = [](const std::string& text, const std::string& format) {
    return std::make_unique<TORVExprNodeDateFunction>(doTODATE, Str(text), format);
  };
  auto d = todate("2024-02-29", "YYYY-MM-DD");
  EXPECT_EQ(d->GetDataValue().DataType(), bftDate);
  EXPECT_EQ(d->GetDataValue().GetDataAsTDate(), platform::EncodeDate(2024, 2, 29));
  auto t = todate("13:45:10", "HH24:NN:SS");
  EXPECT_EQ(t->GetDataValue().DataType(), bftTime);
  EXPECT_NEAR(t->GetDataValue().GetDataAsTTime(), platform::EncodeTime(13, 45, 10, 0), 1e-9);
  auto dt = todate("29.02.2024 13:45", "DD.MM.YYYY HH24:NN");
  EXPECT_EQ(dt->GetDataValue().DataType(), bftDateTime);
  auto none = std::make_unique<TORVExprNodeDateFunction>(doTODATE, Null(bftVarchar), "YYYY");
  EXPECT_TRUE(none->GetDataValue().IsNull());
  EXPECT_EQ(none->GetDataValue().DataType(), bftDateTime);

  TORVVariant when(bftDateTime);
  when.SetDataAsTDateTime(platform::EncodeDate(2024, 2, 29) + platform::EncodeTime(13, 45, 10, 0));
  const auto value = [&] {
    auto c = testing::Const();
    c->Value.Assign(when, true);
    return c;
  };
  auto text = std::make_unique<TORVExprNodeDateFunction>(doTOSTRING, value(), "DD.MM.YYYY HH24:NN DY");  // DY: day of the year
  EXPECT_EQ(text->GetDataValue().GetDataAsAnsiString(), "29.02.2024 13:45 60");
  EXPECT_EQ(text->GetDataValue().DataType(), bftVarchar);
  auto null_text = std::make_unique<TORVExprNodeDateFunction>(doTOSTRING, Null(bftDateTime), "YYYY");
  EXPECT_TRUE(null_text->GetDataValue().IsNull());

  const std::pair<TORVDateTimeExtractField, int> parts[] = {{dtefYear, 2024}, {dtefMonth, 2},   {dtefDay, 29},
                                                            {dtefHour, 13},   {dtefMinute, 45}, {dtefSecond, 10}};
  for (const auto& [field, expected] : parts) {
    TORVExprNodeDateFunction extract(doEXTRACT, field, value());
    EXPECT_EQ(extract.GetDataValue().DataType(), bftUnsignedInt16);
    EXPECT_EQ(extract.GetDataValue().GetDataAsUnsignedInt16(), expected) << int(field);
  }
  TORVExprNodeDateFunction from_null(doEXTRACT, dtefMonth, Null(bftDateTime));
  EXPECT_TRUE(from_null.GetDataValue().IsNull());
}

TEST(ExprSystem, MimeToBinRowNum) {
  TORVExprNodeBlob blob(doMIMETOBIN, Str("aGVs\r\nbG8A/w=="), true, false);
  const TORVVariant& bytes = blob.GetDataValue();
  EXPECT_EQ(bytes.DataType(), bftBlob);
  ASSERT_EQ(bytes.DataSize(), 7);
  EXPECT_EQ(std::memcmp(bytes.pData(), "hello\0\xFF", 7), 0);
  TORVExprNodeBlob empty(doMIMETOBIN, Null(bftVarchar), true, false);
  EXPECT_TRUE(empty.GetDataValue().IsNull());

  TORVExprNodeSystem rownum(doROWNUM, "", "", "", "", false);
  for (int32_t i = 1; i <= 3; ++i) EXPECT_EQ(rownum.GetDataValue().GetDataAsSignedInt32(), i);
}

// What the table component will answer for LASTAUTOINC.
class FakeAutoincTables : public IORVAutoincTableFactory {
 public:
  class Table : public IORVAutoincTable {
   public:
    explicit Table(FakeAutoincTables& Owner) : owner_(Owner) { ++owner_.open; }
    ~Table() override { --owner_.open; }
    bool FindColumn(const std::string& ColumnName, TORVAdvancedFieldType& DataType) override {
      if (AnsiUpperCase(ColumnName) != "ID") return false;
      DataType = aftAutoInc;
      return true;
    }
    int64_t LastAutoincValue(const std::string&) override { return owner_.last; }

   private:
    FakeAutoincTables& owner_;
  };
  std::unique_ptr<IORVAutoincTable> OpenTable(const std::string& SessionName, const std::string& DatabaseName,
                                              const std::string& TableName, bool InMemory) override {
    opened = SessionName + "/" + DatabaseName + "/" + TableName + (InMemory ? "/memory" : "");
    return std::make_unique<Table>(*this);
  }
  std::string opened;
  int open = 0;
  int64_t last = 0;
};

TEST(ExprSystem, LastAutoincReadsTheTable) {
  EXPECT_THROW(TORVExprNodeSystem(doLASTAUTOINC, "s", "db", "orders", "id", false), std::logic_error);
  FakeAutoincTables tables;
  IORVAutoincTableFactory* previous = SetAutoincTableFactory(&tables);
  {
    TORVExprNodeSystem last(doLASTAUTOINC, "Default", "db", "orders", "id", true);
    EXPECT_EQ(tables.opened, "Default/db/orders/memory");
    EXPECT_EQ(tables.open, 1);  // open from parsing on
    EXPECT_EQ(last.GetDataType(), aftAutoInc);
    tables.last = 5000000000;
    EXPECT_EQ(last.GetDataValue().GetDataAsSignedInt64(), 5000000000);
    EXPECT_EQ(last.GetDataValue().DataType(), bftSignedInt64);
    ExpectCode(30337, [] { TORVExprNodeSystem(doLASTAUTOINC, "", "", "orders", "nope", false); },
               "Field 'nope' not found - Native error: 30337");
  }
  EXPECT_EQ(tables.open, 0);  // closed with the node
  SetAutoincTableFactory(previous);
}

}  // namespace
}  // namespace orv
