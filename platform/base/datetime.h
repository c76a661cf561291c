#pragma once
// TDateTime: days since 1899-12-30 as a double, the fraction being the time of day.
#include <cstdint>
#include <string>

namespace platform {

using TDateTime = double;

constexpr int32_t kMSecsPerDay = 86400000;
// Day number of 1899-12-30 counted from 0001-01-01 (the engine stores dates this way).
constexpr int32_t kDateDelta = 693594;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Encoders fail (return false) on a date or time outside the calendar (years 1..9999).
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
// Raising versions: EConvertError with the runtime's messages.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);

struct DateParts {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, msec = 0;
};

// Splits a TDateTime; the time is rounded to the nearest millisecond (carrying into the date).
DateParts DecodeDateTime(TDateTime dt);
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& msec);

// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime dt);

// The current local date and time from the process clock (see clock.h).
TDateTime Now();
TDateTime Date();

// "yyyy-mm-dd hh:nn:ss" for logs and file stamps.
std::string FormatIsoDateTime(TDateTime dt);

}  // namespace platform
