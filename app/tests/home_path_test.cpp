#include <gtest/gtest.h>

#include "app/home_path.h"
#include "app/tests/app_test_support.h"

namespace app {
namespace {

TEST(HomePath, WindowsNamesResolveInsideTheFolderWithoutRegardToCase) {
  test::TempDir dir;
  test::WriteText(dir / "DATABASE/Quirvel.GEN", "x");
  test::WriteText(dir / "Language/English.txt", "x");
  struct Case {
    const char* relative;
    std::string expected;
  };
  const Case cases[] = {
      {"\\DATABASE\\QUIRVEL.GEN", dir / "DATABASE/Quirvel.GEN"},
      {"database/quirvel.gen", dir / "DATABASE/Quirvel.GEN"},
      {"LANGUAGE\\English.txt", dir / "Language/English.txt"},
      // Missing parts stay as written, so a message names a readable path.
      {"LANGUAGE\\Deutsch.txt", dir / "Language/Deutsch.txt"},
      {"Reports/x.pdf", dir / "Reports/x.pdf"},
      // A name from a setting never leads out of the folder.
      {"..\\..\\etc\\passwd", dir / "etc/passwd"},
      {"./a/../DATABASE//QUIRVEL.GEN", dir / "a/DATABASE/QUIRVEL.GEN"},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolveInFolder(dir.Path(), c.relative), c.expected) << c.relative;
  EXPECT_EQ(ResolveInFolder(dir.Path() + "/", "x"), dir / "x");
}

TEST(HomePath, FolderAndFileParts) {
  EXPECT_EQ(ExtractFilePath("C:\\Data\\QUIRVEL.orv"), "C:\\Data");
  EXPECT_EQ(ExtractFileName("C:\\Data\\QUIRVEL.orv"), "QUIRVEL.orv");
  EXPECT_EQ(ExtractFilePath("/home/q/x.orv"), "/home/q");
  EXPECT_EQ(ExtractFilePath("/x.orv"), "/");
  EXPECT_EQ(ExtractFilePath("QUIRVEL.orv"), "");
  EXPECT_EQ(ExtractFileName("QUIRVEL.orv"), "QUIRVEL.orv");
  EXPECT_TRUE(SameFileName("Überblick.TXT", "überblick.txt"));
  EXPECT_FALSE(SameFileName("a.txt", "b.txt"));
}

TEST(HomePath, ProgramFolderOverrideNests) {
  const std::string real = ProgramFolder();
  EXPECT_EQ(real, ExtractFilePath(ProgramFile()));
  {
    ScopedProgramFolder a("/tmp/a/");
    EXPECT_EQ(ProgramFolder(), "/tmp/a");
    {
      ScopedProgramFolder b("/tmp/b");
      EXPECT_EQ(ProgramFolder(), "/tmp/b");
    }
    EXPECT_EQ(ProgramFolder(), "/tmp/a");
  }
  EXPECT_EQ(ProgramFolder(), real);
}

}  // namespace
}  // namespace app
