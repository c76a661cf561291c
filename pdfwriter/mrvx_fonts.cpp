#include "pdfwriter/mrvx_fonts.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>

#include "pdfwriter/mrvx_types.h"
#include "platform/fonts/code_page.h"
#include "platform/fonts/font_provider.h"
#include "platform/fonts/sfnt.h"

namespace pdfwriter {

using platform::BeReader;
using platform::EFontError;
using platform::SfntTag;

namespace {

constexpr const char* kErrCmap = "Cannot load font CMAP table";
constexpr const char* kErrPost = "Cannot load POST table";
constexpr const char* kErrRequired = "Cannot load required table";
constexpr const char* kErrGlyph = "Cannot load GLYPH table";

// Two contours: the outer box 256 0 1280 1280 clockwise, an inner one 64 units in,
// counter-clockwise; 41 bytes of glyph and one byte of padding.
constexpr std::array<uint8_t, 42> kMarkGlyf = {
    0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x05, 0x00,  // 2 contours, bbox
    0x00, 0x03, 0x00, 0x07, 0x00, 0x00,                          // end points, no instructions
    0x21, 0x11, 0x21, 0x11, 0x25, 0x21, 0x11, 0x21,              // flags
    0x01, 0x00, 0x04, 0x00, 0xFC, 0x40, 0x03, 0x80, 0xFC, 0x80,  // x: 256 1024 -960 896 -896
    0x05, 0x00, 0xFB, 0x00, 0x40, 0x04, 0x80,                    // y: 1280 -1280 64 1152
    0x00};

// Metrics of the two glyphs every simple-font program starts with.
constexpr uint16_t kMarkAdvance = 1536, kMarkLsb = 256, kSpaceAdvance = 569;

// The format-4 character map: segments of code ranges with a delta or a glyph-id array.
struct Format4 {
  std::vector<uint16_t> end, start, rangeOffset;
  std::vector<int16_t> delta;
  std::vector<uint16_t> glyphIds;

  size_t Segments() const { return end.size(); }
  // The glyph of code c in segment i (c inside the segment).
  uint16_t Glyph(size_t i, uint32_t c) const {
    if (rangeOffset[i] == 0) return static_cast<uint16_t>((c + static_cast<uint16_t>(delta[i])) & 0xFFFF);
    const int64_t at = int64_t{rangeOffset[i] / 2} + (int64_t{c} - start[i]) + static_cast<int64_t>(i) -
                       static_cast<int64_t>(Segments());
    if (at < 0 || at >= static_cast<int64_t>(glyphIds.size())) return 0;
    const uint16_t g = glyphIds[static_cast<size_t>(at)];
    return g == 0 ? 0 : static_cast<uint16_t>((g + static_cast<uint16_t>(delta[i])) & 0xFFFF);
  }
  // The segment holding c, if any.
  std::optional<size_t> SegmentOf(uint32_t c) const {
    for (size_t i = 0; i < Segments(); ++i) {
      if (start[i] <= c && c <= end[i]) return i;
    }
    return std::nullopt;
  }
  uint16_t Lookup(uint32_t c) const {
    const auto seg = SegmentOf(c);
    return seg ? Glyph(*seg, c) : 0;
  }
};

// The tables of one font as the subsetter needs them; spans point into the face's bytes.
struct SourceFont {
  Format4 cmap;
  bool monospaced = false;
  int upm = 1000;
  int locFormat = 0;
  uint16_t numGlyphs = 0;
  uint16_t numHMetrics = 0;
  std::span<const uint8_t> hmtx;
  std::optional<std::span<const uint8_t>> cvt, fpgm, prep;
  std::string head, hhea, maxp;
  std::vector<std::span<const uint8_t>> outlines;

