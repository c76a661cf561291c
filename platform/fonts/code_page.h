#pragma once
// Single characters in the Windows code pages that fonts are selected with (1252 for the
// Western character set, 1250, 1251, 932 ... for the others). Windows-1252 is our own fixed
// table; the other code pages come from the C library's converters.
#include <cstdint>
#include <optional>

namespace platform {

// The character of one byte, or nothing when the byte is no character on its own (undefined,
// or the lead byte of a double-byte code page) or the code page is unknown.
std::optional<char32_t> CodePageToUnicode(int codePage, uint8_t byte);

// The single byte of a character, or nothing when the code page has no one-byte form for it.
std::optional<uint8_t> UnicodeToCodePage(int codePage, char32_t c);

}  // namespace platform
