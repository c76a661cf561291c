// The metafile translator's text records (part of the MRVXWmf module): the PDF font chosen
// from the recording's logical font, and text placed by its reference point, alignment,
// rotation and current position, with its opaque background and clip rectangle.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "pdfwriter/mrvx_doc_page.h"
#include "pdfwriter/mrvx_wmf.h"
#include "platform/base/cp1252.h"
#include "platform/fonts/font_provider.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

namespace pdfwriter {
namespace {

constexpr Extended kPi = std::numbers::pi_v<Extended>;

// a * b / c rounded to the nearest integer, halves away from zero, as the platform's MulDiv.
int32_t MulDiv(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return -1;
  const int64_t p = a * b;
  const int64_t q = (std::llabs(p) + std::llabs(c) / 2) / std::llabs(c);
  return static_cast<int32_t>((p < 0) != (c < 0) ? -q : q);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

platform::TFontStyles StylesOf(const TMRVXLogFont& f) {
  platform::TFontStyles s = 0;
  if (f.lfWeight >= 600) s |= platform::fsBold;
  if (f.lfItalic) s |= platform::fsItalic;
  if (f.lfUnderline) s |= platform::fsUnderline;
  if (f.lfStrikeOut) s |= platform::fsStrikeOut;
  return s;
}

// The metrics of the face the logical font selects (the fallback face when it is not installed).
const platform::TFontMetrics* MetricsOf(const TMRVXLogFont& f) {
  const platform::TFontRef ref = platform::FontProvider::Default().FindOrFallback(
      platform::Utf16ToUtf8(f.FaceName()), static_cast<platform::TFontStyles>(StylesOf(f) & 3));
  return ref ? &ref.Face->Metrics() : nullptr;
}

// The em height in pixels of a logical font: a negative height is the em itself, a positive
// one the cell (ascent and descent), 0 the device's default cell of 16 pixels.
Extended EmPixels(const TMRVXLogFont& f, const platform::TFontMetrics* m) {
  if (f.lfHeight < 0) return -static_cast<Extended>(f.lfHeight);
  const Extended cell = f.lfHeight == 0 ? 16 : f.lfHeight;
  if (!m || m->Height <= 0) return cell;
  return std::nearbyint(cell * m->UnitsPerEm / m->Height);
}

}  // namespace

void TMRVXWmf::ActivateCurrentFont() {
  if (!MadeClip) return;
  MadeClip = false;
  TMRVXLogFont& f = CurrentFont;
  const platform::TFontStyles style = StylesOf(f);
  const std::string face = platform::Utf16ToCp1252(f.FaceName());
  const std::string upper = Upper(face);
  WTypeFont = upper == "WINGDINGS";
  if (WTypeFont) f.lfCharSet = 2;

  const platform::TFontMetrics* m = MetricsOf(f);
  const Extended em = EmPixels(f, m);
  const int32_t points = MulDiv(static_cast<int64_t>(em), 72, RefDpi);
  const Extended size = static_cast<Extended>(ZoomY()) * (points * std::fabs(static_cast<Extended>(ZScaleY)));
  const std::string name = upper == "HELVETICA" && f.lfCharSet != 0 ? std::string("Arial") : face;
  FPage->SetFont(name, style, static_cast<float>(size), 0, false);

  if (f.lfWidth != 0 && m && m->AveCharWidth > 0 && em > 0) {
    // A width asks for that average character width; every advance scales with it.
    const Extended natural = static_cast<Extended>(m->AveCharWidth) * em / m->UnitsPerEm;
    FPage->SetHorizontalScaling(static_cast<float>(f.lfWidth / natural * 100));
  } else {
    FPage->SetHorizontalScaling(100);
  }
}

float TMRVXWmf::MirrorCellHeight() const {
  const TMRVXLogFont& f = Mirror.State.Font;
  if (f.lfHeight > 0) return static_cast<float>(f.lfHeight);
  const platform::TFontMetrics* m = MetricsOf(f);
  const Extended em = EmPixels(f, m);
  if (!m || m->UnitsPerEm <= 0) return static_cast<float>(em);
  return static_cast<float>(std::nearbyint(em * m->Height / m->UnitsPerEm));
}

bool TMRVXWmf::DropClip() {
  if (!IsCliped) return false;
  FPage->GStateRestore();
  return true;
}

void TMRVXWmf::ReestablishClip(bool Dropped) {
  if (!Dropped) return;
  if (InterSectClipRect) {
    FPage->GStateSave();
    FPage->MFRectangle(static_cast<float>(ClipRect.Left), static_cast<float>(ClipRect.Top),
                       static_cast<float>(ClipRect.Right), static_cast<float>(ClipRect.Bottom));
    FPage->Clip();
    FPage->NewPath();
  } else {
    // A region or path clip cannot be rebuilt from what the translator keeps.
    IsCliped = false;
  }
}

void TMRVXWmf::VEMREXTTEXTOUT(const Rec& R) {
  const bool wide = R.Type() == 84;
  FPage->TopTextPosition = true;
  const int32_t ref_x = R.I32(36), ref_y = R.I32(40);
  const uint32_t count = R.U32(44);
  const uint32_t text_at = R.U32(48);
  const uint32_t options = R.U32(52);
  const int32_t l = R.I32(56), t = R.I32(60), r = R.I32(64), b = R.I32(68);
  const uint32_t dx_at = R.U32(72);
  R.NeedItems(text_at, count, wide ? 2 : 1);
  if (dx_at != 0) R.NeedItems(dx_at, count, 4);

  // The text first (nothing is drawn yet); combining diacritics are composed with their base
  // characters where a composed character exists, and the spacing array then no longer fits
  // the text.
  std::u16string wtext;
  std::string atext;
  bool composed = false;
  if (wide) {
    wtext.resize(count);
    for (uint32_t i = 0; i < count; ++i) wtext[i] = static_cast<char16_t>(R.U16(text_at + 2 * static_cast<size_t>(i)));
    if (!(options & 0x10) &&
        std::any_of(wtext.begin(), wtext.end(), [](char16_t c) { return c >= 0x300 && c <= 0x36F; })) {
      UErrorCode err = U_ZERO_ERROR;
      const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(err);
      if (U_SUCCESS(err)) {
        const icu::UnicodeString src(reinterpret_cast<const UChar*>(wtext.data()), static_cast<int32_t>(wtext.size()));
        const icu::UnicodeString out = nfc->normalize(src, err);
        if (U_SUCCESS(err) && static_cast<size_t>(out.length()) != wtext.size()) {
          wtext.assign(reinterpret_cast<const char16_t*>(out.getBuffer()), static_cast<size_t>(out.length()));
          composed = true;
        }
      }
    }
  } else {
    atext.resize(count);
    for (uint32_t i = 0; i < count; ++i) atext[i] = static_cast<char>(R.U8(text_at + i));
  }

  Extended extent = 0;
  if (dx_at != 0 && !composed) {
    int64_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) sum += R.I32(dx_at + 4 * static_cast<size_t>(i));
    extent = static_cast<Extended>(sum) * ZoomX();
  } else {
    extent = static_cast<Extended>(r) - l;
  }

