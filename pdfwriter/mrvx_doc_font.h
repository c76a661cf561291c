#pragma once
// A font as used on a page (part of the MRVXDoc module, split off for size). The page's
// current font collects which characters the text drawn in it uses; every font used for text
// is copied into the page's font list, and when the page is closed each entry becomes a font
// resource: a standard font without a program, a simple TrueType font with an embedded
// subset, or a composite font (Type0 over a CIDFontType2) for Unicode text.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdfwriter/mrvx_doc_page.h"
#include "pdfwriter/mrvx_fonts.h"
#include "platform/fonts/font_face.h"

namespace pdfwriter {

// Whether a UTF-16 code unit is used with a font, and the glyph written for it.
struct IndexedChar {
  bool CharCode = false;
  int32_t Index = 0;
};

class TMRVXFontObj {
 public:
  std::string Name;     // PDF base font name (after the standard-name mapping)
  float Size = 0;       // points, for "Tf"
  int32_t ArrIndex = -1;
  bool Saved = false;   // has a copy in the page's font list
  std::string OldName;  // the face name as requested; every font query uses it
  int32_t Ascent = 0;   // at a 1000-unit em
  bool FActive = false; // Symbols is loaded
  bool IsUsed = false;  // selected into the content and not yet stored
  int32_t UniLen = 0;
  int32_t FontLen = 0;  // character height without internal leading, 1000-unit em
  bool IsUnicode = false;
  bool IsVertical = false;
  std::string OrdinalName;  // "F<n>"
  bool IsStandard = false;
  TFontStyles FontStyle = 0;
  uint8_t FontCharset = 0;
  bool IsMonospaced = false;
  platform::TFontMetrics OutTextM;
  std::array<platform::TABC, 256> ABCArray{};
  // Glyph and width per code unit 0..65534, shared between the font objects of one face.
  std::shared_ptr<const std::vector<CDescript>> Symbols;
  std::vector<IndexedChar> UnicodeTable;
  std::array<bool, 256> SymbolTable{};  // the 8-bit codes used (32..255)

  // No code used yet: ArrIndex -1, codes 32 and 33 marked, no code units.
  void ClearTables();
  // OldName := Name, then Name and IsStandard by the standard-name mapping.
  void ParseFontName();
  // Ascent, monospace flag, FontLen, ABC widths and outline metrics of OldName in FontStyle.
  void GetFontFeatures();
  // Advance of the character at 1-based position APos at a 1000-unit em.
  int32_t GetCharWidth(std::string_view AText, size_t APos) const;
  int32_t CharAdvance(uint8_t c) const;
  // Metrics, ABC widths and 8-bit usage from InFnt; code-unit usage and glyph table too when
  // this font is used for Unicode text, otherwise both are emptied.
  void CopyFontFetures(const TMRVXFontObj& InFnt);
  // Fills Symbols for OldName and FontStyle (CharacterDescription) and sets FActive.
  void LoadSymbols();
  // The description of a code unit; 0xFFFF (outside the table) has glyph 0 and width 0.
  CDescript Symbol(uint16_t u) const;
};

// The six-letter tag of an embedded subset's name ("ABCDEF+"), one per font resource number.
std::string SubsetTag(int32_t ObjectNumber);

// The ToUnicode map of a composite font: glyph numbers to the code units drawn with them, in
// blocks of at most 100 mappings.
std::string ToUnicodeCMap(std::string_view Name, const std::vector<std::pair<uint16_t, uint16_t>>& GlyphToUnit);

}  // namespace pdfwriter
