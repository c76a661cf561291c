// Text output on a page (part of the MRVXDoc module): 8-bit text as literal strings in a
// simple font, Unicode text as glyph numbers in a composite font. Every call is one text
// object at caller coordinates, optionally rotated, underlined or struck out.
#include <cmath>
#include <numbers>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/mrvx_doc_font.h"
#include "pdfwriter/mrvx_doc_page.h"

namespace pdfwriter {

namespace {

std::string Hex4(uint32_t v) {
  static const char* digits = "0123456789ABCDEF";
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i) {
    s[static_cast<size_t>(i)] = digits[v & 0xF];
    v >>= 4;
  }
  return s;
}

// The angle in radians, rounded to single precision as the text matrix takes it.
float Radians(Extended Angle) { return static_cast<float>(Angle * std::numbers::pi_v<Extended> / 180); }

}  // namespace

float TMRVXPage::TextHeight(std::string_view /*Text*/) const {
  const TMRVXFontObj& f = *FCurrentFontObj;
  return static_cast<float>(f.Ascent) * f.Size / 1000;
}

float TMRVXPage::AdvanceWidth(int32_t Advance, bool IsSpace, bool IsLast) const {
  float w = static_cast<float>(Advance) * FCurrentFontObj->Size / 1000;
  if (FHorizontalScaling != 100) w = w * FHorizontalScaling / 100;
  w = w > 0 ? w + FCharSpace : 0;
  if (IsSpace && FWordSpace > 0 && !IsLast) w += FWordSpace;
  return w;
}

float TMRVXPage::TextWidth(std::string_view Text) const {
  float width = 0;
  for (size_t i = 0; i < Text.size(); ++i) {
    width += AdvanceWidth(FCurrentFontObj->GetCharWidth(Text, i + 1), Text[i] == ' ', i + 1 == Text.size());
  }
  return width;
}

float TMRVXPage::TextWidth(std::u16string_view Text) {
  // Unicode text is as wide as its glyphs; its 8-bit conversion would measure every
  // character outside the code page as a question mark.
  TMRVXFontObj& f = *FCurrentFontObj;
  if (!f.Symbols) f.LoadSymbols();
  float width = 0;
  for (size_t i = 0; i < Text.size(); ++i) {
    width += AdvanceWidth(f.Symbol(Text[i]).Width, Text[i] == u' ', i + 1 == Text.size());
  }
  return width;
}

void TMRVXPage::ShowText(std::string_view Text, bool IsHexadecimal) {
  std::string line(IsHexadecimal ? "<" : "(");
  line += IsHexadecimal ? _StrToHex(Text) : _EscapeText(Text);
  line += IsHexadecimal ? "> Tj" : ") Tj";
  Line(std::move(line));
}

void TMRVXPage::ShowUnicodeText(std::string_view Text) {
  std::string line("<");
  line += Text;
  line += "> Tj";
  Line(std::move(line));
}

std::string TMRVXPage::ProcChar(char16_t ComposChar) {
  TMRVXFontObj& f = *FCurrentFontObj;
  const size_t u = ComposChar;
  if (u >= f.UnicodeTable.size()) f.UnicodeTable.resize(u + 1);
  IndexedChar& entry = f.UnicodeTable[u];
  if (!entry.CharCode) {
    entry.CharCode = true;
    entry.Index = f.Symbol(ComposChar).Index;
    ++f.UniLen;
  }
  return Hex4(static_cast<uint32_t>(entry.Index));
}

