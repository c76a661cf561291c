#include "platform/base/number_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>

namespace platform {
namespace {

// Expected texts come from Python's decimal module (exact binary value, ROUND_HALF_UP).
TEST(FloatToStrF, FixedRoundsTheExactBinaryValueHalfAwayFromZero) {
  struct Case { double v; int digits; const char* text; };
  for (const Case c : {Case{0.125, 2, "0.13"}, {-0.125, 2, "-0.13"}, {2.675, 2, "2.67"}, {1.005, 2, "1.00"},
                       {0.5, 0, "1"}, {2.5, 0, "3"}, {9.995, 2, "9.99"}, {9.9951, 2, "10.00"},
                       {3.14159, 2, "3.14"}, {123456.789, 1, "123456.8"}, {0.0001234, 6, "0.000123"},
                       {1e-7, 3, "0.000"}, {-1e-7, 3, "0.000"}, {0, 2, "0.00"}, {99.5, 0, "100"}}) {
    EXPECT_EQ(FloatToStrF(c.v, TFloatFormat::ffFixed, 15, c.digits), c.text) << c.v;
  }
}

TEST(FloatToStrF, GeneralIsShortestAndSwitchesToScientific) {
  struct Case { long double v; int precision; const char* text; };
  for (const Case c : {Case{1.5L, 15, "1.5"}, {100, 15, "100"}, {0.1L, 15, "0.1"}, {1e20L, 15, "1E20"},
                       {1.5e-7L, 15, "1.5E-7"}, {0.0001L, 15, "0.0001"}, {0.00001L, 15, "1E-5"},
                       {123456, 3, "1.23E5"}, {-2.5e-10L, 15, "-2.5E-10"}, {1.0L / 3, 15, "0.333333333333333"},
                       {0, 15, "0"}}) {
    EXPECT_EQ(FloatToStrF(c.v, TFloatFormat::ffGeneral, c.precision, 0), c.text);
  }
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(2.0 / 3.0), "0.666666666666667");
}

TEST(FloatToStrF, ExponentAndNumberForms) {
  EXPECT_EQ(FloatToStrF(1234.5L, TFloatFormat::ffExponent, 4, 2), "1.235E+03");
  EXPECT_EQ(FloatToStrF(-0.000123L, TFloatFormat::ffExponent, 3, 0), "-1.23E-4");
  EXPECT_EQ(FloatToStrF(1234567.891L, TFloatFormat::ffNumber, 15, 2), "1,234,567.89");
  EXPECT_EQ(FloatToStrF(1e20L, TFloatFormat::ffFixed, 15, 2), "1E20");  // too many integer digits
}

TEST(FloatToStrF, SpecialValuesAndSeparatorsIgnoreTheCLocale) {
  std::setlocale(LC_ALL, "de_DE.UTF-8");  // may not exist; the result must not depend on it
  FormatSettings comma{',', '.'};
  EXPECT_EQ(FloatToStrF(0.25L, TFloatFormat::ffFixed, 15, 2, comma), "0,25");
  EXPECT_EQ(FloatToStrF(0.25L, TFloatFormat::ffFixed, 15, 2, FormatSettings{}), "0.25");
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity()), "-INF");
}

TEST(StrFloat, RightAlignsToTheWidth) {
  EXPECT_EQ(StrFloat(1.5L, 5, 1), "  1.5");
  EXPECT_EQ(StrFloat(3.14159L, 5, 2), " 3.14");
  EXPECT_EQ(StrFloat(-12345.678L, 5, 2), "-12345.68");
  EXPECT_EQ(StrFloat(0.125L, 0, 2), "0.13");
  EXPECT_EQ(StrInt(42, 5), "   42");
  EXPECT_EQ(IntToStr(-7), "-7");
}

}  // namespace
}  // namespace platform
