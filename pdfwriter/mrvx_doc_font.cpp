#include "pdfwriter/mrvx_doc_font.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/mrvx_zlib.h"
#include "platform/fonts/code_page.h"
#include "platform/fonts/font_provider.h"

namespace pdfwriter {

namespace {

std::string LowerAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return r;
}

std::string Hex4(uint32_t v) {
  static const char* digits = "0123456789ABCDEF";
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i) {
    s[static_cast<size_t>(i)] = digits[v & 0xF];
    v >>= 4;
  }
  return s;
}

// The face of a font name and style: the installed one, or the Unicode fallback.
std::shared_ptr<const platform::FontFace> FaceOf(const std::string& name, TFontStyles style) {
  try {
    return platform::FontProvider::Default().FindOrFallback(name, style).Face;
  } catch (const platform::EFontError& e) {
    throw EMRVXError(e.what());
  }
}

// Metrics and ABC widths of a face in a character set, read once per process: a report
// switches between its fonts many times, and every switch asks for them again.
struct FaceFeatures {
  platform::TFontMetrics metrics;
  std::array<platform::TABC, 256> abc{};
};

std::shared_ptr<const FaceFeatures> FeaturesOf(const platform::FontFace& face, uint8_t charset) {
  static std::mutex mutex;
  static std::map<std::pair<const platform::FontFace*, int32_t>, std::shared_ptr<const FaceFeatures>> cache;
  const int32_t codePage = TTrueTypeTables::GetCodepage(charset);
  std::lock_guard lock(mutex);
  auto key = std::make_pair(&face, codePage);
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  auto f = std::make_shared<FaceFeatures>();
  try {
    f->metrics = face.Metrics();
    const platform::TABC missing = face.GlyphABC(0);
    for (int c = 0; c < 256; ++c) {
      const auto u = platform::CodePageToUnicode(codePage, static_cast<uint8_t>(c));
      f->abc[static_cast<size_t>(c)] = u ? face.CharABC(*u) : missing;
    }
  } catch (const platform::EFontError& e) {
    throw EMRVXError(e.what());
  }
  cache.emplace(key, f);
  return f;
}

std::shared_ptr<const std::vector<CDescript>> SymbolsOf(const platform::FontFace& face) {
  static std::mutex mutex;
  static std::map<const platform::FontFace*, std::shared_ptr<const std::vector<CDescript>>> cache;
  std::lock_guard lock(mutex);
  if (auto it = cache.find(&face); it != cache.end()) return it->second;
  auto table = std::make_shared<std::vector<CDescript>>();
  TTrueTypeTables().CharacterDescription(*table, face);
  cache.emplace(&face, table);
  return table;
}

}  // namespace

// ---- TMRVXFontObj ----

void TMRVXFontObj::ClearTables() {
  ArrIndex = -1;
  SymbolTable.fill(false);
  SymbolTable[32] = SymbolTable[33] = true;
  UnicodeTable.clear();
  UniLen = 0;
}

void TMRVXFontObj::ParseFontName() {
  OldName = Name;
  const std::string lower = LowerAscii(Name);
  const bool bold = (FontStyle & fsBold) != 0;
  const bool italic = (FontStyle & fsItalic) != 0;
  const int v = (bold ? 1 : 0) + (italic ? 2 : 0);
  auto pick = [&](const char* n, const char* b, const char* i, const char* bi) {
    const char* names[] = {n, b, i, bi};
    Name = names[v];
    IsStandard = true;
  };
  IsStandard = false;
  if (lower == "arial" || lower == "helvetica") {
    pick("Helvetica", "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique");
  } else if (lower == "times new roman") {
    pick("Times-Roman", "Times-Bold", "Times-Italic", "Times-BoldItalic");
  } else if (lower == "courier new") {
    pick("Courier", "Courier-Bold", "Courier-Oblique", "Courier-BoldOblique");
  } else if (lower == "symbol") {
    pick("Symbol", "Symbol", "Symbol", "Symbol");
  } else if (lower == "zapfdingbats") {
    pick("ZapfDingbats", "ZapfDingbats", "ZapfDingbats", "ZapfDingbats");
  } else if (bold && italic) {
    Name += "-ItalicBold";
  } else if (bold) {
    Name += "-Bold";
  } else if (italic) {
    Name += "-Italic";
  }
}

