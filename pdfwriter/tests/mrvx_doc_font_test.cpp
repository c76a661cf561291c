#include "pdfwriter/mrvx_doc_font.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "pdfwriter/tests/font_doc_tools.h"
#include "pdfwriter/tests/font_test_tools.h"
#include "platform/base/cp1252.h"
#include "platform/fonts/font_provider.h"

namespace pdfwriter {
namespace {

using ::testing::HasSubstr;
using testing::FontDoc;
using testing::NameOf;
using testing::NumberOf;
using testing::RunTool;
using testing::TempDir;

// The "W" array of a composite font as glyph -> width.
std::map<int, int> WidthsOf(TMRVXDictionaryObject* descendant) {
  std::map<int, int> w;
  auto* arr = static_cast<TMRVXArrayObject*>(descendant->GetValue("W"));
  for (size_t i = 0; i + 1 < arr->Count(); i += 2) {
    auto* one = static_cast<TMRVXArrayObject*>(arr->GetIndexedItem(i + 1));
    EXPECT_EQ(one->Count(), 1u);
    w[static_cast<int>(NumberOf(arr->GetIndexedItem(i)))] = static_cast<int>(NumberOf(one->GetIndexedItem(0)));
  }
  return w;
}

// The pdffonts line of a font, found by the end of its name.
std::string PdfFontsLine(const std::string& listing, const std::string& name) {
  std::istringstream in(listing);
  std::string line;
  while (std::getline(in, line)) {
    const size_t at = line.find(name + " ");
    if (at != std::string::npos && (at == 0 || line[at - 1] == '+')) return line;
  }
  return {};
}

TEST(FontResources, UnicodeTextIsAnEmbeddedCompositeFontThatReadersDecode) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Arial", 0, 10, 0, false);
  const std::u16string text = u"ÄµABC°²€";
  p.UnicodeTextOut(50, 100, 0, text);
  TempDir dir;
  const std::string path = d.Save(dir);
  testing::SaveSample("text-unicode-font.pdf", d.out);

  TMRVXDictionaryObject* f0 = d.Font("F0");
  ASSERT_NE(f0, nullptr);
  EXPECT_EQ(NameOf(f0->GetValue("Subtype")), "Type0");
  EXPECT_EQ(NameOf(f0->GetValue("Encoding")), "Identity-H");
  EXPECT_THAT(NameOf(f0->GetValue("BaseFont")), ::testing::MatchesRegex("[A-Z]{6}\\+Helvetica"));
  TMRVXDictionaryObject* cid = d.Descendant(f0);
  EXPECT_EQ(NameOf(cid->GetValue("Subtype")), "CIDFontType2");
  EXPECT_EQ(NameOf(cid->GetValue("BaseFont")), NameOf(f0->GetValue("BaseFont")));
  EXPECT_NE(f0->GetValue("ToUnicode"), nullptr);

  const auto check = RunTool("qpdf --check " + path);
  EXPECT_EQ(check.exit_code, 0) << check.output;
  const auto fonts = RunTool("pdffonts " + path);
  const std::string line = PdfFontsLine(fonts.output, "Helvetica");
  EXPECT_THAT(line, HasSubstr("CID TrueType")) << fonts.output;
  EXPECT_THAT(line, HasSubstr("Identity-H")) << fonts.output;
  EXPECT_THAT(line, ::testing::ContainsRegex("yes +yes +yes")) << fonts.output;
  const auto txt = RunTool("pdftotext -enc UTF-8 " + path + " -");
  EXPECT_EQ(txt.output.substr(0, txt.output.find_first_of("\n\f")), platform::Utf16ToUtf8(text));
}

// The widths of the "W" array against fontTools, and the embedded program loaded by fontTools
// with an outline for every glyph drawn.
TEST(FontResources, CompositeWidthsAndProgramAgreeWithFontTools) {
  if (testing::FontToolsPython().empty()) GTEST_SKIP() << "python3-fonttools is not installed";
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Times New Roman", fsBold, 12, 0, false);
  p.UnicodeTextOut(50, 100, 0, u"Wide glyphs: ÄÖÜ àé ½ €µ°");
  TempDir dir;
  d.Save(dir);
  TMRVXDictionaryObject* f0 = d.Font("F0");
  const std::map<int, int> w = WidthsOf(d.Descendant(f0));
  testing::WriteFile(dir.File("sub.ttf"), d.StreamOf(d.Descriptor(f0), "FontFile2"));
  std::string glyphs;
  for (auto [g, width] : w) glyphs += (glyphs.empty() ? "" : ",") + std::to_string(g) + ":" + std::to_string(width);
  const char* script = R"PY(
import sys
from fontTools.ttLib import TTFont
orig = TTFont(sys.argv[1]); sub = TTFont(sys.argv[2])
upm = orig['head'].unitsPerEm
order = orig.getGlyphOrder()
bad = []
for item in sys.argv[3].split(','):
    g, w = (int(v) for v in item.split(':'))
    name = order[g]
    if orig['hmtx'][name][0] * 1000 // upm != w: bad.append('width %d' % g)
    if name != 'space' and sub['glyf'][sub.getGlyphOrder()[g]].numberOfContours == 0: bad.append('outline %d' % g)
print('bad', bad)
)PY";
  const auto face = platform::FontProvider::Default().Find("Times New Roman", fsBold).Face;
  const auto r = testing::RunPython(script, face->FilePath() + " " + dir.File("sub.ttf") + " " + glyphs);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, "bad []\n");
  EXPECT_EQ(w.size(), 21u);  // distinct characters of the text
}

