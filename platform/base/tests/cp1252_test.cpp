#include "platform/base/cp1252.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Cp1252, UnitSignsMapAsTheFilesExpect) {
  EXPECT_EQ(Cp1252ToUtf8("\xB5m\xB2"), "µm²");
  EXPECT_EQ(Utf8ToCp1252("45°"), "45\xB0");
  EXPECT_EQ(Utf8ToCp1252("€‰"), "\x80\x89");
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "€");
}

TEST(Cp1252, EveryByteSurvivesARoundTrip) {
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(one)), one) << b;
    EXPECT_EQ(Utf16ToCp1252(Cp1252ToUtf16(one)), one) << b;
  }
}

TEST(Cp1252, UnmappableAndMalformedInputBecomeTheFallback) {
  EXPECT_EQ(Utf8ToCp1252("a\xE4\xB8\xAD" "b"), "a?b");        // a CJK character
  EXPECT_EQ(Utf8ToCp1252("\xC3"), "?");                        // truncated sequence
  EXPECT_EQ(Utf8ToCp1252("\xC0\xAF", '_'), "__");              // overlong encoding
  EXPECT_EQ(Utf16ToCp1252(u"\xD800x"), "?x");                  // lone surrogate
}

TEST(Utf16, RoundTripsAstralCharacters) {
  const std::string s = "A\xF0\x9F\x98\x80Z";  // U+1F600
  const std::u16string w = Utf8ToUtf16(s);
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[1], 0xD83D);
  EXPECT_EQ(Utf16ToUtf8(w), s);
}

}  // namespace
}  // namespace platform
