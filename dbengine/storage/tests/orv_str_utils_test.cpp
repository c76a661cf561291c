#include "dbengine/storage/orv_str_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/base/cp1252.h"

namespace orv {
namespace {

int Cmp(const std::string& a, const std::string& b, uint32_t flags = SORT_STRINGSORT) {
  return CompareStringA(LOCALE_USER_DEFAULT, flags, a.c_str(), -1, b.c_str(), -1);
}

TEST(CaseTables, SimpleMappingInsideWindows1252) {
  const auto& up = ToUpperChars();
  const auto& low = ToLowerChars();
  struct Case {
    uint8_t lower, upper;
  };
  // a, e-acute, y-diaeresis, s-caron, oe, z-caron: each has its partner in the code page.
  for (Case c : {Case{'a', 'A'}, Case{0xE9, 0xC9}, Case{0xFF, 0x9F}, Case{0x9A, 0x8A}, Case{0x9C, 0x8C}, Case{0x9E, 0x8E}}) {
    EXPECT_EQ(up[c.lower], c.upper) << int(c.lower);
    EXPECT_EQ(low[c.upper], c.lower) << int(c.upper);
  }
  // Micro sign and sharp s have no upper case in the code page; digits and signs stay.
  for (uint8_t b : {uint8_t{0xB5}, uint8_t{0xDF}, uint8_t{'5'}, uint8_t{'%'}, uint8_t{0xB0}, uint8_t{0}}) {
    EXPECT_EQ(up[b], b);
    EXPECT_EQ(low[b], b);
  }
  EXPECT_EQ(AnsiUpperCase("Plate \xB5m \xE9t\xE9"), "PLATE \xB5M \xC9T\xC9");
  EXPECT_EQ(AnsiLowerCase("MASK-\xC4"), "mask-\xE4");
}

TEST(WideCase, LengthPreservingForEveryCodePoint) {
  EXPECT_EQ(WideUpperCase(u""), u"");
  EXPECT_EQ(WideUpperCase(u"\u00e9l\u00e8ve \u00df \u0131"), u"\u00c9L\u00c8VE \u00df I");
  // Simple mappings only: dotted I becomes a plain i, sigma never its final form.
  EXPECT_EQ(WideLowerCase(u"\u0130STANBUL \u03a3"), u"istanbul \u03c3");
  EXPECT_EQ(WideLowerCase(u"\u00c4\u00d6\u00dc"), u"\u00e4\u00f6\u00fc");
  // Supplementary characters (a surrogate pair each) map too.
  EXPECT_EQ(WideUpperCase(u"\U00010428"), u"\U00010400");
  // A lone surrogate stays as it is.
  const std::u16string lone(1, char16_t(0xD801));
  EXPECT_EQ(WideUpperCase(lone), lone);
  for (char32_t cp = 1; cp < 0x3000; ++cp) {
    std::u16string s(1, static_cast<char16_t>(cp));
    ASSERT_EQ(WideUpperCase(s).size(), 1u);
    ASSERT_EQ(WideLowerCase(s).size(), 1u);
  }
}

TEST(CompareStringA, OrderOfTheEngine) {
  // Case is a later difference than letters: a < A < b < B.
  EXPECT_EQ(Cmp("a", "A"), CSTR_LESS_THAN);
  EXPECT_EQ(Cmp("A", "b"), CSTR_LESS_THAN);
  EXPECT_EQ(Cmp("Apple", "apple", SORT_STRINGSORT | NORM_IGNORECASE), CSTR_EQUAL);
  // Accents: a secondary difference, before case and before the next letter.
  EXPECT_EQ(Cmp("e", "\xE9"), CSTR_LESS_THAN);
  EXPECT_EQ(Cmp("\xE9", "f"), CSTR_LESS_THAN);
  EXPECT_EQ(Cmp("\xC9t\xE9", "\xE9T\xC9", SORT_STRINGSORT | NORM_IGNORECASE), CSTR_EQUAL);
  EXPECT_EQ(Cmp("resume", "r\xE9sum\xE9", SORT_STRINGSORT | NORM_IGNORENONSPACE), CSTR_EQUAL);
  // Symbols before digits before letters; a prefix before its extensions.
  EXPECT_EQ(Cmp("-", "0"), CSTR_LESS_THAN);
  EXPECT_EQ(Cmp("9", "a"), CSTR_LESS_THAN);
  EXPECT_EQ(Cmp("ab", "abc"), CSTR_LESS_THAN);
  EXPECT_EQ(Cmp("", "a"), CSTR_LESS_THAN);
  EXPECT_EQ(Cmp("", ""), CSTR_EQUAL);
  // Numbers in text are text: "10" before "9".
  EXPECT_EQ(Cmp("10", "9"), CSTR_LESS_THAN);
}

TEST(CompareStringA, CountsAndTerminators) {
  // A partial key compares its prefix only.
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, SORT_STRINGSORT, "MASK01", 3, "MAS", 3), CSTR_EQUAL);
  // A count beyond the terminator stops at the terminator.
  const char buf[8] = {'a', 'b', 0, 'z', 'z', 'z', 'z', 'z'};
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, SORT_STRINGSORT, buf, 8, "ab", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, SORT_STRINGSORT, nullptr, 0, "", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, SORT_STRINGSORT, nullptr, 3, "", -1), 0);
  EXPECT_EQ(ORVCompareAnsi("abc", "abd", false), -1);
  EXPECT_EQ(ORVCompareAnsi("ABC", "abc", true), 0);
  EXPECT_EQ(ORVCompareWide(u"abd", u"abc", false), 1);
}

