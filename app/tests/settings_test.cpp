#include <gtest/gtest.h>

#include <filesystem>

#include "app/settings.h"
#include "app/tests/app_test_support.h"

namespace app {
namespace {

TEST(Wildcards, LikeMatchesTheWholeText) {
  struct Case {
    const char* text;
    const char* pattern;
    bool match;
  };
  const Case cases[] = {
      {"english.txt", "*.txt", true},
      {"a", "?", true},
      {"", "?", false},
      {"", "*", true},
      {"", "", true},
      {"abc", "", false},
      {"English.txt", "*.TXT", false},  // case-sensitive
      {"31806_quirvel.ini", "*_quirvel.ini", true},
      {"x_quirvel.ini.bak", "*_quirvel.ini", false},
      {"abxbyd", "a*b?d", true},         // the star takes "bxb" after a first try with "b"
      {"abcbd", "a*b?d", false},
      {"aXbYbZd", "a*b?d", true},
      {"ab", "a*b*", true},
      {"µm.txt", "??.txt", true},        // one letter, two bytes
  };
  for (const Case& c : cases) EXPECT_EQ(Like(c.text, c.pattern), c.match) << c.text << " ~ " << c.pattern;
}

TEST(FileSearch, ProfilesInAnyCaseSortedWithoutExtension) {
  test::TempDir home;
  for (const char* f : {"31806_QUIRVEL.INI", "00417_quirvel.ini", "QUIRVEL.INI", "HUIRVEL.INI", "x_QUIRVEL.INI.bak"}) {
    test::WriteText(home / f, "");
  }
  std::filesystem::create_directories(home / "CALReports");
  test::WriteText(home / "CALReports/00007_QUIRVEL.INI", "");
  std::filesystem::create_directories(home / "dir_QUIRVEL.INI");
  std::vector<std::string> names;
  FindAllFiles(names, home.Path(), "*_QUIRVEL.INI", false, false, false, false, true);
  EXPECT_EQ(names, (std::vector<std::string>{"00417_quirvel", "31806_QUIRVEL"}));
}

TEST(FileSearch, RecursionFoldersAndSkippedNames) {
  test::TempDir root;
  test::WriteText(root / "Deutsch.TXT", "");
  test::WriteText(root / "English.txt", "");
  test::WriteText(root / "sub/Nested.txt", "");
  test::WriteText(root / "STATISTICS/Hidden.txt", "");
  std::vector<std::string> names;
  FindAllFiles(names, root.Path(), "*.TXT", false, false, false, false, true);
  EXPECT_EQ(names, (std::vector<std::string>{"Deutsch", "English"}));

  names.clear();
  std::vector<bool> folders;
  FindAllFiles(names, root.Path() + "/", "*.txt", true, true, true, true, false, &folders);
  EXPECT_EQ(names, (std::vector<std::string>{root / "Deutsch.TXT", root / "English.txt", root / "sub",
                                             root / "sub/Nested.txt"}));
  EXPECT_EQ(folders, (std::vector<bool>{false, false, true, false}));
}

}  // namespace
}  // namespace app
