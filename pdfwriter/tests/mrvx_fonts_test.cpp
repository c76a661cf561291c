#include "pdfwriter/mrvx_fonts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "pdfwriter/mrvx_types.h"
#include "pdfwriter/tests/font_test_tools.h"
#include "platform/fonts/font_provider.h"
#include "platform/fonts/sfnt.h"

namespace pdfwriter {
namespace {

using testing::FontToolsPython;
using testing::RunPython;
using testing::TempDir;
using testing::WriteFile;

std::shared_ptr<const platform::FontFace> Installed(const char* name, platform::TFontStyles style = 0) {
  return platform::FontProvider::Default().Find(name, style).Face;
}

// Both Liberation generations are installed: version 1 with short loca offsets, version 2
// with long ones, so both loca formats are exercised.
std::vector<std::string> SansFiles() {
  std::vector<std::string> files;
  for (const char* f : {"/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
                        "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf"}) {
    if (std::filesystem::exists(f)) files.push_back(f);
  }
  return files;
}

std::vector<uint16_t> Units(std::u16string_view s) { return {s.begin(), s.end()}; }

TEST(TrueTypeTablesTest, ArialGlyphAndTruncatedWidthOfA) {
  std::vector<CDescript> cd;
  TTrueTypeTables t;
  t.CharacterDescription(cd, "Arial", 0);
  ASSERT_EQ(cd.size(), kCharacterDescriptionSize);
  EXPECT_EQ(cd[u'A'].Index, 36);
  EXPECT_EQ(cd[u'A'].Width, 666);  // 1366 * 1000 / 2048 = 666.99
  EXPECT_EQ(cd[0xE000].Index, 0);  // private use: in no segment
  EXPECT_EQ(cd[0xE000].Width, 0);
}

// Every entry of the description table against fontTools' reading of the Windows map and the
// metrics: glyph = cmap (3,1), width = trunc(advance * 1000 / unitsPerEm).
TEST(TrueTypeTablesTest, CharacterDescriptionAgreesWithFontTools) {
  if (FontToolsPython().empty()) GTEST_SKIP() << "python3-fonttools is not installed";
  const char* script = R"PY(
import sys
from fontTools.ttLib import TTFont
t = TTFont(sys.argv[1])
upm = t['head'].unitsPerEm
sub = t['cmap'].getcmap(3, 1) or t['cmap'].getcmap(3, 0)
mono = t['post'].isFixedPitch != 0
first = t['hmtx'].metrics[t.getGlyphOrder()[0]][0]
for cp, name in sorted(sub.cmap.items()):
    if cp >= 0xFFFF: continue
    adv = first if mono else t['hmtx'][name][0]
    print(cp, t.getGlyphID(name), adv * 1000 // upm)
)PY";
  for (auto [name, style] : {std::pair{"Arial", platform::TFontStyles{0}}, std::pair{"Courier New", platform::fsBold},
                             std::pair{"DejaVu Sans", platform::TFontStyles{0}}}) {
    auto face = Installed(name, style);
    const auto r = RunPython(script, face->FilePath());
    ASSERT_EQ(r.exit_code, 0) << r.output;
    std::vector<CDescript> cd;
    TTrueTypeTables().CharacterDescription(cd, *face);
    std::vector<bool> mapped(kCharacterDescriptionSize, false);
    std::istringstream in(r.output);
    unsigned cp, glyph;
    int width;
    size_t lines = 0;
    while (in >> cp >> glyph >> width) {
      ++lines;
      mapped[cp] = true;
      ASSERT_EQ(cd[cp].Index, glyph) << name << " U+" << std::hex << cp;
      ASSERT_EQ(cd[cp].Width, width) << name << " U+" << std::hex << cp;
    }
    EXPECT_GT(lines, 200u) << name;
    for (size_t c = 0; c < kCharacterDescriptionSize; ++c) {
      if (!mapped[c]) {
        ASSERT_EQ(cd[c].Index, 0) << name << " U+" << std::hex << c;
      }
    }
  }
}

TEST(TrueTypeTablesTest, MonospacedFontsGiveEveryCharacterTheFirstAdvance) {
  std::vector<CDescript> cd;
  TTrueTypeTables().CharacterDescription(cd, "Courier New", 0);
  for (char16_t c : std::u16string_view(u"iWm.ÄµЖ")) EXPECT_EQ(cd[c].Width, 600) << int(c);
}

// The composite-form program loaded by fontTools: same glyph count, the nine tables in their
// order, valid checksums, every used glyph kept byte for byte (composites with their
// components), every other glyph empty.
TEST(TrueTypeTablesTest, CompositeFormKeepsUsedGlyphsAndTheirComponents) {
  if (FontToolsPython().empty()) GTEST_SKIP() << "python3-fonttools is not installed";
  const char* script = R"PY(
import sys, struct
from fontTools.ttLib import TTFont
orig = TTFont(sys.argv[1]); sub = TTFont(sys.argv[2], checkChecksums=2)
chars = [int(c) for c in sys.argv[3].split(',')]
raw = open(sys.argv[2], 'rb').read()
assert sum(struct.unpack('>%dI' % (len(raw) // 4), raw)) % 2**32 == 0xB1B0AFBA, 'file checksum'
print('tables', ' '.join(t.replace(' ', '_') for t in sub.reader.keys()))
cmap = orig['cmap'].getcmap(3, 1).cmap
order = orig.getGlyphOrder()
keep = set()
def add(name):
    if name in keep: return
    keep.add(name)
    g = orig['glyf'][name]
    if g.isComposite():
        for c in g.components: add(c.glyphName)
for c in chars:
    if c != 160: add(cmap.get(c, order[0]))
ol, sl = orig['loca'], sub['loca']
og, sg = orig.reader['glyf'], sub.reader['glyf']
assert len(sl) == len(ol), 'loca entries'
assert sub['maxp'].numGlyphs == orig['maxp'].numGlyphs
bad = 0
for i, name in enumerate(order):
    a = og[ol[i]:ol[i + 1]]
    b = sg[sl[i]:sl[i + 1]]
    want = a if name in keep else b''
    if b != want and not (len(b) == len(want) + 1 and b[:-1] == want): bad += 1
print('kept', len(keep), 'bad', bad, 'composites', sum(1 for n in keep if orig['glyf'][n].isComposite()))
)PY";
  const std::u16string text = u" ÄµABC°²€";
  std::string chars;
  for (char16_t c : text) chars += (chars.empty() ? "" : ",") + std::to_string(int(c));
  TempDir dir;
  for (const std::string& file : SansFiles()) {
    auto face = platform::FontFace::FromFile(file);
    std::string program;
    TTrueTypeTables().GetFontLongEnsemble(*face, program, Units(text));
    WriteFile(dir.File("sub.ttf"), program);
    const auto r = RunPython(script, file + " " + dir.File("sub.ttf") + " " + chars);
    ASSERT_EQ(r.exit_code, 0) << file << "\n" << r.output;
    EXPECT_THAT(r.output, ::testing::HasSubstr("tables cvt_ fpgm glyf head hhea hmtx loca maxp prep")) << file;
    EXPECT_THAT(r.output, ::testing::HasSubstr("bad 0")) << file << "\n" << r.output;
    EXPECT_THAT(r.output, ::testing::Not(::testing::HasSubstr("composites 0"))) << file << "\n" << r.output;
    // The program is much smaller than the font.
    EXPECT_LT(program.size(), face->FileBytes().size() / 4);
  }
}

// The simple-form program loaded by fontTools: codes map to 1 (space), 2, 3 ... in code order
// in both maps, outlines and advances are the font's, components are renumbered to glyphs
// that hold the component outlines, and the directory is sorted.
TEST(TrueTypeTablesTest, SimpleFormRenumbersGlyphsAndBuildsItsOwnMaps) {
  if (FontToolsPython().empty()) GTEST_SKIP() << "python3-fonttools is not installed";
  const char* script = R"PY(
import sys
from fontTools.ttLib import TTFont
orig = TTFont(sys.argv[1]); sub = TTFont(sys.argv[2], checkChecksums=2)
codes = [int(c) for c in sys.argv[3].split(',')]
print('tables', ' '.join(t.replace(' ', '_') for t in sub.reader.keys()))
assert list(sub.reader.keys()) == sorted(sub.reader.keys()), 'directory order'
ocmap = orig['cmap'].getcmap(3, 1).cmap
oorder, sorder = orig.getGlyphOrder(), sub.getGlyphOrder()
mac, win = sub['cmap'].getcmap(1, 0).cmap, sub['cmap'].getcmap(3, 0).cmap
used = sorted(c for c in set(codes) if c > 32)
errors = []
def same(on, sn):
    og, sg = orig['glyf'][on], sub['glyf'][sn]
    if og.isComposite() != sg.isComposite(): return False
    if og.isComposite():
        return len(og.components) == len(sg.components) and all(
            same(a.glyphName, b.glyphName) and a.x == b.x and a.y == b.y
            for a, b in zip(og.components, sg.components))
    return og.getCoordinates(orig['glyf'])[0] == sg.getCoordinates(sub['glyf'])[0]
if mac.get(32) != sorder[1] or win.get(0xF020) != sorder[1]: errors.append('space')
for i, c in enumerate(used):
    want = sorder[2 + i]
    if mac.get(c) != want: errors.append('mac %d' % c)
    if win.get(0xF000 + c) != want: errors.append('win %d' % c)
    on = ocmap[ord(bytes([c]).decode('cp1252'))]
    if not same(on, want): errors.append('outline %d' % c)
    if sub['hmtx'][want] != orig['hmtx'][on]: errors.append('hmtx %d' % c)
if sub['hmtx'][sorder[0]] != (1536, 256) or sub['hmtx'][sorder[1]] != (569, 0): errors.append('fixed metrics')
if sub['head'].indexToLocFormat != 1: errors.append('loca format')
if sub['maxp'].numGlyphs != sub['hhea'].numberOfHMetrics: errors.append('counts')
print('glyphs', sub['maxp'].numGlyphs, 'errors', errors)
)PY";
  const std::string text = "A BC\xB0\xB5\xC4\xC4\x80";  // A space B C ° µ Ä Ä €
  std::vector<uint16_t> buffer;
  std::string codes;
  for (unsigned char c : text) {
    buffer.push_back(c);
    codes += (codes.empty() ? "" : ",") + std::to_string(c);
  }
  TempDir dir;
  for (const std::string& file : SansFiles()) {
    auto face = platform::FontFace::FromFile(file);
    std::string program;
    TTrueTypeTables().GetFontEnsemble(*face, program, buffer);
    WriteFile(dir.File("simple.ttf"), program);
    const auto r = RunPython(script, file + " " + dir.File("simple.ttf") + " " + codes);
    ASSERT_EQ(r.exit_code, 0) << file << "\n" << r.output;
    EXPECT_THAT(r.output, ::testing::HasSubstr("tables cmap cvt_ fpgm glyf head hhea hmtx loca maxp post prep"));
    EXPECT_THAT(r.output, ::testing::HasSubstr("errors []")) << file << "\n" << r.output;
    // A, B, C, °, µ, Ä, € plus the box and the space; Ä brings its components along.
    const platform::SfntDirectory d =
        platform::SfntDirectory::Parse(std::span(reinterpret_cast<const uint8_t*>(program.data()), program.size()));
    const uint16_t glyphs = platform::BeReader(*d.Find(platform::SfntTag("maxp")), "maxp").U16(4);
    EXPECT_GE(glyphs, 2 + 7 + 1);
    // FreeType draws what we wrote.
    auto subset = platform::FontFace::FromMemory(std::vector<uint8_t>(program.begin(), program.end()));
    platform::TGlyphImage img;
    for (uint32_t g = 0; g < glyphs; ++g) {
      ASSERT_TRUE(subset->RenderGlyph(g, 24, false, false, img)) << g;
      if (g != 1) {
        EXPECT_GT(img.Width * img.Rows, 0) << g;
      }
    }
  }
  std::string none;
  TTrueTypeTables().GetFontEnsemble("Arial", 0, none, {});
  EXPECT_TRUE(none.empty());
}

// Fonts made from Liberation Sans by fontTools, each missing what one error is about.
TEST(TrueTypeTablesTest, MissingTablesGiveTheirMessagesAndAFontWithoutHintingTablesHasSeven) {
  if (FontToolsPython().empty()) GTEST_SKIP() << "python3-fonttools is not installed";
  const char* script = R"PY(
import sys
from fontTools.ttLib import TTFont
src, out = sys.argv[1], sys.argv[2]
def save(name, fn):
    t = TTFont(src); fn(t); t.save(out + '/' + name + '.ttf')
def nohint(t):
    del t['cvt ']; del t['fpgm']
def nowin(t):
    t['cmap'].tables = [s for s in t['cmap'].tables if s.platformID != 3 and s.platformID != 0]
save('nohint', nohint)
save('nowin', nowin)
save('nopost', lambda t: t.__delitem__('post'))
save('nohhea', lambda t: t.__delitem__('hhea'))
)PY";
  TempDir dir;
  const std::string src = SansFiles().front();
  const auto r = RunPython(script, src + " " + dir.Path());
  ASSERT_EQ(r.exit_code, 0) << r.output;

  // The glyf table goes missing by renaming its tag in our own copy.
  std::vector<uint8_t> noGlyf = testing::ReadBytes(src);
  const platform::SfntDirectory d = platform::SfntDirectory::Parse(noGlyf);
  for (size_t i = 0; i < d.Records().size(); ++i) {
    if (d.Records()[i].Tag == platform::SfntTag("glyf")) noGlyf[12 + 16 * i] = 'x';
  }
  struct Case {
    std::shared_ptr<platform::FontFace> face;
    const char* message;
  };
  const std::vector<Case> cases = {
      {platform::FontFace::FromFile(dir.File("nowin.ttf")), "Cannot load font CMAP table"},
      {platform::FontFace::FromFile(dir.File("nopost.ttf")), "Cannot load POST table"},
      {platform::FontFace::FromFile(dir.File("nohhea.ttf")), "Cannot load required table"},
      {platform::FontFace::FromMemory(noGlyf), "Cannot load GLYPH table"},
  };
  const std::vector<uint16_t> ab = Units(u"AB");
  for (const Case& c : cases) {
    std::string out;
    try {
      TTrueTypeTables().GetFontLongEnsemble(*c.face, out, ab);
      ADD_FAILURE() << "no error, expected " << c.message;
    } catch (const EMRVXError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }

  std::string program;
  TTrueTypeTables().GetFontLongEnsemble(*platform::FontFace::FromFile(dir.File("nohint.ttf")), program, ab);
  const platform::BeReader h(std::span(reinterpret_cast<const uint8_t*>(program.data()), program.size()), "font");
  EXPECT_EQ(h.U16(4), 7);
  EXPECT_EQ(h.U16(6), 64);
  EXPECT_EQ(h.U16(8), 2);
  EXPECT_EQ(h.U16(10), 48);
}

// Damaged fonts: random bytes in the tables the reader walks, cut files, and a composite glyph
// that names itself. Every task ends, either with a program or with an EMRVXError.
TEST(TrueTypeTablesTest, DamagedFontsEndInAnErrorOrAProgramNeverInACrash) {
  const std::vector<uint8_t> font = testing::ReadBytes(SansFiles().front());
  const platform::SfntDirectory d = platform::SfntDirectory::Parse(font);
  auto record = [&](const char(&tag)[5]) {
    for (const auto& r : d.Records()) {
      if (r.Tag == platform::SfntTag(tag)) return r;
    }
    return platform::SfntTableRecord{};
  };
  std::vector<std::vector<uint8_t>> damaged;
  std::mt19937 rng(20261210);
  for (const char* tag : {"cmap", "loca", "glyf", "hhea", "maxp", "head", "hmtx"}) {
    const platform::SfntTableRecord rec = record(reinterpret_cast<const char(&)[5]>(*tag));
    const size_t span = std::min<size_t>(rec.Length, 64);
    for (int n = 0; n < 12; ++n) {
      std::vector<uint8_t> f = font;
      for (int k = 0; k < 4; ++k) f[rec.Offset + rng() % span] = static_cast<uint8_t>(rng());
      damaged.push_back(std::move(f));
    }
  }
  for (size_t len : {size_t{100}, font.size() / 2, font.size() - 3}) damaged.emplace_back(font.begin(), font.begin() + static_cast<ptrdiff_t>(len));

  // Ä's first component made to point at Ä itself.
  {
    std::vector<CDescript> cd;
    TTrueTypeTables().CharacterDescription(cd, *platform::FontFace::FromMemory(font));
    const uint16_t g = cd[0xC4].Index;
    const platform::SfntTableRecord loca = record("loca"), glyf = record("glyf");
    const std::span<const uint8_t> all(font);
    const platform::BeReader lr(all.subspan(loca.Offset, loca.Length), "loca");
    const bool longLoca = platform::BeReader(all.subspan(record("head").Offset, 54), "head").S16(50) == 1;
    const size_t at = glyf.Offset + (longLoca ? lr.U32(4 * size_t{g}) : 2 * size_t{lr.U16(2 * size_t{g})});
    std::vector<uint8_t> f = font;
    ASSERT_EQ(f[at], 0xFF);  // a composite
    f[at + 12] = static_cast<uint8_t>(g >> 8);
    f[at + 13] = static_cast<uint8_t>(g & 0xFF);
    damaged.push_back(std::move(f));
  }

  const std::vector<uint16_t> text = Units(u"AÄé€ fi");
  const std::vector<uint16_t> bytes = {'A', 0xC4, 0xE9, 0x80, ' '};
  size_t programs = 0, errors = 0;
  for (const std::vector<uint8_t>& f : damaged) {
    std::shared_ptr<platform::FontFace> face;
    try {
      face = platform::FontFace::FromMemory(f);
    } catch (const platform::EFontError&) {
      ++errors;
      continue;
    }
    for (int task = 0; task < 3; ++task) {
      try {
        std::string out;
        std::vector<CDescript> cd;
        if (task == 0) TTrueTypeTables().CharacterDescription(cd, *face);
        if (task == 1) TTrueTypeTables().GetFontLongEnsemble(*face, out, text);
        if (task == 2) TTrueTypeTables().GetFontEnsemble(*face, out, bytes);
        ++programs;
      } catch (const EMRVXError&) {
        ++errors;
      }
    }
  }
  EXPECT_GT(programs, 0u);
  EXPECT_GT(errors, 0u);
}

TEST(TrueTypeTablesTest, CodePagesOfCharacterSets) {
  struct Case {
    uint8_t charset;
    int32_t codePage;
  };
  for (const Case& c : {Case{0, 1252}, Case{1, 1252}, Case{77, 10000}, Case{128, 932}, Case{129, 949},
                        Case{130, 1361}, Case{134, 936}, Case{136, 950}, Case{161, 1253}, Case{162, 1254},
                        Case{163, 1258}, Case{177, 1255}, Case{178, 1256}, Case{186, 1257}, Case{204, 1251},
                        Case{222, 874}, Case{238, 1250}, Case{2, 1252}, Case{255, 1252}}) {
    EXPECT_EQ(TTrueTypeTables::GetCodepage(c.charset), c.codePage) << int(c.charset);
  }
  TTrueTypeTables t;
  EXPECT_EQ(t.ConvertFromUnicode(0x20AC), 0x80);
  EXPECT_EQ(t.ConvertFromUnicode(0x0416), 0);  // Ж is no Western character
  t.FCharSet = 204;
  EXPECT_EQ(t.ConvertFromUnicode(0x0416), 0xC6);
}

}  // namespace
}  // namespace pdfwriter
