#include "platform/data/same_text.h"

#include "platform/base/cp1252.h"

namespace platform::data {
namespace {

char16_t Upper(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c < 0x80) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  switch (c) {
    case 0xFF: return 0x178;
    case 0x161: return 0x160;
    case 0x153: return 0x152;
    case 0x17E: return 0x17D;
    default: return c;
  }
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  if (IsAscii(a) && IsAscii(b)) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (Upper(static_cast<char16_t>(a[i])) != Upper(static_cast<char16_t>(b[i]))) return false;
    return true;
  }
  const std::u16string wa = Utf8ToUtf16(a), wb = Utf8ToUtf16(b);
  if (wa.size() != wb.size()) return false;
  for (size_t i = 0; i < wa.size(); ++i)
    if (Upper(wa[i]) != Upper(wb[i])) return false;
  return true;
}

std::string UpperText(std::string_view utf8) {
  std::u16string w = Utf8ToUtf16(utf8);
  for (char16_t& c : w) c = Upper(c);
  return Utf16ToUtf8(w);
}

std::string TrimText(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(b, e - b));
}

}  // namespace platform::data