  uint16_t Advance(uint32_t g) const {
    const BeReader r(hmtx, "table 'hmtx'");
    if (monospaced) return r.U16(0);
    return r.U16(4 * static_cast<size_t>(std::min<uint32_t>(g, numHMetrics - 1u)));
  }
  int16_t Lsb(uint32_t g) const {
    const BeReader r(hmtx, "table 'hmtx'");
    if (g < numHMetrics) return r.S16(4 * size_t{g} + 2);
    const size_t at = 4 * size_t{numHMetrics} + 2 * (size_t{g} - numHMetrics);
    return r.Has(at, 2) ? r.S16(at) : 0;
  }
  // Width at 1000 units per em, truncated.
  int32_t Width(uint32_t g) const { return static_cast<int32_t>(int64_t{Advance(g)} * 1000 / upm); }
};

std::span<const uint8_t> NeedTable(const platform::FontFace& face, const char (&tag)[5], const char* error,
                                   size_t minSize = 1) {
  auto t = face.Table(SfntTag(tag));
  if (!t || t->size() < minSize) throw EMRVXError(error);
  return *t;
}

Format4 LoadCMAPTable(std::span<const uint8_t> table) {
  try {
    const BeReader r(table, "table 'cmap'");
    const uint16_t count = r.U16(2);
    auto isFormat4 = [&](uint32_t offset) { return r.Has(offset, 2) && r.U16(offset) == 4; };
    std::optional<uint32_t> chosen, symbol;
    for (size_t i = 0; i < count; ++i) {
      const size_t rec = 4 + 8 * i;
      const uint16_t platform = r.U16(rec), encoding = r.U16(rec + 2);
      const uint32_t offset = r.U32(rec + 4);
      if (platform != 3) continue;
      if (encoding == 1 && isFormat4(offset)) {
        chosen = offset;
        break;
      }
      if (encoding == 0 && isFormat4(offset)) symbol = offset;
    }
    if (!chosen) chosen = symbol;
    // Without a Windows format-4 map there is nothing this reader can look characters up in.
    if (!chosen) throw EMRVXError(kErrCmap);
    const BeReader sub = r.Sub(*chosen, table.size() - *chosen);
    const size_t segCount = sub.U16(6) / 2u;
    if (segCount == 0) throw EMRVXError(kErrCmap);
    Format4 f;
    f.end.resize(segCount);
    f.start.resize(segCount);
    f.delta.resize(segCount);
    f.rangeOffset.resize(segCount);
    const size_t ends = 14, starts = ends + 2 * segCount + 2, deltas = starts + 2 * segCount,
                 ranges = deltas + 2 * segCount, ids = ranges + 2 * segCount;
    for (size_t i = 0; i < segCount; ++i) {
      f.end[i] = sub.U16(ends + 2 * i);
      f.start[i] = sub.U16(starts + 2 * i);
      f.delta[i] = sub.S16(deltas + 2 * i);
      f.rangeOffset[i] = sub.U16(ranges + 2 * i);
    }
    // The glyph-id array runs to the end of the table: the subtable's 16-bit length field
    // overflows in large maps, so it cannot be trusted to bound the array.
    const size_t idCount = sub.size() > ids ? (sub.size() - ids) / 2 : 0;
    f.glyphIds.resize(idCount);
    for (size_t i = 0; i < idCount; ++i) f.glyphIds[i] = sub.U16(ids + 2 * i);
    return f;
  } catch (const EFontError&) {
    throw EMRVXError(kErrCmap);
  }
}

// GetSourceTables: everything the three tasks read. Glyph outlines only when asked for.
SourceFont GetSourceTables(const platform::FontFace& face, bool withGlyphs) {
  SourceFont s;
  auto cmap = face.Table(SfntTag("cmap"));
  if (!cmap) throw EMRVXError(kErrCmap);
  s.cmap = LoadCMAPTable(*cmap);

  const std::span<const uint8_t> post = NeedTable(face, "post", kErrPost, 16);
  s.monospaced = BeReader(post, "table 'post'").U32(12) != 0;

  const std::span<const uint8_t> head = NeedTable(face, "head", kErrRequired, 54);
  const std::span<const uint8_t> hhea = NeedTable(face, "hhea", kErrRequired, 36);
  const std::span<const uint8_t> maxp = NeedTable(face, "maxp", kErrRequired, 6);
  s.head.assign(head.begin(), head.end());
  s.hhea.assign(hhea.begin(), hhea.end());
  s.maxp.assign(maxp.begin(), maxp.end());
  const BeReader headR(head, "table 'head'");
  s.upm = headR.U16(18);
  s.locFormat = headR.S16(50);
  s.numGlyphs = BeReader(maxp, "table 'maxp'").U16(4);
  s.numHMetrics = BeReader(hhea, "table 'hhea'").U16(34);
  if (s.upm < 16 || s.upm > 16384 || (s.locFormat != 0 && s.locFormat != 1) || s.numGlyphs == 0 ||
      s.numHMetrics == 0 || s.numHMetrics > s.numGlyphs) {
    throw EMRVXError(kErrRequired);
  }
  s.hmtx = NeedTable(face, "hmtx", kErrRequired, 4 * size_t{s.numHMetrics});
  s.cvt = face.Table(SfntTag("cvt "));
  s.fpgm = face.Table(SfntTag("fpgm"));
  s.prep = face.Table(SfntTag("prep"));
  if (!withGlyphs) return s;

  // LoadGlyphTable: glyph i is loca[i] .. loca[i+1] of glyf.
  auto loca = face.Table(SfntTag("loca"));
  auto glyf = face.Table(SfntTag("glyf"));
  if (!loca || !glyf) throw EMRVXError(kErrGlyph);
  const BeReader locaR(*loca, "table 'loca'");
  const size_t entry = s.locFormat == 1 ? 4 : 2;
  if (!locaR.Has(0, entry * (size_t{s.numGlyphs} + 1))) throw EMRVXError(kErrGlyph);
  auto at = [&](size_t i) -> size_t { return s.locFormat == 1 ? locaR.U32(4 * i) : size_t{locaR.U16(2 * i)} * 2; };
  s.outlines.resize(s.numGlyphs);
  size_t from = at(0);
  for (size_t i = 0; i < s.numGlyphs; ++i) {
    const size_t to = at(i + 1);
    // Fonts whose last offsets run past glyf (its final padding left out) are common enough to
    // be read: the outline is cut at the table's end. A glyph whose end lies before its start
    // is taken as empty.
    const size_t a = std::min(from, glyf->size()), b = std::min(to, glyf->size());
    if (b > a) s.outlines[i] = glyf->subspan(a, b - a);
    from = to;
  }
  return s;
}

// Calls f(glyph number, offset of the number in the outline) for every component of a
// composite glyph; nothing for a simple one.
template <typename F>
void ForEachComponent(std::span<const uint8_t> outline, uint16_t numGlyphs, F&& f) {
  try {
    const BeReader r(outline, "table 'glyf'");
    if (outline.size() < 10 || r.S16(0) >= 0) return;
    size_t off = 10;
    for (;;) {
      const uint16_t flags = r.U16(off);
      const uint16_t glyph = r.U16(off + 2);
      if (glyph >= numGlyphs) throw EMRVXError(kErrGlyph);
      f(glyph, off + 2);
      off += 4 + ((flags & 0x01) ? 4 : 2);
      if (flags & 0x08) {
        off += 2;
      } else if (flags & 0x40) {
        off += 4;
      } else if (flags & 0x80) {
        off += 8;
      }
      if (!(flags & 0x20)) break;
    }
  } catch (const EFontError&) {
    throw EMRVXError(kErrGlyph);
  }
}

// MergeCompositLinks: every component of a kept glyph is kept too, through any depth of
// nesting. Each glyph is visited once, so a font whose composites refer to each other in a
// circle cannot make this loop forever.
void MergeCompositLinks(const SourceFont& s, std::vector<bool>& tagged) {
  std::vector<uint16_t> work;
  for (size_t g = 0; g < tagged.size(); ++g) {
    if (tagged[g]) work.push_back(static_cast<uint16_t>(g));
  }
  while (!work.empty()) {
    const uint16_t g = work.back();
    work.pop_back();
    ForEachComponent(s.outlines[g], s.numGlyphs, [&](uint16_t c, size_t) {
      if (!tagged[c]) {
        tagged[c] = true;
        work.push_back(c);
      }
    });
  }
}

struct Table {
  uint32_t tag;
  std::string data;
};

std::string Bytes(std::span<const uint8_t> s) { return std::string(s.begin(), s.end()); }

// CreateFontTable: header, directory (in the order given) and the padded tables; the head
// table's checksum adjustment is made to fit the file written.
std::string CreateFontTable(std::vector<Table>& tables) {
  const uint16_t n = static_cast<uint16_t>(tables.size());
  uint16_t pow2 = 1, log2 = 0;
  while (pow2 * 2u <= n) {
    pow2 = static_cast<uint16_t>(pow2 * 2);
    ++log2;
  }
  size_t headAt = SIZE_MAX;
  for (Table& t : tables) {
    if (t.tag == SfntTag("head") && t.data.size() >= 12) platform::SetU32(t.data, 8, 0);
  }
  std::string out;
  platform::PutU32(out, 0x00010000);
  platform::PutU16(out, n);
  platform::PutU16(out, static_cast<uint16_t>(16 * pow2));
  platform::PutU16(out, log2);
  platform::PutU16(out, static_cast<uint16_t>(16 * n - 16 * pow2));
  uint32_t offset = 12 + 16u * n;
  for (const Table& t : tables) {
    platform::PutU32(out, t.tag);
    platform::PutU32(out, platform::SfntChecksum(
                              std::span(reinterpret_cast<const uint8_t*>(t.data.data()), t.data.size())));
    platform::PutU32(out, offset);
    platform::PutU32(out, static_cast<uint32_t>(t.data.size()));
    offset += static_cast<uint32_t>((t.data.size() + 3) & ~size_t{3});
  }
  for (const Table& t : tables) {
    if (t.tag == SfntTag("head")) headAt = out.size();
    out += t.data;
    out.append((4 - t.data.size() % 4) % 4, '\0');
  }
  if (headAt != SIZE_MAX && tables.size() > 0) {
    const uint32_t sum = platform::SfntChecksum(std::span(reinterpret_cast<const uint8_t*>(out.data()), out.size()));
    platform::SetU32(out, headAt + 8, 0xB1B0AFBAu - sum);
  }
  return out;
}

// The format-0 and format-4 maps of a simple-font program: code -> glyph, and 0xF000 + code
// -> glyph for the Windows symbol encoding.
std::string GetFullCMAP(const std::map<uint8_t, uint16_t>& codes) {
  std::string out;
  platform::PutU16(out, 0);  // version
  platform::PutU16(out, 2);
  platform::PutU16(out, 1);
  platform::PutU16(out, 0);
  platform::PutU32(out, 20);
  platform::PutU16(out, 3);
  platform::PutU16(out, 0);
  platform::PutU32(out, 282);
  // Format 0.
  platform::PutU16(out, 0);
  platform::PutU16(out, 262);
  platform::PutU16(out, 0);
  for (int c = 0; c < 256; ++c) {
    auto it = codes.find(static_cast<uint8_t>(c));
    out.push_back(static_cast<char>(it == codes.end() ? 0 : it->second));
  }
  // Format 4: runs of consecutive codes with consecutive glyphs (MoveRange keeps them sorted,
  // which the map's order gives for free here).
  struct Segment {
    uint16_t start, end;
    int16_t delta;
  };
  std::vector<Segment> segs;
  for (const auto& [code, glyph] : codes) {
    const uint16_t u = static_cast<uint16_t>(0xF000 + code);
    if (!segs.empty() && segs.back().end + 1 == u &&
        static_cast<uint16_t>(segs.back().end + segs.back().delta + 1) == glyph) {
      segs.back().end = u;
    } else {
      segs.push_back({u, u, static_cast<int16_t>(static_cast<uint16_t>(glyph - u))});
    }
  }
  segs.push_back({0xFFFF, 0xFFFF, 1});
  const uint16_t segCount = static_cast<uint16_t>(segs.size());
  uint16_t pow2 = 1, log2 = 0;
  while (pow2 * 2u <= segCount) {
    pow2 = static_cast<uint16_t>(pow2 * 2);
    ++log2;
  }
  platform::PutU16(out, 4);
  platform::PutU16(out, static_cast<uint16_t>(16 + 8 * segCount));
  platform::PutU16(out, 0);
  platform::PutU16(out, static_cast<uint16_t>(2 * segCount));
  platform::PutU16(out, static_cast<uint16_t>(2 * pow2));
  platform::PutU16(out, log2);
  platform::PutU16(out, static_cast<uint16_t>(2 * segCount - 2 * pow2));
  for (const Segment& s : segs) platform::PutU16(out, s.end);
  platform::PutU16(out, 0);
  for (const Segment& s : segs) platform::PutU16(out, s.start);
  for (const Segment& s : segs) platform::PutU16(out, static_cast<uint16_t>(s.delta));
  for (size_t i = 0; i < segs.size(); ++i) platform::PutU16(out, 0);
  return out;
}

}  // namespace

std::span<const uint8_t> MarkGlyf() { return kMarkGlyf; }

TTrueTypeTables::TTrueTypeTables()
    : resolver_([](const std::string& name, platform::TFontStyles style) {
        return platform::FontProvider::Default().FindOrFallback(name, style).Face;
      }) {}

TTrueTypeTables::TTrueTypeTables(TFaceResolver resolver) : resolver_(std::move(resolver)) {}

std::shared_ptr<const platform::FontFace> TTrueTypeTables::Resolve(const std::string& FontName,
                                                                   platform::TFontStyles FontStyle) const {
  try {
    std::shared_ptr<const platform::FontFace> face = resolver_(FontName, FontStyle);
    if (!face) throw EMRVXError("Cannot find font " + FontName + ".");
    return face;
  } catch (const EFontError& e) {
    throw EMRVXError(e.what());
  }
}

int32_t TTrueTypeTables::GetCodepage(uint8_t Charset) {
  // The default set stands for the system's: ANSI on the systems this runs on.
  if (Charset == 1) Charset = 0;
  switch (Charset) {
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return 1252;
  }
}

uint16_t TTrueTypeTables::ConvertFromUnicode(uint16_t ID) const {
  const auto b = platform::UnicodeToCodePage(GetCodepage(static_cast<uint8_t>(FCharSet)), ID);
  return b ? *b : 0;
}

uint16_t TTrueTypeTables::ConvertToUnicode(uint8_t Code) const {
  const auto u = platform::CodePageToUnicode(GetCodepage(static_cast<uint8_t>(FCharSet)), Code);
  return (u && *u <= 0xFFFF) ? static_cast<uint16_t>(*u) : 0;
}

void TTrueTypeTables::CharacterDescription(std::vector<CDescript>& CDArray, const std::string& FontName,
                                           platform::TFontStyles FontStyle) {
  CharacterDescription(CDArray, *Resolve(FontName, FontStyle));
}

void TTrueTypeTables::CharacterDescription(std::vector<CDescript>& CDArray, const platform::FontFace& Face) {
  const SourceFont s = GetSourceTables(Face, false);
  CDArray.assign(kCharacterDescriptionSize, CDescript{});
  try {
    for (size_t i = 0; i < s.cmap.Segments(); ++i) {
      const uint32_t last = std::min<uint32_t>(s.cmap.end[i], kCharacterDescriptionSize - 1);
      for (uint32_t c = s.cmap.start[i]; c <= last; ++c) {
        const uint16_t g = s.cmap.Glyph(i, c);
        // A map that points past the last glyph names nothing the font can draw.
        if (g >= s.numGlyphs) {
          CDArray[c] = CDescript{};
          continue;
        }
        CDArray[c] = CDescript{g, s.Width(g)};
      }
    }
  } catch (const EFontError&) {
    throw EMRVXError(kErrRequired);
  }
}

void TTrueTypeTables::GetFontLongEnsemble(const std::string& FontName, platform::TFontStyles FontStyle,
                                          std::string& OutStream, std::span<const uint16_t> CharsetBuffer) {
  GetFontLongEnsemble(*Resolve(FontName, FontStyle), OutStream, CharsetBuffer);
}

void TTrueTypeTables::GetFontLongEnsemble(const platform::FontFace& Face, std::string& OutStream,
                                          std::span<const uint16_t> CharsetBuffer) {
  const SourceFont s = GetSourceTables(Face, true);
  std::vector<bool> tagged(s.numGlyphs, false);
  for (uint16_t c : CharsetBuffer) {
    if (c == 160) continue;
    const uint16_t g = s.cmap.Lookup(c);
    if (g < s.numGlyphs) tagged[g] = true;
  }
  MergeCompositLinks(s, tagged);

  // glyf and loca keep every glyph number; glyphs not needed keep an empty slot.
  std::string glyf, loca;
  const bool longLoca = s.locFormat == 1;
  auto putOffset = [&](size_t off) {
    if (longLoca) {
      platform::PutU32(loca, static_cast<uint32_t>(off));
    } else {
      platform::PutU16(loca, static_cast<uint16_t>(off / 2));
    }
  };
  for (size_t g = 0; g < s.numGlyphs; ++g) {
    putOffset(glyf.size());
    if (!tagged[g]) continue;
    glyf += Bytes(s.outlines[g]);
    // Short offsets count words: an outline of odd length (a damaged font) is padded.
    if (!longLoca && glyf.size() % 2) glyf.push_back('\0');
  }
  putOffset(glyf.size());
  if (!longLoca && glyf.size() > 0x1FFFE) throw EMRVXError(kErrGlyph);
  if (!longLoca) loca.append((4 - loca.size() % 4) % 4, '\0');

  std::vector<Table> tables;
  if (s.cvt) tables.push_back({SfntTag("cvt "), Bytes(*s.cvt)});
  if (s.fpgm) tables.push_back({SfntTag("fpgm"), Bytes(*s.fpgm)});
  tables.push_back({SfntTag("glyf"), std::move(glyf)});
  tables.push_back({SfntTag("head"), s.head});
  tables.push_back({SfntTag("hhea"), s.hhea});
  tables.push_back({SfntTag("hmtx"), Bytes(s.hmtx)});
  tables.push_back({SfntTag("loca"), std::move(loca)});
  tables.push_back({SfntTag("maxp"), s.maxp});
  tables.push_back({SfntTag("prep"), s.prep ? Bytes(*s.prep) : std::string()});
  OutStream = CreateFontTable(tables);
}

void TTrueTypeTables::GetFontEnsemble(const std::string& FontName, platform::TFontStyles FontStyle,
                                      std::string& OutStream, std::span<const uint16_t> CharsetBuffer) {
  OutStream.clear();
  if (CharsetBuffer.empty()) return;
  GetFontEnsemble(*Resolve(FontName, FontStyle), OutStream, CharsetBuffer);
}

void TTrueTypeTables::GetFontEnsemble(const platform::FontFace& Face, std::string& OutStream,
                                      std::span<const uint16_t> CharsetBuffer) {
  OutStream.clear();
  if (CharsetBuffer.empty()) return;
  const SourceFont s = GetSourceTables(Face, true);

  // ExtractFontCodes: the 8-bit codes that the character map knows, each with its glyph.
  std::map<uint8_t, uint16_t> kit;  // code -> old glyph, in code order
  for (uint16_t slot : CharsetBuffer) {
    const uint8_t code = static_cast<uint8_t>(slot & 0xFF);
    if (code == 160 || code == 152) continue;
    const uint16_t u = ConvertToUnicode(code);
    if (u == 0 && code != 0) continue;
    const auto seg = s.cmap.SegmentOf(u);
    if (!seg) continue;
    const uint16_t g = s.cmap.Glyph(*seg, u);
    kit[code] = g < s.numGlyphs ? g : 0;
  }

  // New numbering: 0 the box, 1 the space, the characters above 32 in code order, then the
  // glyphs that are only components, in glyph order.
  std::vector<bool> used(s.numGlyphs, false);
  std::vector<bool> tagged(s.numGlyphs, false);
  std::vector<uint16_t> order;  // old glyph of each new glyph from 2 on
  std::map<uint8_t, uint16_t> newCodes;
  std::vector<int32_t> links(s.numGlyphs, -1);
  for (const auto& [code, g] : kit) {
    if (code < 32) continue;
    if (code == 32) {
      newCodes[32] = 1;
      continue;
    }
    const uint16_t newGlyph = static_cast<uint16_t>(2 + order.size());
    newCodes[code] = newGlyph;
    order.push_back(g);
    used[g] = tagged[g] = true;
    if (links[g] < 0) links[g] = newGlyph;
  }
  MergeCompositLinks(s, tagged);
  for (size_t g = 0; g < s.numGlyphs; ++g) {
    if (tagged[g] && !used[g]) {
      links[g] = static_cast<int32_t>(2 + order.size());
      order.push_back(static_cast<uint16_t>(g));
    }
  }
  const size_t count = 2 + order.size();
  if (count > 0xFFFF) throw EMRVXError(kErrGlyph);

  // glyf with the components renumbered (EditMonopictedLinks), loca in the long format, hmtx.
  std::string glyf = Bytes(kMarkGlyf);
  std::string loca, hmtx;
  platform::PutU32(loca, 0);
  platform::PutU32(loca, static_cast<uint32_t>(glyf.size()));
  platform::PutU32(loca, static_cast<uint32_t>(glyf.size()));
  platform::PutU16(hmtx, kMarkAdvance);
  platform::PutU16(hmtx, kMarkLsb);
  platform::PutU16(hmtx, kSpaceAdvance);
  platform::PutU16(hmtx, 0);
  try {
    for (uint16_t g : order) {
      std::string outline = Bytes(s.outlines[g]);
      ForEachComponent(s.outlines[g], s.numGlyphs, [&](uint16_t c, size_t at) {
        platform::SetU16(outline, at, static_cast<uint16_t>(links[c]));
      });
      glyf += outline;
      platform::PutU32(loca, static_cast<uint32_t>(glyf.size()));
      platform::PutU16(hmtx, s.Advance(g));
      // The bearing stays the glyph's own: rasterisers place the outline by it.
      platform::PutU16(hmtx, static_cast<uint16_t>(s.Lsb(g)));
    }
  } catch (const EFontError&) {
    throw EMRVXError(kErrRequired);
  }

  std::string head = s.head;
  platform::SetU16(head, 50, 1);
  std::string hhea = s.hhea;
  platform::SetU16(hhea, 34, static_cast<uint16_t>(count));
  std::string maxp = s.maxp;
  platform::SetU16(maxp, 4, static_cast<uint16_t>(count));
  std::string post;
  platform::PutU32(post, 0x00030000);
  post.append(28, '\0');

  // The directory is sorted by tag, as the TrueType format asks of every font file.
  std::vector<Table> tables;
  tables.push_back({SfntTag("cmap"), GetFullCMAP(newCodes)});
  if (s.cvt) tables.push_back({SfntTag("cvt "), Bytes(*s.cvt)});
  if (s.fpgm) tables.push_back({SfntTag("fpgm"), Bytes(*s.fpgm)});
  tables.push_back({SfntTag("glyf"), std::move(glyf)});
  tables.push_back({SfntTag("head"), std::move(head)});
  tables.push_back({SfntTag("hhea"), std::move(hhea)});
  tables.push_back({SfntTag("hmtx"), std::move(hmtx)});
  tables.push_back({SfntTag("loca"), std::move(loca)});
  tables.push_back({SfntTag("maxp"), std::move(maxp)});
  tables.push_back({SfntTag("post"), std::move(post)});
  tables.push_back({SfntTag("prep"), s.prep ? Bytes(*s.prep) : std::string()});
  OutStream = CreateFontTable(tables);
}

}  // namespace pdfwriter
