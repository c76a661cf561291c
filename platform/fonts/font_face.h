#pragma once
// One TrueType face: the file's bytes, its table directory, the metrics the way the Windows
// font calls define them (at a 1000-unit em), ABC widths, and glyph images through FreeType.
//
// A face is immutable once made and may be shared between threads; FreeType work on it is
// serialised by the face itself. Everything that reads the file checks it: a damaged font
// raises EFontError and never reads outside its bytes.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/fonts/sfnt.h"

namespace platform {

// Font styles as a set of bits: bold 1, italic 2, underline 4, strike-out 8.
using TFontStyles = uint8_t;
constexpr TFontStyles fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;

// Metrics of a face at an em of 1000 units, as the Windows text metrics define them for a
// logical font of height -1000.
struct TFontMetrics {
  int UnitsPerEm = 0;
  int Ascent = 0;           // usWinAscent (hhea ascender without OS/2)
  int Descent = 0;          // usWinDescent, positive below the baseline
  int Height = 0;           // Ascent + Descent
  int InternalLeading = 0;  // Height - 1000, never negative
  int ExternalLeading = 0;  // the line gap beyond Height
  int AveCharWidth = 0;     // xAvgCharWidth
  int MaxCharWidth = 0;     // advanceWidthMax
  bool FixedPitch = false;  // post.isFixedPitch
  double ItalicAngle = 0;   // degrees, negative for a right-leaning italic
  // Outline metrics (typographic values of OS/2, hhea without it); descent is negative.
  int OutlineAscent = 0;
  int OutlineDescent = 0;
  int CapHeight = 0;  // OS/2 sCapHeight, else the ascent
  // Font bounding box: left, bottom, right, top.
  int BBox[4] = {0, 0, 0, 0};
  // Underline below the baseline (negative = below), strike-out above it.
  int UnderlinePosition = 0;
  int UnderlineThickness = 0;
  int StrikeoutPosition = 0;
  int StrikeoutSize = 0;
  int WeightClass = 400;
  bool Bold = false;    // the face itself is bold (weight 600 and more, or the style bits)
  bool Italic = false;  // the face itself is italic or oblique
};

// The spacing of one glyph at a 1000-unit em: A before the black box, B the box, C after it;
// A + B + C is the advance.
struct TABC {
  int A = 0;
  int B = 0;
  int C = 0;
  int Advance() const { return A + B + C; }
};

// An anti-aliased glyph image: coverage 0..255, Rows x Width bytes, Pitch apart. Left is the
// offset of the first column from the pen position, Top the height of the first row above
// the baseline. Advance is the hinted advance in whole pixels.
struct TGlyphImage {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Rows = 0;
  int Pitch = 0;
  int Advance = 0;
  std::vector<uint8_t> Coverage;
};

class FontFace {
 public:
  // Reads a font file. Throws EFontError when it cannot be read or is not a TrueType file.
  static std::shared_ptr<FontFace> FromFile(const std::string& path, int faceIndex = 0);
  // A face over bytes in memory (the face keeps them).
  static std::shared_ptr<FontFace> FromMemory(std::vector<uint8_t> bytes, int faceIndex = 0);

  ~FontFace();
  FontFace(const FontFace&) = delete;
  FontFace& operator=(const FontFace&) = delete;

  const std::string& FilePath() const { return path_; }
  int FaceIndex() const { return index_; }
  // Glyph outlines in the TrueType form (glyf, loca, head present): the only faces that can be
  // embedded and subset.
  bool IsTrueType() const;

  // The raw bytes of a table, or nothing when the face has none.
  std::optional<std::span<const uint8_t>> Table(uint32_t tag) const { return directory_.Find(tag); }
  const SfntDirectory& Directory() const { return directory_; }
  std::span<const uint8_t> FileBytes() const { return bytes_; }

  // Throws EFontError when head, hhea or the OS/2/post fields it reads are damaged.
  const TFontMetrics& Metrics() const;
  // Glyph of a character through the face's Unicode map; 0 when it has none.
  uint32_t GlyphIndex(char32_t c) const;
  uint32_t NumGlyphs() const;
  // ABC widths at a 1000-unit em; a glyph the face does not have gives the missing glyph's.
  TABC GlyphABC(uint32_t glyph) const;
  TABC CharABC(char32_t c) const { return GlyphABC(GlyphIndex(c)); }

  // The glyph rendered at an em of emPixels pixels, hinted. embolden and oblique imitate a
  // bold or italic face the family lacks. False when the glyph cannot be rendered.
  bool RenderGlyph(uint32_t glyph, int emPixels, bool embolden, bool oblique, TGlyphImage& out) const;
  // The hinted advance of a glyph at emPixels, in whole pixels (no rendering).
  int PixelAdvance(uint32_t glyph, int emPixels, bool embolden) const;

 private:
  FontFace() = default;
  struct FreeTypeState;
  FreeTypeState& FT() const;  // created on first use; caller holds mutex_

  std::string path_;
  int index_ = 0;
  std::vector<uint8_t> bytes_;
  SfntDirectory directory_;

  mutable std::mutex mutex_;
  mutable std::unique_ptr<FreeTypeState> ft_;
  mutable std::optional<TFontMetrics> metrics_;
};

}  // namespace platform
