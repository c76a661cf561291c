#pragma once
// Date format strings of the SQL functions TODATE and TOSTRING ("DD.MM.YYYY HH24:NN:SS"): a
// format is split into format words and literal text once, then formats date-time values,
// reads them back, and tells the longest text it can produce and whether it describes a
// date, a time or both. Month and day names are English whatever the process's locale, so
// that a stored text reads back the same on every machine.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/storage/orv_types.h"
#include "platform/base/datetime.h"

namespace orv {

using platform::TDateTime;

enum TDateFormatType : uint8_t {
  dfYYYY, dfYY, dfYEAR, dfQ, dfMONTH, dfMON, dfMM, dfM, dfRM, dfDDD, dfDD, dfDAY, dfDY, dfDW, dfD,
  dfHH12, dfHH24, dfHH, dfH12, dfH24, dfH, dfNN, dfN, dfSS, dfS, dfAMPM,
  dfText  // literal text
};

inline constexpr int32_t DateFormatReservedWordsCount = 26;
// The format words, indexed by TDateFormatType.
inline constexpr std::array<std::string_view, DateFormatReservedWordsCount> DateFormatReservedWords = {
    "YYYY", "YY",  "YEAR", "Q",   "MONTH", "MON", "MM", "M",  "RM", "DDD", "DD", "DAY", "DY",
    "DW",   "D",   "HH12", "HH24", "HH",   "H12", "H24", "H", "NN", "N",   "SS", "S",   "AMPM",
};
// The length of the longest format word (MONTH).
inline constexpr int32_t DateFormatReservedWordsMaxLength = [] {
  size_t longest = 0;
  for (std::string_view w : DateFormatReservedWords) longest = w.size() > longest ? w.size() : longest;
  return static_cast<int32_t>(longest);
}();
// Two-digit years below this year's last two digits belong to the next century (00-29 are
// 2000-2029, 30-99 are 1930-1999).
inline constexpr int32_t TwoDigitYearCenturyWindow = 1930;

struct TDateFormatToken {
  TDateFormatType TokenType = dfText;
  std::string Text;  // the word as written in the format, or the literal text
};

class TDateFormater {
 public:
  explicit TDateFormater(std::string_view DateFormat);

  std::string ToString(TDateTime dt) const;
  // Raises EORVException 30129 for a bad AM/PM word and platform::EConvertError for a
  // number that does not convert or a date or time outside the calendar.
  TDateTime ToDate(std::string_view str) const;
  // The longest text ToString can produce.
  int32_t GetStringMaxSize() const;
  // aftDate with date words only, aftTime with time words only, else aftDateTime.
  TORVAdvancedFieldType GetDataType() const;
  // One line per token: "<n> <dfWORD> = '<text>'" (or <dfText>), CR LF line ends.
  std::string DebugGetTotenList() const;

  const std::vector<TDateFormatToken>& Tokens() const { return FDateFormat; }

 private:
  void ParseDateFormat(std::string_view DateFormatStr);

  std::vector<TDateFormatToken> FDateFormat;
};

// The format word Text stands for (ASCII case ignored), dfText when none.
TDateFormatType GetReservedWord(std::string_view Text);

// Date parts of a date-time (the time rounded to the millisecond, as the decoders do).
int32_t YearOf(TDateTime dt);
int32_t MonthOf(TDateTime dt);
TDateTime StartOfTheYear(TDateTime dt);
// 1 for 1 January.
int32_t DayOfTheYear(TDateTime dt);
// 1 for Monday to 7 for Sunday.
int32_t DayOfTheWeek(TDateTime dt);
int32_t HourOf(TDateTime dt);
int32_t HourOfTheDay(TDateTime dt);

}  // namespace orv
