#include "dbengine/sql/orv_date_format.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "dbengine/storage/orv_except.h"
#include "platform/base/number_parse.h"

namespace orv {

namespace {

constexpr std::array<std::string_view, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December",
};
constexpr std::array<std::string_view, 12> kShortMonthNames = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec",
};
// Monday first, as DayOfTheWeek counts.
constexpr std::array<std::string_view, 7> kDayNames = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday",
};
constexpr std::array<std::string_view, 7> kShortDayNames = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 12> kRomanMonths = {
    "I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX", "X", "XI", "XII",
};

std::string AsciiUpper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Padded2(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

std::string Padded4(int v) {
  std::string s = std::to_string(v);
  return s.size() < 4 ? std::string(4 - s.size(), '0') + s : s;
}

// A decoded date-time; values outside the calendar (NaN, infinities, beyond 9999) are refused
// instead of being formatted as a date that never was.
platform::DateParts Decode(TDateTime dt) {
  const platform::DateParts p = platform::DecodeDateTime(dt);
  if (p.year == 0) throw platform::EConvertError("Invalid date-time value");
  return p;
}

// Day number with 0001-01-01 as day 1.
int32_t DayNumber(const platform::DateParts& p) {
  TDateTime d = 0;
  platform::TryEncodeDate(p.year, p.month, p.day, d);
  return static_cast<int32_t>(d) + platform::kDateDelta;
}

int32_t DayOfYear(const platform::DateParts& p) {
  TDateTime d = 0, first = 0;
  platform::TryEncodeDate(p.year, p.month, p.day, d);
  platform::TryEncodeDate(p.year, 1, 1, first);
  return static_cast<int32_t>(d - first) + 1;
}

int32_t DayOfWeek(const platform::DateParts& p) { return (DayNumber(p) - 1) % 7 + 1; }

[[noreturn]] void UnknownType() { throw std::logic_error("Unknown DateFormatType"); }

}  // namespace

TDateFormatType GetReservedWord(std::string_view Text) {
  const std::string upper = AsciiUpper(Text);
  for (size_t i = 0; i < DateFormatReservedWords.size(); ++i)
    if (DateFormatReservedWords[i] == upper) return static_cast<TDateFormatType>(i);
  return dfText;
}

int32_t YearOf(TDateTime dt) { return platform::DecodeDateTime(dt).year; }
int32_t MonthOf(TDateTime dt) { return platform::DecodeDateTime(dt).month; }
TDateTime StartOfTheYear(TDateTime dt) { return platform::EncodeDate(YearOf(dt), 1, 1); }
int32_t DayOfTheYear(TDateTime dt) { return DayOfYear(Decode(dt)); }
int32_t DayOfTheWeek(TDateTime dt) { return DayOfWeek(Decode(dt)); }
int32_t HourOf(TDateTime dt) { return platform::DecodeDateTime(dt).hour; }
int32_t HourOfTheDay(TDateTime dt) { return HourOf(dt); }

// ---- TDateFormater ----------------------------------------------------------------------

TDateFormater::TDateFormater(std::string_view DateFormat) { ParseDateFormat(DateFormat); }

void TDateFormater::ParseDateFormat(std::string_view DateFormatStr) {
  FDateFormat.clear();
  std::string literal;
  auto flush_literal = [&] {
    if (!literal.empty()) FDateFormat.push_back({dfText, std::move(literal)});
    literal.clear();
  };
  const size_t n = DateFormatStr.size();
  size_t i = 0;
  while (i < n) {
    const char c = DateFormatStr[i];
    if (c == '\'' || c == '"') {
      // Quoted text is literal, also when it holds format words; an empty pair makes an
      // empty text and an unclosed quote runs to the end.
      flush_literal();
      const size_t close = DateFormatStr.find(c, i + 1);
      const size_t end = close == std::string_view::npos ? n : close;
      FDateFormat.push_back({dfText, std::string(DateFormatStr.substr(i + 1, end - i - 1))});
      i = close == std::string_view::npos ? n : close + 1;
      continue;
    }
    bool matched = false;
    const size_t longest = std::min(static_cast<size_t>(DateFormatReservedWordsMaxLength), n - i);
    for (size_t len = longest; len >= 1; --len) {
      const std::string_view word = DateFormatStr.substr(i, len);
      const TDateFormatType type = GetReservedWord(word);
      if (type == dfText) continue;
      flush_literal();
      FDateFormat.push_back({type, std::string(word)});
      i += len;
      matched = true;
      break;
    }
    if (!matched) {
      literal += c;
      ++i;
    }
  }
  flush_literal();
}

