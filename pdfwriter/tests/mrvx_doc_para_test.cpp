// Paragraphs, checked by where poppler finds their words.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/tests/image_doc_tools.h"
#include "pdfwriter/tests/test_tools.h"

namespace pdfwriter {
namespace {

using testing::MemDoc;
using testing::RunTool;
using testing::TempDir;

struct Word {
  int page;
  double x0, y0, x1, y1;
  std::string text;
};

// Every word of a file with its box, as pdftotext -bbox gives it.
std::vector<Word> WordsOf(const std::string& pdf) {
  TempDir dir;
  testing::WriteFile(dir.File("p.pdf"), pdf);
  const std::string html = RunTool("pdftotext -bbox " + dir.File("p.pdf") + " -").output;
  std::vector<Word> words;
  int page = -1;
  const std::regex word("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>");
  size_t at = 0;
  while (at < html.size()) {
    const size_t next_page = html.find("<page ", at);
    const size_t next_word = html.find("<word ", at);
    if (next_word == std::string::npos) break;
    if (next_page != std::string::npos && next_page < next_word) {
      ++page;
      at = next_page + 1;
      continue;
    }
    const size_t end = html.find("</word>", next_word) + 7;
    std::smatch m;
    const std::string text = html.substr(next_word, end - next_word);
    if (std::regex_match(text, m, word))
      words.push_back({page, std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4]), m[5]});
    at = end;
  }
  return words;
}

// Lines of words (same page, same top), with their left and right ends.
struct Line {
  int page;
  double top, left, right;
  std::string text;
};
std::vector<Line> LinesOf(const std::vector<Word>& words) {
  std::vector<Line> lines;
  for (const Word& w : words) {
    if (!lines.empty() && lines.back().page == w.page && std::abs(lines.back().top - w.y0) < 2) {
      lines.back().right = std::max(lines.back().right, w.x1);
      lines.back().left = std::min(lines.back().left, w.x0);
      lines.back().text += " " + w.text;
    } else {
      lines.push_back({w.page, w.y0, w.x0, w.x1, w.text});
    }
  }
  return lines;
}

const char* kText =
    "The dot area of a flexographic plate is measured on a series of exposures that the camera combines into "
    "one image of a high range. The screen ruling and its angle follow from the positions of the dots, their "
    "sizes from the areas found above the threshold. Every value goes into the running statistics and into "
    "the archive, and the report lists them with their tolerances. ";

TEST(Paragraphs, MarginsAndTheThreeJustifications) {
  MemDoc d;
  d.doc.BeginDoc();
  d.doc.CurrentPage()->SetFont("Arial", 0, 11, 0, false);
  TMRVXParagraph format;
  format.LeftMargin = 72;
  format.RightMargin = 100;
  format.TopMargin = 90;
  format.BottomMargin = 72;
  format.Indention = 20;
  format.WordWrap = true;
  const int left = d.doc.CreateParagraph(format);
  format.Justification = TMRVXJustificationType::jtRight;
  const int right = d.doc.CreateParagraph(format);
  format.Justification = TMRVXJustificationType::jtCenter;
  const int center = d.doc.CreateParagraph(format);
  EXPECT_EQ(left, 1);
  EXPECT_EQ(center, 3);

  d.doc.BeginParagraph(left);
  d.doc.CurrentParagraph()->ShowText(kText);
  d.doc.CurrentParagraph()->NewLine();
  const float after_left = d.doc.CurrentParagraph()->CurrentLine();
  d.doc.BeginParagraph(right);
  d.doc.CurrentParagraph()->SetCurrentLine(after_left + 20);
  d.doc.CurrentParagraph()->ShowText(kText);
  const float after_right = d.doc.CurrentParagraph()->CurrentLine();
  d.doc.BeginParagraph(center);
  d.doc.CurrentParagraph()->SetCurrentLine(after_right + 20);
  d.doc.CurrentParagraph()->ShowText(kText);
  d.doc.EndParagraph();
  EXPECT_EQ(d.doc.CurrentParagraph(), nullptr);
  d.doc.EndDoc();
  testing::SaveSample("paragraphs.pdf", d.out);

  const std::vector<Line> lines = LinesOf(WordsOf(d.out));
  ASSERT_GE(lines.size(), 12u);
  // The three paragraphs, in the order they stand on the page.
  std::vector<Line> blocks[3];
  int block = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0 && lines[i].top - lines[i - 1].top > 25) ++block;
    ASSERT_LT(block, 3) << lines[i].text;
    blocks[block].push_back(lines[i]);
  }
  for (const auto& b : blocks) ASSERT_GE(b.size(), 4u);
  const double width = 595, tolerance = 1.0;
  // Left: the first line indented, the others at the margin, none beyond the right margin.
  EXPECT_NEAR(blocks[0][0].left, 72 + 20, tolerance);
  // The text's top stands on the top margin (poppler's word box starts a little below it).
  EXPECT_GE(blocks[0][0].top, 90);
  EXPECT_LE(blocks[0][0].top, 90 + 0.3 * 11);
  for (size_t i = 1; i < blocks[0].size(); ++i) EXPECT_NEAR(blocks[0][i].left, 72, tolerance) << blocks[0][i].text;
  // Right: every line ends on the right margin.
  for (const Line& l : blocks[1]) EXPECT_NEAR(l.right, width - 100, tolerance) << l.text;
  // Centred between the margins.
  for (const Line& l : blocks[2]) EXPECT_NEAR((l.left + l.right) / 2, (72 + width - 100) / 2, tolerance) << l.text;
  for (const auto& b : blocks)
    for (const Line& l : b) {
      EXPECT_GE(l.left, 72 - tolerance) << l.text;
      EXPECT_LE(l.right, width - 100 + tolerance) << l.text;
    }
  // Word wrapping keeps the words whole: every word of the text is found as it was.
  std::string all;
  for (const Line& l : blocks[0]) all += l.text + " ";
  EXPECT_NE(all.find("flexographic plate is measured"), std::string::npos) << all;
}

