#include "platform/base/number_parse.h"

#include <charconv>
#include <limits>

namespace platform {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Scans a float starting at `pos` (blanks already skipped). Returns the end of the longest
// valid number and its normalised text (with a point); end == pos when there is none.
size_t ScanFloat(std::string_view s, size_t pos, char sep, std::string& norm) {
  norm.clear();
  size_t i = pos;
  size_t valid_end = pos;
  std::string valid_norm;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) norm.push_back(s[i++]);
  bool any = false;
  while (i < s.size() && IsDigit(s[i])) { norm.push_back(s[i++]); any = true; }
  if (any) { valid_end = i; valid_norm = norm; }
  if (i < s.size() && s[i] == sep) {
    norm.push_back('.');
    ++i;
    while (i < s.size() && IsDigit(s[i])) { norm.push_back(s[i++]); any = true; }
    if (any) { valid_end = i; valid_norm = norm; }
  }
  if (any && i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::string exp = "e";
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exp.push_back(s[j++]);
    bool exp_digits = false;
    while (j < s.size() && IsDigit(s[j])) { exp.push_back(s[j++]); exp_digits = true; }
    if (exp_digits) { valid_end = j; valid_norm = norm + exp; }
  }
  norm = valid_norm;
  return valid_end;
}

template <typename F>
F Convert(const std::string& norm) {
  std::string_view v = norm;
  bool neg = false;
  if (!v.empty() && (v[0] == '+' || v[0] == '-')) {
    neg = v[0] == '-';
    v.remove_prefix(1);
  }
  if (!v.empty() && v[0] == '.') {  // from_chars wants a digit first
    std::string with_zero(1, '0');
    with_zero.append(v);
    F out{};
    std::from_chars(with_zero.data(), with_zero.data() + with_zero.size(), out);
    return neg ? -out : out;
  }
  F out{};
  auto r = std::from_chars(v.data(), v.data() + v.size(), out);
  if (r.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone on overflow; the original gave an infinity or zero.
    bool tiny = v.find("e-") != std::string_view::npos;
    out = tiny ? F(0) : std::numeric_limits<F>::infinity();
  }
  return neg ? -out : out;
}

template <typename F>
int ValFloatT(std::string_view s, F& value) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  std::string norm;
  const size_t end = ScanFloat(s, i, '.', norm);
  value = end == i ? F(0) : Convert<F>(norm);
  if (end == i) return static_cast<int>(std::min(s.size(), i)) + 1;
  if (end < s.size()) return static_cast<int>(end) + 1;
  return 0;
}

template <typename F>
bool TryFloatT(std::string_view s, F& value, char sep) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  std::string norm;
  const size_t end = ScanFloat(s, i, sep, norm);
  if (end == i) return false;
  size_t j = end;
  while (j < s.size() && s[j] == ' ') ++j;
  if (j != s.size()) return false;
  value = Convert<F>(norm);
  return true;
}

}  // namespace

int ValFloat(std::string_view text, double& value) { return ValFloatT(text, value); }
int ValFloat(std::string_view text, long double& value) { return ValFloatT(text, value); }

int ValInt(std::string_view s, int64_t& value) {
  value = 0;
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  const size_t start = i;
  uint64_t acc = 0;
  const uint64_t limit = neg ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
  while (i < s.size()) {
    int d = -1;
    const char c = s[i];
    if (IsDigit(c)) d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) break;
    if (acc > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) break;  // overflow
    acc = acc * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    ++i;
  }
  if (i > start) value = neg ? static_cast<int64_t>(0 - acc) : static_cast<int64_t>(acc);
  if (i == start) return static_cast<int>(i) + 1;
  if (i < s.size()) return static_cast<int>(i) + 1;
  return 0;
}

bool TryStrToFloat(std::string_view text, long double& value, const FormatSettings& fs) {
  return TryFloatT(text, value, fs.DecimalSeparator);
}
bool TryStrToFloat(std::string_view text, double& value, const FormatSettings& fs) {
  return TryFloatT(text, value, fs.DecimalSeparator);
}

long double StrToFloat(std::string_view text, const FormatSettings& fs) {
  long double v = 0;
  if (!TryStrToFloat(text, v, fs))
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return v;
}

bool TryStrToInt64(std::string_view text, int64_t& value) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  int64_t v = 0;
  if (ValInt(text.substr(0, end), v) != 0) return false;
  value = v;
  return true;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
  int64_t v = 0;
  if (!TryStrToInt64(text, v) || v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    return false;
  value = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t v = 0;
  if (!TryStrToInt(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

int32_t StrToIntDef(std::string_view text, int32_t def) {
  int32_t v = 0;
  return TryStrToInt(text, v) ? v : def;
}

}  // namespace platform
