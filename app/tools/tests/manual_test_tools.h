#pragma once
// Reading written manuals back with the standard tools (poppler, mutool, qpdf): their words
// with boxes, their outline, and the checks every manual page must pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "pdfwriter/tests/test_tools.h"

namespace app::manual::testing {

using pdfwriter::testing::RunTool;

// The manual's page geometry, as an outsider measures it (points, y downwards).
constexpr double kPageW = 595, kPageH = 842;
constexpr double kTextLeft = 72, kTextRight = 531;
constexpr double kBodyTop = 76, kBodyBottom = 772;  // words of the running text
constexpr double kHeaderBottom = 54, kFooterTop = 790;

struct Word {
  int page;  // 0-based
  double x0, y0, x1, y1;
  std::string text;
};

inline std::string Quote(const std::string& path) { return "'" + path + "'"; }

// The value of attribute key="..." in an XML start tag.
inline double Attribute(const std::string& tag, const char* key) {
  const size_t at = tag.find(std::string(key) + "=\"");
  return at == std::string::npos ? -1 : std::stod(tag.substr(at + std::strlen(key) + 2));
}

// Every word of a PDF file with its box, as pdftotext -bbox finds it.
inline std::vector<Word> WordsOf(const std::string& pdf_path) {
  const auto r = RunTool("pdftotext -bbox " + Quote(pdf_path) + " -");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  std::vector<Word> words;
  const std::string& html = r.output;
  int page = -1;
  size_t at = 0;
  size_t next_page = html.find("<page ");
  while (true) {
    const size_t next_word = html.find("<word ", at);
    if (next_word == std::string::npos) break;
    if (next_page < next_word) {
      ++page;
      next_page = html.find("<page ", next_page + 1);
      continue;
    }
    const size_t open_end = html.find('>', next_word);
    const size_t close = html.find("</word>", open_end);
    if (open_end == std::string::npos || close == std::string::npos) break;
    const std::string tag = html.substr(next_word, open_end - next_word);
    words.push_back({page, Attribute(tag, "xMin"), Attribute(tag, "yMin"), Attribute(tag, "xMax"),
                     Attribute(tag, "yMax"), html.substr(open_end + 1, close - open_end - 1)});
    at = close + 7;
  }
  return words;
}

// The text of every page, as pdftotext -layout gives it (pages end with a form feed).
inline std::vector<std::string> PageTexts(const std::string& pdf_path) {
  const std::string text = RunTool("pdftotext -layout " + Quote(pdf_path) + " -").output;
  std::vector<std::string> pages;
  size_t at = 0;
  for (size_t ff = text.find('\f'); ff != std::string::npos; ff = text.find('\f', at)) {
    pages.push_back(text.substr(at, ff - at));
    at = ff + 1;
  }
  return pages;
}

// Every page after the title page: words inside the text column, running text between the
// header and the footer, and no two words on top of each other.
inline void ExpectCleanPages(const std::vector<Word>& words, const std::string& what) {
  for (const Word& w : words) {
    if (w.page == 0) continue;  // the title page has a layout of its own
    const bool header = w.y1 <= kHeaderBottom, footer = w.y0 >= kFooterTop;
    const bool inside = w.x0 >= kTextLeft - 0.5 && w.x1 <= kTextRight + 0.5 &&
                        (header || footer || (w.y0 >= kBodyTop && w.y1 <= kBodyBottom));
    if (!inside) {
      ADD_FAILURE() << what << " page " << w.page + 1 << ": \"" << w.text << "\" at " << w.x0 << ", " << w.y0
                    << " - " << w.x1 << ", " << w.y1 << " leaves the text area";
    }
  }
  // Words on top of each other: per page, sorted by their tops, each word against the words
  // that begin above its bottom.
  std::vector<Word> sorted = words;
  std::sort(sorted.begin(), sorted.end(),
            [](const Word& a, const Word& b) { return a.page != b.page ? a.page < b.page : a.y0 < b.y0; });
  for (size_t i = 0; i < sorted.size(); ++i) {
    const Word& a = sorted[i];
    for (size_t j = i + 1; j < sorted.size() && sorted[j].page == a.page && sorted[j].y0 < a.y1 - 0.5; ++j) {
      const Word& b = sorted[j];
      if (std::min(a.x1, b.x1) - std::max(a.x0, b.x0) > 0.5) {
        ADD_FAILURE() << what << " page " << a.page + 1 << ": \"" << a.text << "\" and \"" << b.text << "\" overlap";
      }
    }
  }
}

struct OutlineEntry {
  int depth;  // 1 for the top level
  std::string title;
  int page;   // 1-based
  double top; // where the entry points, from the top of the page
};

// The bookmark outline as mutool lists it: a mark, one tab per level, the quoted title, a
// tab and the destination "#page=<n>&...".
inline std::vector<OutlineEntry> OutlineOf(const std::string& pdf_path) {
  const auto r = RunTool("mutool show " + Quote(pdf_path) + " outline");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  std::vector<OutlineEntry> entries;
  std::istringstream lines(r.output);
  for (std::string line; std::getline(lines, line);) {
    const size_t open = line.find('"');
    const size_t close = line.rfind('"');
    const size_t page = line.find("#page=");
    if (open == std::string::npos || close <= open || page == std::string::npos) continue;
    const size_t zoom = line.rfind(',');
    entries.push_back({static_cast<int>(open - 1), line.substr(open + 1, close - open - 1),
                       std::stoi(line.substr(page + 6)), zoom == std::string::npos ? 0 : std::stod(line.substr(zoom + 1))});
  }
  return entries;
}

inline void ExpectQpdfOk(const std::string& pdf_path) {
  const auto r = RunTool("qpdf --check " + Quote(pdf_path));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("No syntax or stream encoding errors found"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("WARNING"), std::string::npos) << r.output;
}

// The line of pdfinfo's report that starts with key.
inline std::string InfoLine(const std::string& pdf_path, const std::string& key) {
  const std::string info = RunTool("pdfinfo " + Quote(pdf_path)).output;
  const size_t at = info.find(key + ":");
  if (at == std::string::npos) return "";
  return info.substr(at, info.find('\n', at) - at);
}

}  // namespace app::manual::testing
