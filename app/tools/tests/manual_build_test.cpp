// The manuals the build put into the home folder, one per source in assets/manual/: what the
// Help menu opens must be a sound A4 PDF with every chapter, an outline of all headings and
// clean pages. Two pages of each are left as pictures in test-output/manual/ to look at.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/tools/manual_markup.h"
#include "app/tools/tests/manual_test_tools.h"

namespace app::manual {
namespace {

using namespace testing;
namespace fs = std::filesystem;

struct Manual {
  std::string language;
  Source source;
  std::string pdf;
};

std::vector<Manual> BuiltManuals() {
  std::vector<Manual> manuals;
  for (const auto& entry : fs::directory_iterator(QUIRVEL_MANUAL_SOURCES)) {
    if (entry.path().extension() != ".txt") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    Manual m;
    m.language = entry.path().stem().string();
    m.source = ParseSource(text.str(), entry.path().filename().string());
    m.pdf = std::string(QUIRVEL_BUILD_HOME) + "/QUIRVEL Manual " + m.language + ".pdf";
    manuals.push_back(std::move(m));
  }
  return manuals;
}

TEST(BuiltManuals, EnglishAndEveryTranslatedLanguageHaveOne) {
  std::set<std::string> languages;
  for (const Manual& m : BuiltManuals()) {
    languages.insert(m.language);
    EXPECT_TRUE(fs::exists(m.pdf)) << m.pdf;
  }
  // The Help menu falls back to the English manual, so it must exist; every language file
  // the program ships has its manual too.
  EXPECT_TRUE(languages.count("English"));
  for (const auto& entry : fs::directory_iterator(std::string(QUIRVEL_SOURCE_DIR) + "/assets/LANGUAGE"))
    EXPECT_TRUE(languages.count(entry.path().stem().string())) << entry.path();
}

TEST(BuiltManuals, AreSoundA4DocumentsWithEveryChapterAndAnOutline) {
  for (const Manual& m : BuiltManuals()) {
    SCOPED_TRACE(m.language);
    ExpectQpdfOk(m.pdf);
    EXPECT_NE(InfoLine(m.pdf, "Page size").find("595 x 842 pts (A4)"), std::string::npos);
    const int pages = std::stoi(InfoLine(m.pdf, "Pages").substr(6));
    EXPECT_GT(pages, 20);
    // Every face is embedded (column "emb" of pdffonts, fifth from the right).
    const std::string fonts = RunTool("pdffonts " + Quote(m.pdf)).output;
    std::istringstream lines(fonts);
    std::string line;
    int faces = 0;
    while (std::getline(lines, line)) {
      std::vector<std::string> cells;
      std::istringstream words(line);
      for (std::string w; words >> w;) cells.push_back(w);
      if (cells.size() < 6 || cells.back() != "0" || line.rfind("name", 0) == 0) continue;
      ++faces;
      EXPECT_EQ(cells[cells.size() - 5], "yes") << line;
    }
    EXPECT_GT(faces, 0) << fonts;

    // Each chapter's title is found in the text, and the outline lists every heading, in
    // order, on the page where its words are.
    const std::string text = RunTool("pdftotext " + Quote(m.pdf) + " -").output;
    std::vector<std::string> headings;
    for (const Block& b : m.source.blocks) {
      if (b.kind != BlockKind::Heading) continue;
      headings.push_back(b.number + " " + PlainText(b.text));
      if (b.level == 1) {
        EXPECT_NE(text.find(PlainText(b.text)), std::string::npos) << PlainText(b.text);
      }
    }
    std::vector<OutlineEntry> outline = OutlineOf(m.pdf);
    ASSERT_FALSE(outline.empty());
    EXPECT_EQ(outline.front().title, m.source.contents);
    outline.erase(outline.begin());
    ASSERT_EQ(outline.size(), headings.size());
    const std::vector<Word> words = WordsOf(m.pdf);
    std::map<int, std::string> page_words;
    for (const Word& w : words) page_words[w.page] += w.text + " ";
    int last_page = 0;
    for (size_t i = 0; i < headings.size(); ++i) {
      EXPECT_EQ(outline[i].title, headings[i]);
      EXPECT_GE(outline[i].page, last_page) << headings[i];
      last_page = outline[i].page;
      const std::string title = headings[i].substr(headings[i].find(' ') + 1);
      const std::string first_word = title.substr(0, title.find(' '));
      EXPECT_NE(page_words[outline[i].page - 1].find(first_word), std::string::npos)
          << headings[i] << " is not on page " << outline[i].page;
      // No heading is the last thing on its page: running text follows it there.
      const double below = outline[i].top + 40;
      EXPECT_TRUE(std::any_of(words.begin(), words.end(), [&](const Word& w) {
        return w.page == outline[i].page - 1 && w.y0 > below && w.y1 <= kBodyBottom;
      })) << headings[i] << " ends page " << outline[i].page;
    }
    ExpectCleanPages(words, m.language);
  }
}

TEST(BuiltManuals, TwoPagesOfEachAreLeftAsPictures) {
  fs::create_directories(QUIRVEL_TEST_OUTPUT);
  for (const Manual& m : BuiltManuals()) {
    SCOPED_TRACE(m.language);
    // The contents, and the page that explains the result server's commands (a table).
    int table_page = 0;
    for (const Word& w : WordsOf(m.pdf)) {
      if (w.text == "GetData" && w.page > 1) {
        table_page = w.page;
        break;
      }
    }
    ASSERT_GT(table_page, 1);
    for (int page : {2, table_page + 1}) {
      const std::string prefix = std::string(QUIRVEL_TEST_OUTPUT) + "/" + m.language + "-page-" + std::to_string(page);
      const auto r = RunTool("pdftoppm -r 100 -png -singlefile -f " + std::to_string(page) + " -l " +
                             std::to_string(page) + " " + Quote(m.pdf) + " " + Quote(prefix));
      EXPECT_EQ(r.exit_code, 0) << r.output;
      EXPECT_GT(fs::file_size(prefix + ".png"), 10000u) << prefix;
    }
  }
}

}  // namespace
}  // namespace app::manual
