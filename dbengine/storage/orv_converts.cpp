#include "dbengine/storage/orv_converts.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"
#include "platform/base/number_parse.h"

namespace orv {

using platform::EConvertError;

// clang-format off
const std::array<TSQLFieldType, 62> SQLFieldTypes = {{
    {"CHAR", aftChar, bftChar, dsft::ftFixedChar},
    {"FIXEDCHAR", aftChar, bftChar, dsft::ftFixedChar},
    {"STRING", aftString, bftVarchar, dsft::ftString},
    {"VARCHAR", aftString, bftVarchar, dsft::ftString},
    {"VARCHAR2", aftString, bftVarchar, dsft::ftString},
    {"WIDECHAR", aftWideChar, bftWideChar, dsft::ftWideString},
    {"FIXEDWIDECHAR", aftWideChar, bftWideChar, dsft::ftWideString},
    {"WIDESTRING", aftWideString, bftWideVarchar, dsft::ftWideString},
    {"WIDEVARCHAR", aftWideString, bftWideVarchar, dsft::ftWideString},
    {"SMALLINT", aftSmallint, bftSignedInt16, dsft::ftSmallint},
    {"SIGNEDINT16", aftSmallint, bftSignedInt16, dsft::ftSmallint},
    {"SHORTINT", aftShortint, bftSignedInt8, dsft::ftSmallint},
    {"SIGNEDINT8", aftShortint, bftSignedInt8, dsft::ftSmallint},
    {"INTEGER", aftInteger, bftSignedInt32, dsft::ftInteger},
    {"SIGNEDINT32", aftInteger, bftSignedInt32, dsft::ftInteger},
    {"LARGEINT", aftLargeint, bftSignedInt64, dsft::ftLargeint},
    {"INT64", aftLargeint, bftSignedInt64, dsft::ftLargeint},
    {"SIGNEDINT64", aftLargeint, bftSignedInt64, dsft::ftLargeint},
    {"WORD", aftWord, bftUnsignedInt16, dsft::ftWord},
    {"UNSIGNEDINT16", aftWord, bftUnsignedInt16, dsft::ftWord},
    {"BYTE", aftByte, bftUnsignedInt8, dsft::ftWord},
    {"UNSIGNEDINT8", aftByte, bftUnsignedInt8, dsft::ftWord},
    {"CARDINAL", aftCardinal, bftUnsignedInt32, dsft::ftLargeint},
    {"UNSIGNEDINT32", aftCardinal, bftUnsignedInt32, dsft::ftLargeint},
    {"AUTOINC", aftAutoInc, bftSignedInt32, dsft::ftAutoInc},
    {"AUTOINCSHORTINT", aftAutoIncShortint, bftSignedInt8, dsft::ftAutoInc},
    {"AUTOINCSMALLINT", aftAutoIncSmallint, bftSignedInt16, dsft::ftAutoInc},
    {"AUTOINCINTEGER", aftAutoIncInteger, bftSignedInt32, dsft::ftAutoInc},
    {"AUTOINCLARGEINT", aftAutoIncLargeint, bftSignedInt64, dsft::ftLargeint},
    {"AUTOINCBYTE", aftAutoIncByte, bftUnsignedInt8, dsft::ftAutoInc},
    {"AUTOINCWORD", aftAutoIncWord, bftUnsignedInt16, dsft::ftAutoInc},
    {"AUTOINCCARDINAL", aftAutoIncCardinal, bftUnsignedInt32, dsft::ftAutoInc},
    {"FLOAT", aftDouble, bftDouble, dsft::ftFloat},
    {"FLOAT", aftDouble, bftDouble, dsft::ftBCD},
    {"SINGLE", aftSingle, bftSingle, dsft::ftFloat},
    {"DOUBLE", aftDouble, bftDouble, dsft::ftFloat},
    {"EXTENDED", aftExtended, bftExtended, dsft::ftFloat},
    {"LOGICAL", aftBoolean, bftLogical, dsft::ftBoolean},
    {"BOOLEAN", aftBoolean, bftLogical, dsft::ftBoolean},
    {"BOOL", aftBoolean, bftLogical, dsft::ftBoolean},
    {"BIT", aftBoolean, bftLogical, dsft::ftBoolean},
    {"CURRENCY", aftCurrency, bftCurrency, dsft::ftCurrency},
    {"MONEY", aftCurrency, bftCurrency, dsft::ftCurrency},
    {"DATE", aftDate, bftDate, dsft::ftDate},
    {"TIME", aftTime, bftTime, dsft::ftTime},
    {"DATETIME", aftDateTime, bftDateTime, dsft::ftDateTime},
    {"TIMESTAMP", aftTimeStamp, bftDateTime, dsft::ftTimeStamp},
    {"BYTES", aftBytes, bftBytes, dsft::ftBytes},
    {"VARBYTES", aftVarBytes, bftVarBytes, dsft::ftVarBytes},
    {"BLOB", aftBlob, bftBlob, dsft::ftBlob},
    {"BLOB", aftBlob, bftBlob, dsft::ftParadoxOle},
    {"BLOB", aftBlob, bftBlob, dsft::ftTypedBinary},
    {"BLOB", aftBlob, bftBlob, dsft::ftDBaseOle},
    {"BLOB", aftBlob, bftBlob, dsft::ftOraBlob},
    {"BLOB", aftBlob, bftBlob, dsft::ftOraClob},
    {"GRAPHIC", aftGraphic, bftBlob, dsft::ftGraphic},
    {"MEMO", aftMemo, bftClob, dsft::ftMemo},
    {"CLOB", aftMemo, bftClob, dsft::ftMemo},
    {"FORMATTEDMEMO", aftFormattedMemo, bftClob, dsft::ftFmtMemo},
    {"WIDEMEMO", aftWideMemo, bftWideClob, dsft::ftWideMemo},
    {"WIDECLOB", aftWideMemo, bftWideClob, dsft::ftWideMemo},
    {"GUID", aftGuid, bftChar, dsft::ftGuid},
}};
// clang-format on

TORVBaseFieldType AdvancedFieldTypeToBaseFieldType(TORVAdvancedFieldType AdvancedFieldType) {
  for (const auto& row : SQLFieldTypes)
    if (row.AdvancedFieldType == AdvancedFieldType) return row.BaseFieldType;
  return bftUnknown;
}

TORVAdvancedFieldType BaseFieldTypeToAdvancedFieldType(TORVBaseFieldType BaseFieldType) {
  for (const auto& row : SQLFieldTypes)
    if (row.BaseFieldType == BaseFieldType) return row.AdvancedFieldType;
  return aftUnknown;
}

TORVAdvancedFieldType FieldTypeToORVAdvFieldType(uint8_t FieldType) {
  for (const auto& row : SQLFieldTypes)
    if (row.FieldType == FieldType) return row.AdvancedFieldType;
  throw EORVException(30289, "Unknown DataType: '%s'", {std::to_string(FieldType)});
}

uint8_t ORVAdvFieldTypeToFieldType(TORVAdvancedFieldType AdvancedFieldType) {
  for (const auto& row : SQLFieldTypes)
    if (row.AdvancedFieldType == AdvancedFieldType) return row.FieldType;
  return dsft::ftUnknown;
}

std::string AftToStr(TORVAdvancedFieldType AdvancedFieldType) {
  for (const auto& row : SQLFieldTypes)
    if (row.AdvancedFieldType == AdvancedFieldType) return std::string(row.SqlName);
  return "Unknown";
}

std::string BftToStr(TORVBaseFieldType BaseFieldType) {
  for (const auto& row : SQLFieldTypes)
    if (row.BaseFieldType == BaseFieldType) return std::string(row.SqlName);
  return "Unknown";
}

bool SQLNameToAdvancedFieldType(std::string_view Name, TORVAdvancedFieldType& AdvancedFieldType) {
  const std::string upper = AnsiUpperCase(Name);
  for (const auto& row : SQLFieldTypes) {
    if (row.SqlName == upper) {
      AdvancedFieldType = row.AdvancedFieldType;
      return true;
    }
  }
  return false;
}

// ---- Stored date and time forms -----------------------------------------------------------

namespace {
constexpr double kMSecsPerDay = 86400000.0;
constexpr int32_t kLastMSecOfDay = 86399999;

double Frac(double v) { return v - std::trunc(v); }
}  // namespace

TDateTime ORVDateToDate(int32_t ORVDate) { return static_cast<double>(ORVDate) - platform::kDateDelta; }

int32_t DateToORVDate(TDateTime Date) {
  const double day = std::trunc(Date) + platform::kDateDelta;
  if (!(day >= std::numeric_limits<int32_t>::min() && day <= std::numeric_limits<int32_t>::max()))
    throw EConvertError("Invalid date value");
  return static_cast<int32_t>(day);
}

TDateTime ORVTimeToTime(int32_t ORVTime) { return Frac(static_cast<double>(ORVTime) / kMSecsPerDay); }

int32_t TimeToORVTime(TDateTime Time) {
  if (!std::isfinite(Time)) throw EConvertError("Invalid time value");
  const double ms = std::nearbyint(Frac(Time) * kMSecsPerDay);
  // A plain time has no day to carry into: it stays at the last millisecond of its day.
  if (ms > kLastMSecOfDay) return kLastMSecOfDay;
  if (ms < -kLastMSecOfDay) return -kLastMSecOfDay;
  return static_cast<int32_t>(ms);
}

TDateTime ORVDateTimeToDateTime(const TORVDateTime& ORVDateTime) {
  return ORVDateToDate(ORVDateTime.Date) + ORVTimeToTime(ORVDateTime.Time);
}

TORVDateTime DateTimeToORVDateTime(TDateTime DateTime) {
  if (!std::isfinite(DateTime)) throw EConvertError("Invalid date value");
  TORVDateTime result{DateToORVDate(DateTime), 0};
  const double ms = std::nearbyint(Frac(DateTime) * kMSecsPerDay);
  // A time that rounds up to midnight belongs to the next day (the previous one for the
  // negative values before 1899-12-30, whose fraction counts the other way).
  if (ms >= kMSecsPerDay) {
    result.Date = DateToORVDate(std::trunc(DateTime) + 1);
  } else if (ms <= -kMSecsPerDay) {
    result.Date = DateToORVDate(std::trunc(DateTime) - 1);
  } else {
    result.Time = static_cast<int32_t>(ms);
  }
  return result;
}

// ---- Type groups --------------------------------------------------------------------------

bool IsBLOBFieldType(TORVBaseFieldType t) { return t == bftBlob || t == bftClob || t == bftWideClob; }
bool IsBLOBFieldType(TORVAdvancedFieldType t) {
  return t == aftBlob || t == aftGraphic || t == aftMemo || t == aftFormattedMemo || t == aftWideMemo;
}
bool IsStringFieldType(TORVBaseFieldType t) { return t >= bftChar && t <= bftWideVarchar; }
bool IsStringFieldType(TORVAdvancedFieldType t) {
  return t == aftChar || t == aftString || t == aftWideChar || t == aftWideString || t == aftGuid;
}
bool IsWideStringFieldType(TORVBaseFieldType t) { return t == bftWideChar || t == bftWideVarchar; }
bool IsWideStringFieldType(TORVAdvancedFieldType t) { return t == aftWideChar || t == aftWideString; }
bool IsBytesFieldType(TORVAdvancedFieldType t) { return t == aftBytes || t == aftVarBytes; }
bool IsAutoincFieldType(TORVAdvancedFieldType t) { return t >= aftAutoInc && t <= aftAutoIncCardinal; }
bool IsNumericFieldType(TORVBaseFieldType t) { return (t >= bftSignedInt8 && t <= bftExtended) || t == bftCurrency; }
bool IsNumericFieldType(TORVAdvancedFieldType t) { return IsNumericFieldType(AdvancedFieldTypeToBaseFieldType(t)); }
bool IsDateTimeFieldType(TORVBaseFieldType t) { return t == bftDate || t == bftTime || t == bftDateTime; }
bool IsDateTimeFieldType(TORVAdvancedFieldType t) { return IsDateTimeFieldType(AdvancedFieldTypeToBaseFieldType(t)); }
bool IsSizebleFieldType(TORVAdvancedFieldType t) {
  return t == aftChar || t == aftString || t == aftWideChar || t == aftWideString || t == aftBytes ||
         t == aftVarBytes;
}
bool IsConvertableFieldType(TORVAdvancedFieldType t) {
  return (t >= aftChar && t <= aftTimeStamp) || t == aftMemo || t == aftFormattedMemo || t == aftWideMemo;
}
bool IsIntegerFieldType(TORVBaseFieldType t) { return t >= bftSignedInt8 && t <= bftUnsignedInt32; }
bool IsFloatFieldType(TORVBaseFieldType t) { return t >= bftSingle && t <= bftExtended; }

// ---- LIKE ---------------------------------------------------------------------------------

namespace {

// Equality of two single 8-bit characters in the engine's collation, for both case modes:
// 2 x 64 KiB, built once on first use.
class AnsiCharEquality {
 public:
  static bool Equal(uint8_t a, uint8_t b, bool ignore_case) {
    if (a == b) return true;
    static const AnsiCharEquality instance;
    return instance.table_[ignore_case ? 1 : 0][static_cast<size_t>(a) * 256 + b] != 0;
  }

