// The manual source reader: what each construct becomes, and that every mistake is refused
// with the line it is on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/tools/manual_markup.h"

namespace app::manual {
namespace {

const char* const kHead = "@title QUIRVEL\n";

Span S(std::string text, bool bold = false, bool italic = false, bool code = false) {
  Span s;
  s.text = std::move(text);
  s.bold = bold;
  s.italic = italic;
  s.code = code;
  return s;
}

TEST(ManualMarkup, EveryConstructBecomesItsBlock) {
  // A byte-order mark and CR LF line ends, as an editor on Windows saves the file.
  const std::string text =
      "\xEF\xBB\xBF// the English manual\r\n"
      "@title QUIRVEL\r\n"
      "@subtitle User's Manual\r\n"
      "@line First line\r\n"
      "@line Second line\r\n"
      "@version Version {version}\r\n"
      "@contents Contents\r\n"
      "@footer QUIRVEL User's Manual\r\n"
      "@page Page {page} of {pages}\r\n"
      "\r\n"
      "# Getting started\r\n"
      "The dot area is shown in **per cent** of the\r\n"
      "screen cell, the ruling in __L/cm__; press `F3`\\\r\n"
      "to capture. Escapes: \\*\\* \\_\\_ \\` \\| \\\\ and a lone * or _ stay.\r\n"
      "// a comment inside a paragraph is left out\r\n"
      "Größe 25 µm² at 45°.\r\n"
      "\r\n"
      "- first item\r\n"
      "  continued\r\n"
      "- second item\r\n"
      "12. numbered\r\n"
      "> A note\r\n"
      "> on two lines.\r\n"
      "\r\n"
      "| Key | Meaning |\r\n"
      "|-----|:-------:|\r\n"
      "| `TCPIP` | 1: the server runs \\| starts |\r\n";
  const Source src = ParseSource(text, "English.txt");
  EXPECT_EQ(src.title, "QUIRVEL");
  EXPECT_EQ(src.subtitle, "User's Manual");
  EXPECT_EQ(src.title_lines, (std::vector<std::string>{"First line", "Second line"}));
  EXPECT_EQ(src.version, "Version {version}");
  EXPECT_EQ(src.contents, "Contents");
  EXPECT_EQ(src.footer, "QUIRVEL User's Manual");
  EXPECT_EQ(src.page, "Page {page} of {pages}");

  ASSERT_EQ(src.blocks.size(), 7u);
  const Block& h = src.blocks[0];
  EXPECT_EQ(h.kind, BlockKind::Heading);
  EXPECT_EQ(h.level, 1);
  EXPECT_EQ(h.number, "1");
  EXPECT_EQ(h.line, 11);
  EXPECT_EQ(PlainText(h.text), "Getting started");

  const Block& p = src.blocks[1];
  EXPECT_EQ(p.kind, BlockKind::Paragraph);
  EXPECT_EQ(p.line, 12);
  const Inline want = {
      S("The dot area is shown in "), S("per cent", true), S(" of the screen cell, the ruling in "),
      S("L/cm", false, true), S("; press "), S("F3", false, false, true),
      S("\nto capture. Escapes: ** __ ` | \\ and a lone * or _ stay. Größe 25 µm² at 45°.")};
  EXPECT_EQ(p.text, want);

  EXPECT_EQ(src.blocks[2].kind, BlockKind::Bullet);
  EXPECT_EQ(PlainText(src.blocks[2].text), "first item continued");
  EXPECT_EQ(src.blocks[3].kind, BlockKind::Bullet);
  EXPECT_EQ(src.blocks[4].kind, BlockKind::Numbered);
  EXPECT_EQ(src.blocks[4].number, "12");
  EXPECT_EQ(PlainText(src.blocks[4].text), "numbered");
  EXPECT_EQ(src.blocks[5].kind, BlockKind::Note);
  EXPECT_EQ(PlainText(src.blocks[5].text), "A note on two lines.");

  const Block& t = src.blocks[6];
  EXPECT_EQ(t.kind, BlockKind::Table);
  ASSERT_EQ(t.rows.size(), 2u);  // the rule row is left out
  EXPECT_EQ(PlainText(t.rows[0][1]), "Meaning");
  EXPECT_EQ(t.rows[1][0], (Inline{S("TCPIP", false, false, true)}));
  EXPECT_EQ(PlainText(t.rows[1][1]), "1: the server runs | starts");
}

TEST(ManualMarkup, HeadingsAreNumberedAndReferencesBecomeTheirNumbers) {
  const Source src = ParseSource(std::string(kHead) +
                                     "# A\n"
                                     "See [[The zero image]] and **chapter [[F]]**; \\[[literal]].\n"
                                     "## B\n### C\n### D\n## E\n"
                                     "| Topic | Where |\n| zero | [[The zero image]] |\n"
                                     "# F\n## G\n### The zero image\n",
                                 "x");
  std::vector<std::string> numbers;
  for (const Block& b : src.blocks)
    if (b.kind == BlockKind::Heading) numbers.push_back(b.number);
  EXPECT_EQ(numbers, (std::vector<std::string>{"1", "1.1", "1.1.1", "1.1.2", "1.2", "2", "2.1", "2.1.1"}));
  // References look forward as well as back, keep the style around them and work in tables.
  EXPECT_EQ(src.blocks[1].text,
            (Inline{S("See 2.1.1 and "), S("chapter 2", true), S("; [[literal]].")}));
  EXPECT_EQ(PlainText(src.blocks[6].rows[1][1]), "2.1.1");
}

struct BadSource {
  const char* what;
  std::string text;  // after the @title line (line 1)
  int line;
  const char* message;
};

TEST(ManualMarkup, MistakesAreRefusedWithTheirLine) {
  const std::vector<BadSource> cases = {
      {"unknown directive", "@colour blue\n", 2, "unknown @colour"},
      {"directive twice", "@title Again\n", 2, "@title is given twice"},
      {"directive without value", "@footer\n", 2, "@footer needs a value"},
      {"page template without page", "@page Seite\n", 2, "@page needs {page}"},
      {"directive after heading", "# A\n@footer F\n", 3, "@ lines belong before the first heading"},
      {"text before heading", "Hello\n", 2, "text before the first heading"},
      {"four levels", "# A\n## B\n### C\n#### D\n", 5, "at most three levels"},
      {"no blank after #", "# A\n#B\n", 3, "followed by a blank"},
      {"level skipped", "# A\n### C\n", 3, "level-3 heading needs a level-2 heading"},
      {"empty heading", "# A\n##   \n", 3, "the heading has no text"},
      {"bold not closed", "# A\nfirst line\nsecond **line\nthird line\n", 4, "\"**\" is not closed"},
      {"italic not closed", "# A\n- __item\n", 3, "\"__\" is not closed"},
      {"code not closed", "# A\n> `GetData\n", 3, "\"`\" is not closed"},
      {"unknown escape", "# A\ntext\nC:\\Temp\n", 4, "a backslash cannot escape T"},
      {"backslash at the end", "# A\nlast line\\\n", 3, "the end of the text"},
      {"line break in heading", "# A \\\n", 2, "a backslash cannot escape the end"},
      {"row with more cells", "# A\n| a | b |\n| 1 | 2 | 3 |\n", 4, "this row has 3 cells, the table's first row 2"},
      {"row not closed", "# A\n| a | b |\n| 1 | 2\n", 4, "begins and ends with \"|\""},
      {"text after a row", "# A\n| a | b |\nplain\n", 4, "begins and ends with \"|\""},
      {"item continued unindented", "# A\n- item\nmore\n", 4, "indented by two blanks"},
      {"note continued without >", "# A\n> note\nmore\n", 4, "every line of a note begins with \">\""},
      {"indented line alone", "# A\n\n  lost\n", 4, "an indented line continues nothing"},
      {"tab", "# A\nword\tword\n", 3, "(a tab)"},
      {"control character", "# A\nbell\x07\n", 3, "control character U+0007"},
      {"broken UTF-8", "# A\nGr\xC3\x28\xC3\x9F" "e\n", 3, "not valid UTF-8"},
      {"overlong UTF-8", "# A\n\xC0\xAF\n", 3, "not valid UTF-8"},
      {"truncated UTF-8", "# A\nend \xE2\x82", 3, "not valid UTF-8"},
      {"outside the code page", "# A\nthreshold \xE2\x89\xA4 30\n", 3, "U+2264"},
      {"unknown reference", "# A\nsee [[B]]\n", 3, "no heading is called \"B\""},
      {"shared title", "# A\n## Results\n# B\n## Results\n# C\nsee [[Results]]\n", 7,
       "several headings are called \"Results\""},
      {"reference not closed", "# A\n- see [[A\n", 3, "\"[[\" is not closed"},
      {"reference in a heading", "# A\n## See [[A]]\n", 3, "a heading cannot refer"},
  };
  for (const BadSource& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      ParseSource(std::string(kHead) + c.text, "German.txt");
      ADD_FAILURE() << "accepted";
    } catch (const SourceError& e) {
      EXPECT_EQ(e.line(), c.line) << e.what();
      EXPECT_NE(std::string(e.what()).find("German.txt:" + std::to_string(c.line) + ": "), std::string::npos)
          << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  // Without a title there is no manual.
  try {
    ParseSource("# A\n", "x.txt");
    ADD_FAILURE() << "accepted";
  } catch (const SourceError& e) {
    EXPECT_NE(std::string(e.what()).find("no @title"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace app::manual
