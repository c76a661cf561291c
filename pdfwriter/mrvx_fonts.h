#pragma once
// The TrueType reader and subsetter of the PDF writer. Fonts are embedded as subsets: only
// the outlines of the characters used on a page go into the file.
//
// - CharacterDescription: every UTF-16 code unit's glyph number and advance (at 1000 units
//   per em), for Unicode text and the "W" array of composite fonts.
// - GetFontLongEnsemble: the program of a composite (Type0/CIDFontType2) font. Glyph numbers
//   stay those of the font; glyphs that are not needed keep their slot with an empty outline.
// - GetFontEnsemble: the program of a simple TrueType font for 8-bit text. Glyphs are
//   renumbered (0 a box, 1 the space, then the characters in code order, then glyphs used only
//   as components), with its own character maps: (1,0) by code and (3,0) at 0xF000 + code.
//
// A builder is made for one task and dropped. Every table is read with bounds checks; a
// damaged font raises EMRVXError and never reads outside its bytes.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/fonts/font_face.h"

namespace pdfwriter {

// One code unit's glyph number and its advance at 1000 units per em.
struct CDescript {
  uint16_t Index = 0;
  int32_t Width = 0;
};

// Number of entries of a description table: code units 0 to 65534.
inline constexpr size_t kCharacterDescriptionSize = 65535;

class TTrueTypeTables {
 public:
  // Finds the face of a font name and style. The default asks the font provider and falls
  // back to the Unicode font when the name is not installed.
  using TFaceResolver =
      std::function<std::shared_ptr<const platform::FontFace>(const std::string& FontName, platform::TFontStyles)>;

  TTrueTypeTables();
  explicit TTrueTypeTables(TFaceResolver resolver);

  // Windows character set of the 8-bit codes (0 ANSI, 1 default, 238 Eastern Europe ...).
  int32_t FCharSet = 0;

  // Fills CDArray with kCharacterDescriptionSize entries; characters outside the character map
  // get glyph 0 and width 0.
  void CharacterDescription(std::vector<CDescript>& CDArray, const std::string& FontName,
                            platform::TFontStyles FontStyle);
  void CharacterDescription(std::vector<CDescript>& CDArray, const platform::FontFace& Face);

  // The composite-font program for the UTF-16 code units given (replaces OutStream).
  void GetFontLongEnsemble(const std::string& FontName, platform::TFontStyles FontStyle, std::string& OutStream,
                           std::span<const uint16_t> CharsetBuffer);
  void GetFontLongEnsemble(const platform::FontFace& Face, std::string& OutStream,
                           std::span<const uint16_t> CharsetBuffer);

  // The simple-font program for the 8-bit codes given (one per 16-bit slot). Writes nothing
  // (OutStream left empty) for an empty buffer.
  void GetFontEnsemble(const std::string& FontName, platform::TFontStyles FontStyle, std::string& OutStream,
                       std::span<const uint16_t> CharsetBuffer);
  void GetFontEnsemble(const platform::FontFace& Face, std::string& OutStream, std::span<const uint16_t> CharsetBuffer);

  // The 8-bit code of a code unit in the code page of FCharSet; 0 when it has none.
  uint16_t ConvertFromUnicode(uint16_t ID) const;
  // The code unit of an 8-bit code in the code page of FCharSet; 0 when the byte is no character.
  uint16_t ConvertToUnicode(uint8_t Code) const;
  // The Windows code page of a character set (1252 for ANSI and anything unknown).
  static int32_t GetCodepage(uint8_t Charset);

 private:
  std::shared_ptr<const platform::FontFace> Resolve(const std::string& FontName, platform::TFontStyles FontStyle) const;

  TFaceResolver resolver_;
};

// The replacement glyph 0 of simple-font programs: a two-contour box, 256 0 1280 1280.
std::span<const uint8_t> MarkGlyf();

}  // namespace pdfwriter
