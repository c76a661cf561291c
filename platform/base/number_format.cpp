#include "platform/base/number_format.h"

#include <algorithm>
#include <cstdlib>

#include "platform/base/decimal.h"

namespace platform {
namespace {

constexpr int kMaxPrecision = 18;

int ClampPrecision(int p) { return std::clamp(p, 1, kMaxPrecision); }

// Digits of the integer and fraction parts of a decimal with exactly `decimals` decimals.
std::string FixedBody(const DecimalDigits& d, int decimals, char sep, char thousands, bool group) {
  std::string int_part;
  if (d.exponent <= 0 || d.digits.empty()) {
    int_part = "0";
  } else {
    for (int i = 0; i < d.exponent; ++i)
      int_part.push_back(i < static_cast<int>(d.digits.size()) ? d.digits[static_cast<size_t>(i)] : '0');
  }
  if (group && int_part.size() > 3) {
    std::string g;
    const size_t n = int_part.size();
    for (size_t i = 0; i < n; ++i) {
      if (i > 0 && (n - i) % 3 == 0) g.push_back(thousands);
      g.push_back(int_part[i]);
    }
    int_part = std::move(g);
  }
  std::string out = int_part;
  if (decimals > 0) {
    out.push_back(sep);
    for (int k = 0; k < decimals; ++k) {
      const int idx = d.exponent + k;  // position in digits of the k-th decimal
      out.push_back(idx >= 0 && idx < static_cast<int>(d.digits.size()) && !d.digits.empty()
                        ? d.digits[static_cast<size_t>(idx)]
                        : '0');
    }
  }
  return out;
}

std::string ExponentText(int exp, int min_digits, bool always_sign) {
  std::string e = std::to_string(std::abs(exp));
  while (static_cast<int>(e.size()) < min_digits) e.insert(e.begin(), '0');
  if (exp < 0) return "-" + e;
  return always_sign ? "+" + e : e;
}

// Scientific text with the digits as they are (general form: no trailing zeros).
std::string Scientific(const DecimalDigits& d, int mantissa_digits, int exp_digits, bool always_sign, char sep) {
  std::string m;
  m.push_back(d.digits[0]);
  std::string frac;
  for (int i = 1; i < mantissa_digits; ++i)
    frac.push_back(i < static_cast<int>(d.digits.size()) ? d.digits[static_cast<size_t>(i)] : '0');
  if (!frac.empty()) {
    m.push_back(sep);
    m += frac;
  }
  return m + "E" + ExponentText(d.exponent - 1, exp_digits, always_sign);
}

std::string General(const DecimalDigits& d, int precision, int exp_digits, char sep) {
  if (d.digits.empty()) return "0";
  std::string body;
  if (d.exponent > precision || d.exponent < -3) {
    body = Scientific(d, static_cast<int>(d.digits.size()), std::clamp(exp_digits, 0, 4), false, sep);
  } else {
    const int decimals = std::max(0, static_cast<int>(d.digits.size()) - d.exponent);
    body = FixedBody(d, decimals, sep, ',', false);
  }
  return d.negative ? "-" + body : body;
}

}  // namespace

FormatSettings& ProcessFormatSettings() {
  static FormatSettings settings;
  return settings;
}

std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits, const FormatSettings& fs) {
  precision = ClampPrecision(precision);
  switch (format) {
    case TFloatFormat::ffGeneral: {
      DecimalDigits d = ToDecimal(value, precision);
      if (d.special) return d.digits;
      return General(d, precision, digits, fs.DecimalSeparator);
    }
    case TFloatFormat::ffExponent: {
      DecimalDigits d = ToDecimal(value, precision);
      if (d.special) return d.digits;
      if (d.digits.empty()) {
        d.digits = "0";
        d.exponent = 1;
      }
      std::string body = Scientific(d, precision, std::clamp(digits, 0, 4), true, fs.DecimalSeparator);
      return d.negative ? "-" + body : body;
    }
    case TFloatFormat::ffFixed:
    case TFloatFormat::ffNumber: {
      digits = std::clamp(digits, 0, kMaxPrecision);
      DecimalDigits probe = ToDecimal(value, precision);
      if (probe.special) return probe.digits;
      if (probe.exponent > precision) return General(probe, precision, 0, fs.DecimalSeparator);
      DecimalDigits d = ToDecimal(value, kMaxPrecision, digits);
      std::string body = FixedBody(d, digits, fs.DecimalSeparator, fs.ThousandSeparator,
                                   format == TFloatFormat::ffNumber);
      return d.negative ? "-" + body : body;
    }
  }
  return {};
}

std::string FloatToStr(long double value, const FormatSettings& fs) {
  return FloatToStrF(value, TFloatFormat::ffGeneral, 15, 0, fs);
}

std::string StrFloat(long double value, int width, int decimals) {
  std::string body;
  if (decimals < 0) {
    FormatSettings point;
    body = FloatToStrF(value, TFloatFormat::ffExponent, 15, 3, point);
    if (value >= 0) body.insert(body.begin(), ' ');
  } else {
    DecimalDigits d = ToDecimal(value, kMaxPrecision, std::min(decimals, 64));
    if (d.special) {
      body = d.digits;
    } else {
      body = FixedBody(d, decimals, '.', ',', false);
      if (d.negative) body.insert(body.begin(), '-');
    }
  }
  if (static_cast<int>(body.size()) < width) body.insert(0, static_cast<size_t>(width) - body.size(), ' ');
  return body;
}

std::string IntToStr(long long value) { return std::to_string(value); }

std::string StrInt(long long value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), ' ');
  return s;
}

}  // namespace platform
