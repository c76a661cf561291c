#include "platform/fonts/font_face.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace platform {

namespace {

constexpr uint32_t kHead = SfntTag("head");
constexpr uint32_t kHhea = SfntTag("hhea");
constexpr uint32_t kOS2 = SfntTag("OS/2");
constexpr uint32_t kPost = SfntTag("post");
constexpr uint32_t kMaxp = SfntTag("maxp");

// Sizes beyond this are no text anyone reads; they only cost memory.
constexpr int kMaxEmPixels = 4000;

int Scale(long v, int upm) { return static_cast<int>(std::lround(static_cast<double>(v) * 1000.0 / upm)); }

}  // namespace

struct FontFace::FreeTypeState {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  // Setting a size runs the font's hinting set-up program; it is done only when the size
  // changes, not for every glyph of a line.
  int em = 0;
  bool SetSize(int emPixels) {
    if (em == emPixels) return true;
    em = 0;
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(emPixels)) != 0) return false;
    em = emPixels;
    return true;
  }
  ~FreeTypeState() {
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
  }
};

std::shared_ptr<FontFace> FontFace::FromFile(const std::string& path, int faceIndex) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw EFontError("Cannot open font file " + path + ".");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (f.bad()) throw EFontError("Cannot read font file " + path + ".");
  try {
    std::shared_ptr<FontFace> face = FromMemory(std::move(bytes), faceIndex);
    face->path_ = path;
    return face;
  } catch (const EFontError& e) {
    throw EFontError(std::string(e.what()) + " (" + path + ")");
  }
}

std::shared_ptr<FontFace> FontFace::FromMemory(std::vector<uint8_t> bytes, int faceIndex) {
  std::shared_ptr<FontFace> face(new FontFace());
  face->bytes_ = std::move(bytes);
  face->index_ = faceIndex;
  face->directory_ = SfntDirectory::Parse(face->bytes_, faceIndex);
  return face;
}

FontFace::~FontFace() = default;

bool FontFace::IsTrueType() const {
  return directory_.Contains(SfntTag("glyf")) && directory_.Contains(SfntTag("loca")) && directory_.Contains(kHead);
}

FontFace::FreeTypeState& FontFace::FT() const {
  if (!ft_) {
    auto state = std::make_unique<FreeTypeState>();
    if (FT_Init_FreeType(&state->library) != 0) throw EFontError("Cannot start the font rasteriser.");
    if (FT_New_Memory_Face(state->library, bytes_.data(), static_cast<FT_Long>(bytes_.size()), index_, &state->face) !=
        0) {
      throw EFontError("Invalid font data: the face cannot be opened" + (path_.empty() ? "" : " (" + path_ + ")") +
                       ".");
    }
    ft_ = std::move(state);
  }
  return *ft_;
}

const TFontMetrics& FontFace::Metrics() const {
  std::lock_guard lock(mutex_);
  if (metrics_) return *metrics_;

  auto need = [&](uint32_t tag, size_t size) {
    auto t = directory_.Find(tag);
    if (!t || t->size() < size) throw EFontError("Invalid font data: table '" + TagText(tag) + "' is missing or short.");
    return BeReader(*t, "table '" + TagText(tag) + "'");
  };
  const BeReader head = need(kHead, 54);
  const BeReader hhea = need(kHhea, 36);
  const int upm = head.U16(18);
  if (upm < 16 || upm > 16384) throw EFontError("Invalid font data: units per em out of range.");

  TFontMetrics m;
  m.UnitsPerEm = upm;
  const int hheaAscent = hhea.S16(4);
  const int hheaDescent = hhea.S16(6);  // negative below the baseline
  const int hheaLineGap = hhea.S16(8);
  m.MaxCharWidth = Scale(hhea.U16(10), upm);
  m.BBox[0] = Scale(head.S16(36), upm);
  m.BBox[1] = Scale(head.S16(38), upm);
  m.BBox[2] = Scale(head.S16(40), upm);
  m.BBox[3] = Scale(head.S16(42), upm);
  const uint16_t macStyle = head.U16(44);

  long winAscent = hheaAscent;
  long winDescent = -hheaDescent;
  long typoAscent = hheaAscent;
  long typoDescent = hheaDescent;
  uint16_t fsSelection = 0;
  auto os2 = directory_.Find(kOS2);
  if (os2 && os2->size() >= 78) {
    const BeReader r(*os2, "table 'OS/2'");
    m.AveCharWidth = Scale(r.S16(2), upm);
    m.WeightClass = r.U16(4);
    m.StrikeoutSize = Scale(r.S16(26), upm);
    m.StrikeoutPosition = Scale(r.S16(28), upm);
    fsSelection = r.U16(62);
    typoAscent = r.S16(68);
    typoDescent = r.S16(70);
    winAscent = r.U16(74);
    winDescent = r.U16(76);
    if (r.U16(0) >= 2 && r.size() >= 90) m.CapHeight = Scale(r.S16(88), upm);
  } else {
    m.AveCharWidth = m.MaxCharWidth / 2;
    m.StrikeoutSize = Scale(upm / 20, upm);
    m.StrikeoutPosition = Scale(hheaAscent / 3, upm);
  }
  auto post = directory_.Find(kPost);
  if (post && post->size() >= 16) {
    const BeReader r(*post, "table 'post'");
    m.ItalicAngle = static_cast<double>(r.S32(4)) / 65536.0;
    m.UnderlinePosition = Scale(r.S16(8), upm);
    m.UnderlineThickness = Scale(r.S16(10), upm);
    m.FixedPitch = r.U32(12) != 0;
  }
  if (m.UnderlineThickness <= 0) m.UnderlineThickness = std::max(1, Scale(upm / 20, upm));
  if (m.UnderlinePosition == 0) m.UnderlinePosition = -m.UnderlineThickness;
  if (m.StrikeoutSize <= 0) m.StrikeoutSize = m.UnderlineThickness;

  m.Ascent = Scale(winAscent, upm);
  m.Descent = Scale(winDescent, upm);
  m.Height = m.Ascent + m.Descent;
  m.InternalLeading = std::max(0, m.Height - 1000);
  const long extra = hheaLineGap - ((winAscent + winDescent) - (hheaAscent - hheaDescent));
  m.ExternalLeading = std::max(0, Scale(extra, upm));
  m.OutlineAscent = Scale(typoAscent, upm);
  m.OutlineDescent = Scale(typoDescent, upm);
  if (m.CapHeight == 0) m.CapHeight = m.Ascent;
  m.Bold = m.WeightClass >= 600 || (fsSelection & 0x20) != 0 || (macStyle & 1) != 0;
  m.Italic = (fsSelection & 0x201) != 0 || (macStyle & 2) != 0 || m.ItalicAngle != 0;
  metrics_ = m;
  return *metrics_;
}