 private:
  AnsiCharEquality() {
    for (int mode = 0; mode < 2; ++mode) {
      table_[mode] = std::make_unique<uint8_t[]>(65536);
      const uint32_t flags = SORT_STRINGSORT | (mode ? NORM_IGNORECASE : 0);
      for (int a = 0; a < 256; ++a) {
        for (int b = a; b < 256; ++b) {
          const char ca = static_cast<char>(a), cb = static_cast<char>(b);
          const uint8_t eq = CompareStringA(LOCALE_USER_DEFAULT, flags, &ca, 1, &cb, 1) == CSTR_EQUAL;
          table_[mode][static_cast<size_t>(a) * 256 + static_cast<size_t>(b)] = eq;
          table_[mode][static_cast<size_t>(b) * 256 + static_cast<size_t>(a)] = eq;
        }
      }
    }
  }
  std::unique_ptr<uint8_t[]> table_[2];
};

bool WideCharEqual(char16_t a, char16_t b, bool ignore_case) {
  if (a == b) return true;
  const uint32_t flags = SORT_STRINGSORT | (ignore_case ? NORM_IGNORECASE : 0);
  return CompareStringW(LOCALE_USER_DEFAULT, flags, &a, 1, &b, 1) == CSTR_EQUAL;
}

// Wildcard matching with one backtrack point: "%" remembers where it stood and how much of
// the text it has taken; a mismatch later lets it take one character more. Linear in the
// pattern for each start, so no pattern can make the match run for exponential time.
template <class Char, class Equal>
bool MatchPattern(const Char* s, const Char* p, bool escaped, Char escape, Equal equal) {
  if (!s || !p) return false;
  const Char* star_p = nullptr;
  const Char* star_s = nullptr;
  for (;;) {
    if (*p == static_cast<Char>(WildCardMultipleChar)) {
      while (*p == static_cast<Char>(WildCardMultipleChar)) ++p;
      star_p = p;
      star_s = s;
      continue;
    }
    if (*s == 0) break;
    bool matched = false;
    int advance = 1;
    if (*p == static_cast<Char>(WildCardSingleChar)) {
      matched = true;
    } else if (escaped && *p == escape && *p != 0) {
      // The escaped character is compared as it is; an escape at the end meets the
      // pattern's terminator, which matches no character.
      matched = p[1] != 0 && equal(p[1], *s);
      advance = 2;
    } else {
      matched = *p != 0 && equal(*p, *s);
    }
    if (matched) {
      ++s;
      p += advance;
      continue;
    }
    if (!star_p) return false;
    s = ++star_s;
    p = star_p;
  }
  while (*p == static_cast<Char>(WildCardMultipleChar)) ++p;
  return *p == 0;
}

}  // namespace

bool IsStrMatchPattern(const char* StrPtr, const char* PatternPtr, bool IsPatternEscaped, char EscapeChar,
                       bool bIgnoreCase) {
  return MatchPattern<char>(StrPtr, PatternPtr, IsPatternEscaped, EscapeChar, [bIgnoreCase](char a, char b) {
    return AnsiCharEquality::Equal(static_cast<uint8_t>(a), static_cast<uint8_t>(b), bIgnoreCase);
  });
}

bool IsWideStrMatchPattern(const char16_t* StrPtr, const char16_t* PatternPtr, bool IsPatternEscaped,
                           char16_t EscapeChar, bool bIgnoreCase) {
  return MatchPattern<char16_t>(StrPtr, PatternPtr, IsPatternEscaped, EscapeChar,
                                [bIgnoreCase](char16_t a, char16_t b) { return WideCharEqual(a, b, bIgnoreCase); });
}

// ---- ISO texts ----------------------------------------------------------------------------

bool ExtractNumericPart(std::string_view DateTimeStr, int32_t DigitsCount, uint16_t& Value, int32_t& Pos) {
  int32_t digits = 0;
  uint32_t value = 0;
  while (Pos >= 1 && Pos <= static_cast<int32_t>(DateTimeStr.size())) {
    const char c = DateTimeStr[static_cast<size_t>(Pos - 1)];
    if (c < '0' || c > '9') break;
    if (digits < 9) value = value * 10 + static_cast<uint32_t>(c - '0');
    ++digits;
    ++Pos;
  }
  ++Pos;
  if (digits != DigitsCount) return false;
  Value = static_cast<uint16_t>(value);
  return true;
}

namespace {

// Reads the digit groups of an ISO text; True when each has its count and the whole text
// was used.
template <size_t N>
bool ReadIsoGroups(std::string_view text, const int32_t (&counts)[N], uint16_t (&values)[N]) {
  int32_t pos = 1;
  for (size_t i = 0; i < N; ++i)
    if (!ExtractNumericPart(text, counts[i], values[i], pos)) return false;
  return pos > static_cast<int32_t>(text.size());
}

TDateTime CombineDateAndTime(TDateTime date, TDateTime time) { return date >= 0 ? date + time : date - time; }

}  // namespace

bool ISODateStrToDate(std::string_view DateStr, TDateTime& Date) {
  uint16_t v[3];
  if (!ReadIsoGroups(DateStr, {4, 2, 2}, v)) return false;
  Date = platform::EncodeDate(v[0], v[1], v[2]);
  return true;
}

bool ISOTimeStrToTime(std::string_view TimeStr, TDateTime& Time) {
  uint16_t v[3];
  if (!ReadIsoGroups(TimeStr, {2, 2, 2}, v)) return false;
  Time = platform::EncodeTime(v[0], v[1], v[2], 0);
  return true;
}

bool ISOTimeStampStrToDateTime(std::string_view TimeStampStr, TDateTime& DateTime) {
  uint16_t v[6];
  if (!ReadIsoGroups(TimeStampStr, {4, 2, 2, 2, 2, 2}, v)) return false;
  DateTime = CombineDateAndTime(platform::EncodeDate(v[0], v[1], v[2]), platform::EncodeTime(v[3], v[4], v[5], 0));
  return true;
}

// ---- The engine's date and time texts -----------------------------------------------------

namespace {

platform::DateParts DecodeInRange(TDateTime value) {
  const platform::DateParts p = platform::DecodeDateTime(value);
  if (p.year < 1) throw EConvertError("Invalid date value");
  return p;
}

std::string TimeText(const platform::DateParts& p) {
  char text[24];
  if (p.msec != 0)
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", p.hour, p.minute, p.second, p.msec);
  else
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", p.hour, p.minute, p.second);
  return text;
}

std::string DateText(const platform::DateParts& p) {
  char text[24];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", p.year, p.month, p.day);
  return text;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ReadNumber(std::string_view s, size_t& i, int max_digits, int& value, int& digits) {
  value = 0;
  digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < max_digits) {
    value = value * 10 + (s[i] - '0');
    ++i;
    ++digits;
  }
  return digits > 0;
}

bool ParseDatePart(std::string_view s, size_t& i, TDateTime& value) {
  int year = 0, month = 0, day = 0, digits = 0;
  auto separator = [&](size_t& k) {
    if (k < s.size() && (s[k] == '-' || s[k] == '.' || s[k] == '/' || s[k] == ' ')) {
      ++k;
      return true;
    }
    return false;
  };
  if (!ReadNumber(s, i, 4, year, digits)) return false;
  if (digits <= 2) year += year < 50 ? 2000 : 1900;
  if (!separator(i) || !ReadNumber(s, i, 2, month, digits)) return false;
  if (!separator(i) || !ReadNumber(s, i, 2, day, digits)) return false;
  return platform::TryEncodeDate(year, month, day, value);
}

bool ParseTimePart(std::string_view s, size_t& i, TDateTime& value) {
  int hour = 0, minute = 0, second = 0, msec = 0, digits = 0;
  if (!ReadNumber(s, i, 2, hour, digits)) return false;
  if (i >= s.size() || s[i] != ':') return false;
  ++i;
  if (!ReadNumber(s, i, 2, minute, digits)) return false;
  if (i < s.size() && s[i] == ':') {
    ++i;
    if (!ReadNumber(s, i, 2, second, digits)) return false;
    if (i < s.size() && s[i] == '.') {
      ++i;
      if (!ReadNumber(s, i, 3, msec, digits)) return false;
    }
  }
  return platform::TryEncodeTime(hour, minute, second, msec, value);
}

}  // namespace

std::string DateToEngineText(TDateTime Value) { return DateText(DecodeInRange(std::trunc(Value))); }

std::string TimeToEngineText(TDateTime Value) {
  // Only the time of day counts; its sign (dates before 1899-12-30) does not.
  return TimeText(platform::DecodeDateTime(std::fabs(Frac(Value))));
}

std::string DateTimeToEngineText(TDateTime Value) {
  const platform::DateParts p = DecodeInRange(Value);
  std::string text = DateText(p);
  if (p.hour != 0 || p.minute != 0 || p.second != 0 || p.msec != 0) {
    text += ' ';
    text += TimeText(p);
  }
  return text;
}

bool TryEngineTextToDate(std::string_view Text, TDateTime& Value) {
  const std::string_view s = Trim(Text);
  size_t i = 0;
  TDateTime v = 0;
  if (!ParseDatePart(s, i, v) || i != s.size()) return false;
  Value = v;
  return true;
}

bool TryEngineTextToTime(std::string_view Text, TDateTime& Value) {
  const std::string_view s = Trim(Text);
  size_t i = 0;
  TDateTime v = 0;
  if (!ParseTimePart(s, i, v) || i != s.size()) return false;
  Value = v;
  return true;
}

bool TryEngineTextToDateTime(std::string_view Text, TDateTime& Value) {
  const std::string_view s = Trim(Text);
  size_t i = 0;
  TDateTime date = 0;
  if (!ParseDatePart(s, i, date)) return false;
  if (i == s.size()) {
    Value = date;
    return true;
  }
  if (s[i] == 'T' || s[i] == 't') {
    ++i;
  } else {
    if (s[i] != ' ') return false;
    while (i < s.size() && s[i] == ' ') ++i;
  }
  TDateTime time = 0;
  if (!ParseTimePart(s, i, time) || i != s.size()) return false;
  Value = CombineDateAndTime(date, time);
  return true;
}

}  // namespace orv