void TMRVXFontObj::GetFontFeatures() {
  const std::shared_ptr<const FaceFeatures> f = FeaturesOf(*FaceOf(OldName, FontStyle), FontCharset);
  OutTextM = f->metrics;
  ABCArray = f->abc;
  Ascent = OutTextM.Ascent;
  IsMonospaced = OutTextM.FixedPitch;
  FontLen = OutTextM.Height - OutTextM.InternalLeading;
}

int32_t TMRVXFontObj::CharAdvance(uint8_t c) const {
  // Every character of a fixed-pitch font is as wide as the first entry, unless that entry
  // is a zero-width control glyph of a font that maps code 0.
  if (IsMonospaced && ABCArray[0].Advance() > 0) return ABCArray[0].Advance();
  return ABCArray[c].Advance();
}

int32_t TMRVXFontObj::GetCharWidth(std::string_view AText, size_t APos) const {
  if (APos < 1 || APos > AText.size()) return 0;
  return CharAdvance(static_cast<uint8_t>(AText[APos - 1]));
}

void TMRVXFontObj::CopyFontFetures(const TMRVXFontObj& InFnt) {
  OutTextM = InFnt.OutTextM;
  ABCArray = InFnt.ABCArray;
  std::copy(InFnt.SymbolTable.begin() + 32, InFnt.SymbolTable.end(), SymbolTable.begin() + 32);
  if (IsUnicode) {
    UnicodeTable = InFnt.UnicodeTable;
    UniLen = InFnt.UniLen;
    Symbols = InFnt.Symbols;
  } else {
    UnicodeTable.clear();
    UniLen = 0;
    Symbols.reset();
  }
}

void TMRVXFontObj::LoadSymbols() {
  try {
    Symbols = SymbolsOf(*FaceOf(OldName, FontStyle));
  } catch (const platform::EFontError& e) {
    throw EMRVXError(e.what());
  }
  FActive = true;
}

CDescript TMRVXFontObj::Symbol(uint16_t u) const {
  if (!Symbols || u >= Symbols->size()) return {};
  return (*Symbols)[u];
}

std::string SubsetTag(int32_t ObjectNumber) {
  // An odd multiplier prime to 26 maps distinct numbers to distinct tags.
  constexpr uint64_t kTags = 26ull * 26 * 26 * 26 * 26 * 26;
  uint64_t v = (static_cast<uint64_t>(static_cast<uint32_t>(ObjectNumber)) * 7919u + 104729u) % kTags;
  std::string tag(6, 'A');
  for (int i = 5; i >= 0; --i) {
    tag[static_cast<size_t>(i)] = static_cast<char>('A' + v % 26);
    v /= 26;
  }
  return tag + "+";
}

std::string ToUnicodeCMap(std::string_view Name, const std::vector<std::pair<uint16_t, uint16_t>>& GlyphToUnit) {
  // A PostScript name ends at white space or a delimiter; such characters would end the
  // CMap's name early and leave the rest as stray tokens.
  std::string cmapName;
  for (char c : Name) {
    const bool delimiter = c <= ' ' || c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' ||
                           c == '{' || c == '}' || c == '/' || c == '%' || static_cast<unsigned char>(c) >= 0x7F;
    cmapName.push_back(delimiter ? '-' : c);
  }
  std::string s;
  s += "/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CIDSystemInfo <<\r\n";
  s += "/Registry (";
  s += _EscapeText(Name);
  s += ") /Ordering (T42UV) /Supplement 0 >> def\r\n/CMapName /";
  s += cmapName;
  s += " def\r\n";
  s += "/CMapType 2 def\r\n";
  s += "1 begincodespacerange <0000> <FFFF> endcodespacerange\r\n";
  // A bfchar block may hold at most 100 mappings.
  for (size_t at = 0; at < GlyphToUnit.size(); at += 100) {
    const size_t n = std::min<size_t>(100, GlyphToUnit.size() - at);
    s += std::to_string(n) + " beginbfchar\r\n";
    for (size_t i = at; i < at + n; ++i) {
      s += '<';
      s += Hex4(GlyphToUnit[i].first);
      s += "> <";
      s += Hex4(GlyphToUnit[i].second);
      s += ">\r\n";
    }
    s += "endbfchar\r\n";
  }
  s += "endcmap CMapName currentdict /CMap defineresource pop end end\r\n";
  return s;
}

