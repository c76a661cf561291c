#include "platform/base/datetime.h"

#include <gtest/gtest.h>

#include "platform/base/number_parse.h"

namespace platform {
namespace {

// Day numbers from Python: (date(y, m, d) - date(1899, 12, 30)).days.
TEST(DateTime, EncodesDaysSince18991230) {
  struct Case { int y, m, d; double days; };
  for (const Case c : {Case{1899, 12, 30, 0}, {1900, 1, 1, 2}, {2026, 12, 10, 46366}, {1, 1, 1, -693593},
                       {9999, 12, 31, 2958465}, {2000, 2, 29, 36585}}) {
    EXPECT_DOUBLE_EQ(EncodeDate(c.y, c.m, c.d), c.days);
    int y = 0, m = 0, d = 0;
    DecodeDate(c.days, y, m, d);
    EXPECT_EQ(y, c.y);
    EXPECT_EQ(m, c.m);
    EXPECT_EQ(d, c.d);
  }
}

TEST(DateTime, RejectsDatesOutsideTheCalendar) {
  TDateTime dt = 0;
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, dt));
  EXPECT_FALSE(TryEncodeDate(2023, 13, 1, dt));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, dt));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, dt));
  EXPECT_THROW(EncodeDate(2023, 4, 31), EConvertError);
}

TEST(DateTime, TimeOfDayRoundsToMillisecondsAndCarries) {
  const TDateTime t = EncodeDate(2026, 12, 10) + EncodeTime(13, 45, 30, 250);
  const DateParts p = DecodeDateTime(t);
  EXPECT_EQ(p.hour, 13);
  EXPECT_EQ(p.minute, 45);
  EXPECT_EQ(p.second, 30);
  EXPECT_EQ(p.msec, 250);
  const DateParts carry = DecodeDateTime(EncodeDate(2026, 12, 31) + 0.99999999999);
  EXPECT_EQ(carry.year, 2027);
  EXPECT_EQ(carry.hour, 0);
  const DateParts neg = DecodeDateTime(-1.25);
  EXPECT_EQ(neg.day, 29);
  EXPECT_EQ(neg.hour, 6);
  EXPECT_EQ(FormatIsoDateTime(t), "2026-12-10 13:45:30");
}

TEST(DateTime, DayOfWeekStartsOnSunday) {
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 10)), 5);  // a Thursday
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 13)), 1);  // a Sunday
}

}  // namespace
}  // namespace platform