  const int32_t esc = CurrentFont.lfEscapement;
  const Extended a = esc * kPi / 1800;
  Extended x = ref_x, y = ref_y;
  if (UpdatePos && count > 0) {
    // The current position moves by the text's extent. Computed in long double; a position
    // that leaves the logical coordinate range (a huge spacing array, wide bounds) cannot be
    // a place on the page, and the record is skipped whole rather than wrapped round.
    x = CurrentVal.X;
    y = CurrentVal.Y;
    const Extended nx = std::nearbyint(esc == 0 ? x + extent : x + extent * std::cos(a));
    const Extended ny = esc == 0 ? y : std::nearbyint(y - extent * std::sin(a));
    const auto fits = [](Extended v) { return v >= INT32_MIN && v <= INT32_MAX; };
    if (!fits(nx) || !fits(ny)) return;
    CurrentVal.X = static_cast<int32_t>(nx);
    CurrentVal.Y = static_cast<int32_t>(ny);
  }

  const bool clipped = (options & 4) != 0, opaque = (options & 2) != 0;
  bool saved = false, dropped = false;
  const auto box = [&] {
    FPage->MFRectangle(ScaleX(static_cast<float>(l), true), ScaleY(static_cast<float>(t), true),
                       ScaleX(static_cast<float>(r), true), ScaleY(static_cast<float>(b), true));
  };
  if (!FPathContinue && (clipped || opaque || BKMode)) {
    const bool paint = r > l && b > t && (opaque || BKMode);
    if (clipped && count > 0) {
      dropped = DropClip();
      FPage->GStateSave();
      saved = true;
      FPage->NewPath();
      if (paint) MFSetBKColor();
      box();
      FPage->Clip();
      if (paint) FPage->Fill();
      else FPage->NewPath();
    } else if (paint) {
      MFSetBKColor();
      FPage->NewPath();
      box();
      FPage->Fill();
    }
  }
  if (count == 0) return;

