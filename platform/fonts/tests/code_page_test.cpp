#include "platform/fonts/code_page.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

// Published code page tables (the Windows "best fit" files list the same pairs).
TEST(CodePageTest, BytesAndCharactersOfTheWindowsCodePages) {
  struct Case {
    int cp;
    uint8_t byte;
    char32_t ch;
  };
  for (const Case& c : {Case{1252, 0x80, 0x20AC}, Case{1252, 0xB5, 0x00B5}, Case{1252, 0x41, 0x41},
                        Case{1250, 0x8A, 0x0160}, Case{1251, 0xC0, 0x0410}, Case{1253, 0xC1, 0x0391},
                        Case{1254, 0xD0, 0x011E}, Case{1257, 0xC0, 0x0104}, Case{932, 0xB1, 0xFF71},
                        Case{10000, 0x80, 0x00C4}}) {
    EXPECT_EQ(CodePageToUnicode(c.cp, c.byte), std::optional<char32_t>(c.ch)) << c.cp << " " << int{c.byte};
    EXPECT_EQ(UnicodeToCodePage(c.cp, c.ch), std::optional<uint8_t>(c.byte)) << c.cp << " " << int{c.byte};
  }
}

TEST(CodePageTest, NoSingleByteGivesNothing) {
  EXPECT_EQ(CodePageToUnicode(932, 0x82), std::nullopt);  // lead byte of a double-byte character
  EXPECT_EQ(UnicodeToCodePage(932, 0x3042), std::nullopt);
  EXPECT_EQ(UnicodeToCodePage(1252, 0x0410), std::nullopt);
  EXPECT_EQ(CodePageToUnicode(12345, 0x41), std::nullopt);
  EXPECT_EQ(UnicodeToCodePage(12345, 0x41), std::nullopt);
}

}  // namespace
}  // namespace platform