TEST(FontResources, StandardFontsFor8BitTextHaveNoProgram) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Arial", 0, 10, 0, false);
  p.TextOut(50, 100, 0, "Dot area \xB5m");
  TempDir dir;
  const std::string path = d.Save(dir);
  TMRVXDictionaryObject* f0 = d.Font("F0");
  EXPECT_EQ(NameOf(f0->GetValue("Subtype")), "TrueType");
  EXPECT_EQ(NameOf(f0->GetValue("BaseFont")), "Helvetica");
  EXPECT_EQ(NameOf(f0->GetValue("Encoding")), "WinAnsiEncoding");
  TMRVXDictionaryObject* desc = d.Descriptor(f0);
  EXPECT_EQ(NumberOf(desc->GetValue("Flags")), 32);
  EXPECT_EQ(desc->GetValue("FontFile2"), nullptr);
  EXPECT_EQ(NumberOf(desc->GetValue("Ascent")), 905);
  const auto txt = RunTool("pdftotext -enc UTF-8 " + path + " -");
  EXPECT_THAT(txt.output, HasSubstr("Dot area µm"));
}

TEST(FontResources, SimpleEmbeddedFontWidthsFromFirstToLastChar) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("DejaVu Sans", 0, 10, 0, false);
  p.TextOut(50, 100, 0, "A");
  TempDir dir;
  const std::string path = d.Save(dir);
  testing::SaveSample("text-subset-font.pdf", d.out);
  TMRVXDictionaryObject* f0 = d.Font("F0");
  EXPECT_EQ(NameOf(f0->GetValue("Subtype")), "TrueType");
  EXPECT_EQ(NumberOf(f0->GetValue("FirstChar")), 32);
  EXPECT_EQ(NumberOf(f0->GetValue("LastChar")), 65);
  auto* widths = static_cast<TMRVXArrayObject*>(f0->GetValue("Widths"));
  ASSERT_EQ(widths->Count(), 34u);
  const auto face = platform::FontProvider::Default().Find("DejaVu Sans").Face;
  EXPECT_EQ(NumberOf(widths->GetIndexedItem(0)), face->CharABC(U' ').Advance());
  EXPECT_EQ(NumberOf(widths->GetIndexedItem(1)), face->CharABC(U'!').Advance());
  for (size_t i = 2; i < 33; ++i) EXPECT_EQ(NumberOf(widths->GetIndexedItem(i)), 0);
  EXPECT_EQ(NumberOf(widths->GetIndexedItem(33)), face->CharABC(U'A').Advance());
  EXPECT_EQ(NumberOf(d.Descriptor(f0)->GetValue("Flags")), 4);

  const auto fonts = RunTool("pdffonts " + path);
  const std::string line = PdfFontsLine(fonts.output, "DejaVu");
  EXPECT_THAT(line, HasSubstr("TrueType")) << fonts.output;
  EXPECT_THAT(line, HasSubstr("WinAnsi")) << fonts.output;
  EXPECT_THAT(line, ::testing::ContainsRegex("yes +yes +no")) << fonts.output;
  EXPECT_EQ(RunTool("pdftotext " + path + " -").output.substr(0, 1), "A");
  // The page shows the letter, not the empty box of glyph 0: the rendered page has ink.
  const auto pgm = RunTool("pdftoppm -r 72 -gray -x 45 -y 95 -W 20 -H 20 " + path + " | tail -c 400");
  int ink = 0;
  for (char c : pgm.output) ink += static_cast<unsigned char>(c) < 128;
  EXPECT_GT(ink, 5);
}

