// Goals of the font layer (Release build): a one-page report-like document (20 text lines in
// two fonts, subsets embedded) written to memory in under 50 ms, and subsetting Liberation
// Sans for 100 glyphs in under 10 ms. The first iteration pays for reading the font files;
// the process keeps faces and glyph tables afterwards, as a running program does.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/mrvx_doc_page.h"
#include "pdfwriter/mrvx_fonts.h"
#include "platform/fonts/canvas_text.h"
#include "platform/fonts/font_provider.h"

namespace {

void BM_ReportPageTwoFonts(benchmark::State& state) {
  platform::ManualClock clock(45000);
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out;
    pdfwriter::TMorvex doc(&clock);
    doc.Launcher = nullptr;
    doc.SetOutputStream(&out);
    doc.BeginDoc();
    pdfwriter::TMRVXPage& p = *doc.CurrentPage();
    for (int line = 0; line < 20; ++line) {
      const float y = 80 + 25.0f * line;
      p.SetFont("Arial", pdfwriter::fsBold, 11, 0, false);
      p.UnicodeTextOut(40, y, 0, u"Dot area ÄÖÜ µm²:");
      p.SetFont("Times New Roman", 0, 10, 0, false);
      const std::u16string value = u"12.34 % ± 0.5 " + std::u16string(1, static_cast<char16_t>(u'A' + line));
      p.UnicodeTextOut(555 - p.TextWidth(value), y, 0, value);
    }
    doc.EndDoc();
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ReportPageTwoFonts)->Unit(benchmark::kMillisecond);

std::vector<uint16_t> HundredCodeUnits() {
  std::vector<uint16_t> units;
  for (uint16_t c = 32; c < 127; ++c) units.push_back(c);
  for (uint16_t c : {0xC4, 0xD6, 0xDC, 0xB5, 0x20AC}) units.push_back(c);
  return units;
}

void BM_SubsetSansHundredGlyphsComposite(benchmark::State& state) {
  const auto face = platform::FontProvider::Default().Find("Liberation Sans").Face;
  const std::vector<uint16_t> units = HundredCodeUnits();
  std::string program;
  for (auto _ : state) {
    pdfwriter::TTrueTypeTables().GetFontLongEnsemble(*face, program, units);
    benchmark::DoNotOptimize(program.data());
  }
  state.counters["bytes"] = static_cast<double>(program.size());
}
BENCHMARK(BM_SubsetSansHundredGlyphsComposite)->Unit(benchmark::kMillisecond);

void BM_SubsetSansHundredGlyphsSimple(benchmark::State& state) {
  const auto face = platform::FontProvider::Default().Find("Liberation Sans").Face;
  std::vector<uint16_t> codes;
  for (uint16_t c = 32; c < 132; ++c) codes.push_back(c);
  std::string program;
  for (auto _ : state) {
    pdfwriter::TTrueTypeTables().GetFontEnsemble(*face, program, codes);
    benchmark::DoNotOptimize(program.data());
  }
  state.counters["bytes"] = static_cast<double>(program.size());
}
BENCHMARK(BM_SubsetSansHundredGlyphsSimple)->Unit(benchmark::kMillisecond);

void BM_CharacterDescription(benchmark::State& state) {
  const auto face = platform::FontProvider::Default().Find("DejaVu Sans").Face;
  std::vector<pdfwriter::CDescript> cd;
  for (auto _ : state) {
    pdfwriter::TTrueTypeTables().CharacterDescription(cd, *face);
    benchmark::DoNotOptimize(cd.data());
  }
}
BENCHMARK(BM_CharacterDescription)->Unit(benchmark::kMillisecond);

void BM_CanvasTextLine(benchmark::State& state) {
  platform::Bitmap bmp(1280, 1024);
  platform::TCanvasFont font;
  font.Name = "Arial Narrow";
  font.Size = 11;
  platform::TTextOptions opt;
  opt.Opaque = true;
  for (auto _ : state) {
    benchmark::DoNotOptimize(platform::TextOut(bmp, 20, 20, u"Dot area 12.34 %  Ruling 60.0 L/cm  Angle 45.0°", font, opt));
  }
}
BENCHMARK(BM_CanvasTextLine)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
