#include "archive/report_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "archive/tests/report_test_support.h"

namespace archive {
namespace {

using testing::TempHome;

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

TEST(ReadReportText, DecodesUtf8WithBomAndWindows1252Without) {
  TempHome home;
  const struct {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {"utf8 bom, CRLF", "\xEF\xBB\xBF" "Gr\xC3\xBC\xC3\x9F" "e\r\n5 \xC2\xB5m\r\n", {"Grüße", "5 µm"}},
      {"cp1252, LF", "Gr\xFC\xDF" "e\n5 \xB5m\n\n", {"Grüße", "5 µm", ""}},
      {"cp1252 euro, CR, last line open", "\x80 12\rend", {"€ 12", "end"}},
      {"bom only", "\xEF\xBB\xBF", {}},
      {"malformed utf8 after bom", "\xEF\xBB\xBF" "a\xFF" "b", {"a\xEF\xBF\xBD" "b"}},
  };
  for (const auto& c : cases) {
    const std::string path = home.Path() + "/PRLOGO.txt";
    Write(path, c.bytes);
    EXPECT_EQ(ReadReportText(path), c.lines) << c.name;
  }
}

TEST(ReadReportText, MissingFileHasNoLinesAndAnUnreadableOneIsAnError) {
  TempHome home;
  EXPECT_TRUE(ReadReportText(home.Path() + "/PRLOGO.txt").empty());
  try {
    ReadReportText(home.Path());
    FAIL() << "a folder read as report text";
  } catch (const EReportError& e) {
    EXPECT_NE(std::string(e.what()).find(home.Path()), std::string::npos) << e.what();
  }
}

TEST(ReportControls, UnknownNameIsAnErrorThatNamesIt) {
  ReportControls c;
  c.Set("LCMResult", "60.00", false);
  EXPECT_EQ(c.Text("LCMResult"), "60.00");
  EXPECT_FALSE(c.Visible("LCMResult"));
  try {
    (void)c.Text("AlphaRes");
    FAIL();
  } catch (const EReportError& e) {
    EXPECT_STREQ(e.what(), "The report context has no control AlphaRes.");
  }
}

TEST(ReportContext, TheNamesTheMainWindowSnapshotsAreThoseTheReportsRead) {
  // The test context holds exactly the listed names, and every report kind is made from it
  // in the report tests: a name a report reads but the list lacks would fail there.
  TempHome home;
  const ReportContext ctx = testing::MakeContext(home.Path());
  std::vector<std::string> listed(ReportControlNames().begin(), ReportControlNames().end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(ctx.Controls.Names(), listed);
  EXPECT_EQ(ctx.MeasResultText(1), "Dot Area");
  EXPECT_EQ(ctx.MeasResultText(500), "500 not found");
}

}  // namespace
}  // namespace archive
