#pragma once
// Finding installed faces by family and style, in place of the Windows font enumeration.
//
// A family counts as installed only when fontconfig finds it by its own name or by one of
// the metric-compatible aliases below; fontconfig's habit of answering every request with
// some face would otherwise make every name "installed" and hide a missing font.
//
//   Arial, Helvetica     -> Liberation Sans        Times New Roman -> Liberation Serif
//   Arial Narrow         -> Liberation Sans Narrow Courier New     -> Liberation Mono
//   Arial Unicode MS (the Unicode fallback)        -> DejaVu Sans
//
// Only TrueType-outline faces count (the PDF writer embeds and subsets them). Faces are
// cached: asking again for a family and style costs a map lookup.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>

#include "platform/fonts/font_face.h"

namespace platform {

// A face chosen for a family and style. When the family has no bold (italic) face, the
// regular face is chosen and the rasteriser imitates the style.
struct TFontRef {
  std::shared_ptr<const FontFace> Face;
  std::string Family;  // the family of the face found
  bool SyntheticBold = false;
  bool SyntheticItalic = false;
  explicit operator bool() const { return Face != nullptr; }
};

class FontProvider {
 public:
  // The family that stands in for every font that is not installed.
  static constexpr const char* kUnicodeFallback = "Arial Unicode MS";

  FontProvider();
  ~FontProvider();
  FontProvider(const FontProvider&) = delete;
  FontProvider& operator=(const FontProvider&) = delete;

  // The process-wide provider.
  static FontProvider& Default();

  // The installed face for a family (case does not matter) and the bold/italic bits of a
  // style; an empty reference when the family is not installed. Throws EFontError only when
  // an installed face's file cannot be read.
  TFontRef Find(std::string_view family, TFontStyles style = 0);
  bool IsInstalled(std::string_view family) { return static_cast<bool>(Find(family, 0)); }
  // Find, or the Unicode fallback's face when the family is not installed.
  TFontRef FindOrFallback(std::string_view family, TFontStyles style = 0);

  // The metric-compatible family that stands for a name, or an empty view.
  static std::string_view AliasOf(std::string_view family);

 private:
  TFontRef Lookup(const std::string& family, TFontStyles style);
  std::shared_ptr<const FontFace> Load(const std::string& path, int index);

  std::mutex mutex_;
  void* config_ = nullptr;  // FcConfig
  std::map<std::tuple<std::string, bool, bool>, TFontRef> found_;
  std::map<std::pair<std::string, int>, std::shared_ptr<const FontFace>> faces_;
};

}  // namespace platform