TEST(FontResources, NamesAndStylesOfTheStandardMapping) {
  struct Case {
    const char* name;
    TFontStyles style;
    const char* pdfName;
    bool standard;
  };
  for (const Case& c : {Case{"Arial", 0, "Helvetica", true}, Case{"helvetica", fsBold | fsItalic, "Helvetica-BoldOblique", true},
                        Case{"Times New Roman", fsItalic, "Times-Italic", true}, Case{"Times New Roman", 0, "Times-Roman", true},
                        Case{"Courier New", fsBold, "Courier-Bold", true}, Case{"Symbol", fsBold, "Symbol", true},
                        Case{"ZapfDingbats", 0, "ZapfDingbats", true}, Case{"Verdana", fsItalic, "Verdana-Italic", false},
                        Case{"Verdana", fsBold | fsItalic, "Verdana-ItalicBold", false}, Case{"Verdana", fsBold, "Verdana-Bold", false}}) {
    TMRVXFontObj f;
    f.Name = c.name;
    f.FontStyle = c.style;
    f.ParseFontName();
    EXPECT_EQ(f.Name, c.pdfName);
    EXPECT_EQ(f.OldName, c.name);
    EXPECT_EQ(f.IsStandard, c.standard);
  }
}

TEST(FontResources, SelectionFallsBackAndSizesShareTheResource) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("tahoma", fsItalic, 10, 0, false);
  EXPECT_EQ(p.CurrentFont().Name, "Arial Unicode MS");
  EXPECT_EQ(p.CurrentFont().Charset, 1);
  p.SetFont("ZapfDingbats", 0, 10, 0, false);
  EXPECT_EQ(p.CurrentFont().Name, "ZapfDingbats");

  p.SetFont("Arial", 0, 10, 0, false);
  const size_t before = p.PageContent().size();
  p.UnicodeTextOut(10, 10, 0, u"a");
  p.SetFont("Arial", 0, 14, 0, false);
  p.UnicodeTextOut(10, 30, 0, u"b");
  p.SetFont("Arial", fsBold | fsItalic, 14, 0, false);
  p.UnicodeTextOut(10, 50, 0, u"c");
  std::vector<std::string> tf;
  for (size_t i = before; i < p.PageContent().size(); ++i) {
    if (p.PageContent()[i].ends_with(" Tf")) tf.push_back(p.PageContent()[i]);
  }
  EXPECT_EQ(tf, (std::vector<std::string>{"/F0 10 Tf", "/F0 14 Tf", "/F1 14 Tf"}));
  TempDir dir;
  d.Save(dir);
  EXPECT_THAT(NameOf(d.Descendant(d.Font("F1"))->GetValue("BaseFont")),
              ::testing::MatchesRegex("[A-Z]{6}\\+Helvetica-BoldOblique Bold Italic"));
  EXPECT_THAT(d.out, HasSubstr("Helvetica-BoldOblique#20Bold#20Italic"));
}

TEST(FontResources, EachFontListsOnlyTheCharactersDrawnInIt) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Arial", 0, 10, 0, false);
  p.UnicodeTextOut(10, 10, 0, u"A");
  p.SetFont("Times New Roman", 0, 10, 0, false);
  p.UnicodeTextOut(10, 30, 0, u"B");
  p.SetFont("Arial", 0, 10, 0, false);
  p.UnicodeTextOut(10, 50, 0, u"CA");
  TempDir dir;
  const std::string path = d.Save(dir);
  const auto arial = platform::FontProvider::Default().Find("Arial").Face;
  const auto times = platform::FontProvider::Default().Find("Times New Roman").Face;
  EXPECT_EQ(WidthsOf(d.Descendant(d.Font("F0"))),
            (std::map<int, int>{{static_cast<int>(arial->GlyphIndex(U'A')), 666}, {static_cast<int>(arial->GlyphIndex(U'C')), 722}}));
  const auto times_w = WidthsOf(d.Descendant(d.Font("F1")));
  ASSERT_EQ(times_w.size(), 1u);
  EXPECT_EQ(times_w.begin()->first, static_cast<int>(times->GlyphIndex(U'B')));
  const std::string cmap0 = d.StreamOf(d.Font("F0"), "ToUnicode");
  EXPECT_THAT(cmap0, HasSubstr("2 beginbfchar"));
  EXPECT_THAT(cmap0, ::testing::Not(HasSubstr("<0042>")));
  const auto txt = RunTool("pdftotext " + path + " -");
  EXPECT_THAT(txt.output, ::testing::ContainsRegex("A\\s+B\\s+CA"));
}

TEST(FontResources, OneSpaceEmbedsSpaceAndExclamationMark) {
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Arial", 0, 10, 0, false);
  p.UnicodeTextOut(10, 10, 0, u" ");
  TempDir dir;
  d.Save(dir);
  TMRVXDictionaryObject* f0 = d.Font("F0");
  const std::string program = d.StreamOf(d.Descriptor(f0), "FontFile2");
  std::vector<CDescript> cd;
  TTrueTypeTables().CharacterDescription(cd, "Arial", 0);
  // The exclamation mark's glyph is kept: its loca entry spans an outline.
  const platform::SfntDirectory dir_ = platform::SfntDirectory::Parse(
      std::span(reinterpret_cast<const uint8_t*>(program.data()), program.size()));
  const platform::BeReader loca(*dir_.Find(platform::SfntTag("loca")), "loca");
  const bool longLoca = loca.size() >= 4 * (size_t{cd[u'!'].Index} + 2) &&
                        platform::BeReader(*dir_.Find(platform::SfntTag("head")), "head").S16(50) == 1;
  const size_t g = cd[u'!'].Index;
  const size_t len = longLoca ? loca.U32(4 * (g + 1)) - loca.U32(4 * g) : 2u * (loca.U16(2 * (g + 1)) - loca.U16(2 * g));
  EXPECT_GT(len, 0u);
  // ... but only the space was drawn, so only the space is mapped to text.
  EXPECT_THAT(d.StreamOf(f0, "ToUnicode"), HasSubstr("1 beginbfchar"));
}

