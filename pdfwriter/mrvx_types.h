#pragma once
// Shared types of the PDF writer and the texts it writes for numbers, colours, dates and
// strings. Every number here is formatted with a point, whatever the process's or the C
// library's locale says: nothing in this module reads or changes a process-wide setting.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/base/color.h"
#include "platform/base/datetime.h"
#include "platform/base/numeric.h"

namespace pdfwriter {

using platform::Extended;

// Every failure of the PDF writer: a fixed English message.
class EMRVXError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using platform::TColor;

// A pen as the metafile translator keeps it.
struct TMRVXPen {
  int32_t lopnStyle = 0;
  Extended lopnWidth = 0;
  TColor lopnColor = 0;
};

struct TMRVXRectangle {
  Extended Left = 0;
  Extended Top = 0;
  Extended Right = 0;
  Extended Bottom = 0;
};

// PDF destination kinds.
enum class TMRVXDestinationType : uint8_t { dtXYZ, dtFit, dtFitH, dtFitV, dtFitR, dtFitB, dtFitBH, dtFitBV };

// Rounds to hundredths, halves upwards (Floor(v * 100 + 0.5) / 100), and writes the shortest
// text of up to 15 significant digits: 0.125 -> "0.13", -0.5 -> "-0.5", -0.004 -> "0".
std::string _FloatToStrR(Extended Value);

// "r g b" with each byte of the 0x00BBGGRR colour divided by 255 (255 -> "1 0 0").
std::string _ColorToStrR(TColor Value);

// At most four decimals, trailing zeros and a bare point dropped: 2.71828 -> "2.7183", 2 -> "2".
std::string _CutFloat(Extended Value);

// Two upper-case hexadecimal digits per byte ("AB" -> "4142").
std::string _StrToHex(std::string_view Value);

// The bytes of a literal string with "(", ")", backslash, CR, LF, TAB, BS and FF escaped.
std::string _EscapeText(std::string_view Value);

// The inverse of _EscapeText for the eight escapes it writes; any other backslash sequence
// (octal digits, a line continuation) is kept as it is.
std::string _UnEscapeText(std::string_view Value);

// "D:YYYYMMDDHHmmSS" in local time, without a time-zone suffix.
std::string _DateTimeToPdfDate(platform::TDateTime ADate);

}  // namespace pdfwriter
