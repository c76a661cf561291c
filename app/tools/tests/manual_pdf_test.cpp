// A small manual set as PDF, checked with qpdf, poppler and mutool; and the build tool's
// answer to a broken source.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "app/tools/manual_markup.h"
#include "app/tools/manual_pdf.h"
#include "app/tools/tests/manual_test_tools.h"
#include "platform/base/clock.h"

namespace app::manual {
namespace {

using namespace testing;
using pdfwriter::testing::TempDir;

std::string SampleSource() {
  std::string s =
      "@title QUIRVEL\n"
      "@subtitle Benutzerhandbuch\n"
      "@line Qualitätskontrolle von Flexodruckformen\n"
      "@version Version {version}\n"
      "@contents Inhalt\n"
      "@footer QUIRVEL Benutzerhandbuch\n"
      "@page Seite {page} von {pages}\n"
      "\n"
      "# Erste Schritte\n"
      "Die **Flächendeckung** wird in % angezeigt, die Rasterweite in __L/cm__, der Winkel in °, "
      "die Punktgröße in µm². Taste `F3` nimmt ein Bild auf.\n"
      "\n"
      "## Übersicht\n";
  // Enough running text for several pages: paragraphs break across pages by themselves.
  for (int i = 0; i < 40; ++i) {
    s += "Absatz " + std::to_string(i) +
         ": Der Messkopf liegt plan auf der Platte, das Bild ist scharf und die Belichtungsreihe "
         "läuft über alle Verschlussstufen der Seite, bevor die Messung die Punkte zählt.\n\n";
  }
  s += "- Ein Punkt der Liste, lang genug, um in der zweiten Zeile unter dem ersten Wort weiterzugehen.\n"
       "1. Erster Schritt\n"
       "2. Zweiter Schritt\n"
       "> **Hinweis:** Vor dem Nullbild die Probe vom Mikroskop nehmen.\n"
       "\n"
       "### Befehle\n"
       "| Befehl | Antwort |\n"
       "|---|---|\n";
  // A table longer than a page: its heading row is repeated on the next page.
  for (int i = 0; i < 70; ++i) s += "| `GetData" + std::to_string(i) + "` | die Zeile " + std::to_string(i) + " |\n";
  s += "\n# Zweites Kapitel\nText.\n";
  return s;
}

TEST(ManualPdf, ASmallManualIsCompleteAndStaysInItsMargins) {
  const Source src = ParseSource(SampleSource(), "sample.txt");
  platform::ManualClock clock(platform::EncodeDate(2025, 6, 1));
  PdfOptions options;
  options.version = "1.2.3";
  options.clock = &clock;
  const std::string pdf = RenderPdf(src, options);
  std::filesystem::create_directories(QUIRVEL_TEST_OUTPUT);
  const std::string path = std::string(QUIRVEL_TEST_OUTPUT) + "/sample.pdf";
  pdfwriter::testing::WriteFile(path, pdf);

  ExpectQpdfOk(path);
  EXPECT_NE(InfoLine(path, "Page size").find("(A4)"), std::string::npos);
  EXPECT_NE(InfoLine(path, "Title").find("QUIRVEL Benutzerhandbuch"), std::string::npos);
  const int pages = std::stoi(InfoLine(path, "Pages").substr(6));
  EXPECT_GE(pages, 6);

  const std::vector<Word> words = WordsOf(path);
  ExpectCleanPages(words, "sample");
  std::map<std::string, std::set<int>> pages_of;
  for (const Word& w : words) pages_of[w.text].insert(w.page);
  // The characters beyond ASCII arrive as written.
  for (const char* w : {"Flächendeckung", "µm².", "°,", "Übersicht", "Qualitätskontrolle", "F3"})
    EXPECT_TRUE(pages_of.count(w)) << w;
  EXPECT_TRUE(pages_of.count("Version") && pages_of.count("1.2.3"));
  // The table goes on over a page break with its heading row again.
  EXPECT_GE(pages_of["Befehl"].size(), 2u);
  EXPECT_TRUE(pages_of.count("GetData69"));
  // Every page after the title has its footer with the page number.
  const std::vector<std::string> texts = PageTexts(path);
  ASSERT_EQ(static_cast<int>(texts.size()), pages);
  for (int p = 2; p <= pages; ++p) {
    EXPECT_NE(texts[p - 1].find("Seite " + std::to_string(p) + " von " + std::to_string(pages)), std::string::npos)
        << p;
  }
  EXPECT_EQ(texts[0].find("Seite"), std::string::npos);

  // The outline lists every heading with the page it is on.
  const std::vector<OutlineEntry> outline = OutlineOf(path);
  ASSERT_EQ(outline.size(), 5u);
  const std::vector<std::pair<int, std::string>> want = {
      {1, "Inhalt"}, {1, "1 Erste Schritte"}, {2, "1.1 Übersicht"}, {3, "1.1.1 Befehle"}, {1, "2 Zweites Kapitel"}};
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(outline[i].depth, want[i].first) << i;
    EXPECT_EQ(outline[i].title, want[i].second) << i;
  }
  EXPECT_EQ(outline[0].page, 2);
  EXPECT_EQ(outline[1].page, 3);
  EXPECT_TRUE(pages_of["Befehle"].count(outline[3].page - 1)) << outline[3].page;
  EXPECT_EQ(outline[4].page, pages);  // a chapter starts a page of its own
  EXPECT_TRUE(pages_of["Kapitel"].count(pages - 1));

