#pragma once
// The decimal digits of a binary float, rounded the way the formatting routines of the
// original rounded them: on the exact binary value, half away from zero. So 0.125 with two
// decimals is 0.13 (the double holds exactly 0.125), while 2.675 with two decimals is 2.67
// (the double holds 2.67499999999999982...). Shared by every number-to-text conversion.
#include <string>

namespace platform {

struct DecimalDigits {
  bool negative = false;  // sign of the value (false for a value that rounds to zero)
  std::string digits;     // significant digits without trailing zeros; empty for zero
  int exponent = 0;       // value = 0.<digits> x 10^exponent
  bool special = false;   // NaN or infinity; digits then holds "NAN", "INF" or "-INF"
};

// At most `max_significant` digits (1..18 in practice) and at most `max_decimals` digits
// after the decimal point (a large number for "no limit").
DecimalDigits ToDecimal(long double value, int max_significant, int max_decimals = 1 << 20);

}  // namespace platform
