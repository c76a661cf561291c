#include "platform/base/datetime.h"

#include <cmath>
#include <cstdio>

#include "platform/base/clock.h"
#include "platform/base/number_parse.h"

namespace platform {
namespace {

constexpr int kDaysBefore[2][13] = {{0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
                                    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

// Days from 0001-01-01 (day 1) to the given date.
int32_t DayNumber(int year, int month, int day) {
  const int y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400 + kDaysBefore[IsLeapYear(year)][month - 1] + day;
}

void DayNumberToDate(int32_t n, int& year, int& month, int& day) {
  // n counts from 1 = 0001-01-01; walk 400/100/4/1-year cycles.
  int32_t d = n - 1;
  int y = 1;
  y += 400 * (d / 146097);
  d %= 146097;
  int c = d / 36524;
  if (c == 4) c = 3;
  y += 100 * c;
  d -= c * 36524;
  y += 4 * (d / 1461);
  d %= 1461;
  int yy = d / 365;
  if (yy == 4) yy = 3;
  y += yy;
  d -= yy * 365;
  const int leap = IsLeapYear(y);
  int m = 1;
  while (m < 12 && d >= kDaysBefore[leap][m]) ++m;
  year = y;
  month = m;
  day = d - kDaysBefore[leap][m - 1] + 1;
}

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  return kDaysBefore[IsLeapYear(year)][month] - kDaysBefore[IsLeapYear(year)][month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  out = static_cast<double>(DayNumber(year, month, day) - kDateDelta);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
  if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 || msec < 0 ||
      msec >= 1000)
    return false;
  out = (static_cast<double>(hour) * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / kMSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime dt = 0;
  if (!TryEncodeDate(year, month, day, dt)) throw EConvertError("Invalid argument to date encode");
  return dt;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  TDateTime dt = 0;
  if (!TryEncodeTime(hour, minute, second, msec, dt)) throw EConvertError("Invalid argument to time encode");
  return dt;
}

DateParts DecodeDateTime(TDateTime dt) {
  DateParts p;
  if (!std::isfinite(dt)) return p;
  // Date part truncates toward zero; the time of day is the absolute fraction (so -1.25 is
  // 1899-12-29 06:00, as the original's date arithmetic treats negative values).
  double ip = 0;
  const double frac = std::fabs(std::modf(dt, &ip));
  auto day = static_cast<int64_t>(ip);
  auto ms = static_cast<int64_t>(std::llround(frac * kMSecsPerDay));
  if (ms >= kMSecsPerDay) {
    ms -= kMSecsPerDay;
    day += dt < 0 ? -1 : 1;
  }
  const int64_t n = day + kDateDelta;
  if (n < 1 || n > 3652059) return p;  // outside 0001..9999
  DayNumberToDate(static_cast<int32_t>(n), p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.msec = static_cast<int>(ms % 1000);
  return p;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  const DateParts p = DecodeDateTime(dt);
  year = p.year;
  month = p.month;
  day = p.day;
}

void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& msec) {
  const DateParts p = DecodeDateTime(dt);
  hour = p.hour;
  minute = p.minute;
  second = p.second;
  msec = p.msec;
}

int DayOfWeek(TDateTime dt) {
  const auto n = static_cast<int64_t>(std::trunc(dt)) + kDateDelta;  // 0001-01-01 was a Monday
  return static_cast<int>(((n % 7) + 7) % 7) + 1;
}

TDateTime Now() { return GetClock().Now(); }
TDateTime Date() { return std::trunc(GetClock().Now()); }

std::string FormatIsoDateTime(TDateTime dt) {
  const DateParts p = DecodeDateTime(dt);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                p.second);
  return buf;
}

}  // namespace platform
