#include "dbengine/storage/orv_converts.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "dbengine/storage/orv_except.h"
#include "platform/base/number_parse.h"

namespace orv {
namespace {

TEST(SQLFieldTypes, FirstMatchingRowDecides) {
  EXPECT_EQ(AftToStr(aftDouble), "FLOAT");
  EXPECT_EQ(BftToStr(bftDouble), "FLOAT");
  EXPECT_EQ(BftToStr(bftVarchar), "STRING");
  EXPECT_EQ(BftToStr(bftClob), "MEMO");
  EXPECT_EQ(AftToStr(aftUnknown), "Unknown");
  EXPECT_EQ(BftToStr(bftBFile), "Unknown");
  EXPECT_EQ(FieldTypeToORVAdvFieldType(dsft::ftWideString), aftWideChar);
  EXPECT_EQ(FieldTypeToORVAdvFieldType(dsft::ftFloat), aftDouble);
  EXPECT_EQ(FieldTypeToORVAdvFieldType(dsft::ftBCD), aftDouble);
  EXPECT_EQ(FieldTypeToORVAdvFieldType(dsft::ftAutoInc), aftAutoInc);
  EXPECT_EQ(FieldTypeToORVAdvFieldType(dsft::ftFixedChar), aftChar);
  EXPECT_EQ(ORVAdvFieldTypeToFieldType(aftWideString), dsft::ftWideString);
  EXPECT_EQ(ORVAdvFieldTypeToFieldType(aftByte), dsft::ftWord);
  EXPECT_EQ(ORVAdvFieldTypeToFieldType(aftCardinal), dsft::ftLargeint);
  EXPECT_EQ(ORVAdvFieldTypeToFieldType(aftAutoIncLargeint), dsft::ftLargeint);
  EXPECT_EQ(ORVAdvFieldTypeToFieldType(aftShortint), dsft::ftSmallint);
  EXPECT_EQ(ORVAdvFieldTypeToFieldType(aftUnknown), dsft::ftUnknown);
  EXPECT_EQ(AdvancedFieldTypeToBaseFieldType(aftGuid), bftChar);
  EXPECT_EQ(AdvancedFieldTypeToBaseFieldType(aftTimeStamp), bftDateTime);
  EXPECT_EQ(BaseFieldTypeToAdvancedFieldType(bftVarchar), aftString);
  EXPECT_EQ(BaseFieldTypeToAdvancedFieldType(bftClob), aftMemo);
  EXPECT_EQ(BaseFieldTypeToAdvancedFieldType(bftBlob), aftBlob);
  EXPECT_EQ(BaseFieldTypeToAdvancedFieldType(bftBFile), aftUnknown);
  // An autoincrement type there and back gives the plain type of the same storage type.
  EXPECT_EQ(BaseFieldTypeToAdvancedFieldType(AdvancedFieldTypeToBaseFieldType(aftAutoIncWord)), aftWord);
  TORVAdvancedFieldType t = aftUnknown;
  EXPECT_TRUE(SQLNameToAdvancedFieldType("varchar2", t));
  EXPECT_EQ(t, aftString);
  EXPECT_FALSE(SQLNameToAdvancedFieldType("NUMBER", t));
  // ftFixedWideChar (38) and ftSingle (51) have no row.
  for (uint8_t ft : {uint8_t{38}, uint8_t{51}, uint8_t{0}}) {
    try {
      FieldTypeToORVAdvFieldType(ft);
      FAIL();
    } catch (const EORVException& e) {
      EXPECT_EQ(e.NativeError(), 30289);
      EXPECT_EQ(std::string(e.what()), "Unknown DataType: '" + std::to_string(ft) + "' - Native error: 30289");
    }
  }
}

TEST(SQLFieldTypes, TypeGroups) {
  int autoinc = 0, convertable = 0;
  for (int i = 0; i <= aftGuid; ++i) {
    autoinc += IsAutoincFieldType(static_cast<TORVAdvancedFieldType>(i));
    convertable += IsConvertableFieldType(static_cast<TORVAdvancedFieldType>(i));
  }
  EXPECT_EQ(autoinc, 8);
  EXPECT_EQ(convertable, 31);
  EXPECT_FALSE(IsConvertableFieldType(aftGuid));
  EXPECT_TRUE(IsStringFieldType(aftGuid));
  EXPECT_FALSE(IsSizebleFieldType(aftGuid));
  EXPECT_TRUE(IsNumericFieldType(aftCurrency));
  EXPECT_TRUE(IsNumericFieldType(bftCurrency));
  EXPECT_FALSE(IsNumericFieldType(bftLogical));
  EXPECT_TRUE(IsDateTimeFieldType(aftTimeStamp));
  EXPECT_TRUE(IsBLOBFieldType(aftGraphic));
  EXPECT_FALSE(IsBLOBFieldType(bftBytes));
}

// Day numbers from Python: datetime.date(y, m, d).toordinal().
struct DayCase {
  int y, m, d;
  int32_t ordinal;
};
constexpr DayCase kPythonOrdinals[] = {
    {1, 1, 1, 1},           {1899, 12, 30, 693594}, {1899, 12, 29, 693593}, {1900, 1, 1, 693596},
    {1900, 2, 28, 693654},  {1900, 3, 1, 693655},   {1970, 1, 1, 719163},   {2000, 2, 29, 730179},
    {2000, 3, 1, 730180},   {2024, 1, 15, 738900},  {2024, 2, 29, 738945},  {2099, 12, 31, 766644},
    {2100, 1, 1, 766645},   {2100, 3, 1, 766704},   {9999, 12, 31, 3652059},
};

TEST(StoredDates, DayNumbersArePythonOrdinals) {
  for (const auto& c : kPythonOrdinals) {
    const TDateTime dt = platform::EncodeDate(c.y, c.m, c.d);
    EXPECT_EQ(DateToORVDate(dt), c.ordinal) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_EQ(ORVDateToDate(c.ordinal), dt);
  }
  // Every day from 1900 to 2100 round-trips and follows its predecessor by one, so with
  // the anchors above each one equals its Python ordinal.
  int32_t previous = DateToORVDate(platform::EncodeDate(1899, 12, 31));
  for (int y = 1900; y <= 2100; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= platform::DaysInMonth(y, m); ++d) {
        const int32_t n = DateToORVDate(platform::EncodeDate(y, m, d));
        ASSERT_EQ(n, previous + 1) << y << "-" << m << "-" << d;
        int yy = 0, mm = 0, dd = 0;
        platform::DecodeDate(ORVDateToDate(n), yy, mm, dd);
        ASSERT_EQ(yy * 10000 + mm * 100 + dd, y * 10000 + m * 100 + d);
        previous = n;
      }
  EXPECT_EQ(previous, 766645 + 364);  // 2100-12-31
}

TEST(StoredDates, TimesAndDateTimes) {
  EXPECT_EQ(TimeToORVTime(0.5), 43200000);
  EXPECT_EQ(DateToORVDate(-1.25), 693594 - 1);
  const TORVDateTime neg = DateTimeToORVDateTime(-1.25);
  EXPECT_EQ(neg.Date, 693593);
  EXPECT_EQ(neg.Time, -21600000);  // the fraction keeps its sign before 1899-12-30
  EXPECT_DOUBLE_EQ(ORVDateTimeToDateTime(neg), -1.25);

  // Within half a millisecond of midnight: a plain time stays on its day, a date-time
  // moves to the next day.
  const TDateTime almost = 45000.0 + (86400000.0 - 0.4) / 86400000.0;
  EXPECT_EQ(TimeToORVTime(almost), 86399999);
  const TORVDateTime carried = DateTimeToORVDateTime(almost);
  EXPECT_EQ(carried.Date, 45001 + 693594);
  EXPECT_EQ(carried.Time, 0);
  EXPECT_DOUBLE_EQ(ORVDateTimeToDateTime(carried), 45001.0);
  EXPECT_EQ(TimeToORVTime(-almost), -86399999);
  EXPECT_EQ(DateTimeToORVDateTime(-almost).Date, -45001 + 693594);
  // Ties round to even.
  EXPECT_EQ(TimeToORVTime(2.5 / 86400000.0), 2);
  EXPECT_EQ(TimeToORVTime(3.5 / 86400000.0), 4);
  EXPECT_DOUBLE_EQ(ORVTimeToTime(86400000), 0.0);
  // Round trip of every minute of a day and of random instants.
  std::mt19937_64 rng(5);
  for (int i = 0; i < 20000; ++i) {
    const int32_t day = 693594 + static_cast<int32_t>(rng() % 80000);
    const int32_t ms = static_cast<int32_t>(rng() % 86400000);
    const TORVDateTime dt{day, ms};
    ASSERT_EQ(DateTimeToORVDateTime(ORVDateTimeToDateTime(dt)), dt) << day << " " << ms;
  }
}

TEST(IsoTexts, DigitGroupsAndSeparators) {
  TDateTime v = 0;
  EXPECT_TRUE(ISODateStrToDate("2024-01-15", v));
  EXPECT_EQ(DateToORVDate(v), 738900);
  EXPECT_TRUE(ISODateStrToDate("2024/01/15", v));
  EXPECT_TRUE(ISODateStrToDate("2024-01-15 ", v));  // one more character is skipped
  EXPECT_FALSE(ISODateStrToDate("2024-01-15  ", v));
  EXPECT_FALSE(ISODateStrToDate("20240115", v));
  EXPECT_FALSE(ISODateStrToDate("2024-1-15", v));
  EXPECT_FALSE(ISODateStrToDate("", v));
  EXPECT_THROW(ISODateStrToDate("2024-02-30", v), platform::EConvertError);
  EXPECT_THROW(ISODateStrToDate("2024-13-01", v), platform::EConvertError);
  EXPECT_TRUE(ISOTimeStrToTime("12:34:56", v));
  EXPECT_EQ(TimeToORVTime(v), (12 * 3600 + 34 * 60 + 56) * 1000);
  EXPECT_FALSE(ISOTimeStrToTime("12:34", v));
  EXPECT_TRUE(ISOTimeStampStrToDateTime("2024-01-15 06:00:00", v));
  EXPECT_EQ(DateTimeToORVDateTime(v), (TORVDateTime{738900, 21600000}));
  EXPECT_TRUE(ISOTimeStampStrToDateTime("1899-12-29T06:00:00", v));
  EXPECT_DOUBLE_EQ(v, -1.25);
  EXPECT_FALSE(ISOTimeStampStrToDateTime("2024-01-15", v));

  uint16_t value = 0;
  int32_t pos = 6;
  EXPECT_TRUE(ExtractNumericPart("2024-01-15", 2, value, pos));
  EXPECT_EQ(value, 1);
  EXPECT_EQ(pos, 9);
}

TEST(EngineTexts, RoundTrips) {
  const TDateTime dt = platform::EncodeDate(2024, 1, 15) + platform::EncodeTime(6, 5, 4, 321);
  EXPECT_EQ(DateToEngineText(dt), "2024-01-15");
  EXPECT_EQ(TimeToEngineText(dt), "06:05:04.321");
  EXPECT_EQ(DateTimeToEngineText(dt), "2024-01-15 06:05:04.321");
  EXPECT_EQ(DateTimeToEngineText(platform::EncodeDate(2024, 1, 15)), "2024-01-15");
  EXPECT_EQ(TimeToEngineText(platform::EncodeTime(23, 0, 0, 0)), "23:00:00");
  TDateTime v = 0;
  EXPECT_TRUE(TryEngineTextToDateTime("2024-01-15 06:05:04.321", v));
  EXPECT_EQ(DateTimeToORVDateTime(v), DateTimeToORVDateTime(dt));
  EXPECT_TRUE(TryEngineTextToDateTime(" 2024.01.15T06:05 ", v));
  EXPECT_TRUE(TryEngineTextToDate("24/1/15", v));
  EXPECT_EQ(DateToORVDate(v), 738900);
  EXPECT_TRUE(TryEngineTextToDate("99-1-1", v));
  EXPECT_EQ(DateToEngineText(v), "1999-01-01");
  EXPECT_FALSE(TryEngineTextToDate("2024-02-30", v));
  EXPECT_FALSE(TryEngineTextToDate("2024-01-15 x", v));
  EXPECT_FALSE(TryEngineTextToTime("25:00", v));
  EXPECT_TRUE(TryEngineTextToTime("7:08", v));
  EXPECT_EQ(TimeToORVTime(v), (7 * 60 + 8) * 60000);
  EXPECT_THROW(DateToEngineText(-700000), platform::EConvertError);  // before year 1
}

// ---- LIKE ---------------------------------------------------------------------------------

bool Like(const char* s, const char* p, bool escaped = false, char esc = '\\', bool ignore_case = false) {
  return IsStrMatchPattern(s, p, escaped, esc, ignore_case);
}

TEST(Like, Cases) {
  for (const char* p : {"a%", "%c", "a_c", "%", "%%%", "abc", "abc%%", "%b%", "_%_", "%abc%"})
    EXPECT_TRUE(Like("abc", p)) << p;
  for (const char* p : {"ab", "abcd", "a", "_", "%d", "a_", "abc_"}) EXPECT_FALSE(Like("abc", p)) << p;
  // The empty text matches a pattern made only of "%" (also "%%", which a filter built
  // from an empty search text produces) and the empty pattern.
  for (const char* p : {"%", "%%", "", "%%%"}) EXPECT_TRUE(Like("", p)) << p;
  EXPECT_FALSE(Like("", "_"));
  EXPECT_FALSE(Like("", "a%"));
  EXPECT_TRUE(Like("a%", "a\\%", true));
  EXPECT_FALSE(Like("ab", "a\\%", true));
  EXPECT_TRUE(Like("a\\", "a\\\\", true));
  EXPECT_FALSE(Like("a", "a\\", true));   // an escape at the end matches nothing
  EXPECT_FALSE(Like("ab", "a\\", true));
  EXPECT_TRUE(Like("ab", "a%", true, '%'));  // "%" stays a wildcard as escape character
  EXPECT_TRUE(Like("ABC", "a%", false, 0, true));
  EXPECT_FALSE(Like("ABC", "a%"));
  EXPECT_TRUE(Like("Ma\xDF" "e 5\xB5m", "%\xDF%\xB5_"));  // ß and µ in Windows-1252
  EXPECT_TRUE(Like("\xC4rger", "\xE4%", false, 0, true));  // Ä and ä in Windows-1252
  // A pattern that makes naive backtracking exponential stays fast.
  const std::string text(4000, 'a');
  EXPECT_FALSE(Like(text.c_str(), "%a%a%a%a%a%a%a%a%a%a%a%a%b"));
  EXPECT_TRUE(IsWideStrMatchPattern(u"Grüße", u"GR%E", false, 0, true));
  EXPECT_TRUE(IsWideStrMatchPattern(u"", u"%%", false, 0, false));
  EXPECT_TRUE(IsWideStrMatchPattern(u"x_y", u"x!_y", true, u'!', false));
  EXPECT_FALSE(IsWideStrMatchPattern(u"xzy", u"x!_y", true, u'!', false));
}

// The matching rule written as directly as possible: every way "%" can take a run.
bool ReferenceLike(const std::string& s, size_t i, const std::string& p, size_t j, bool escaped, char esc) {
  if (j == p.size()) return i == s.size();
  if (p[j] == '%') {
    for (size_t k = i; k <= s.size(); ++k)
      if (ReferenceLike(s, k, p, j + 1, escaped, esc)) return true;
    return false;
  }
  if (i == s.size()) return false;
  if (p[j] == '_') return ReferenceLike(s, i + 1, p, j + 1, escaped, esc);
  if (escaped && p[j] == esc) {
    if (j + 1 == p.size()) return false;
    return p[j + 1] == s[i] && ReferenceLike(s, i + 1, p, j + 2, escaped, esc);
  }
  return p[j] == s[i] && ReferenceLike(s, i + 1, p, j + 1, escaped, esc);
}

class SqliteLike {
 public:
  SqliteLike() {
    sqlite3_open(":memory:", &db_);
    sqlite3_prepare_v2(db_, "SELECT ?1 LIKE ?2 ESCAPE '\\'", -1, &escaped_, nullptr);
    sqlite3_prepare_v2(db_, "SELECT ?1 LIKE ?2", -1, &plain_, nullptr);
  }
  ~SqliteLike() {
    sqlite3_finalize(escaped_);
    sqlite3_finalize(plain_);
    sqlite3_close(db_);
  }
  void CaseSensitive(bool on) {
    // The pragma replaces the LIKE function, which SQLite refuses while statements use it.
    sqlite3_finalize(escaped_);
    sqlite3_finalize(plain_);
    EXPECT_EQ(sqlite3_exec(db_, on ? "PRAGMA case_sensitive_like=ON" : "PRAGMA case_sensitive_like=OFF", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_prepare_v2(db_, "SELECT ?1 LIKE ?2 ESCAPE '\\'", -1, &escaped_, nullptr);
    sqlite3_prepare_v2(db_, "SELECT ?1 LIKE ?2", -1, &plain_, nullptr);
  }
  bool Match(const std::string& s, const std::string& p, bool escaped) {
    sqlite3_stmt* st = escaped ? escaped_ : plain_;
    sqlite3_reset(st);
    sqlite3_bind_text(st, 1, s.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, p.c_str(), -1, SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(st), SQLITE_ROW);
    return sqlite3_column_int(st, 0) != 0;
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* escaped_ = nullptr;
  sqlite3_stmt* plain_ = nullptr;
};

// Against SQLite on random ASCII texts and patterns. The engine's intended differences,
// kept out of the comparison: a NULL operand counts as the empty text in the engine (the
// expression layer passes ''), where SQL gives NULL; and an escape character that is "%"
// or "_" stays a wildcard in the engine.
TEST(Like, AgreesWithSqlite) {
  SqliteLike sqlite;
  std::mt19937 rng(42);
  const std::string text_alphabet = "abAB.";
  const std::string pattern_alphabet = "abAB.%_\\";
  auto random_string = [&](const std::string& alphabet, int max_len) {
    std::string s(rng() % static_cast<unsigned>(max_len + 1), ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
  };
  for (bool case_sensitive : {true, false}) {
    sqlite.CaseSensitive(case_sensitive);
    int matches = 0;
    for (int i = 0; i < 20000; ++i) {
      const std::string s = random_string(text_alphabet, 7);
      const std::string p = random_string(pattern_alphabet, 6);
      for (bool escaped : {false, true}) {
        const bool engine = IsStrMatchPattern(s.c_str(), p.c_str(), escaped, '\\', !case_sensitive);
        ASSERT_EQ(engine, sqlite.Match(s, p, escaped))
            << "'" << s << "' LIKE '" << p << "' escaped=" << escaped << " case=" << case_sensitive;
        if (case_sensitive) { ASSERT_EQ(engine, ReferenceLike(s, 0, p, 0, escaped, '\\')) << s << " / " << p;
        }
        matches += engine;
      }
    }
    EXPECT_GT(matches, 1000);  // the cases are not all trivial misses
  }
}

}  // namespace
}  // namespace orv