uint32_t FontFace::NumGlyphs() const {
  auto maxp = directory_.Find(kMaxp);
  if (!maxp || maxp->size() < 6) return 0;
  return BeReader(*maxp, "table 'maxp'").U16(4);
}

uint32_t FontFace::GlyphIndex(char32_t c) const {
  std::lock_guard lock(mutex_);
  return FT_Get_Char_Index(FT().face, c);
}

TABC FontFace::GlyphABC(uint32_t glyph) const {
  const int upm = Metrics().UnitsPerEm;
  std::lock_guard lock(mutex_);
  FT_Face face = FT().face;
  constexpr FT_Int32 flags = FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP | FT_LOAD_IGNORE_TRANSFORM;
  if (FT_Load_Glyph(face, glyph, flags) != 0 && (glyph == 0 || FT_Load_Glyph(face, 0, flags) != 0)) return {};
  const FT_Glyph_Metrics& gm = face->glyph->metrics;
  TABC abc;
  abc.A = Scale(gm.horiBearingX, upm);
  abc.B = Scale(gm.width, upm);
  abc.C = Scale(gm.horiAdvance, upm) - abc.A - abc.B;
  return abc;
}

bool FontFace::RenderGlyph(uint32_t glyph, int emPixels, bool embolden, bool oblique, TGlyphImage& out) const {
  out = TGlyphImage{};
  if (emPixels < 1 || emPixels > kMaxEmPixels) return false;
  std::lock_guard lock(mutex_);
  FreeTypeState& ft = FT();
  FT_Face face = ft.face;
  if (!ft.SetSize(emPixels)) return false;
  if (FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) return false;
  FT_GlyphSlot slot = face->glyph;
  if (oblique) FT_GlyphSlot_Oblique(slot);
  if (embolden) FT_GlyphSlot_Embolden(slot);
  out.Advance = static_cast<int>((slot->advance.x + 32) >> 6);
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return false;
  const FT_Bitmap& bm = slot->bitmap;
  if (bm.pixel_mode != FT_PIXEL_MODE_GRAY) return false;
  out.Left = slot->bitmap_left;
  out.Top = slot->bitmap_top;
  out.Width = static_cast<int>(bm.width);
  out.Rows = static_cast<int>(bm.rows);
  out.Pitch = out.Width;
  out.Coverage.resize(static_cast<size_t>(out.Width) * static_cast<size_t>(out.Rows));
  const int pitch = bm.pitch;
  for (int y = 0; y < out.Rows; ++y) {
    const unsigned char* row = pitch >= 0 ? bm.buffer + static_cast<ptrdiff_t>(y) * pitch
                                          : bm.buffer + static_cast<ptrdiff_t>(out.Rows - 1 - y) * -pitch;
    if (out.Width > 0) std::memcpy(out.Coverage.data() + static_cast<size_t>(y) * out.Width, row, out.Width);
  }
  return true;
}

int FontFace::PixelAdvance(uint32_t glyph, int emPixels, bool embolden) const {
  if (emPixels < 1 || emPixels > kMaxEmPixels) return 0;
  std::lock_guard lock(mutex_);
  FreeTypeState& ft = FT();
  FT_Face face = ft.face;
  if (!ft.SetSize(emPixels)) return 0;
  if (FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) return 0;
  if (embolden) FT_GlyphSlot_Embolden(face->glyph);
  return static_cast<int>((face->glyph->advance.x + 32) >> 6);
}

}  // namespace platform