TEST(Paragraphs, ALongTextContinuesOnNewPagesAtTheTopMargin) {
  MemDoc d;
  d.doc.BeginDoc();
  d.doc.CurrentPage()->SetFont("Arial", fsItalic, 14, 0, false);
  const int f = d.doc.CreateParagraph(TMRVXJustificationType::jtLeft, 0, 50, 50, 120, 100);
  d.doc.BeginParagraph(f);
  std::string text;
  for (int i = 0; i < 40; ++i) text += kText;
  // Without word wrapping lines break between characters, never beyond the margin.
  d.doc.CurrentParagraph()->ShowText(text);
  EXPECT_GT(d.doc.PagesCount(), 2);
  const TMRVXFontSelection font = d.doc.CurrentPage()->CurrentFont();
  EXPECT_EQ(font.Style, fsItalic);
  EXPECT_FLOAT_EQ(font.Size, 14);
  d.doc.EndDoc();

  TempDir dir;
  testing::WriteFile(dir.File("long.pdf"), d.out);
  testing::ExpectQpdfOk(dir.File("long.pdf"));
  const std::string info = RunTool("pdfinfo " + dir.File("long.pdf")).output;
  EXPECT_NE(info.find("Pages:           " + std::to_string(d.doc.PagesCount())), std::string::npos) << info;
  const std::vector<Line> lines = LinesOf(WordsOf(d.out));
  std::map<int, std::pair<double, double>> per_page;  // first and last line top
  for (const Line& l : lines) {
    if (!per_page.count(l.page)) per_page[l.page] = {l.top, l.top};
    per_page[l.page].second = l.top;
    EXPECT_LE(l.right, 595 - 50 + 1.0) << l.text;
  }
  ASSERT_EQ(static_cast<int>(per_page.size()), d.doc.PagesCount());
  // Poppler's word boxes start a little below the text's top; the offset is the same on
  // every page. Every page starts at the top margin and fills down to the bottom margin.
  const double offset = per_page[0].first - 120;
  EXPECT_GE(offset, 0);
  EXPECT_LE(offset, 0.3 * 14);
  const double ascent = 0.905 * 14;
  for (const auto& [page, tops] : per_page) {
    EXPECT_NEAR(tops.first - offset, 120, 0.1) << page;
    EXPECT_LE(tops.second - offset + ascent, 842 - 100 + 0.1) << page;
    if (page + 1 < d.doc.PagesCount()) {
      EXPECT_GT(tops.second - offset + 2 * ascent, 842 - 100) << page;
    }
  }
}

TEST(Paragraphs, LeftTextContinuesOnItsLineAndLineBreaksStartNewOnes) {
  MemDoc d;
  d.doc.BeginDoc();
  d.doc.CurrentPage()->SetFont("Arial", 0, 12, 0, false);
  TMRVXParagraph format;
  format.LeftMargin = 40;
  format.RightMargin = 40;
  format.TopMargin = 50;
  format.Indention = 15;
  d.doc.BeginParagraph(d.doc.CreateParagraph(format));
  TMRVXPara& p = *d.doc.CurrentParagraph();
  p.ShowText("First ");
  p.ShowText("second");
  p.ShowText("\nthird\n\nfifth");
  p.NewLine();
  p.ShowUnicodeText(u"\u0410\u0411\u0412 \u0413\u0414");
  d.doc.EndDoc();

  const std::vector<Line> lines = LinesOf(WordsOf(d.out));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].text, "First second");
  EXPECT_NEAR(lines[0].left, 55, 1);
  EXPECT_EQ(lines[1].text, "third");
  EXPECT_NEAR(lines[1].left, 55, 1);  // a line break starts a new paragraph line
  EXPECT_EQ(lines[2].text, "fifth");
  EXPECT_GT(lines[2].top - lines[1].top, 1.5 * (lines[1].top - lines[0].top));  // one blank line
  EXPECT_EQ(lines[3].text, "\xD0\x90\xD0\x91\xD0\x92 \xD0\x93\xD0\x94");
}

TEST(Paragraphs, FormatNumbersAndErrors) {
  MemDoc d;
  d.doc.BeginDoc();
  EXPECT_EQ(d.doc.CreateParagraph(TMRVXJustificationType::jtLeft, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(d.doc.CreateParagraph(TMRVXJustificationType::jtRight, 0, 0, 0, 0, 0), 2);
  for (int bad : {3, -1}) {
    try {
      d.doc.BeginParagraph(bad);
      ADD_FAILURE() << bad;
    } catch (const EMRVXError& e) {
      EXPECT_STREQ(e.what(), "Incorrect paragraph index.");
    }
  }
  d.doc.BeginParagraph(2);
  ASSERT_NE(d.doc.CurrentParagraph(), nullptr);
  EXPECT_EQ(d.doc.CurrentParagraph()->Justification(), TMRVXJustificationType::jtRight);
  d.doc.BeginParagraph(0);  // names no format: the paragraph ends
  EXPECT_EQ(d.doc.CurrentParagraph(), nullptr);
  d.doc.BeginParagraph(1);
  d.doc.CurrentParagraph()->ShowText("");  // nothing to write moves nothing
  EXPECT_EQ(d.doc.CurrentParagraph()->CurrentLine(), 0);
  d.doc.EndDoc();
}

}  // namespace
}  // namespace pdfwriter
