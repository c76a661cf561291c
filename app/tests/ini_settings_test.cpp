#include <gtest/gtest.h>

#include "app/ini_settings.h"
#include "app/tests/app_test_support.h"

namespace app::ini {
namespace {

TEST(IniSettings, MissingFileGivesTheDefaultOfEveryKey) {
  test::TempDir dir;
  const IniFile ini(dir / "none.ini");
  const std::pair<StringKey, const char*> strings[] = {
      {DATABASE, "QUIRVEL.orv"}, {SERIAL, "0000"}, {Language, "English"}, {UNITS_mm, "0"},
      {PIXELPERINCH, "43000"},   {GAIN, "80"},     {SEDGE, "1.9"},        {KEDGE, "-2.9"},
      {REFLCM, "50.0"},          {REFDOT, "9.5"}};
  for (const auto& [key, expected] : strings) EXPECT_EQ(ini.ReadString(key), expected) << key.key;
  const std::pair<IntKey, int> ints[] = {
      {BRAND, 0},     {DIGITS, 2},     {MULTIBEAM, 240},  {SHOWSHARP, 0}, {TCPIP, 0},       {SHOWCAMERA, 0},
      {CALON, 0},     {SHOWSTRUCTPAR, 0}, {ENABLEBRGAMASHARP, 0}, {MASKPAGE, 0}, {PLATEPAGE, 0},
      {STRUCTPAGE, 0}, {FILMPAGE, 0},  {SHOWPDF, 1},     {PREVIT, 14},   {PREVGAIN, 100}, {BRBAR, 0},
      {WAITIMG, 2}};
  for (const auto& [key, expected] : ints) EXPECT_EQ(ini.ReadInt(key), expected) << key.key;
  for (int page = 0; page < 4; ++page) {
    EXPECT_EQ(ini.ReadInt(kImgSeq, ImgSeqKey(page, 0), ImgSeqDefault(0)), 1);
    EXPECT_EQ(ini.ReadInt(kImgSeq, ImgSeqKey(page, 1), ImgSeqDefault(1)), 18);
  }
  EXPECT_EQ(ImgSeqKey(2, 1), "IMGSEQ21");
  EXPECT_EQ(SharpRefKey(Page::STRUCT), "SHARPSTRUCTREF");
  EXPECT_EQ(BrdKey(Page::FILM), "BRDFILM");
}

TEST(IniSettings, ValuesAreCutToTheirBufferAndKeepTheirLatinLetters) {
  test::TempDir dir;
  const IniFile ini(dir / "QUIRVEL.INI");
  const std::string serial30 = "123456789012345678901234567890";
  ASSERT_TRUE(ini.Write(kMain, "SERIAL", serial30));
  EXPECT_EQ(ini.ReadString(SERIAL), serial30.substr(0, 24));
  const std::string path(200, 'p');
  ASSERT_TRUE(ini.Write(kMain, "DATABASE", path));
  EXPECT_EQ(ini.ReadString(DATABASE), path);
  // Written as Windows-1252 bytes, read back as the same text.
  ASSERT_TRUE(ini.Write(kMain, "Language", "Français"));
  EXPECT_NE(test::ReadText(dir / "QUIRVEL.INI").find("Fran\xE7" "ais"), std::string::npos);
  EXPECT_EQ(ini.ReadString(Language), "Français");
  // Service switches are on with their code only.
  for (auto [value, on] : {std::pair{"47096", true}, {"47095", false}, {"1", false}, {"x", false}}) {
    ASSERT_TRUE(ini.Write(kMain, "SHOWCAMERA", value));
    EXPECT_EQ(ini.ServiceSwitch(SHOWCAMERA), on) << value;
  }
}

TEST(IniSettings, FailedWriteReportsWhy) {
  test::TempDir dir;
  const IniFile ini(dir / "missing/folder/QUIRVEL.INI");
  std::string error;
  EXPECT_FALSE(ini.Write(kMain, "SERIAL", "1", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace app::ini
