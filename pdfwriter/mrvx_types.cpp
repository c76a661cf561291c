#include "pdfwriter/mrvx_types.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "platform/base/number_format.h"

namespace pdfwriter {
namespace {

// A point and no grouping, independent of what the application has set for its own texts.
const platform::FormatSettings& PdfNumbers() {
  static const platform::FormatSettings settings{'.', ','};
  return settings;
}

constexpr std::string_view kEscapeChars = "()\\\r\n\t\b\f";
constexpr std::string_view kReplaceChars = "()\\rntbf";

}  // namespace

std::string _FloatToStrR(Extended Value) {
  // A PDF reader has no text for NaN or infinity; a broken value must not break the page.
  if (!std::isfinite(Value)) return "0";
  const Extended cents = std::floor(Value * 100 + 0.5L);
  // Every coordinate of a page goes through here: whole hundredths of ordinary size are
  // written from their integer digits, which is what the general conversion gives for them
  // (up to 13 digits, far inside its 15 significant ones) at a fraction of its cost.
  if (std::fabs(cents) < 1e13L) {
    const auto n = static_cast<int64_t>(cents);
    uint64_t a = n < 0 ? static_cast<uint64_t>(-n) : static_cast<uint64_t>(n);
    // Written backwards from the last digit into a buffer wide enough for 13 digits.
    char buf[24];
    char* p = buf + sizeof buf;
    const auto frac = static_cast<unsigned>(a % 100);
    if (frac != 0) {
      if (frac % 10 != 0) *--p = static_cast<char>('0' + frac % 10);
      *--p = static_cast<char>('0' + frac / 10);
      *--p = '.';
    }
    a /= 100;
    do {
      *--p = static_cast<char>('0' + a % 10);
      a /= 10;
    } while (a != 0);
    if (n < 0) *--p = '-';
    return std::string(p, buf + sizeof buf);
  }
  return platform::FloatToStr(cents / 100, PdfNumbers());
}

std::string _ColorToStrR(TColor Value) {
  if (Value <= 0) Value = 0;
  const auto v = static_cast<uint32_t>(Value);
  const auto part = [](uint32_t byte) { return _FloatToStrR(static_cast<Extended>(byte) / 255); };
  return part(v & 0xFF) + " " + part((v >> 8) & 0xFF) + " " + part((v >> 16) & 0xFF);
}

std::string _CutFloat(Extended Value) {
  if (!std::isfinite(Value)) return "0";
  std::string s = platform::FloatToStrF(Value, platform::TFloatFormat::ffFixed, 18, 4, PdfNumbers());
  // Values beyond 18 integer digits come back in scientific form, which has no zeros to cut.
  if (s.find('.') != std::string::npos && s.find('E') == std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string _StrToHex(std::string_view Value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(Value.size() * 2);
  for (unsigned char c : Value) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0x0F]);
  }
  return out;
}

std::string _EscapeText(std::string_view Value) {
  std::string out;
  out.reserve(Value.size() + 8);
  for (char c : Value) {
    const size_t k = kEscapeChars.find(c);
    if (k == std::string_view::npos) {
      out.push_back(c);
    } else {
      out.push_back('\\');
      out.push_back(kReplaceChars[k]);
    }
  }
  return out;
}

std::string _UnEscapeText(std::string_view Value) {
  std::string out;
  out.reserve(Value.size());
  size_t i = 0;
  while (i < Value.size()) {
    if (Value[i] == '\\' && i + 1 < Value.size()) {
      const size_t k = kReplaceChars.find(Value[i + 1]);
      if (k != std::string_view::npos) {
        out.push_back(kEscapeChars[k]);
        i += 2;
        continue;
      }
    }
    out.push_back(Value[i]);
    ++i;
  }
  return out;
}

std::string _DateTimeToPdfDate(platform::TDateTime ADate) {
  const platform::DateParts p = platform::DecodeDateTime(ADate);
  char buf[32];
  std::snprintf(buf, sizeof buf, "D:%04d%02d%02d%02d%02d%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
  return buf;
}

}  // namespace pdfwriter
