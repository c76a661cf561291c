#include "dbengine/storage/orv_str_utils.h"

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <numeric>
#include <vector>

#include "platform/base/cp1252.h"

namespace orv {
namespace {

// One collator per strength; ICU collators are safe to share between threads for
// comparisons once their attributes are set, which happens only here, once.
class Collators {
 public:
  static const UCollator* For(uint32_t flags) {
    static Collators instance;
    const bool ignore_case = (flags & NORM_IGNORECASE) != 0;
    const bool ignore_accents = (flags & NORM_IGNORENONSPACE) != 0;
    return instance.collators_[(ignore_case ? 1 : 0) + (ignore_accents ? 2 : 0)];
  }

 private:
  Collators() {
    for (int i = 0; i < 4; ++i) {
      UErrorCode status = U_ZERO_ERROR;
      UCollator* c = ucol_open("", &status);
      if (U_FAILURE(status) || !c) std::abort();  // ICU's root rules are built into the library
      const bool ignore_case = (i & 1) != 0;
      const bool ignore_accents = (i & 2) != 0;
      UColAttributeValue strength = UCOL_TERTIARY;
      if (ignore_accents) strength = UCOL_PRIMARY;
      else if (ignore_case) strength = UCOL_SECONDARY;
      ucol_setStrength(c, strength);
      if (ignore_accents && !ignore_case) ucol_setAttribute(c, UCOL_CASE_LEVEL, UCOL_ON, &status);
      // Punctuation and symbols take part in the order instead of being skipped.
      ucol_setAttribute(c, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
      collators_[i] = c;
    }
  }
  UCollator* collators_[4] = {};
};

const std::array<char16_t, 256>& Cp1252Units() {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> t{};
    for (int b = 0; b < 256; ++b) t[static_cast<size_t>(b)] = static_cast<char16_t>(platform::Cp1252ToUnicode(static_cast<uint8_t>(b)));
    return t;
  }();
  return table;
}

template <class Char>
int32_t EffectiveLength(const Char* s, int32_t count) {
  if (!s) return 0;
  if (count < 0) {
    int32_t n = 0;
    while (s[n] != 0) ++n;
    return n;
  }
  int32_t n = 0;
  while (n < count && s[n] != 0) ++n;
  return n;
}

int FromCollation(UCollationResult r) {
  return r == UCOL_LESS ? CSTR_LESS_THAN : (r == UCOL_EQUAL ? CSTR_EQUAL : CSTR_GREATER_THAN);
}

int CompareWideImpl(uint32_t /*Locale*/, uint32_t flags, const char16_t* s1, int32_t n1, const char16_t* s2,
                    int32_t n2) {
  if ((!s1 && n1 != 0) || (!s2 && n2 != 0)) return 0;
  const int32_t l1 = EffectiveLength(s1, n1);
  const int32_t l2 = EffectiveLength(s2, n2);
  static const char16_t empty[1] = {0};
  return FromCollation(ucol_strcoll(Collators::For(flags), reinterpret_cast<const UChar*>(l1 ? s1 : empty), l1,
                                    reinterpret_cast<const UChar*>(l2 ? s2 : empty), l2));
}

// Simple case mapping over UTF-16 code units; a mapping that would change the number of
// units (none exists in current Unicode data) keeps the character.
uint32_t MapCaseW(char16_t* s, uint32_t len, UChar32 (*map)(UChar32)) {
  if (!s) return 0;
  uint32_t i = 0;
  while (i < len) {
    UChar32 c = s[i];
    uint32_t units = 1;
    if (U16_IS_LEAD(c) && i + 1 < len && U16_IS_TRAIL(s[i + 1])) {
      c = U16_GET_SUPPLEMENTARY(c, s[i + 1]);
      units = 2;
    }
    const UChar32 m = map(c);
    if (static_cast<uint32_t>(U16_LENGTH(m)) == units) {
      if (units == 1) {
        s[i] = static_cast<char16_t>(m);
      } else {
        s[i] = static_cast<char16_t>(U16_LEAD(m));
        s[i + 1] = static_cast<char16_t>(U16_TRAIL(m));
      }
    }
    i += units;
  }
  return len;
}

uint32_t UpperW(char16_t* s, uint32_t len) { return MapCaseW(s, len, u_toupper); }
uint32_t LowerW(char16_t* s, uint32_t len) { return MapCaseW(s, len, u_tolower); }

std::array<uint8_t, 256> MakeCaseTable(UChar32 (*map)(UChar32)) {
  std::array<uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<uint8_t>(b);
    t[static_cast<size_t>(b)] = platform::UnicodeToCp1252(static_cast<char32_t>(map(static_cast<UChar32>(platform::Cp1252ToUnicode(byte)))), byte);
  }
  return t;
}

}  // namespace

const TCompareStringW CompareStringW = &CompareWideImpl;
const TCharCaseBuffW CharUpperBuffW = &UpperW;
const TCharCaseBuffW CharLowerBuffW = &LowerW;

