// Hexadecimal texts of bytes and identifiers, and the comma text of a configuration.
#include "capture/utils.h"

#include <gtest/gtest.h>

#include "platform/video/ocuvant.h"

namespace capture {
namespace {

TEST(CaptureUtils, StrToBytesTable) {
  struct Case {
    const char* text;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"ABC", {0x0A, 0xBC}},     {"A", {0x0A}},        {"G1", {0x00}},
      {"", {}},                  {"0a1B", {0x0A, 0x1B}}, {"12G4FF", {0x12, 0x00, 0x00}},
      {"FFFE", {0xFF, 0xFE}},    {"1 2", {0x01, 0x00}},
  };
  for (const Case& c : cases) EXPECT_EQ(StrToBytes(c.text), c.bytes) << c.text;
  EXPECT_EQ(BytesToStr({0x0A, 0xBC, 0x00, 0xFF}), "0ABC00FF");
  EXPECT_EQ(CharHex('f'), 15);
  EXPECT_EQ(CharHex('F'), 15);
  EXPECT_EQ(CharHex('9'), 9);
  EXPECT_EQ(CharHex('g'), 255);
}

TEST(CaptureUtils, GuidTextIsTheMemoryOrder) {
  // {7B3E2A17-51D4-4C6B-9E20-3F1A6C8D0B17}: the first three fields little-endian.
  EXPECT_EQ(GUIDToStr(platform::video::IID_OcuvantCOM), "172A3E7BD4516B4C9E203F1A6C8D0B17");
  EXPECT_EQ(StrToGUID("172A3E7BD4516B4C9E203F1A6C8D0B17"), platform::video::IID_OcuvantCOM);
  EXPECT_EQ(StrToGUID(""), platform::video::kGuidNull);
  const platform::video::TGUID partial = StrToGUID("0102");
  EXPECT_EQ(partial.D1, 0x0201u);
  EXPECT_EQ(partial.D2, 0);
}

TEST(CaptureUtils, CommaTextQuotesAndParsesBack) {
  const std::vector<std::string> entries = {"plain", "with blank", "a,b", "say \"hi\"", "", "tab\there", "x=1"};
  const std::string text = CommaText(entries);
  EXPECT_EQ(text, "plain,\"with blank\",\"a,b\",\"say \"\"hi\"\"\",,\"tab\there\",x=1");
  EXPECT_EQ(ParseCommaText(text), entries);
  // Unquoted blanks separate entries too; blanks around entries go; a trailing comma ends with
  // an empty entry.
  EXPECT_EQ(ParseCommaText("  a b , \"c d\" ,e,"), (std::vector<std::string>{"a", "b", "c d", "e", ""}));
  EXPECT_EQ(ParseCommaText(""), std::vector<std::string>{});
  EXPECT_EQ(ParseCommaText("\"open quote"), (std::vector<std::string>{"open quote"}));
  bool found = false;
  EXPECT_EQ(ValueOf({"Name=1", "name=2", "Other=3"}, "NAME", &found), "1");
  EXPECT_TRUE(found);
  EXPECT_EQ(ValueOf({"Names=1"}, "Name", &found), "");
  EXPECT_FALSE(found);
}

}  // namespace
}  // namespace capture
