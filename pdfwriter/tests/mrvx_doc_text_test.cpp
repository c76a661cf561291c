#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "pdfwriter/tests/font_doc_tools.h"
#include "platform/fonts/font_provider.h"

namespace pdfwriter {
namespace {

using ::testing::HasSubstr;
using testing::FontDoc;
using testing::RunTool;
using testing::TempDir;
using Lines = std::vector<std::string>;

Lines LinesOf(TMRVXPage& page, const std::function<void()>& op) {
  const size_t before = page.PageContent().size();
  op();
  return {page.PageContent().begin() + static_cast<std::ptrdiff_t>(before), page.PageContent().end()};
}

// Arial 10: ascent 905 per 1000, so the baseline lies 9.05 below the top, at 842 - 109.05.
TEST(TextOutput, OneLetterOperatorsByteForByte) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Arial", 0, 10, 0, false);
  EXPECT_FLOAT_EQ(p.TextHeight("A"), 9.05f);
  EXPECT_EQ(LinesOf(p, [&] { p.UnicodeTextOut(50, 100, 0, u"A"); }),
            (Lines{"/F0 10 Tf", "BT", "1 0 0 1 50 732.95 Tm", "<0024> Tj", "ET"}));
  EXPECT_EQ(LinesOf(p, [&] { p.TextOut(50, 100, 0, "A"); }),
            (Lines{"/F1 10 Tf", "BT", "50 732.95 Td", "(A) Tj", "ET"}));
  // Every text call selects its font anew.
  EXPECT_EQ(LinesOf(p, [&] { p.TextOut(0, 0, 0, "a(b)\\c"); }),
            (Lines{"/F1 10 Tf", "BT", "0 832.95 Td", "(a\\(b\\)\\\\c) Tj", "ET"}));
  // The same code unit twice: the same glyph twice, recorded once.
  EXPECT_EQ(LinesOf(p, [&] { p.UnicodeTextOut(0, 0, 0, u"AA"); })[3], "<00240024> Tj");
  EXPECT_EQ(p.FontArr()[0]->UniLen, 1);
  // With TopTextPosition the point is the baseline.
  p.TopTextPosition = true;
  EXPECT_EQ(LinesOf(p, [&] { p.TextOut(50, 100, 0, "A"); })[2], "50 742 Td");
  EXPECT_EQ(LinesOf(p, [&] { p.UnicodeTextOut(50, 100, 0, u"A"); })[2], "1 0 0 1 50 742 Tm");
}

TEST(TextOutput, RotatedTextRunsCounterclockwiseAroundItsTopLeftCorner) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Arial", 0, 10, 0, false);
  const Lines l = LinesOf(p, [&] { p.TextOut(50, 100, 90, "A"); });
  EXPECT_EQ(l[2], "0 1 -1 0 59.05 742 Tm");
  const Lines u = LinesOf(p, [&] { p.UnicodeTextOut(50, 100, 30, u"A"); });
  const float a = static_cast<float>(30 * M_PI / 180);
  std::ostringstream want;
  want << _CutFloat(std::cos(a)) << " " << _CutFloat(std::sin(a)) << " " << _CutFloat(-std::sin(a)) << " "
       << _CutFloat(std::cos(a)) << " " << _CutFloat(50 + std::sin(a) * 9.05f) << " "
       << _CutFloat(742 - std::cos(a) * 9.05f) << " Tm";
  EXPECT_EQ(u[2], want.str());
}

TEST(TextOutput, UnderlineAndStrikeOutBars) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Arial", fsUnderline, 10, 0, false);
  const float w = p.TextWidth("Hi");
  const Lines l = LinesOf(p, [&] { p.TextOut(50, 100, 0, "Hi"); });
  // After the text object: a filled bar 2 below the baseline, TextWidth long, 0.7 high.
  ASSERT_EQ(l.size(), 10u);
  EXPECT_EQ(l[5], "50 730.95 m");
  EXPECT_EQ(l[6], _FloatToStrR(50 + w) + " 730.95 l");
  EXPECT_EQ(l[7], _FloatToStrR(50 + w) + " 730.25 l");
  EXPECT_EQ(l[8], "50 730.25 l");
  EXPECT_EQ(l[9], "f");

  p.SetFont("Arial", fsStrikeOut, 10, 0, false);
  const Lines s = LinesOf(p, [&] { p.UnicodeTextOut(50, 100, 0, u"Hi"); });
  // h / 3 above the baseline.
  EXPECT_EQ(s[5], "50 " + _FloatToStrR(842 - (109.05f - 9.05f / 3)) + " m");

  // Rotated by 90 degrees the bar runs up the page beside the text, 2 units to its right.
  p.SetFont("Arial", fsUnderline, 10, 0, false);
  const Lines r = LinesOf(p, [&] { p.TextOut(50, 100, 90, "Hi"); });
  EXPECT_EQ(r[5], "61.05 742 m");
  EXPECT_EQ(r[6], "61.05 " + _FloatToStrR(742 + w) + " l");
}