// ---- the page's fonts ----

TMRVXFontObj& TMRVXPage::CurrentFontObj() const { return *FCurrentFontObj; }

TMRVXFontSelection TMRVXPage::CurrentFont() const {
  const TMRVXFontObj& f = *FCurrentFontObj;
  return {f.OldName, f.FontStyle, f.Size, f.FontCharset, f.IsVertical};
}

void TMRVXPage::SetFont(std::string FontName, TFontStyles FontStyle, float ASize, uint8_t FontCharset,
                        bool IsVertical) {
  // The face name of a logical font holds 31 characters.
  if (FontName.size() > 31) FontName.resize(31);
  if (LowerAscii(FontName) == "tahoma" && (FontStyle & fsItalic)) FontName = "Tahoma Italic";
  if (LowerAscii(FontName) != "zapfdingbats") {
    bool installed = false;
    try {
      installed = platform::FontProvider::Default().IsInstalled(FontName);
    } catch (const platform::EFontError&) {
      installed = false;  // a face whose file cannot be read is as good as absent
    }
    if (!installed) {
      FontName = platform::FontProvider::kUnicodeFallback;
      FontCharset = 1;
    }
  }
  TMRVXFontObj& f = *FCurrentFontObj;
  if (FontName != f.OldName || FontStyle != f.FontStyle || FontCharset != f.FontCharset ||
      IsVertical != f.IsVertical) {
    if (f.IsUsed) StoreCurrentFont();
    f.Name = std::move(FontName);
    f.FontStyle = FontStyle;
    f.FontCharset = FontCharset;
    f.IsVertical = IsVertical;
    f.IsUsed = false;
    f.IsUnicode = false;
    f.ClearTables();
    f.ParseFontName();
    f.GetFontFeatures();
  }
  f.Size = FSize == TMRVXPageSize::psUserDefined ? ASize : static_cast<float>(ASize / DocScale() * DPI);
}

void TMRVXPage::SetFontAndSize(std::string_view FontName, float Size) {
  std::string line("/");
  line += FontName;
  line += ' ';
  line += _FloatToStrR(Size);
  line += " Tf";
  Line(std::move(line));
}

