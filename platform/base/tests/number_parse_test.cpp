#include "platform/base/number_parse.h"

#include <gtest/gtest.h>

#include <cmath>

namespace platform {
namespace {

TEST(ValFloat, WholeTextsConvert) {
  struct Case { const char* text; double value; };
  for (const Case c : {Case{"12.5", 12.5}, {"  -3", -3}, {"+.5", 0.5}, {"7.", 7}, {"1e3", 1000},
                       {"2.5E-2", 0.025}, {"0", 0}}) {
    double v = -1;
    EXPECT_EQ(ValFloat(c.text, v), 0) << c.text;
    EXPECT_DOUBLE_EQ(v, c.value) << c.text;
  }
}

TEST(ValFloat, ReportsTheFirstBadCharacterAndKeepsTheLongestValidPrefix) {
  struct Case { const char* text; int code; double value; };
  for (const Case c : {Case{"60.5 L/cm", 5, 60.5}, {"12.3 %", 5, 12.3}, {"12.5x", 5, 12.5}, {"1e", 2, 1},
                       {"1e+", 2, 1}, {"abc", 1, 0}, {"", 1, 0}, {"-", 1, 0}, {".", 1, 0}, {"3 ", 2, 3},
                       {"1.2.3", 4, 1.2}}) {
    double v = -1;
    EXPECT_EQ(ValFloat(c.text, v), c.code) << c.text;
    EXPECT_DOUBLE_EQ(v, c.value) << c.text;
  }
}

TEST(ValInt, DecimalHexSignAndOverflow) {
  int64_t v = 0;
  EXPECT_EQ(ValInt(" -42", v), 0);
  EXPECT_EQ(v, -42);
  EXPECT_EQ(ValInt("$FF", v), 0);
  EXPECT_EQ(v, 255);
  EXPECT_EQ(ValInt("0x10", v), 0);
  EXPECT_EQ(v, 16);
  EXPECT_EQ(ValInt("12ab", v), 3);
  EXPECT_EQ(v, 12);
  EXPECT_EQ(ValInt("99999999999999999999", v), 19);  // the 19th digit overflows
  EXPECT_EQ(ValInt("-9223372036854775808", v), 0);
  EXPECT_EQ(v, INT64_MIN);
}

TEST(StrToFloat, UsesTheGivenSeparatorAndAllowsSurroundingBlanks) {
  long double v = 0;
  EXPECT_TRUE(TryStrToFloat(" 1,5 ", v, FormatSettings{',', '.'}));
  EXPECT_DOUBLE_EQ(static_cast<double>(v), 1.5);
  EXPECT_FALSE(TryStrToFloat("1,5", v, FormatSettings{}));
  EXPECT_FALSE(TryStrToFloat("", v));
  EXPECT_THROW(StrToFloat("x"), EConvertError);
  EXPECT_TRUE(std::isinf(static_cast<double>(StrToFloat("1e99999"))));
}

TEST(StrToInt, RangeAndDefaults) {
  EXPECT_EQ(StrToInt(" 2147483647 "), 2147483647);
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
  EXPECT_EQ(StrToIntDef("12x", 7), 7);
  EXPECT_EQ(StrToIntDef("-$10", 0), -16);
}

}  // namespace
}  // namespace platform