void TMRVXPage::TextBars(float X, float Y, Extended Angle, float Width, float Baseline) {
  const TMRVXFontObj& f = *FCurrentFontObj;
  if (!(f.FontStyle & (fsUnderline | fsStrikeOut))) return;
  // The bars follow the baseline of rotated text: their offsets are taken across the text
  // direction, and the rectangle turns with it (a positive text angle runs counterclockwise,
  // which is a negative angle in the downward caller coordinates of RectangleRotate).
  const float a = Radians(Angle);
  const float sn = Angle == 0 ? 0.0f : std::sin(a);
  const float cs = Angle == 0 ? 1.0f : std::cos(a);
  const float h = TextHeight({});
  auto bar = [&](float below) {
    const float d = Baseline + below;
    RectangleRotate(X + sn * d, Y + cs * d, Width, 0.07f * f.Size, -Angle);
    Fill();
  };
  if (f.FontStyle & fsUnderline) bar(2);
  if (f.FontStyle & fsStrikeOut) bar(-h / 3);
}

void TMRVXPage::TextOut(float X, float Y, Extended Angle, std::string_view Text) {
  ProcessFont(false);
  TMRVXFontObj& f = *FCurrentFontObj;
  std::string text(Text);
  for (char& ch : text) {
    const uint8_t b = static_cast<uint8_t>(ch);
    if (b == 173) ch = '-';
    if (b == 160 || b == 152 || b == 127) ch = ' ';
    // Control bytes have no place in the font's code table; they are written as they are.
    const uint8_t m = static_cast<uint8_t>(ch);
    if (m >= 32) f.SymbolTable[m] = true;
  }
  BeginText();
  const float h = TextHeight(text);
  const float s = TopTextPosition ? 0 : h;
  if (Angle == 0) {
    MoveTextPoint(X, Y + s);
  } else {
    const float a = Radians(Angle);
    const float x = XProjection(X) + std::sin(a) * s;
    const float y = YProjection(Y) - std::cos(a) * s;
    SetTextMatrix(std::cos(a), std::sin(a), -std::sin(a), std::cos(a), x, y);
  }
  ShowText(text, false);
  EndText();
  TextBars(X, Y, Angle, TextWidth(text), s);
  StoreCurrentFont();
  f.IsUsed = false;
}

void TMRVXPage::UnicodeTextOut(float X, float Y, Extended Angle, std::u16string_view Text) {
  UnicodeTextOut(X, Y, Angle, Text.data(), static_cast<int>(std::min<size_t>(Text.size(), INT32_MAX)));
}

void TMRVXPage::UnicodeTextOut(float X, float Y, Extended Angle, const char16_t* Text, int TextLength) {
  if (!Text || TextLength < 0) TextLength = 0;
  TMRVXFontObj& f = *FCurrentFontObj;
  if (!f.IsVertical) {
    InternUnicodeTextOut(X, Y, Angle, Text, TextLength);
  } else {
    const float h = TextHeight("Zj");
    const float w = TextWidth(std::string_view("W"));
    float y = Y;
    for (int i = 0; i < TextLength; ++i) {
      const char16_t u = Text[i] == 0x30FC ? u'|' : Text[i];
      InternUnicodeTextOut(X + w / 2, y - h, 0, &u, 1);
      y += h;
    }
  }
  StoreCurrentFont();
  f.IsUsed = false;
}

void TMRVXPage::InternUnicodeTextOut(float X, float Y, Extended Angle, const char16_t* Text, int TextLength) {
  ProcessFont(true);
  TMRVXFontObj& f = *FCurrentFontObj;
  if (!f.FActive || !f.Symbols) f.LoadSymbols();
  std::string codes;
  codes.reserve(static_cast<size_t>(TextLength) * 4);
  for (int i = 0; i < TextLength; ++i) codes += ProcChar(Text[i]);
  BeginText();
  const float h = TextHeight({});
  const float s = TopTextPosition ? 0 : h;
  const float a = Radians(Angle);
  const float x = XProjection(X) + std::sin(a) * s;
  const float y = YProjection(Y) - std::cos(a) * s;
  SetTextMatrix(std::cos(a), std::sin(a), -std::sin(a), std::cos(a), x, y);
  ShowUnicodeText(codes);
  EndText();
  TextBars(X, Y, Angle, TextWidth(std::u16string_view(Text, static_cast<size_t>(TextLength))), s);
}

}  // namespace pdfwriter