TEST(TextOutput, WidthsWithSpacingAndScaling) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Arial", 0, 10, 0, false);
  const auto face = platform::FontProvider::Default().Find("Arial").Face;
  const float a = face->CharABC(U'a').Advance() / 100.0f, b = face->CharABC(U'b').Advance() / 100.0f,
              sp = face->CharABC(U' ').Advance() / 100.0f;
  EXPECT_FLOAT_EQ(p.TextWidth("a b"), a + sp + b);
  p.SetWordSpacing(2);
  EXPECT_FLOAT_EQ(p.TextWidth("a b"), a + sp + 2 + b);
  EXPECT_FLOAT_EQ(p.TextWidth("ab "), a + b + sp);
  p.SetCharacterSpacing(1);
  p.SetHorizontalScaling(50);
  EXPECT_FLOAT_EQ(p.TextWidth("ab"), a / 2 + 1 + b / 2 + 1);
}

// Right-aligned non-Latin text needs its real width: each glyph's, not a question mark's.
TEST(TextOutput, UnicodeWidthIsMeasuredByGlyphs) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Arial", 0, 10, 0, false);
  std::vector<CDescript> cd;
  TTrueTypeTables().CharacterDescription(cd, "Arial", 0);
  EXPECT_FLOAT_EQ(p.TextWidth(u"ЖЖm"), (2 * cd[u'Ж'].Width + cd[u'm'].Width) / 100.0f);
  EXPECT_NE(p.TextWidth(u"ЖЖ"), p.TextWidth("??"));
  EXPECT_FLOAT_EQ(p.TextWidth(u"Ab"), p.TextWidth("Ab") - 0.01f);  // 666 vs 667 per 1000 for A
}

TEST(TextOutput, VerticalFontsDrawOneTextObjectPerCharacter) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Arial", 0, 10, 0, true);
  const Lines l = LinesOf(p, [&] { p.UnicodeTextOut(100, 100, 0, u"AB\u30FC"); });
  std::vector<std::string> tm;
  for (const std::string& s : l) {
    if (s.ends_with(" Tm")) tm.push_back(s);
  }
  ASSERT_EQ(tm.size(), 3u);
  const float w = p.TextWidth(std::string_view("W"));
  const std::string x = _CutFloat(100 + w / 2);
  // Each one text height (9.05) below the previous; the baseline h below its top.
  EXPECT_EQ(tm[0], "1 0 0 1 " + x + " 742 Tm");
  EXPECT_EQ(tm[1], "1 0 0 1 " + x + " 732.95 Tm");
  EXPECT_EQ(tm[2], "1 0 0 1 " + x + " 723.9 Tm");
  EXPECT_EQ(l.back(), "ET");
  EXPECT_THAT(l[0], HasSubstr("Tf"));
  // The prolonged sound mark is drawn as a vertical bar.
  EXPECT_TRUE(p.CurrentFontObj().UnicodeTable.size() > u'|' && p.CurrentFontObj().UnicodeTable[u'|'].CharCode);
}

TEST(TextOutput, ReadersPlaceTheLetterWhereItWasWritten) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Arial", 0, 10, 0, false);
  p.UnicodeTextOut(50, 100, 0, u"A");
  p.TextOut(200, 300, 0, "B");
  TempDir dir;
  const std::string path = d.Save(dir);
  const auto r = RunTool("pdftotext -bbox " + path + " -");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  auto box = [&](const std::string& word) {
    const size_t at = r.output.find(">" + word + "</word>");
    EXPECT_NE(at, std::string::npos) << r.output;
    const size_t start = r.output.rfind("<word", at);
    std::istringstream in(r.output.substr(start, at - start));
    double v[4] = {};
    std::string tok;
    for (int i = 0; i < 4 && in >> tok;) {
      const size_t q = tok.find('"');
      if (q == std::string::npos) continue;
      v[i++] = std::stod(tok.substr(q + 1));
    }
    return std::array<double, 4>{v[0], v[1], v[2], v[3]};
  };
  const auto a = box("A");
  EXPECT_NEAR(a[0], 50, 1);
  EXPECT_NEAR(a[1], 100, 1);
  EXPECT_NEAR(a[2], 50 + 6.67, 1);
  // The 8-bit standard font is not embedded: the reader measures it with its own Helvetica,
  // whose ascender is lower than the installed face's, so its box starts lower.
  const auto b = box("B");
  EXPECT_NEAR(b[0], 200, 1);
  EXPECT_NEAR(b[1], 300, 2.5);
}

// Text the caller must not send (control bytes, the code unit 0xFFFF, a negative length) is
// written without reading outside any table.
TEST(TextOutput, UnusualInputStaysInsideTheTables) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Arial", 0, 10, 0, false);
  p.TextOut(10, 10, 0, std::string("\x01\x1F\x7F\xA0\xAD\x98", 6));
  const char16_t odd[] = {0xFFFF, 0xD800, 0};
  p.UnicodeTextOut(10, 20, 0, odd, 3);
  p.UnicodeTextOut(10, 30, 0, odd, -5);
  p.UnicodeTextOut(10, 40, 0, nullptr, 4);
  TempDir dir;
  const std::string path = d.Save(dir);
  EXPECT_EQ(RunTool("qpdf --check " + path).exit_code, 0);
  EXPECT_THAT(RunTool("pdftotext " + path + " -").output, HasSubstr("-"));
}

}  // namespace
}  // namespace pdfwriter
