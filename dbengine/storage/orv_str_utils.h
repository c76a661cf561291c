#pragma once
// The one string order and case mapping of the engine. B-tree keys, comparisons, LIKE,
// MIN/MAX, DISTINCT and joins all go through here so that they can never disagree.
//
// Order: ICU collation with the root (language-neutral) rules for both 8-bit text (read as
// Windows-1252) and UTF-16 text. The order is fixed for every process and machine, whatever
// the user's locale, because index pages written by one process are searched by another;
// the locale argument of the comparison functions is therefore accepted and not used.
// Case: simple, length-preserving case mapping (one character to one character); an 8-bit
// character whose other case is not in Windows-1252 (µ, ß) keeps its case.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// Comparison flags and results, with the values the engine's callers pass and expect.
inline constexpr uint32_t NORM_IGNORECASE = 0x00000001;
inline constexpr uint32_t NORM_IGNORENONSPACE = 0x00000002;
inline constexpr uint32_t SORT_STRINGSORT = 0x00001000;
inline constexpr int CSTR_LESS_THAN = 1;
inline constexpr int CSTR_EQUAL = 2;
inline constexpr int CSTR_GREATER_THAN = 3;
inline constexpr uint32_t LOCALE_USER_DEFAULT = 0x400;

// A count below 0 means "up to the terminating zero". A count of 0 or more compares at most
// that many characters and never reads past a terminating zero inside them. Punctuation and
// symbols are ordered before digits and letters (the string sort, with or without
// SORT_STRINGSORT); control characters are ignored. NORM_IGNORECASE ignores case,
// NORM_IGNORENONSPACE ignores accents. Returns CSTR_LESS_THAN, CSTR_EQUAL or
// CSTR_GREATER_THAN; 0 only for a nil string with a non-zero count.
int CompareStringA(uint32_t Locale, uint32_t dwCmpFlags, const char* lpString1, int32_t cchCount1,
                   const char* lpString2, int32_t cchCount2);

using TCompareStringW = int (*)(uint32_t Locale, uint32_t dwCmpFlags, const char16_t* lpString1,
                                int32_t cchCount1, const char16_t* lpString2, int32_t cchCount2);
using TCharCaseBuffW = uint32_t (*)(char16_t* lpsz, uint32_t cchLength);

// The UTF-16 functions of the engine. They are fixed at program start and only read later
// (there is no optional library to take them from here).
extern const TCompareStringW CompareStringW;
extern const TCharCaseBuffW CharUpperBuffW;
extern const TCharCaseBuffW CharLowerBuffW;

// In-place case mapping of 8-bit (Windows-1252) text; returns the count processed.
uint32_t CharUpperBuffA(char* lpsz, uint32_t cchLength);
uint32_t CharLowerBuffA(char* lpsz, uint32_t cchLength);

// The 8-bit case tables (byte -> byte) and the rank of every byte value under the 8-bit
// comparison (case-sensitive; bytes that compare equal are ranked by their value, so the
// ranks are a permutation of 0..255). Built once on first use.
const std::array<uint8_t, 256>& ToUpperChars();
const std::array<uint8_t, 256>& ToLowerChars();
const std::array<uint8_t, 256>& OrderedChars();
// Computes the ranks into Table (what OrderedChars holds).
void InitOrderedChars(std::array<uint8_t, 256>& Table);

std::u16string WideUpperCase(std::u16string_view S);
std::u16string WideLowerCase(std::u16string_view S);
std::string AnsiUpperCase(std::string_view S);
std::string AnsiLowerCase(std::string_view S);

// The same order as -1, 0, 1 over whole strings (embedded zeros end the text).
int ORVCompareAnsi(std::string_view S1, std::string_view S2, bool IgnoreCase);
int ORVCompareWide(std::u16string_view S1, std::u16string_view S2, bool IgnoreCase);

}  // namespace orv
