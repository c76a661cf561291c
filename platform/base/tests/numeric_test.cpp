#include "platform/base/numeric.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <limits>

namespace platform {
namespace {

TEST(Round, TiesGoToTheEvenNeighbour) {
  struct Case { double in; int32_t out; };
  for (const Case c : {Case{0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2},
                       {2.4999999999, 2}, {2.5000000001, 3}, {38.25, 38}, {-7.75, -8}}) {
    EXPECT_EQ(Round(c.in), c.out) << c.in;
  }
}

TEST(Round, IgnoresTheCurrentRoundingModeAndSaturates) {
  std::fesetround(FE_UPWARD);
  EXPECT_EQ(Round(2.5), 2);
  EXPECT_EQ(Round64(3.5L), 4);
  std::fesetround(FE_TONEAREST);
  EXPECT_EQ(Round(1e20), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(Round(-1e20), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(Round(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(Trunc, DropsTheFractionTowardZero) {
  EXPECT_EQ(Trunc(2.9), 2);
  EXPECT_EQ(Trunc(-2.9), -2);
  EXPECT_EQ(Trunc64(-1e30L), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(Div(-7, 2), -3);
  EXPECT_EQ(Mod(-7, 2), -1);
  EXPECT_DOUBLE_EQ(static_cast<double>(Frac(-2.25L)), -0.25);
}

TEST(Wrap, KeepsTheLowBitsAndSignExtends24) {
  EXPECT_EQ(Wrap8(0x1FF), 0xFF);
  EXPECT_EQ(Wrap16(-1), 0xFFFF);
  EXPECT_EQ(Wrap24(-5), 0xFFFFFBu);
  EXPECT_EQ(Wrap24(0x1000001), 1u);
  EXPECT_EQ(SignExtend24(0xFFFFFB), -5);
  EXPECT_EQ(SignExtend24(0x7FFFFF), 0x7FFFFF);
  EXPECT_EQ(SignExtend24(0x800000), -0x800000);
}

}  // namespace
}  // namespace platform
