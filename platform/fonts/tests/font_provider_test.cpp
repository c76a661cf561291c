#include "platform/fonts/font_provider.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "platform/fonts/tests/font_test_support.h"

namespace platform {
namespace {

TEST(FontProviderTest, InstalledOnlyByOwnNameOrMetricAlias) {
  struct Case {
    const char* name;
    const char* family;  // nullptr: not installed
  };
  for (const Case& c : {Case{"Arial", "Liberation Sans"}, Case{"helvetica", "Liberation Sans"},
                        Case{"Arial Narrow", "Liberation Sans Narrow"}, Case{"Times New Roman", "Liberation Serif"},
                        Case{"Courier New", "Liberation Mono"}, Case{"Arial Unicode MS", "DejaVu Sans"},
                        Case{"Liberation Sans", "Liberation Sans"}, Case{"dejavu sans", "DejaVu Sans"},
                        Case{"Tahoma Italic", nullptr}, Case{"No Such Family", nullptr}, Case{"", nullptr}}) {
    const TFontRef ref = FontProvider::Default().Find(c.name);
    if (!c.family) {
      EXPECT_FALSE(ref) << c.name;
      continue;
    }
    ASSERT_TRUE(ref) << c.name;
    EXPECT_EQ(ref.Family, c.family);
    EXPECT_TRUE(ref.Face->IsTrueType());
  }
  EXPECT_EQ(FontProvider::Default().FindOrFallback("No Such Family").Family, "DejaVu Sans");
}

TEST(FontProviderTest, StylesPickTheStyledFacesAndFacesAreShared) {
  FontProvider& p = FontProvider::Default();
  const TFontRef regular = p.Find("Arial");
  const TFontRef bold = p.Find("Arial", fsBold);
  const TFontRef italic = p.Find("Arial", fsItalic);
  const TFontRef both = p.Find("Arial", fsBold | fsItalic | fsUnderline);
  EXPECT_FALSE(regular.Face->Metrics().Bold);
  EXPECT_TRUE(bold.Face->Metrics().Bold);
  EXPECT_FALSE(bold.SyntheticBold);
  EXPECT_TRUE(italic.Face->Metrics().Italic);
  EXPECT_TRUE(both.Face->Metrics().Bold && both.Face->Metrics().Italic);
  EXPECT_NE(regular.Face, bold.Face);
  // The alias and the family itself share one face object.
  EXPECT_EQ(regular.Face, p.Find("Liberation Sans").Face);
  EXPECT_EQ(regular.Face, p.Find("ARIAL").Face);
}

TEST(FontProviderTest, ArialMetricsAtAThousandUnitEm) {
  const TFontRef arial = FontProvider::Default().Find("Arial");
  const TFontMetrics& m = arial.Face->Metrics();
  EXPECT_EQ(m.Ascent, 905);
  EXPECT_EQ(m.Descent, 212);
  EXPECT_EQ(m.InternalLeading, 117);
  EXPECT_EQ(arial.Face->GlyphIndex(U'A'), 36u);
  EXPECT_EQ(arial.Face->CharABC(U'A').Advance(), 667);
  EXPECT_FALSE(m.FixedPitch);
  EXPECT_TRUE(FontProvider::Default().Find("Courier New").Face->Metrics().FixedPitch);
}

// Every metric against fontTools reading the same files.
TEST(FontProviderTest, MetricsAgreeWithFontTools) {
  if (fonttest::FontToolsPython().empty()) GTEST_SKIP() << "python3-fonttools is not installed";
  const char* script = R"PY(
import sys
from fontTools.ttLib import TTFont
t = TTFont(sys.argv[1])
upm = t['head'].unitsPerEm
os2 = t['OS/2']
s = lambda v: int(round(v * 1000.0 / upm + (1e-9 if v >= 0 else -1e-9)))
cm = t.getBestCmap()
out = [s(os2.usWinAscent), s(os2.usWinDescent), s(os2.xAvgCharWidth), t['post'].italicAngle,
       1 if t['post'].isFixedPitch else 0, s(os2.sTypoDescender)]
for ch in 'AWi\u00c4\u20ac':
    g = cm.get(ord(ch), '.notdef')
    out += [t.getGlyphID(g), s(t['hmtx'][g][0])]
print(' '.join(str(v) for v in out))
)PY";
  for (auto [name, style] : {std::pair{"Arial", TFontStyles{0}}, std::pair{"Times New Roman", fsItalic},
                             std::pair{"Courier New", fsBold}, std::pair{"Arial Narrow", TFontStyles{0}},
                             std::pair{"DejaVu Sans", TFontStyles{0}}}) {
    const TFontRef ref = FontProvider::Default().Find(name, style);
    ASSERT_TRUE(ref) << name;
    const fonttest::ToolResult r = fonttest::RunPython(script, ref.Face->FilePath());
    ASSERT_EQ(r.exit_code, 0) << r.output;
    std::istringstream in(r.output);
    int ascent, descent, avg, fixed, typoDescent;
    double angle;
    in >> ascent >> descent >> avg >> angle >> fixed >> typoDescent;
    const TFontMetrics& m = ref.Face->Metrics();
    EXPECT_EQ(m.Ascent, ascent) << name;
    EXPECT_EQ(m.Descent, descent) << name;
    EXPECT_EQ(m.AveCharWidth, avg) << name;
    EXPECT_DOUBLE_EQ(m.ItalicAngle, angle) << name;
    EXPECT_EQ(m.FixedPitch, fixed == 1) << name;
    EXPECT_EQ(m.OutlineDescent, typoDescent) << name;
    for (char32_t ch : {U'A', U'W', U'i', U'\u00C4', U'\u20AC'}) {
      unsigned glyph;
      int advance;
      in >> glyph >> advance;
      EXPECT_EQ(ref.Face->GlyphIndex(ch), glyph) << name << " U+" << std::hex << unsigned(ch);
      EXPECT_EQ(ref.Face->CharABC(ch).Advance(), advance) << name << " U+" << std::hex << unsigned(ch);
    }
  }
}

TEST(FontFaceTest, DamagedFontsRaiseInsteadOfReadingBeyondTheirBytes) {
  const std::vector<uint8_t> bytes = fonttest::ReadBytes(FontProvider::Default().Find("Arial").Face->FilePath());
  const SfntDirectory d = SfntDirectory::Parse(bytes);
  auto offsetOf = [&](const char(&tag)[5]) {
    for (const SfntTableRecord& r : d.Records()) {
      if (r.Tag == SfntTag(tag)) return static_cast<size_t>(r.Offset);
    }
    return size_t{0};
  };
  std::vector<std::vector<uint8_t>> damaged;
  for (size_t len : {size_t{200}, size_t{5000}, bytes.size() / 3, bytes.size() - 7}) {
    damaged.emplace_back(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(len));
  }
  std::vector<uint8_t> zeroUpm(bytes);
  zeroUpm[offsetOf("head") + 18] = 0;
  zeroUpm[offsetOf("head") + 19] = 0;
  damaged.push_back(zeroUpm);
  std::vector<uint8_t> wildLoca(bytes);
  for (size_t i = 0; i < 64; ++i) wildLoca[offsetOf("loca") + i] = 0xFF;
  damaged.push_back(wildLoca);

  for (std::vector<uint8_t>& font : damaged) {
    try {
      std::shared_ptr<FontFace> face = FontFace::FromMemory(font);
      (void)face->Metrics();
      for (char32_t ch : {U'A', U'\u00C4', U'z'}) {
        const TABC abc = face->CharABC(ch);
        TGlyphImage img;
        face->RenderGlyph(face->GlyphIndex(ch), 20, false, false, img);
        EXPECT_LE(static_cast<size_t>(img.Width) * img.Rows, img.Coverage.size());
        (void)abc;
      }
    } catch (const EFontError&) {
      // A clear error is one of the two acceptable outcomes.
    }
  }
}

}  // namespace
}  // namespace platform
