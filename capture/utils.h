#pragma once
// Small text conversions of the capture configuration: hexadecimal bytes and identifiers,
// and the comma text that holds a configuration as one line.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/video/guid.h"

namespace capture {

// 0..9 for '0'..'9', 10..15 for 'A'..'F' and 'a'..'f', 255 for anything else.
uint8_t CharHex(char c);
// Two upper-case digits per byte, high nibble first.
std::string BytesToStr(const std::vector<uint8_t>& source);
// The reverse: a text of odd length reads as if it began with "0"; the result has
// (length + 1) / 2 bytes, zero-filled, and conversion stops at the first pair holding a
// character that is not a hexadecimal digit.
std::vector<uint8_t> StrToBytes(std::string_view source);
// The 32 digits of an identifier's 16 bytes in memory order, and back (missing bytes zero).
std::string GUIDToStr(const platform::video::TGUID& source);
platform::video::TGUID StrToGUID(std::string_view source);

// Entries joined with commas; an entry holding a character up to the blank, a comma or a
// double quote is enclosed in double quotes with its quotes doubled.
std::string CommaText(const std::vector<std::string>& entries);
// The reverse: entries end at a comma or, unquoted, at a blank or control character;
// blanks around entries are skipped, a quoted entry undoubles its quotes, and a text ending
// in a comma ends with an empty entry.
std::vector<std::string> ParseCommaText(std::string_view text);
// The value of the first "name=value" entry whose name equals `name` without regard to case;
// empty when there is none.
std::string ValueOf(const std::vector<std::string>& entries, std::string_view name, bool* found = nullptr);

}  // namespace capture
