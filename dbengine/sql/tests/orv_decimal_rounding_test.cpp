#include "dbengine/sql/orv_decimal_rounding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "dbengine/sql/tests/python_reference.h"

namespace orv {
namespace {

constexpr tDecimalRoundingCtrl kModes[] = {drHalfEven, drHalfPos,  drHalfNeg, drHalfDown, drHalfUp,
                                           drRndNeg,   drRndPos,   drRndDown, drRndUp};
constexpr const char* kModeNames[] = {"HALFEVEN", "HALFPOS", "HALFNEG", "HALFDOWN", "HALFUP",
                                      "RNDNEG",   "RNDPOS",  "RNDDOWN", "RNDUP"};

// The nine modes for n from -3 to 6 over values of up to 15 significant digits, half-way
// values included, against Decimal(repr(x)).quantize. A result counts as equal when it is
// the decimal result in extended precision, or the same double (what ROUND stores).
TEST(DecimalRoundPython, NineModesAgainstDecimalQuantize) {
  const auto reference = testing::PythonLines("decimal_round_reference.py");
  ASSERT_GT(reference.size(), 30000u) << "python3 could not write the reference results";
  int failures = 0;
  for (const std::string& line : reference) {
    std::istringstream in(line);
    std::string value_text;
    int n = 0;
    in >> value_text >> n;
    const double x = std::strtod(value_text.c_str(), nullptr);
    for (size_t m = 0; m < 9; ++m) {
      std::string expected;
      in >> expected;
      const long double got = DecimalRoundDbl(x, n, kModes[m]);
      const bool same = got == std::strtold(expected.c_str(), nullptr) ||
                        static_cast<double>(got) == std::strtod(expected.c_str(), nullptr);
      if (!same && ++failures <= 20)
        ADD_FAILURE() << kModeNames[m] << "(" << value_text << ", " << n << ") = "
                      << static_cast<double>(got) << ", Python: " << expected;
    }
  }
  EXPECT_EQ(failures, 0);
}

struct Case {
  double value;
  int32_t n;
  tDecimalRoundingCtrl mode;
  long double expected;
};

TEST(DecimalRound, BoundaryCases) {
  const Case cases[] = {
      {2.675, 2, drHalfEven, 2.68L},  // stored as 2.67499999..., counts as the boundary
      {2.665, 2, drHalfEven, 2.66L},
      {2.5, 0, drHalfEven, 2.0L},
      {3.5, 0, drHalfEven, 4.0L},
      {-2.5, 0, drHalfUp, -3.0L},
      {-2.5, 0, drHalfDown, -2.0L},
      {-2.5, 0, drHalfPos, -2.0L},
      {2.5, 0, drHalfNeg, 2.0L},
      {-1.21, 1, drRndNeg, -1.3L},
      {1.21, 1, drRndPos, 1.3L},
      {-1.29, 1, drRndDown, -1.2L},
      {1.21, 1, drRndUp, 1.3L},
      {1.2, 1, drRndPos, 1.2L},  // a value on the grid stays
      {-1.2, 1, drRndNeg, -1.2L},
      {1234.5, -2, drHalfEven, 1200.0L},
      {1250.0, -2, drHalfEven, 1200.0L},
      {1350.0, -2, drHalfEven, 1400.0L},
      {1234.5, 0, drHalfEven, 1234.0L},
      {0.0, 3, drRndUp, 0.0L},
      // Tiny values keep their side of zero in the truncating modes.
      {1e-25, 0, drRndPos, 1.0L},
      {-1e-25, 0, drRndNeg, -1.0L},
      {-1e-25, 0, drRndUp, -1.0L},
      {1e-25, 0, drRndDown, 0.0L},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DecimalRoundDbl(c.value, c.n, c.mode), c.expected) << c.value << " " << c.n << " " << int(c.mode);
}

TEST(DecimalRound, ValuesThatCarryNoDigitThereComeBackUnchanged) {
  // Beyond the 64-bit integers after scaling.
  EXPECT_EQ(DecimalRound(1e300L, 2, 0.0, drHalfEven), 1e300L);
  EXPECT_EQ(DecimalRound(-9.5e18L, 0, 0.0, drRndUp), -9.5e18L);
  EXPECT_EQ(DecimalRoundDbl(1e300, 6, drRndNeg), static_cast<long double>(1e300));
  // The error window spans half a grid step: the nearest grid value, not a step of twice
  // the window (123456789012.345 at 6 decimals is itself).
  EXPECT_EQ(static_cast<double>(DecimalRoundDbl(123456789012.345, 6, drHalfEven)), 123456789012.345);
  EXPECT_EQ(static_cast<double>(DecimalRoundDbl(-123456789012.345, 6, drRndUp)), -123456789012.345);
  // Extreme digit counts finish at once.
  EXPECT_EQ(DecimalRoundDbl(5.0, 100000, drHalfEven), 5.0L);
  EXPECT_EQ(DecimalRoundDbl(5.0, -100000, drHalfEven), 0.0L);
  EXPECT_EQ(DecimalRoundDbl(0.0, INT32_MAX, drHalfUp), 0.0L);
  EXPECT_EQ(DecimalRoundDbl(7.0, INT32_MIN, drRndDown), 0.0L);
}

TEST(DecimalRound, NanInfinitiesAndNoneUnchanged) {
  const double inf = std::numeric_limits<double>::infinity();
  for (tDecimalRoundingCtrl mode : kModes) {
    EXPECT_TRUE(std::isnan(DecimalRoundDbl(std::numeric_limits<double>::quiet_NaN(), 2, mode)));
    EXPECT_EQ(DecimalRoundDbl(inf, 2, mode), inf);
    EXPECT_EQ(DecimalRoundDbl(-inf, -2, mode), -inf);
  }
  EXPECT_EQ(DecimalRoundDbl(2.675, 2, drNone), static_cast<long double>(2.675));
  EXPECT_TRUE(IsNAN(std::numeric_limits<long double>::quiet_NaN()));
  EXPECT_TRUE(IsNAN(-std::numeric_limits<long double>::infinity()));
  EXPECT_FALSE(IsNAN(std::numeric_limits<long double>::max()));
  EXPECT_FALSE(IsNAN(0.0L));
}

TEST(DecimalRound, ErrorBoundsAndExtendedPrecision) {
  EXPECT_EQ(static_cast<double>(MaxRelErrDbl), 5.481726184209375e-16);
  EXPECT_NEAR(static_cast<double>(MaxRelErrSgl), 2.942979335765625e-07, 1e-22);
  EXPECT_NEAR(static_cast<double>(MaxRelErrExt), 2.676624113359375e-19, 1e-34);
  // Extended values: with the extended bound, a value one extended step below the half of
  // 0.125 -> 0.12|5 still counts as the half; without a bound it does not.
  const long double below = std::nextafter(0.125L, 0.0L);
  EXPECT_EQ(DecimalRound(below, 2, static_cast<double>(MaxRelErrExt), drHalfUp), 0.13L);
  EXPECT_EQ(DecimalRound(below, 2, 0.0, drHalfUp), 0.12L);
}

}  // namespace
}  // namespace orv
