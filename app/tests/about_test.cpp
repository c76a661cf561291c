#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "app/about.h"
#include "app/home_path.h"
#include "app/tests/app_test_support.h"

namespace app {
namespace {

std::string Record(const std::string& version) {
  return std::string("ELF junk \0\x01", 11) + "\x7FQVFILEVERSION\x7F" + version + std::string(1, '\0') + "more";
}

TEST(VersionInfo, FileVersionOfANamedProgramFile) {
  test::TempDir dir;
  struct Case {
    std::string content;
    std::string expected;
  };
  const Case cases[] = {
      {Record("3.1.0.0"), "3.1.0.0"},
      {Record("2.10.0.7"), "2.10.0.7"},
      {Record("65535.0.0.1"), "65535.0.0.1"},
      {Record("65536.0.0.1"), "?"},  // not a 16-bit number
      {Record("1.2.3"), "?"},
      {Record("1.2.3.4x"), "?"},
      {"a program without a record", "?"},
      {"", "?"},
      // The first record that reads as a version counts.
      {Record("bad") + Record("4.5.6.7"), "4.5.6.7"},
  };
  int i = 0;
  for (const Case& c : cases) {
    const std::string path = dir / ("prog" + std::to_string(i++));
    test::WriteText(path, c.content);
    EXPECT_EQ(GetVersionInfos(path), c.expected) << path;
  }
  EXPECT_EQ(GetVersionInfos(dir / "missing"), "?");
  EXPECT_EQ(GetVersionInfos(dir.Path()), "?");
}

TEST(VersionInfo, ThisProgramCarriesTheBuildVersion) {
  const std::string version = BuildVersion();
  EXPECT_NE(version, "?");
  EXPECT_EQ(GetVersionInfos(ProgramFile()), version);
}

class LauncherTest : public ::testing::Test {
 protected:
  std::vector<std::vector<std::string>> started;
  ScopedLauncher launcher{[this](const std::vector<std::string>& argv) {
    started.push_back(argv);
    return true;
  }};
};

TEST_F(LauncherTest, SoundsPlayFromTheHomeFolderAndAreSilentWhenMissing) {
  test::TempDir home;
  ScopedProgramFolder folder(home.Path());
  PlayMySound("OK");
  EXPECT_TRUE(started.empty());
  test::WriteText(home / "OK.wav", "RIFF");
  PlayMySound("OK");
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].back(), home / "OK.wav");
  // The name is taken as given: "OK.wav" looks for "OK.wav.wav".
  PlayMySound("OK.wav");
  EXPECT_EQ(started.size(), 1u);
}

TEST_F(LauncherTest, LinksOpenThroughTheDesktopOpener) {
  test::App();
  TAboutFrm about;
  about.Label2Click();
  about.Label3Click();
  about.Button1Click();
  ASSERT_EQ(started.size(), 3u);
  EXPECT_EQ(started[0], (std::vector<std::string>{"xdg-open", kMakerWebAddress}));
  EXPECT_EQ(started[1][1], std::string("mailto:") + kMakerSupportMail +
                               "?subject=QUIRVEL%20question&body=insert%20your%20question%20here...");
  EXPECT_EQ(started[2][1], kMakerUpgradePage);
  EXPECT_EQ(about.windowTitle().toStdString(), "About QUIRVEL");
  EXPECT_EQ(about.Label2->text().toStdString(), kMakerWebAddress);
  EXPECT_EQ(about.Button1->text().toStdString(), "Search software upgrade");
}

}  // namespace
}  // namespace app