TEST(CompareStringA, AgreesWithTheWideOrderAndIsATotalPreorder) {
  std::mt19937 rng(42);
  const std::string alphabet = "aAbB eE\xE9\xC9-'019\xDF\xB5\xFF\x9F";
  std::vector<std::string> words;
  for (int i = 0; i < 60; ++i) {
    std::string w;
    const int len = static_cast<int>(rng() % 5);
    for (int k = 0; k < len; ++k) w += alphabet[rng() % alphabet.size()];
    words.push_back(w);
  }
  for (uint32_t flags : {SORT_STRINGSORT, SORT_STRINGSORT | NORM_IGNORECASE}) {
    for (const auto& a : words)
      for (const auto& b : words) {
        const int ab = Cmp(a, b, flags);
        const std::u16string wa = platform::Cp1252ToUtf16(a), wb = platform::Cp1252ToUtf16(b);
        ASSERT_EQ(ab, CompareStringW(LOCALE_USER_DEFAULT, flags, wa.c_str(), -1, wb.c_str(), -1));
        ASSERT_EQ(ab, 4 - Cmp(b, a, flags)) << "antisymmetry";
      }
    auto sorted = words;
    std::sort(sorted.begin(), sorted.end(), [&](const std::string& a, const std::string& b) {
      return Cmp(a, b, flags) == CSTR_LESS_THAN;
    });
    for (size_t i = 1; i < sorted.size(); ++i)
      for (size_t j = i; j < sorted.size(); ++j) ASSERT_NE(Cmp(sorted[j], sorted[i - 1], flags), CSTR_LESS_THAN);
  }
}

TEST(OrderedChars, RanksArePermutationFollowingTheOrder) {
  const auto& ranks = OrderedChars();
  std::set<int> seen(ranks.begin(), ranks.end());
  EXPECT_EQ(seen.size(), 256u);
  for (int a = 1; a < 256; ++a)
    for (int b = 1; b < 256; ++b) {
      const char ca = static_cast<char>(a), cb = static_cast<char>(b);
      if (CompareStringA(LOCALE_USER_DEFAULT, SORT_STRINGSORT, &ca, 1, &cb, 1) == CSTR_LESS_THAN) {
        ASSERT_LT(ranks[static_cast<size_t>(a)], ranks[static_cast<size_t>(b)]) << a << " " << b;
      }
    }
  EXPECT_LT(ranks['a'], ranks['A']);
  EXPECT_LT(ranks['A'], ranks['b']);
  EXPECT_LT(ranks['9'], ranks['a']);
}

}  // namespace
}  // namespace orv
