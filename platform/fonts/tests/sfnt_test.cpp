#include "platform/fonts/sfnt.h"

#include <gtest/gtest.h>

#include "platform/fonts/font_provider.h"
#include "platform/fonts/tests/font_test_support.h"

namespace platform {
namespace {

std::string SansPath() { return FontProvider::Default().Find("Liberation Sans").Face->FilePath(); }

TEST(SfntDirectoryTest, TablesCarryTheChecksumsTheFontRecords) {
  const std::vector<uint8_t> bytes = fonttest::ReadBytes(SansPath());
  const SfntDirectory d = SfntDirectory::Parse(bytes);
  ASSERT_GE(d.Records().size(), 10u);
  for (const SfntTableRecord& rec : d.Records()) {
    if (rec.Tag == SfntTag("head")) continue;  // carries the file's checksum adjustment
    EXPECT_EQ(SfntChecksum(*d.Find(rec.Tag)), rec.Checksum) << TagText(rec.Tag);
  }
  EXPECT_TRUE(d.Contains(SfntTag("glyf")));
  EXPECT_FALSE(d.Contains(SfntTag("CFF ")));
}

TEST(SfntDirectoryTest, DamagedFilesRaiseOrLoseOnlyTheTablesBeyondTheirEnd) {
  const std::vector<uint8_t> bytes = fonttest::ReadBytes(SansPath());
  const SfntDirectory whole = SfntDirectory::Parse(bytes);
  for (size_t len : {size_t{0}, size_t{3}, size_t{11}, size_t{12}, size_t{40}, size_t{300}, bytes.size() / 2,
                     bytes.size() - 1}) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(len));
    try {
      const SfntDirectory d = SfntDirectory::Parse(cut);
      EXPECT_LE(d.Records().size(), whole.Records().size());
      for (const SfntTableRecord& rec : d.Records()) EXPECT_LE(uint64_t{rec.Offset} + rec.Length, len);
    } catch (const EFontError& e) {
      EXPECT_NE(std::string(e.what()).find("Invalid font data"), std::string::npos);
    }
  }
  std::vector<uint8_t> notFont(bytes);
  notFont[0] = 'X';
  EXPECT_THROW(SfntDirectory::Parse(notFont), EFontError);
  EXPECT_THROW(SfntDirectory::Parse(bytes, 1), EFontError);
}

TEST(BeReaderTest, ReadsBigEndianAndRefusesToReadPastTheEnd) {
  const uint8_t data[] = {0x12, 0x34, 0x56, 0x78, 0xFF};
  const BeReader r(data, "test bytes");
  EXPECT_EQ(r.U16(0), 0x1234);
  EXPECT_EQ(r.U32(0), 0x12345678u);
  EXPECT_EQ(r.S16(3), static_cast<int16_t>(0x78FF));
  EXPECT_THROW(r.U16(4), EFontError);
  EXPECT_THROW(r.U32(2), EFontError);
  EXPECT_THROW(r.Bytes(1, SIZE_MAX), EFontError);
  EXPECT_EQ(SfntChecksum(std::span<const uint8_t>(data, 5)), 0x12345678u + 0xFF000000u);
}

}  // namespace
}  // namespace platform