TEST(FontResources, APageWithoutTextHasAnEmptyFontDictionary) {
  FontDoc d;
  d.page().Rectangle(10, 10, 20, 20);
  TempDir dir;
  d.Save(dir);
  auto* res = d.Dict(d.doc.PageArr()[0].PageObj->GetValue("Resources"));
  auto* fonts = d.Dict(res->GetValue("Font"));
  ASSERT_NE(fonts, nullptr);
  EXPECT_EQ(fonts->Count(), 0u);
}

TEST(FontResources, NotEmbeddedFontsLeaveOut8BitProgramsButNeverUnicodeOnes) {
  FontDoc d;
  d.doc.NotEmbeddedFonts = {"DejaVu Sans"};
  TMRVXPage& p = d.page();
  p.SetFont("DejaVu Sans", 0, 10, 0, false);
  p.TextOut(10, 10, 0, "Plain");
  p.UnicodeTextOut(10, 30, 0, u"Ωmega");
  TempDir dir;
  const std::string path = d.Save(dir);
  TMRVXDictionaryObject* simple = d.Font("F0");
  TMRVXDictionaryObject* composite = d.Font("F1");
  EXPECT_EQ(NameOf(simple->GetValue("Subtype")), "TrueType");
  EXPECT_EQ(d.Descriptor(simple)->GetValue("FontFile2"), nullptr);
  EXPECT_EQ(NameOf(simple->GetValue("BaseFont")), "DejaVu Sans");
  EXPECT_EQ(NameOf(composite->GetValue("Subtype")), "Type0");
  EXPECT_NE(d.Descriptor(composite)->GetValue("FontFile2"), nullptr);
  EXPECT_THAT(RunTool("pdftotext -enc UTF-8 " + path + " -").output, HasSubstr("Ωmega"));
}

TEST(FontResources, ItalicAngleIsWrittenInDegrees) {
  if (testing::FontToolsPython().empty()) GTEST_SKIP() << "python3-fonttools is not installed";
  const auto face = platform::FontProvider::Default().Find("Times New Roman", fsItalic).Face;
  const auto r = testing::RunPython("import sys\nfrom fontTools.ttLib import TTFont\nprint(TTFont(sys.argv[1])['post'].italicAngle)\n",
                                    face->FilePath());
  const double angle = std::stod(r.output);
  ASSERT_LT(angle, -5);
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("Times New Roman", fsItalic, 10, 0, false);
  p.UnicodeTextOut(10, 10, 0, u"Slanted");
  TempDir dir;
  d.Save(dir);
  EXPECT_NEAR(NumberOf(d.Descriptor(d.Font("F0"))->GetValue("ItalicAngle")), angle, 1e-4);
}

// Every character of the text in one map would need one block of 250 entries; a block holds
// at most 100.
TEST(FontResources, ToUnicodeMapsComeInBlocksOfAtMostAHundred) {
  std::u16string text;
  for (char16_t c = 0x21; text.size() < 250; ++c) {
    if (c < 0x7F || c >= 0xA1) text += c;
  }
  FontDoc d;
  TMRVXPage& p = d.page();
  p.SetFont("DejaVu Sans", 0, 8, 0, false);
  for (size_t line = 0; line < 5; ++line) p.UnicodeTextOut(10, 10 + 20 * line, 0, text.substr(50 * line, 50));
  TempDir dir;
  const std::string path = d.Save(dir);
  const std::string cmap = d.StreamOf(d.Font("F0"), "ToUnicode");
  EXPECT_THAT(cmap, HasSubstr("100 beginbfchar"));
  EXPECT_THAT(cmap, HasSubstr("50 beginbfchar"));
  EXPECT_THAT(cmap, ::testing::Not(HasSubstr("250 beginbfchar")));
  std::string txt = RunTool("pdftotext -enc UTF-8 " + path + " -").output;
  std::erase_if(txt, [](char c) { return c == '\n' || c == '\f' || c == ' '; });
  EXPECT_EQ(platform::Utf8ToUtf16(txt), text);
}

}  // namespace
}  // namespace pdfwriter