int CompareStringA(uint32_t Locale, uint32_t dwCmpFlags, const char* lpString1, int32_t cchCount1,
                   const char* lpString2, int32_t cchCount2) {
  if ((!lpString1 && cchCount1 != 0) || (!lpString2 && cchCount2 != 0)) return 0;
  const int32_t l1 = EffectiveLength(lpString1, cchCount1);
  const int32_t l2 = EffectiveLength(lpString2, cchCount2);
  const auto& units = Cp1252Units();
  // Short keys are the common case (B-tree comparisons): widen them on the stack.
  char16_t small1[128], small2[128];
  std::vector<char16_t> big1, big2;
  char16_t* w1 = small1;
  char16_t* w2 = small2;
  if (l1 > 128) {
    big1.resize(static_cast<size_t>(l1));
    w1 = big1.data();
  }
  if (l2 > 128) {
    big2.resize(static_cast<size_t>(l2));
    w2 = big2.data();
  }
  for (int32_t i = 0; i < l1; ++i) w1[i] = units[static_cast<uint8_t>(lpString1[i])];
  for (int32_t i = 0; i < l2; ++i) w2[i] = units[static_cast<uint8_t>(lpString2[i])];
  return CompareWideImpl(Locale, dwCmpFlags, w1, l1, w2, l2);
}

const std::array<uint8_t, 256>& ToUpperChars() {
  static const std::array<uint8_t, 256> table = MakeCaseTable(u_toupper);
  return table;
}

const std::array<uint8_t, 256>& ToLowerChars() {
  static const std::array<uint8_t, 256> table = MakeCaseTable(u_tolower);
  return table;
}

void InitOrderedChars(std::array<uint8_t, 256>& Table) {
  std::array<uint8_t, 256> bytes;
  std::iota(bytes.begin(), bytes.end(), uint8_t{0});
  std::stable_sort(bytes.begin(), bytes.end(), [](uint8_t a, uint8_t b) {
    const char ca = static_cast<char>(a), cb = static_cast<char>(b);
    return CompareStringA(LOCALE_USER_DEFAULT, SORT_STRINGSORT, &ca, 1, &cb, 1) == CSTR_LESS_THAN;
  });
  for (size_t rank = 0; rank < bytes.size(); ++rank) Table[bytes[rank]] = static_cast<uint8_t>(rank);
}

const std::array<uint8_t, 256>& OrderedChars() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    InitOrderedChars(t);
    return t;
  }();
  return table;
}

uint32_t CharUpperBuffA(char* lpsz, uint32_t cchLength) {
  if (!lpsz) return 0;
  const auto& t = ToUpperChars();
  for (uint32_t i = 0; i < cchLength; ++i) lpsz[i] = static_cast<char>(t[static_cast<uint8_t>(lpsz[i])]);
  return cchLength;
}

uint32_t CharLowerBuffA(char* lpsz, uint32_t cchLength) {
  if (!lpsz) return 0;
  const auto& t = ToLowerChars();
  for (uint32_t i = 0; i < cchLength; ++i) lpsz[i] = static_cast<char>(t[static_cast<uint8_t>(lpsz[i])]);
  return cchLength;
}

std::u16string WideUpperCase(std::u16string_view S) {
  std::u16string r(S);
  if (!r.empty()) CharUpperBuffW(r.data(), static_cast<uint32_t>(r.size()));
  return r;
}

std::u16string WideLowerCase(std::u16string_view S) {
  std::u16string r(S);
  if (!r.empty()) CharLowerBuffW(r.data(), static_cast<uint32_t>(r.size()));
  return r;
}

std::string AnsiUpperCase(std::string_view S) {
  std::string r(S);
  CharUpperBuffA(r.data(), static_cast<uint32_t>(r.size()));
  return r;
}

std::string AnsiLowerCase(std::string_view S) {
  std::string r(S);
  CharLowerBuffA(r.data(), static_cast<uint32_t>(r.size()));
  return r;
}

namespace {
int ToSign(int cstr) { return cstr == CSTR_LESS_THAN ? -1 : (cstr == CSTR_EQUAL ? 0 : 1); }
int32_t ClampCount(size_t n) { return static_cast<int32_t>(std::min<size_t>(n, INT32_MAX)); }
}  // namespace

int ORVCompareAnsi(std::string_view S1, std::string_view S2, bool IgnoreCase) {
  const uint32_t flags = SORT_STRINGSORT | (IgnoreCase ? NORM_IGNORECASE : 0);
  return ToSign(CompareStringA(LOCALE_USER_DEFAULT, flags, S1.data(), ClampCount(S1.size()), S2.data(),
                               ClampCount(S2.size())));
}

int ORVCompareWide(std::u16string_view S1, std::u16string_view S2, bool IgnoreCase) {
  const uint32_t flags = SORT_STRINGSORT | (IgnoreCase ? NORM_IGNORECASE : 0);
  return ToSign(CompareStringW(LOCALE_USER_DEFAULT, flags, S1.data(), ClampCount(S1.size()), S2.data(),
                               ClampCount(S2.size())));
}

}  // namespace orv
