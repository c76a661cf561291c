#pragma once
// The fixed 8-bit code page of every engine string and file text (µ is 0xB5, ° 0xB0, ² 0xB2).
// Independent of the process locale: the same bytes always mean the same characters.
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The Unicode code point of one Windows-1252 byte. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same value, as
// the Windows conversion does, so that every byte survives a round trip.
char32_t Cp1252ToUnicode(uint8_t byte);

// The Windows-1252 byte of a code point, or `fallback` when the code page has none.
uint8_t UnicodeToCp1252(char32_t cp, uint8_t fallback = '?');

// Whole strings. UTF-8 input that is not well formed decodes byte by byte as U+FFFD,
// which then becomes the fallback byte.
std::string Cp1252ToUtf8(std::string_view bytes);
std::string Utf8ToCp1252(std::string_view utf8, uint8_t fallback = '?');
std::u16string Cp1252ToUtf16(std::string_view bytes);
std::string Utf16ToCp1252(std::u16string_view text, uint8_t fallback = '?');

// UTF-8 <-> UTF-16 for the wide strings of the engine; malformed input becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace platform