std::string TDateFormater::ToString(TDateTime dt) const {
  const platform::DateParts p = Decode(dt);
  std::string out;
  for (const TDateFormatToken& t : FDateFormat) {
    switch (t.TokenType) {
      case dfYYYY:
      case dfYEAR: out += Padded4(p.year); break;
      case dfYY: out += Padded2(p.year % 100); break;
      case dfQ: out += std::to_string((p.month - 1) / 3 + 1); break;
      case dfMONTH: out += kMonthNames[static_cast<size_t>(p.month - 1)]; break;
      case dfMON: out += kShortMonthNames[static_cast<size_t>(p.month - 1)]; break;
      case dfMM: out += Padded2(p.month); break;
      case dfM: out += std::to_string(p.month); break;
      case dfRM: out += kRomanMonths[static_cast<size_t>(p.month - 1)]; break;
      case dfDDD: out += kShortDayNames[static_cast<size_t>(DayOfWeek(p) - 1)]; break;
      case dfDD: out += Padded2(p.day); break;
      case dfDAY: out += kDayNames[static_cast<size_t>(DayOfWeek(p) - 1)]; break;
      case dfDY: out += std::to_string(DayOfYear(p)); break;
      case dfDW: out += std::to_string(DayOfWeek(p)); break;
      case dfD: out += std::to_string(p.day); break;
      case dfHH12:
      case dfHH: out += Padded2(p.hour % 12); break;
      case dfHH24: out += Padded2(p.hour); break;
      case dfH12:
      case dfH: out += std::to_string(p.hour % 12); break;
      case dfH24: out += std::to_string(p.hour); break;
      case dfNN: out += Padded2(p.minute); break;
      case dfN: out += std::to_string(p.minute); break;
      case dfSS: out += Padded2(p.second); break;
      case dfS: out += std::to_string(p.second); break;
      case dfAMPM: out += p.hour >= 12 ? "PM" : "AM"; break;
      case dfText: out += t.Text; break;
      default: UnknownType();
    }
  }
  return out;
}

TDateTime TDateFormater::ToDate(std::string_view str) const {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  size_t pos = 0;
  const size_t n = str.size();
  // Text shorter than the format gives what is there: a field past the end reads nothing.
  auto read_fixed = [&](size_t count, int& value) {
    if (pos >= n) return false;
    const std::string_view field = str.substr(pos, count);
    pos += field.size();
    value = platform::StrToInt(field);
    return true;
  };
  auto read_1or2 = [&](int& value) {
    if (pos >= n) return false;
    const size_t count = pos + 1 < n && IsDigit(str[pos + 1]) ? 2 : 1;
    return read_fixed(count, value);
  };
  for (const TDateFormatToken& t : FDateFormat) {
    int v = 0;
    switch (t.TokenType) {
      case dfYYYY:
      case dfYEAR: read_fixed(4, year); break;
      case dfYY:
        if (read_fixed(2, v)) {
          year = 1900 + v;
          if (year < TwoDigitYearCenturyWindow) year += 100;
        }
        break;
      case dfQ:
        if (read_fixed(1, v)) month = (v - 1) * 3 + 1;
        break;
      case dfMM: read_fixed(2, month); break;
      case dfM: read_1or2(month); break;
      case dfDD: read_fixed(2, day); break;
      case dfD: read_1or2(day); break;
      case dfHH12:
      case dfHH:
      case dfH24: read_1or2(hour); break;
      case dfHH24: read_fixed(2, hour); break;
      case dfNN: read_fixed(2, minute); break;
      case dfN: read_1or2(minute); break;
      case dfSS: read_fixed(2, second); break;
      case dfS: read_1or2(second); break;
      case dfAMPM: {
        if (pos >= n) break;
        const std::string_view word = str.substr(pos, 2);
        pos += word.size();
        const std::string upper = AsciiUpper(word);
        if (upper == "PM")
          hour += 12;
        else if (upper != "AM")
          throw EORVException(30129, "AM/PM word expected, but '%s' found", {word});
        break;
      }
      case dfText:
      default:
        // Literal text and the words that are not read (names, RM, DY, DW, H12, H) skip
        // as many characters as they have in the format.
        pos += t.Text.size();
        break;
    }
  }
  TDateTime date = 0;
  if (year != 0 && month != 0 && day != 0) date = platform::EncodeDate(year, month, day);
  const TDateTime time = platform::EncodeTime(hour, minute, second, 0);
  // Before 1899-12-30 the fraction counts back from the (negative) day, so the time of day
  // is subtracted there; a plain sum would give the mirrored time.
  return date < 0 ? date - time : date + time;
}

int32_t TDateFormater::GetStringMaxSize() const {
  int32_t size = 0;
  for (const TDateFormatToken& t : FDateFormat) {
    switch (t.TokenType) {
      case dfYYYY: case dfYEAR: case dfRM: case dfDY: size += 4; break;
      case dfQ: size += 1; break;
      case dfMONTH: size += 9; break;
      case dfMON: case dfDDD: size += 3; break;
      case dfDAY: size += 12; break;
      case dfYY: case dfMM: case dfM: case dfDD: case dfDW: case dfD: case dfHH12: case dfHH24: case dfHH:
      case dfH12: case dfH24: case dfH: case dfNN: case dfN: case dfSS: case dfS: case dfAMPM: size += 2; break;
      case dfText: size += static_cast<int32_t>(t.Text.size()); break;
      default: UnknownType();
    }
  }
  return size;
}

TORVAdvancedFieldType TDateFormater::GetDataType() const {
  bool has_date = false, has_time = false;
  for (const TDateFormatToken& t : FDateFormat) {
    if (t.TokenType <= dfD) has_date = true;
    else if (t.TokenType <= dfAMPM) has_time = true;
  }
  if (has_date && !has_time) return aftDate;
  if (has_time && !has_date) return aftTime;
  return aftDateTime;
}

std::string TDateFormater::DebugGetTotenList() const {
  std::string out;
  for (size_t i = 0; i < FDateFormat.size(); ++i) {
    const TDateFormatToken& t = FDateFormat[i];
    out += std::to_string(i + 1);
    if (t.TokenType == dfText) {
      out += " <dfText> = '";
    } else {
      out += " <df";
      out += DateFormatReservedWords[t.TokenType];
      out += "> = '";
    }
    out += t.Text;
    out += "'\r\n";
  }
  return out;
}

}  // namespace orv
