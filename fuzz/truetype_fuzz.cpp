// TrueType font files: the reader (table directory, metrics, glyph widths, rendering) and the
// subsetter of the PDF writer. Any file is refused with a font or writer error, or gives
// subsets that are themselves fonts the reader accepts.
#include "fuzz/fuzz_support.h"
#include "pdfwriter/mrvx_fonts.h"
#include "pdfwriter/mrvx_types.h"
#include "platform/fonts/font_face.h"
#include "platform/fonts/sfnt.h"

namespace {

void CheckIsFont(const std::string& program) {
  if (program.empty()) return;
  const std::vector<uint8_t> bytes(program.begin(), program.end());
  platform::SfntDirectory::Parse(bytes);
  const auto face = platform::FontFace::FromMemory(bytes);
  FUZZ_CHECK(face->IsTrueType());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  std::shared_ptr<platform::FontFace> face;
  try {
    const int faces = platform::SfntDirectory::FaceCount(bytes);
    face = platform::FontFace::FromMemory(bytes, faces > 1 ? 1 : 0);
    face->Metrics();
    for (uint32_t g : {0u, 1u, 3u, face->NumGlyphs() - 1}) face->GlyphABC(g);
    for (char32_t c : {U'A', U'g', U'\u00B5', U'\u20AC'}) face->GlyphIndex(c);
    platform::TGlyphImage image;
    face->RenderGlyph(face->GlyphIndex(U'A'), 24, size % 2 == 0, size % 3 == 0, image);
  } catch (const platform::EFontError&) {
    return 0;
  }
  if (!face->IsTrueType()) return 0;
  const std::vector<uint16_t> wide = {'A', 'g', ' ', '1', 0x00B5, 0x00E9, 0x20AC, 0x0301};
  const std::vector<uint16_t> narrow = {'A', 'g', ' ', '1', 0xB5, 0xE9, 0x80};
  pdfwriter::TTrueTypeTables tables;
  try {
    std::vector<pdfwriter::CDescript> cd;
    tables.CharacterDescription(cd, *face);
    FUZZ_CHECK(cd.size() == pdfwriter::kCharacterDescriptionSize);
    std::string program;
    tables.GetFontLongEnsemble(*face, program, wide);
    CheckIsFont(program);
    program.clear();
    tables.GetFontEnsemble(*face, program, narrow);
    CheckIsFont(program);
  } catch (const pdfwriter::EMRVXError&) {
  } catch (const platform::EFontError&) {
  }
  return 0;
}
