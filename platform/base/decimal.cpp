#include "platform/base/decimal.h"

#include <charconv>
#include <cmath>

namespace platform {

DecimalDigits ToDecimal(long double value, int max_significant, int max_decimals) {
  DecimalDigits r;
  if (std::isnan(value)) {
    r.special = true;
    r.digits = "NAN";
    return r;
  }
  if (std::isinf(value)) {
    r.special = true;
    r.digits = value < 0 ? "-INF" : "INF";
    return r;
  }
  if (value == 0) return r;
  if (max_significant < 1) max_significant = 1;

  // Far more digits than are kept: enough to tell an exact binary tie from a value just
  // beside it for every float that can reach this point.
  char buf[128];
  const int precision = max_significant + 40;
  auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, precision);
  std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
  const size_t epos = text.find('e');
  std::string all;
  all.push_back(text[0]);
  all.append(text.substr(2, epos - 2));
  int exp10 = 0;
  std::from_chars(text.data() + epos + 1 + (text[epos + 1] == '+' ? 1 : 0), text.data() + text.size(), exp10);
  int exponent = exp10 + 1;  // 0.<all> x 10^exponent

  long long keep = max_significant;
  if (static_cast<long long>(exponent) + max_decimals < keep) keep = static_cast<long long>(exponent) + max_decimals;
  if (keep < 0) return r;  // rounds to zero
  std::string digits = all.substr(0, static_cast<size_t>(keep));
  const bool round_up = static_cast<size_t>(keep) < all.size() && all[static_cast<size_t>(keep)] >= '5';
  if (round_up) {
    int i = static_cast<int>(digits.size()) - 1;
    while (i >= 0 && digits[static_cast<size_t>(i)] == '9') digits[static_cast<size_t>(i--)] = '0';
    if (i >= 0) {
      ++digits[static_cast<size_t>(i)];
    } else {
      digits.insert(digits.begin(), '1');
      ++exponent;
      if (static_cast<long long>(digits.size()) > max_significant) digits.pop_back();
    }
  }
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  if (digits.empty()) return r;
  r.negative = value < 0;
  r.digits = std::move(digits);
  r.exponent = exponent;
  return r;
}

}  // namespace platform
