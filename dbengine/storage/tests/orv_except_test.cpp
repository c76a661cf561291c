#include "dbengine/storage/orv_except.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(EORVException, BothMessageFormsCarryTheCode) {
  EORVException plain(30001, "Invalid pointer");
  EXPECT_EQ(plain.NativeError(), 30001);
  EXPECT_STREQ(plain.what(), "Invalid pointer - Native error: 30001");

  EXPECT_STREQ(EORVException(12, "X").what(), "X - Native error: 00012");
  EXPECT_STREQ(EORVException(12, "X", {}).what(), "X - Native error:    12");
  EXPECT_STREQ(EORVException(-3, "X").what(), "X - Native error: -00003");
  EXPECT_STREQ(EORVException(30001, "Invalid pointer", {}).what(), "Invalid pointer - Native error: 30001");

  EORVException fmt(30004, "Memory limit exceeded (Limit = %d bytes)", {100});
  EXPECT_EQ(fmt.NativeError(), 30004);
  EXPECT_STREQ(fmt.what(), "Memory limit exceeded (Limit = 100 bytes) - Native error: 30004");
  EXPECT_EQ(fmt.Message(), fmt.what());
}

TEST(EORVException, FormatThatDoesNotFitItsArgumentsIsReportedNotThrown) {
  struct Case {
    const char* format;
    std::vector<TORVFormatArg> args;
  };
  const Case cases[] = {
      {"Value %d", {std::string("text")}},
      {"Value %s", {42}},
      {"Value %d and %d", {1}},
      {"Value %f", {7}},
      {"Value %", {1}},
      {"Value %q", {1}},
  };
  for (const auto& c : cases) {
    EORVException e(20153, c.format, std::span<const TORVFormatArg>(c.args));
    EXPECT_EQ(std::string(e.what()), std::string(c.format) + " Arguments are invalid! - Native error: 20153")
        << c.format;
  }
}

TEST(TryORVFormat, PlaceholdersWidthsAndIndexes) {
  struct Case {
    const char* format;
    std::vector<TORVFormatArg> args;
    const char* expected;
  };
  const Case cases[] = {
      {"%d|%5d|%-5d|%.5d|%.3d", {12, 12, 12, 12, -7}, "12|   12|12   |00012|-007"},
      {"%s/%10s/%-4s|%.2s", {"ab", "cd", "e", "xyz"}, "ab/        cd/e   |xy"},
      {"%x %.4x %u %u", {255, 10, 5, -1}, "FF 000A 5 4294967295"},
      {"%f %.3f %e %g", {1.5, 2.0, 1234.5, 0.25}, "1.50 2.000 1.23450000000000E+003 0.25"},
      {"%n", {1234567.891}, "1,234,567.89"},
      {"%1:s %0:s %s", {"a", "b"}, "b a b"},
      {"%*d|%.*d", {4, 7, 3, 9}, "   7|009"},
      {"100%% %c", {}, nullptr},
      {"%d", {INT64_MIN}, "-9223372036854775808"},
      {"%u", {UINT64_MAX}, "18446744073709551615"},
  };
  for (const auto& c : cases) {
    std::string out;
    const bool ok = TryORVFormat(c.format, c.args, out);
    if (c.expected) {
      EXPECT_TRUE(ok) << c.format;
      EXPECT_EQ(out, c.expected) << c.format;
    } else {
      EXPECT_FALSE(ok) << c.format;
    }
  }
}

}  // namespace
}  // namespace orv
