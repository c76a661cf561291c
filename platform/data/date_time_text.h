#pragma once
// Date and time texts of field values, independent of the C locale: the formats are
// process settings that the application sets from the operator's choice.
#include <string>
#include <string_view>

#include "platform/base/datetime.h"
#include "platform/data/data_types.h"

namespace platform::data {

// Format letters: yyyy and yy (year), mm and m (month), dd and d (day), hh and h (hour), nn and n
// (minute), ss and s (second), zzz and z (milliseconds); text in single or double quotes and
// every other character is copied. Months are always "m", minutes always "n".
struct DateTimeTextSettings {
  std::string ShortDateFormat = "yyyy-mm-dd";
  std::string LongTimeFormat = "hh:nn:ss";
};

DateTimeTextSettings& ProcessDateTimeTextSettings();

std::string FormatDateTime(std::string_view format, TDateTime value);
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
// Date and time; the time is left out when it is exactly midnight.
std::string DateTimeToStr(TDateTime value);

// Reading: the date's numbers in the order of ShortDateFormat, separated by any of " -./",
// a two-digit year being 1950..2049; the time as h:n[:s[.z]]. A date-time is a date, blanks
// or a "T", and an optional time. Anything else fails.
bool TryStrToDate(std::string_view text, TDateTime& value);
bool TryStrToTime(std::string_view text, TDateTime& value);
bool TryStrToDateTime(std::string_view text, TDateTime& value);

// The native form of time stamp fields. Converting an impossible time stamp raises
// EConvertError.
TSQLTimeStamp DateTimeToSQLTimeStamp(TDateTime value);
TDateTime SQLTimeStampToDateTime(const TSQLTimeStamp& value);

// A date and a time of day joined the way TDateTime counts (a date before 1899-12-30
// subtracts the time).
TDateTime CombineDateTime(TDateTime date, TDateTime time);

}  // namespace platform::data
