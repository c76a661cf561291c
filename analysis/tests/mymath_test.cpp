#include "analysis/mymath.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <numbers>
#include <vector>

namespace analysis {
namespace {

TEST(NumberTexts, GetValAndIsValStripSuffixesInBothCodings) {
  struct Case {
    const char* text;
    double value;
    bool whole;
  };
  const Case cases[] = {
      {"45,5\xB0", 45.5, true},           // decimal comma and "°" from the archive (CP1252)
      {"45,5\xC2\xB0", 45.5, true},       // the same typed into a window (UTF-8)
      {"12.3%", 12.3, true},
      {"2.5\xB5m\xB2", 2.5, true},        // "µm²" goes before "µm" is looked for
      {"2.5\xC2\xB5m\xC2\xB2", 2.5, true},
      {"2.5\xB5m", 2.5, true},
      {"2.5\xC2\xB5m", 2.5, true},
      {"3\xB5m\xB2\xB5m", 3, true},       // each suffix once: both go
      {"1e3\xB0", 1000, true},
      {"  -3.5E2", -350, true},
      {"7", 7, true},
      // Texts that stop converting read their longest numeric prefix.
      {"12.3 %", 12.3, false},            // the blank stops the conversion
      {"60.5 L/cm", 60.5, false},
      {"12.5x", 12.5, false},
      {"-12.5 mil", -12.5, false},
      {"1,2,3", 1.2, false},              // only the first comma becomes a point
      {"5%%", 5, false},                  // only the first "%" goes
      {"1.5 \xC2\xB0", 1.5, false},
      {"\xB0%", 0, false},
      {"", 0, false},
      {"abc", 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(GetVal(c.text), c.value) << c.text;
    double v = -99;
    EXPECT_EQ(IsVal(c.text, v), c.whole) << c.text;
    EXPECT_DOUBLE_EQ(v, c.value) << c.text;
  }
}

TEST(NumberTexts, GetValueKeepsSuffixesButTakesTheComma) {
  struct Case { const char* text; double value; };
  for (const Case& c : {Case{"60,5", 60.5}, {" -0,25", -0.25}, {"12.3\xB0", 12.3}, {"", 0}, {"x1", 0}}) {
    double v = -99;
    GetValue(c.text, v);
    EXPECT_DOUBLE_EQ(v, c.value) << c.text;
  }
}

TEST(NumberTexts, SetValFormatsWithAPointAndWidthFive) {
  struct Case { double r; int32_t digits; const char* text; };
  const Case cases[] = {
      {3.14159, 2, " 3.14"},   {3.14159, 0, "3"},      {2.5, 0, "2"},        {3.5, 0, "4"},
      {-2.5, 0, "-2"},         {1.5, 1, "  1.5"},      {-0.5, 1, " -0.5"},   {100, 3, "100.000"},
      {12345.678, 2, "12345.68"}, {1, 4, "1.0000"},    {1, 7, "1.0000"},     {1, -1, "1.0000"},
      {1e10, 0, "10000000000"},
  };
  for (const Case& c : cases) EXPECT_EQ(SetVal(c.r, c.digits), c.text) << c.r << " / " << c.digits;
}

TEST(NumberTexts, MFTStrForcesThePointUnderADecimalComma) {
  platform::FormatSettings saved = platform::ProcessFormatSettings();
  platform::ProcessFormatSettings().DecimalSeparator = ',';
  platform::ProcessFormatSettings().ThousandSeparator = '.';
  EXPECT_EQ(MFTStr(0.25, platform::TFloatFormat::ffFixed, 15, 2), "0.25");
  EXPECT_EQ(MFTStr(-1234.5, platform::TFloatFormat::ffFixed, 15, 1), "-1234.5");
  platform::ProcessFormatSettings() = saved;
  EXPECT_EQ(MFTStr(0.25, platform::TFloatFormat::ffGeneral, 15, 0), "0.25");
}

TEST(Statistics, GetStdMatchesTheSampleDeviation) {
  // Reference values from Python's statistics.stdev.
  EXPECT_NEAR(GetStd(8, 5, 232), 2.138089935299395, 1e-12);  // 2,4,4,4,5,5,7,9
  EXPECT_NEAR(GetStd(3, 2, 14), 1.0, 1e-12);                 // 1,2,3
  struct Case { int32_t count; double av, stdsum; };
  for (const Case& c : {Case{1, 5, 25}, {0, 0, 0}, {-3, 1, 1}, {2, 1, 2}, {2, 3, 10}}) {
    EXPECT_EQ(GetStd(c.count, c.av, c.stdsum), 0) << c.count << " " << c.av << " " << c.stdsum;
  }
}

TEST(Lines, RegressionAgainstPythonAndDegenerateInput) {
  const std::vector<double> x = {1, 2, 3, 4, 5.5}, y = {2.1, 3.9, 6.2, 7.8, 11.3};
  Extended m = -1, c = -1;
  ASSERT_TRUE(regression(m, c, x, y, 5));
  EXPECT_NEAR(static_cast<double>(m), 2.034426229508197, 1e-13);  // statistics.linear_regression
  EXPECT_NEAR(static_cast<double>(c), -0.046721311475411476, 1e-13);

  ASSERT_TRUE(regression(m, c, x, y, 50));  // n beyond the arrays uses what is there
  EXPECT_NEAR(static_cast<double>(m), 2.034426229508197, 1e-13);

  const std::vector<double> vx = {5, 5, 5}, vy = {1, 2, 6};
  EXPECT_FALSE(regression(m, c, vx, vy, 3));
  EXPECT_EQ(m, 0);
  EXPECT_EQ(c, 3);
  EXPECT_FALSE(regression(m, c, x, y, 1));
  EXPECT_EQ(m, 0);
  EXPECT_EQ(c, 0);
  EXPECT_FALSE(regression(m, c, {}, {}, 4));
}

TEST(Lines, TwoPointsAndPointDistance) {
  double m = -1, c = -1;
  GeradeDurch2Punkte(0, 1, 2, 5, m, c);
  EXPECT_DOUBLE_EQ(m, 2);
  EXPECT_DOUBLE_EQ(c, 1);
  GeradeDurch2Punkte(3, 7, 3, 9, m, c);
  EXPECT_EQ(m, 0);
  EXPECT_EQ(c, 7);
  EXPECT_NEAR(static_cast<double>(AbstandPunktGerade(0, 0, 1, 1)), std::sqrt(0.5), 1e-15);
  EXPECT_NEAR(static_cast<double>(AbstandPunktGerade(3, -4, 0, 0)), 4, 1e-15);
}

TEST(Geometry, DistancesAndAngles) {
  EXPECT_DOUBLE_EQ(Abstand(0, 0, 3, 4), 5);
  EXPECT_DOUBLE_EQ(PTAbstand({3, 4}, {0, 0}, 1), 5);
  EXPECT_DOUBLE_EQ(PTAbstand({3, 4}, {0, 0}, 2), std::sqrt(9.0 + 64.0));
  EXPECT_DOUBLE_EQ(PTAbstand({INT_MAX, 0}, {INT_MIN, 0}, 1), 4294967295.0);  // no overflow

  struct Case { TPoint pt1, pt2; double z, degrees; };
  const Case cases[] = {
      {{0, 10}, {0, 0}, 1, 90},   {{0, -10}, {0, 0}, 1, 270}, {{-10, 0}, {0, 0}, 1, 180},
      {{10, -10}, {0, 0}, 1, -45}, {{0, 0}, {0, 0}, 1, 270},  {{15, 3}, {5, 3}, 1, 0},
      {{10, -10}, {0, 0}, 2, -63.43494882292201},  // math.degrees(math.atan2(-20, 10))
      {{-10, -10}, {0, 0}, 1, 225},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(PTWinkel(c.pt1, c.pt2, c.z), c.degrees, 1e-12) << c.pt1.X << "," << c.pt1.Y;
  }
  const double pi = std::numbers::pi;
  struct RadCase { double dx, dy, rad; };
  for (const RadCase& c : {RadCase{0, 1, pi / 2}, {0, -1, 1.5 * pi}, {1e-11, 0, 1.5 * pi}, {-1, 0, pi},
                           {1, 1, pi / 4}, {-1, -1, 1.25 * pi}}) {
    EXPECT_NEAR(GetWinkelDrad(c.dx, c.dy), c.rad, 1e-15) << c.dx << "," << c.dy;
  }
}

TEST(Vectors, CrossProductLengthAndSignedDistance) {
  TVector c{};
  VectorXproduct({1, 2, 3}, {4, 5, 6}, c);
  EXPECT_EQ(c, (TVector{-3, 6, -3}));
  SubVector({1, 2, 3}, {4, 6, 8}, c);
  EXPECT_EQ(c, (TVector{-3, -4, -5}));
  EXPECT_EQ(BetragVector({2, 3, 6}), 7);
  EXPECT_EQ(AbstandPunktGeradeVector({0, 0, 0}, {1, 0, 0}, {0, 2, 0}), 2);
  EXPECT_EQ(AbstandPunktGeradeVector({0, 0, 0}, {1, 0, 0}, {0, -2, 0}), -2);
  EXPECT_EQ(AbstandPunktGeradeVector({1, 1, 0}, {0, 0, 0}, {5, 5, 0}), 0);
}

TEST(Other, SchwerpunktAndMinMax) {
  struct Case { std::vector<uint32_t> list; int32_t von, bis; double centre; };
  const Case cases[] = {
      {{0, 0, 4, 0}, 0, 3, 2},  {{1, 1}, 0, 1, 0.5},   {{3, 0, 1}, 0, 2, 0.2},  {{1, 2, 3}, 2, 1, 0},
      {{0, 0, 0}, 0, 2, 0},     {{5, 0, 0}, 0, 2, 0},  {{1, 1}, -5, 9, 0.5},    // range limited to the list
      {{65536, 1}, 0, 1, 1},    // 65536² wraps to 0 in 32 bits
      {{}, 0, 3, 0},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(getSchwerpunkt(c.list, c.von, c.bis), c.centre);

  EXPECT_EQ(maxInt(-3, 2), 2);
  EXPECT_EQ(minInt(-3, 2), -3);
  EXPECT_EQ(max(1.5, 2.5), 2.5);
  EXPECT_EQ(min(1.5, 2.5), 1.5);
  // Which argument wins on equality is visible in the sign of zero.
  EXPECT_FALSE(std::signbit(max(0.0, -0.0)));
  EXPECT_TRUE(std::signbit(max(-0.0, 0.0)));
  EXPECT_FALSE(std::signbit(min(0.0, -0.0)));
  EXPECT_TRUE(std::signbit(min(-0.0, 0.0)));
}

}  // namespace
}  // namespace analysis
