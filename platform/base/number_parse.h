#pragma once
// Text to number, independent of the C locale.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/base/number_format.h"

namespace platform {

// The platform's conversion error (what StrToFloat and StrToInt raise).
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Val for floats: leading blanks, optional sign, digits with an optional "." and fraction
// (at least one digit in all), an optional exponent ("E" or "e", optional sign, digits), and
// nothing after it. Returns 0 when the whole text converted, else the 1-based position of the
// first character that did not. On failure `value` holds the value of the longest valid
// numeric prefix (0 when there is none), so "60.5 L/cm" reads 60.5 with a nonzero code.
int ValFloat(std::string_view text, double& value);
int ValFloat(std::string_view text, long double& value);

// Val for integers: leading blanks, optional sign, decimal digits, or "$"/"0x" followed by hex
// digits; the same code and prefix rules. Values beyond the 64-bit range fail at the digit
// that overflows.
int ValInt(std::string_view text, int64_t& value);

// TextToFloat: blanks allowed on both sides; the decimal separator is the given one.
bool TryStrToFloat(std::string_view text, long double& value, const FormatSettings& fs = ProcessFormatSettings());
bool TryStrToFloat(std::string_view text, double& value, const FormatSettings& fs = ProcessFormatSettings());
// Raises EConvertError "'<text>' is not a valid floating point value".
long double StrToFloat(std::string_view text, const FormatSettings& fs = ProcessFormatSettings());

// StrToInt: blanks on both sides, sign, decimal or hex ("$", "0x"); range of int32.
bool TryStrToInt(std::string_view text, int32_t& value);
bool TryStrToInt64(std::string_view text, int64_t& value);
// Raises EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(std::string_view text);
int32_t StrToIntDef(std::string_view text, int32_t def);

}  // namespace platform