int TMRVXPage::CompareCurrentFont() const {
  const TMRVXFontObj& f = *FCurrentFontObj;
  for (size_t i = 0; i < FFontArr.size(); ++i) {
    const TMRVXFontObj& c = *FFontArr[i];
    if (c.Name == f.Name && c.FontStyle == f.FontStyle && c.FontCharset == f.FontCharset &&
        c.IsVertical == f.IsVertical && c.IsUnicode == f.IsUnicode) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void TMRVXPage::SelectCurrentFont(int Found) {
  TMRVXFontObj& f = *FCurrentFontObj;
  std::string name;
  if (Found >= 0) {
    // ExtractFontDat: the usage so far belongs to the resource being drawn again.
    const TMRVXFontObj& copy = *FFontArr[static_cast<size_t>(Found)];
    name = copy.OrdinalName;
    f.ArrIndex = Found;
    std::copy(copy.SymbolTable.begin() + 32, copy.SymbolTable.end(), f.SymbolTable.begin() + 32);
    f.UnicodeTable = copy.UnicodeTable;
    f.UniLen = copy.UniLen;
    f.Saved = true;
  } else {
    f.Saved = false;
    name = NewResourceName(1);
  }
  f.OrdinalName = name;
  SetFontAndSize(name, f.Size);
}

void TMRVXPage::ProcessFont(bool Unicoded) {
  TMRVXFontObj& f = *FCurrentFontObj;
  if (Unicoded) {
    if (!f.IsUnicode) {
      if (f.IsUsed) StoreCurrentFont();
      f.IsUnicode = true;
      SelectCurrentFont(CompareCurrentFont());
      f.IsUsed = true;
      f.FActive = false;
    } else if (!f.IsUsed) {
      SelectCurrentFont(CompareCurrentFont());
      f.IsUsed = true;
    }
    return;
  }
  if (f.IsUnicode) {
    if (f.IsUsed) StoreCurrentFont();
    f.IsUnicode = false;
    SelectCurrentFont(CompareCurrentFont());
    f.IsUsed = true;
  } else if (!f.IsUsed) {
    SelectCurrentFont(CompareCurrentFont());
    f.IsUsed = true;
  }
}

void TMRVXPage::StoreCurrentFont() {
  TMRVXFontObj& f = *FCurrentFontObj;
  if (f.Saved && f.ArrIndex >= 0 && static_cast<size_t>(f.ArrIndex) < FFontArr.size()) {
    FFontArr[static_cast<size_t>(f.ArrIndex)]->CopyFontFetures(f);
    return;
  }
  auto copy = std::make_unique<TMRVXFontObj>();
  copy->Size = f.Size;
  copy->Ascent = f.Ascent;
  copy->FontLen = f.FontLen;
  copy->Name = f.Name;
  copy->OldName = f.OldName;
  copy->FontStyle = f.FontStyle;
  copy->FontCharset = f.FontCharset;
  copy->IsVertical = f.IsVertical;
  copy->IsUnicode = f.IsUnicode;
  copy->IsUsed = f.IsUsed;
  copy->OrdinalName = f.OrdinalName;
  copy->IsMonospaced = f.IsMonospaced;
  copy->IsStandard = f.IsStandard;
  copy->CopyFontFetures(f);
  FFontArr.push_back(std::move(copy));
  f.Saved = true;
  f.ArrIndex = static_cast<int32_t>(FFontArr.size() - 1);
}

void TMRVXPage::StoreFonts() {
  for (const std::unique_ptr<TMRVXFontObj>& f : FFontArr) StoreFont(*f);
  FFontArr.clear();
}

void TMRVXPage::StoreFont(TMRVXFontObj& FontObj) {
  TMorvex& doc = *FParent;
  TMRVXFontObj& f = FontObj;
  const bool mayEmbed =
      std::find(doc.NotEmbeddedFonts.begin(), doc.NotEmbeddedFonts.end(), f.Name) == doc.NotEmbeddedFonts.end();
  const bool emulated = f.IsStandard && doc.StandardFontEmulation() && !f.IsUnicode && f.FontCharset == 0;
  // Unicode text is written as glyph numbers, which only the font's own program can turn
  // back into shapes and text: such a font is always an embedded composite font.
  const bool embedded = !emulated && (f.IsUnicode || mayEmbed || f.FontCharset != 0);

  TMRVXDictionaryObject* font = doc.CreateIndirectDictionary();
  FFontObjectObj->AddLink(f.OrdinalName, *font);
  TMRVXDictionaryObject* desc = doc.CreateIndirectDictionary();
  // An embedded program holds only a subset; its name says so with a tag of its own.
  const std::string baseName = (embedded ? SubsetTag(font->ID.ObjectNumber) : std::string()) + f.Name;

  font->AddNameValue("Type", "Font");
  font->AddNameValue("BaseFont", baseName);
  font->AddNameValue("Subtype", f.IsUnicode ? "Type0" : "TrueType");
  int firstChar = -1, lastChar = -1;
  if (f.IsUnicode) {
    font->AddNameValue("Encoding", f.IsVertical ? "Identity-V" : "Identity-H");
  } else {
    font->AddNameValue("Encoding", "WinAnsiEncoding");
    for (int c = 32; c < 256; ++c) {
      if (!f.SymbolTable[static_cast<size_t>(c)]) continue;
      if (firstChar < 0) firstChar = c;
      lastChar = c;
    }
    if (firstChar >= 0) {
      font->AddIntegerValue("FirstChar", firstChar);
      font->AddIntegerValue("LastChar", lastChar);
    }
  }
  font->AddNameValue("Name", f.OrdinalName);
  if (!f.IsUnicode) font->AddLink("FontDescriptor", *desc);

  desc->AddNameValue("Type", "FontDescriptor");
  desc->AddIntegerValue("Ascent", f.Ascent);
  desc->AddIntegerValue("CapHeight", 666);
  desc->AddIntegerValue("Descent", f.OutTextM.OutlineDescent);
  desc->AddIntegerValue("Flags", emulated ? 32 : 4);
  TMRVXArrayObject* bbox = desc->AddArray("FontBBox");
  for (int v : f.OutTextM.BBox) bbox->AddIntegerValue(v);
  desc->AddNameValue("FontName", baseName);
  // The descriptor's angle is in degrees.
  desc->AddNumericValue("ItalicAngle", static_cast<float>(f.OutTextM.ItalicAngle));
  desc->AddIntegerValue("StemV", 87);

  if (embedded) {
    std::vector<uint16_t> codes;
    if (f.IsUnicode) {
      for (size_t u = 0; u < f.UnicodeTable.size(); ++u) {
        if (f.UnicodeTable[u].CharCode) codes.push_back(static_cast<uint16_t>(u));
      }
      if (codes.size() == 1 && codes[0] == 32) codes.push_back(33);
    } else {
      for (int c = 32; c < 256; ++c) {
        if (f.SymbolTable[static_cast<size_t>(c)]) codes.push_back(static_cast<uint16_t>(c));
      }
    }
    TTrueTypeTables builder;
    builder.FCharSet = f.FontCharset;
    std::string program;
    if (f.IsUnicode) {
      builder.GetFontLongEnsemble(f.OldName, f.FontStyle, program, codes);
    } else {
      builder.GetFontEnsemble(f.OldName, f.FontStyle, program, codes);
    }
    TMRVXStreamObject* file = doc.CreateIndirectStream();
    file->Stream = FlateEncode(program, 9);
    file->Dictionary->AddArray("Filter")->AddNameValue("FlateDecode");
    file->Dictionary->AddIntegerValue("Length1", static_cast<int64_t>(program.size()));
    desc->AddLink("FontFile2", *file);

    if (f.IsUnicode) {
      if (!f.Symbols) f.LoadSymbols();
      TMRVXDictionaryObject* descendant = doc.CreateIndirectDictionary();
      std::string descendantName = baseName;
      if (f.FontStyle & fsBold) descendantName += " Bold";
      if (f.FontStyle & fsItalic) descendantName += " Italic";
      descendant->AddNameValue("Type", "Font");
      descendant->AddNameValue("BaseFont", descendantName);
      descendant->AddNameValue("Subtype", "CIDFontType2");
      descendant->AddLink("FontDescriptor", *desc);
      TMRVXArrayObject* widths = descendant->AddArray("W");
      std::vector<std::pair<uint16_t, uint16_t>> toUnicode;
      for (size_t u = 0; u < f.UnicodeTable.size(); ++u) {
        if (!f.UnicodeTable[u].CharCode) continue;
        const CDescript d = f.Symbol(static_cast<uint16_t>(u));
        widths->AddIntegerValue(d.Index);
        auto w = std::make_unique<TMRVXArrayObject>(nullptr);
        w->AddIntegerValue(d.Width);
        widths->AddObject(std::move(w));
        toUnicode.emplace_back(d.Index, static_cast<uint16_t>(u));
      }
      TMRVXDictionaryObject* info = descendant->AddDictionary("CIDSystemInfo");
      info->AddStringValue("Registry", "Adobe");
      info->AddStringValue("Ordering", "Identity");
      info->AddIntegerValue("Supplement", 0);
      font->AddArray("DescendantFonts")->AddLink(*descendant);

      const std::string cmap = ToUnicodeCMap(f.Name, toUnicode);
      TMRVXStreamObject* map = doc.CreateIndirectStream();
      map->Stream = FlateEncode(cmap, 9);
      map->Dictionary->AddArray("Filter")->AddNameValue("FlateDecode");
      map->Dictionary->AddIntegerValue("Length1", static_cast<int64_t>(cmap.size()));
      font->AddLink("ToUnicode", *map);
    }
  }

  if (!f.IsUnicode) {
    TMRVXArrayObject* widths = font->AddArray("Widths");
    if (firstChar < 0) {
      widths->AddIntegerValue(0);
    } else {
      for (int c = firstChar; c <= lastChar; ++c) {
        widths->AddIntegerValue(f.SymbolTable[static_cast<size_t>(c)] ? f.CharAdvance(static_cast<uint8_t>(c)) : 0);
      }
    }
  }
}

}  // namespace pdfwriter
