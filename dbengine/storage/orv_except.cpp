#include "dbengine/storage/orv_except.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "platform/base/number_format.h"

namespace orv {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads an unsigned decimal number or "*" (the next integer argument). Returns false on a
// "*" without a fitting argument.
bool ReadCount(std::string_view f, size_t& i, std::span<const TORVFormatArg> args, size_t& argi,
               int& value, bool& present) {
  present = false;
  if (i < f.size() && f[i] == '*') {
    if (argi >= args.size()) return false;
    const auto& v = args[argi++].value();
    if (const auto* n = std::get_if<int64_t>(&v)) {
      if (*n < -1000000 || *n > 1000000) return false;
      value = static_cast<int>(*n);
    } else {
      return false;
    }
    ++i;
    present = true;
    return true;
  }
  int64_t n = 0;
  while (i < f.size() && IsDigit(f[i])) {
    n = n * 10 + (f[i] - '0');
    if (n > 1000000) return false;
    ++i;
    present = true;
  }
  value = static_cast<int>(n);
  return true;
}

std::string Digits(uint64_t v, int base) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[v % static_cast<uint64_t>(base)]);
    v /= static_cast<uint64_t>(base);
  } while (v != 0);
  return s;
}

std::string IntegerText(bool negative, uint64_t magnitude, int base, int min_digits) {
  std::string d = Digits(magnitude, base);
  if (min_digits > static_cast<int>(d.size())) d.insert(0, static_cast<size_t>(min_digits) - d.size(), '0');
  return negative ? "-" + d : d;
}

}  // namespace

bool TryORVFormat(std::string_view f, std::span<const TORVFormatArg> args, std::string& out) {
  out.clear();
  size_t argi = 0;
  size_t i = 0;
  const platform::FormatSettings point{'.', ','};
  while (i < f.size()) {
    char c = f[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i >= f.size()) return false;
    if (f[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // Optional argument index "n:".
    size_t save = i;
    size_t index = 0;
    while (i < f.size() && IsDigit(f[i]) && index < 1000000) index = index * 10 + static_cast<size_t>(f[i++] - '0');
    if (i > save && i < f.size() && f[i] == ':') {
      argi = index;
      ++i;
    } else {
      i = save;
    }
    bool left = false;
    if (i < f.size() && f[i] == '-') {
      left = true;
      ++i;
    }
    int width = 0;
    bool has_width = false;
    if (!ReadCount(f, i, args, argi, width, has_width)) return false;
    int prec = 0;
    bool has_prec = false;
    if (i < f.size() && f[i] == '.') {
      ++i;
      if (!ReadCount(f, i, args, argi, prec, has_prec)) return false;
      has_prec = true;
    }
    if (i >= f.size()) return false;
    char type = static_cast<char>(f[i++] | 0x20);  // the type letter is not case-sensitive
    if (argi >= args.size()) return false;
    const auto& v = args[argi++].value();
    std::string text;
    switch (type) {
      case 'd':
      case 'u':
      case 'x': {
        bool negative = false;
        uint64_t magnitude = 0;
        if (const auto* s = std::get_if<int64_t>(&v)) {
          if (type == 'd') {
            negative = *s < 0;
            magnitude = negative ? (0 - static_cast<uint64_t>(*s)) : static_cast<uint64_t>(*s);
          } else if (*s < 0 && *s >= INT32_MIN) {
            // A negative 32-bit value shows as its unsigned bit pattern.
            magnitude = static_cast<uint32_t>(static_cast<int32_t>(*s));
          } else {
            magnitude = static_cast<uint64_t>(*s);
          }
        } else if (const auto* u = std::get_if<uint64_t>(&v)) {
          magnitude = *u;
        } else {
          return false;
        }
        text = IntegerText(negative, magnitude, type == 'x' ? 16 : 10, has_prec ? prec : 0);
        break;
      }
      case 'e':
      case 'f':
      case 'g':
      case 'n': {
        const auto* x = std::get_if<long double>(&v);
        if (!x) return false;
        using platform::TFloatFormat;
        switch (type) {
          case 'e':
            text = platform::FloatToStrF(*x, TFloatFormat::ffExponent,
                                         has_prec ? std::clamp(prec, 1, 18) : 15, 3, point);
            break;
          case 'f':
            text = platform::FloatToStrF(*x, TFloatFormat::ffFixed, 18,
                                         has_prec ? std::clamp(prec, 0, 18) : 2, point);
            break;
          case 'g':
            text = platform::FloatToStrF(*x, TFloatFormat::ffGeneral,
                                         has_prec ? std::clamp(prec, 1, 18) : 15, 3, point);
            break;
          default:
            text = platform::FloatToStrF(*x, TFloatFormat::ffNumber, 18,
                                         has_prec ? std::clamp(prec, 0, 18) : 2, point);
            break;
        }
        break;
      }
      case 's': {
        const auto* s = std::get_if<std::string>(&v);
        if (!s) return false;
        text = *s;
        if (has_prec && prec >= 0 && static_cast<size_t>(prec) < text.size()) text.resize(static_cast<size_t>(prec));
        break;
      }
      default:
        return false;
    }
    if (has_width && width > static_cast<int>(text.size())) {
      std::string pad(static_cast<size_t>(width) - text.size(), ' ');
      text = left ? text + pad : pad + text;
    }
    out += text;
  }
  return true;
}

namespace {

std::string PlainMessage(int32_t code, const std::string& msg) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.5" PRId32, code);
  return msg + " - Native error: " + buf;
}

std::string FormattedMessage(int32_t code, std::string_view msg, std::span<const TORVFormatArg> args) {
  std::string text;
  if (!TryORVFormat(msg, args, text)) text = std::string(msg) + " Arguments are invalid!";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%5" PRId32, code);
  return text + " - Native error: " + buf;
}

}  // namespace

EORVException::EORVException(int32_t NativeErrorCode, const std::string& ErrorMsg)
    : std::runtime_error(PlainMessage(NativeErrorCode, ErrorMsg)), native_error_(NativeErrorCode) {}

EORVException::EORVException(int32_t NativeErrorCode, std::string_view ErrorMsg,
                             std::initializer_list<TORVFormatArg> Args)
    : EORVException(NativeErrorCode, ErrorMsg, std::span<const TORVFormatArg>(Args.begin(), Args.size())) {}

EORVException::EORVException(int32_t NativeErrorCode, std::string_view ErrorMsg,
                             std::span<const TORVFormatArg> Args)
    : std::runtime_error(FormattedMessage(NativeErrorCode, ErrorMsg, Args)), native_error_(NativeErrorCode) {}

}  // namespace orv
