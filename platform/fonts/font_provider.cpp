#include "platform/fonts/font_provider.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace platform {

namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return r;
}

struct Alias {
  std::string_view name;  // lower case
  std::string_view family;
};

constexpr std::array<Alias, 6> kAliases = {{
    {"arial", "Liberation Sans"},
    {"helvetica", "Liberation Sans"},
    {"arial narrow", "Liberation Sans Narrow"},
    {"times new roman", "Liberation Serif"},
    {"courier new", "Liberation Mono"},
    {"arial unicode ms", "DejaVu Sans"},
}};

}  // namespace

FontProvider::FontProvider() { config_ = FcInitLoadConfigAndFonts(); }

FontProvider::~FontProvider() {
  if (config_) FcConfigDestroy(static_cast<FcConfig*>(config_));
}

FontProvider& FontProvider::Default() {
  static FontProvider provider;
  return provider;
}

std::string_view FontProvider::AliasOf(std::string_view family) {
  const std::string key = Lower(family);
  for (const Alias& a : kAliases) {
    if (a.name == key) return a.family;
  }
  return {};
}

TFontRef FontProvider::Find(std::string_view family, TFontStyles style) {
  const bool bold = (style & fsBold) != 0;
  const bool italic = (style & fsItalic) != 0;
  std::lock_guard lock(mutex_);
  auto key = std::make_tuple(Lower(family), bold, italic);
  if (auto it = found_.find(key); it != found_.end()) return it->second;
  TFontRef ref = Lookup(std::string(family), style);
  found_.emplace(std::move(key), ref);
  return ref;
}

TFontRef FontProvider::FindOrFallback(std::string_view family, TFontStyles style) {
  if (TFontRef ref = Find(family, style)) return ref;
  if (TFontRef ref = Find(kUnicodeFallback, style)) return ref;
  throw EFontError("No font is installed for \"" + std::string(family) + "\", and no fallback font either.");
}

TFontRef FontProvider::Lookup(const std::string& family, TFontStyles style) {
  if (!config_ || family.empty()) return {};
  FcConfig* config = static_cast<FcConfig*>(config_);
  const std::string_view alias = AliasOf(family);
  const std::string target = alias.empty() ? family : std::string(alias);
  const bool bold = (style & fsBold) != 0;
  const bool italic = (style & fsItalic) != 0;

  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return {};
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(target.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddInteger(pattern, FC_WIDTH, FC_WIDTH_NORMAL);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return {};

  TFontRef ref;
  const std::string wanted = Lower(target);
  FcChar8* name = nullptr;
  for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
    if (Lower(reinterpret_cast<const char*>(name)) == wanted) {
      ref.Family = reinterpret_cast<const char*>(name);
      break;
    }
  }
  FcChar8* file = nullptr;
  int index = 0;
  int weight = FC_WEIGHT_REGULAR;
  int slant = FC_SLANT_ROMAN;
  const bool haveFile = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch;
  FcPatternGetInteger(match, FC_INDEX, 0, &index);
  FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
  FcPatternGetInteger(match, FC_SLANT, 0, &slant);
  const std::string path = haveFile ? reinterpret_cast<const char*>(file) : "";
  FcPatternDestroy(match);
  if (ref.Family.empty() || path.empty()) return {};

  ref.Face = Load(path, index);
  if (!ref.Face->IsTrueType()) return {};
  ref.SyntheticBold = bold && weight < FC_WEIGHT_DEMIBOLD;
  ref.SyntheticItalic = italic && slant == FC_SLANT_ROMAN;
  return ref;
}

std::shared_ptr<const FontFace> FontProvider::Load(const std::string& path, int index) {
  auto key = std::make_pair(path, index);
  if (auto it = faces_.find(key); it != faces_.end()) return it->second;
  std::shared_ptr<const FontFace> face = FontFace::FromFile(path, index);
  faces_.emplace(std::move(key), face);
  return face;
}

}  // namespace platform