  // The contents page names chapters and sections with the pages the outline points at.
  const std::string& contents = texts[1];
  for (size_t i : {1, 2, 4}) {
    const std::string title = outline[i].title.substr(outline[i].title.find(' ') + 1);
    const size_t line = contents.find(title);
    ASSERT_NE(line, std::string::npos) << contents;
    const std::string rest = contents.substr(line, contents.find('\n', line) - line);
    EXPECT_EQ(rest.substr(rest.find_last_not_of("0123456789") + 1), std::to_string(outline[i].page)) << rest;
  }
  EXPECT_EQ(contents.find("Befehle"), std::string::npos);  // subsections are not listed
  // One link per contents line (chapters and sections).
  size_t links = 0;
  for (size_t at = pdf.find("/Subtype /Link"); at != std::string::npos; at = pdf.find("/Subtype /Link", at + 1))
    ++links;
  EXPECT_EQ(links, 3u);
}

TEST(ManualPdf, ThePageCheckFindsOverlapsAndStrayWords) {
  const std::vector<Word> clean = {{1, 100, 100, 150, 110, "one"}, {1, 153, 100, 180, 110, "two"},
                                   {1, 100, 114, 150, 124, "three"}, {2, 100, 100, 150, 110, "four"}};
  ExpectCleanPages(clean, "clean");
  EXPECT_NONFATAL_FAILURE(
      ExpectCleanPages({{1, 100, 100, 150, 110, "one"}, {1, 140, 105, 190, 115, "two"}}, "overlapping"),
      "\"one\" and \"two\" overlap");
  EXPECT_NONFATAL_FAILURE(ExpectCleanPages({{3, 500, 100, 540, 110, "wide"}}, "beyond"), "leaves the text area");
  EXPECT_NONFATAL_FAILURE(ExpectCleanPages({{3, 100, 775, 140, 785, "low"}}, "low"), "leaves the text area");
}

TEST(ManualPdf, TheBuildToolRefusesABrokenSourceAndWritesNothing) {
  TempDir dir;
  pdfwriter::testing::WriteFile(dir.File("Broken.txt"), "@title QUIRVEL\n# Start\nGood line\nbad **bold\n");
  const auto broken = RunTool(std::string(QUIRVEL_MANUAL_TOOL) + " " + Quote(dir.File("Broken.txt")) + " " +
                              Quote(dir.File("Broken.pdf")));
  EXPECT_EQ(broken.exit_code, 1);
  EXPECT_NE(broken.output.find("Broken.txt:4: \"**\" is not closed"), std::string::npos) << broken.output;
  EXPECT_FALSE(std::filesystem::exists(dir.File("Broken.pdf")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);  // no half-written file

  const auto missing = RunTool(std::string(QUIRVEL_MANUAL_TOOL) + " " + Quote(dir.File("None.txt")) + " " +
                               Quote(dir.File("None.pdf")));
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.output.find("cannot open"), std::string::npos) << missing.output;

  pdfwriter::testing::WriteFile(dir.File("Good.txt"), "@title QUIRVEL\n# Start\nGood line.\n");
  const auto good = RunTool(std::string(QUIRVEL_MANUAL_TOOL) + " --version 9.9 " + Quote(dir.File("Good.txt")) +
                            " " + Quote(dir.File("Good manual.pdf")));
  EXPECT_EQ(good.exit_code, 0) << good.output;
  ExpectQpdfOk(dir.File("Good manual.pdf"));
}

}  // namespace
}  // namespace app::manual
