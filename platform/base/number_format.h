#pragma once
// Number to text the way the original's runtime formatted numbers, independent of the C
// locale: only the separators in FormatSettings decide how a text looks.
#include <string>

namespace platform {

struct FormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
};

// The process-wide settings (the original's global format settings). Defaults to a point and
// a comma; the application may change them from the operator's choice.
FormatSettings& ProcessFormatSettings();

enum class TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber };

// FloatToStrF: Precision is the number of significant digits (1..18), Digits the decimals of
// ffFixed/ffNumber or the minimum exponent digits (0..4) of ffGeneral/ffExponent.
// - ffGeneral: the shortest text, fixed notation while the integer part has at most Precision
//   digits and the value is at least 0.00001, else scientific ("1.5E20", "1E-7").
// - ffExponent: "-d.ddddE+dddd" with Precision digits; the exponent always carries its sign.
// - ffFixed: Digits decimals; falls back to the general scientific form when the integer
//   part has more than Precision digits.
// - ffNumber: ffFixed with thousand separators.
// NaN and infinities give "NAN", "INF" and "-INF". A value that rounds to zero has no sign.
std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits,
                        const FormatSettings& fs = ProcessFormatSettings());

// FloatToStr: ffGeneral with 15 significant digits.
std::string FloatToStr(long double value, const FormatSettings& fs = ProcessFormatSettings());

// Str(value:width:decimals): fixed notation with a point, right-aligned with blanks to at
// least `width` characters. Decimals below 0 give the scientific form of Str.
std::string StrFloat(long double value, int width, int decimals);

// Integer to text, and right-aligned to a width (Str(i:width)).
std::string IntToStr(long long value);
std::string StrInt(long long value, int width);

}  // namespace platform
