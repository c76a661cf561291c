#include <gtest/gtest.h>

#include <filesystem>

#include "app/home_path.h"
#include "app/language.h"
#include "app/tests/app_test_support.h"
#include "platform/ui/scripted_ui.h"

namespace app {
namespace {

using test::TempHome;
using test::WriteText;

TEST(LanguageFile, LinesSplitLikeTheStringListsOfThePlatform) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\n\nb\n", {"a", "", "b"}},
      {"a\rb", {"a", "b"}},
      {"\r\n", {""}},
      {"a\n\rb", {"a", "", "b"}},  // LF then CR: two line ends
  };
  for (const Case& c : cases) EXPECT_EQ(SplitLines(c.text), c.lines) << c.text;
}

TEST(LanguageFile, ByteOrderMarkChoosesTheEncoding) {
  // "µm²" in each encoding the loader accepts.
  const std::string utf8 = "\xC2\xB5m\xC2\xB2";
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"utf-8 with mark", "\xEF\xBB\xBF" "A\r\n\xC2\xB5m\xC2\xB2"},
      {"utf-16 le", std::string("\xFF\xFE" "A\0\r\0\n\0\xB5\0m\0\xB2\0", 14)},
      {"utf-16 be", std::string("\xFE\xFF\0A\0\r\0\n\0\xB5\0m\0\xB2", 14)},
      {"windows-1252", "A\r\n\xB5m\xB2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitLines(DecodeTextFile(c.bytes)), (std::vector<std::string>{"A", utf8})) << c.name;
  }
}

TEST(LanguageLookup, SectionsWithoutCaseOffsetsAndMissingLines) {
  Language lang;
  lang.SetLines({"x", "mainmenu", "File", "MESSAGES", "First.#Second.", "No mark"});
  EXPECT_EQ(lang.IndexOf("MAINMENU"), 1);
  EXPECT_EQ(lang.IndexOf("MainMenu"), 1);
  EXPECT_EQ(lang.IndexOf("HINT"), -1);
  EXPECT_EQ(lang.GetLanguageString(lang.IndexOf("MAINMENU") + 1), "File");
  EXPECT_EQ(lang.GetLanguageString(57), "57 not found");
  EXPECT_EQ(lang.GetLanguageString(6), "6 not found");
  // An absent section with offset 0 asks for line -1: answered, never read.
  EXPECT_EQ(lang.GetLanguageString(lang.IndexOf("HINT")), "-1 not found");
  // "#" is a line break only through the message lookup.
  EXPECT_EQ(lang.GetMessageString(1), "First.\rSecond.");
  EXPECT_EQ(lang.GetLanguageString(4), "First.#Second.");
  EXPECT_EQ(lang.GetMessageString(2), "No mark");
  EXPECT_EQ(lang.GetMessageString(9), "12 not found");
  lang.SetLines({"MAINMENU", "File"});
  EXPECT_EQ(lang.GetMessageString(3), "3 not found");
}

class LoadLanguageTest : public ::testing::Test {
 protected:
  TempHome home{false};
  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped{ui};
  ScopedProgramFolder folder{home.Path()};
  void SetUp() override { CreateLanguage(); }
};

TEST_F(LoadLanguageTest, MissingFileIsReportedAndHaltsWithCodeOne) {
  try {
    LoadLanguage("English");
    FAIL() << "no halt";
  } catch (const EHalt& h) {
    EXPECT_EQ(h.code, 1);
  }
  const auto messages = ui.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Language file " + home.Path() + "/LANGUAGE/English.txt not found!");
}

TEST_F(LoadLanguageTest, FolderAndFileAreFoundWithoutRegardToCase) {
  WriteText(home / "language/english.TXT", "MAINMENU\r\nFile\r\n");
  EXPECT_TRUE(LoadLanguage("English"));
  EXPECT_EQ(GetLanguageString(IndexOf("MAINMENU") + 1), "File");
  EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(LoadLanguageTest, UnreadableFileKeepsTheTextsLoadedBefore) {
  WriteText(home / "LANGUAGE/English.txt", "MAINMENU\r\nFile\r\n");
  ASSERT_TRUE(LoadLanguage("English"));
  // A file far too large for a language file: it exists but is not read.
  WriteText(home / "LANGUAGE/Broken.txt", "");
  std::filesystem::resize_file(home / "LANGUAGE/Broken.txt", 17u << 20);
  EXPECT_FALSE(LoadLanguage("Broken"));
  EXPECT_EQ(GetLanguageString(1), "File");
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_NE(ui.Messages()[0].text.find("Broken.txt"), std::string::npos);
}

TEST(ShippedLanguageFiles, EverySectionHasEveryOffsetTheProgramReads) {
  const std::pair<const char*, int> sections[] = {{"MAINMENU", 30}, {"MEASRESULT", 39}, {"MAINPANEL", 10},
                                                  {"HINT", 11},     {"MESSAGES", 8},    {"FRMSETTINGS", 25},
                                                  {"FRMREPORT", 9}, {"FRMDB", 6},       {"DBERROR", 4},
                                                  {"MMODES", 19}};
  for (const char* file : {"English", "German"}) {
    Language lang;
    ASSERT_TRUE(lang.LoadFromFile(std::string(QUIRVEL_SOURCE_DIR) + "/assets/LANGUAGE/" + file + ".txt")) << file;
    for (const auto& [name, count] : sections) {
      const int s = lang.IndexOf(name);
      ASSERT_GE(s, 0) << file << " " << name;
      for (int k = 1; k <= count; ++k) {
        const std::string text = lang.GetLanguageString(s + k);
        EXPECT_FALSE(text.empty()) << file << " " << name << "+" << k;
        EXPECT_EQ(text.find(" not found"), std::string::npos) << file << " " << name << "+" << k;
        // No text may read as a section name: the lookups would stop at it.
        for (const auto& [other, n] : sections) EXPECT_NE(lang.IndexOf(other), s + k) << text;
      }
    }
  }
}

}  // namespace
}  // namespace app