  SetFontColor();
  ActivateCurrentFont();

  float px = 0, py = 0;
  if (esc == 0) {
    py = ScaleY(static_cast<float>(y), true);
    if (VertMode != TMRVXVerticalJust::vvjUp) py -= FPage->TextHeight("Xg");
    Extended shift = 0;
    if (HorMode == TMRVXHorizJust::vhjCenter) shift = extent / 2;
    if (HorMode == TMRVXHorizJust::vhjRight) shift = extent;
    px = ScaleX(static_cast<float>(x - shift), true);
  } else {
    if (HorMode != TMRVXHorizJust::vhjLeft || VertMode != TMRVXVerticalJust::vvjUp) {
      const Extended dy = VertMode == TMRVXVerticalJust::vvjUp ? 0 : MirrorCellHeight();
      const Extended dx = HorMode == TMRVXHorizJust::vhjCenter ? extent / 2
                          : HorMode == TMRVXHorizJust::vhjRight ? extent : 0;
      if (dy != 0) {
        const Extended rr = std::sqrt(dx * dx + dy * dy);
        const Extended phi = a - std::asin(dy / rr);
        x -= rr * std::cos(phi);
        y += rr * std::sin(phi);
      } else {
        x -= dx * std::cos(a);
        y += dx * std::sin(a);
      }
    }
    px = ScaleX(static_cast<float>(x), true);
    py = ScaleY(static_cast<float>(y), true);
  }

  const Extended angle = static_cast<Extended>(esc) / 10;
  // The page reads Y as the top of the text (its baseline one ascent lower) only while
  // TopTextPosition is false; with it set, Y would be the baseline and text aligned at its top
  // would stand one ascent too high.
  FPage->TopTextPosition = false;
  if (wide) FPage->UnicodeTextOut(px, py, angle, wtext.data(), static_cast<int>(wtext.size()));
  else FPage->TextOut(px, py, angle, atext);
  FPage->TopTextPosition = true;

  if (saved) {
    FPage->GStateRestore();
    MadeClip = true;
    ReestablishClip(dropped);
  }
}

void TMRVXWmf::VEMRSMALLTEXTOUT(const Rec& R) {
  const int32_t ref_x = R.I32(8), ref_y = R.I32(12);
  const uint32_t count = R.U32(16);
  const uint32_t options = R.U32(20);
  if (count == 0) return;
  const bool has_rect = (options & 0x100) == 0;
  const bool small = (options & 0x200) != 0;
  const size_t text_at = has_rect ? 52 : 36;
  R.NeedItems(text_at, count, small ? 1 : 2);
  const Extended angle = static_cast<Extended>(CurrentFont.lfEscapement) / 10;

  bool dropped = false;
  if (has_rect) {
    dropped = DropClip();
    FPage->GStateSave();
    FPage->NewPath();
    FPage->MFRectangle(ScaleX(static_cast<float>(R.I32(36)), true), ScaleY(static_cast<float>(R.I32(40)), true),
                       ScaleX(static_cast<float>(R.I32(44)), true), ScaleY(static_cast<float>(R.I32(48)), true));
    FPage->Clip();
    FPage->NewPath();
  }
  const float px = ScaleX(static_cast<float>(ref_x), true), py = ScaleY(static_cast<float>(ref_y), true);
  SetFontColor();
  ActivateCurrentFont();
  FPage->TopTextPosition = false;
  if (small) {
    std::string text(count, '\0');
    for (uint32_t i = 0; i < count; ++i) text[i] = static_cast<char>(R.U8(text_at + i));
    FPage->TextOut(px, py, angle, text);
  } else {
    std::u16string text(count, u'\0');
    for (uint32_t i = 0; i < count; ++i) text[i] = static_cast<char16_t>(R.U16(text_at + 2 * static_cast<size_t>(i)));
    FPage->UnicodeTextOut(px, py, angle, text.data(), static_cast<int>(text.size()));
  }
  FPage->TopTextPosition = true;
  if (has_rect) {
    FPage->GStateRestore();
    MadeClip = true;
    ReestablishClip(dropped);
  }
}

}  // namespace pdfwriter
