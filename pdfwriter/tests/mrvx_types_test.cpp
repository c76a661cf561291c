#include "pdfwriter/mrvx_types.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <random>

#include "platform/base/number_format.h"

namespace pdfwriter {
namespace {

TEST(ValueFormatting, FloatToStrRRoundsToHundredthsHalfUp) {
  const struct {
    Extended in;
    const char* out;
  } cases[] = {
      {0.125L, "0.13"}, {-0.5L, "-0.5"}, {-0.004L, "0"}, {72, "72"},   {772, "772"},  {-0.005L, "0"},
      {-0.015L, "-0.01"}, {1e-9L, "0"},  {595.3f, "595.3"}, {1234567.891L, "1234567.89"},
      {std::numeric_limits<Extended>::quiet_NaN(), "0"}, {std::numeric_limits<Extended>::infinity(), "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(_FloatToStrR(c.in), c.out) << static_cast<double>(c.in);
  // Rounded to hundredths, every value reads as the general 15-digit conversion writes it,
  // over the whole range of magnitudes.
  std::mt19937_64 rng(38);
  const platform::FormatSettings point{'.', ','};
  for (int i = 0; i < 50000; ++i) {
    const Extended magnitude = std::pow(10.0L, static_cast<int>(rng() % 30) - 8);
    const Extended v = (static_cast<Extended>(rng() % 2000001) / 1000000 - 1) * magnitude;
    const std::string expected = platform::FloatToStr(std::floor(v * 100 + 0.5L) / 100, point);
    ASSERT_EQ(_FloatToStrR(v), expected) << static_cast<double>(v);
  }
}

TEST(ValueFormatting, ColorToStrRReadsTheWindowsByteOrder) {
  EXPECT_EQ(_ColorToStrR(255), "1 0 0");
  EXPECT_EQ(_ColorToStrR(0xFF0000), "0 0 1");
  EXPECT_EQ(_ColorToStrR(0x808080), "0.5 0.5 0.5");
  EXPECT_EQ(_ColorToStrR(0), "0 0 0");
  EXPECT_EQ(_ColorToStrR(-16), "0 0 0");  // system colours count as black
  EXPECT_EQ(_ColorToStrR(0x00FF40), "0.25 1 0");
}

TEST(ValueFormatting, CutFloatKeepsFourDecimalsAndTouchesNoProcessSetting) {
  const struct {
    Extended in;
    const char* out;
  } cases[] = {{3, "3"}, {1.5L, "1.5"}, {2.71828L, "2.7183"}, {-0.00001L, "0"}, {-12.5L, "-12.5"}, {0.1f, "0.1"}};
  for (const auto& c : cases) EXPECT_EQ(_CutFloat(c.in), c.out);

  // Neither the application's number settings nor the C locale change PDF numbers, and
  // formatting them changes neither.
  platform::FormatSettings& fs = platform::ProcessFormatSettings();
  const platform::FormatSettings saved = fs;
  fs.DecimalSeparator = ',';
  const char* old_locale = std::setlocale(LC_NUMERIC, nullptr);
  const std::string old_locale_copy = old_locale ? old_locale : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // may be missing; the settings above still count
  EXPECT_EQ(_CutFloat(0.5L), "0.5");
  EXPECT_EQ(_FloatToStrR(0.5L), "0.5");
  EXPECT_EQ(fs.DecimalSeparator, ',');
  EXPECT_EQ(platform::FloatToStr(0.5L), "0,5");
  std::setlocale(LC_NUMERIC, old_locale_copy.c_str());
  fs = saved;
}

TEST(ValueFormatting, StrToHexAndPdfDate) {
  EXPECT_EQ(_StrToHex("AB"), "4142");
  EXPECT_EQ(_StrToHex(std::string("\x00\xff\x0a", 3)), "00FF0A");
  EXPECT_EQ(_DateTimeToPdfDate(platform::EncodeDate(2025, 1, 31) + platform::EncodeTime(23, 59, 58, 0)),
            "D:20250131235958");
  EXPECT_EQ(_DateTimeToPdfDate(platform::EncodeDate(1999, 12, 3) + platform::EncodeTime(4, 5, 6, 700)),
            "D:19991203040506");
}

TEST(ValueFormatting, EscapeAndUnescape) {
  EXPECT_EQ(_EscapeText("(\r"), "\\(\\r");
  EXPECT_EQ(_UnEscapeText("\\(\\r"), "(\r");
  EXPECT_EQ(_EscapeText("a)b\\c\n\t\b\f\xb5"), "a\\)b\\\\c\\n\\t\\b\\f\xb5");
  EXPECT_EQ(_UnEscapeText("\\n"), "\n");
  EXPECT_EQ(_UnEscapeText("\\x"), "\\x");
  EXPECT_EQ(_UnEscapeText("\\\\n"), "\\n");
  EXPECT_EQ(_UnEscapeText("\\101"), "\\101");  // octal escapes are kept as they are
  EXPECT_EQ(_UnEscapeText("ab\\"), "ab\\");

  // Every byte string survives the round trip: all one- and two-byte strings, then random ones.
  for (int a = 0; a < 256; ++a) {
    for (int b = -1; b < 256; ++b) {
      std::string s(1, static_cast<char>(a));
      if (b >= 0) s.push_back(static_cast<char>(b));
      ASSERT_EQ(_UnEscapeText(_EscapeText(s)), s) << a << " " << b;
    }
  }
  std::mt19937 rng(11);
  for (int i = 0; i < 2000; ++i) {
    std::string s(rng() % 40, '\0');
    for (char& c : s) c = "()\\\r\n\t\b\fxn"[rng() % 11];
    ASSERT_EQ(_UnEscapeText(_EscapeText(s)), s);
  }
}

}  // namespace
}  // namespace pdfwriter
