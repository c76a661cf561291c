#include "dbengine/sql/orv_date_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "dbengine/sql/tests/python_reference.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/number_parse.h"

namespace orv {
namespace {

using platform::EConvertError;
using platform::EncodeDate;
using platform::EncodeTime;

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, 0);
}

// ---- Against Python's datetime ------------------------------------------------------------

TEST(TDateFormaterPython, EveryDayFrom1900To2100) {
  const auto reference = testing::PythonLines("date_format_reference.py");
  ASSERT_EQ(reference.size(), 73414u) << "python3 could not write the reference texts";
  const TDateFormater numbers("YYYY-MM-DD DY DW Q RM");
  const TDateFormater names("DAY, DDD, MONTH, MON, D.M.YY");
  const TDateFormater times("HH24:NN:SS HH12 H AMPM");
  const TDateTime first = EncodeDate(1900, 1, 1);
  int failures = 0;
  for (size_t i = 0; i < reference.size() && failures < 10; ++i) {
    const int seconds = static_cast<int>(i * 7919 % 86400);
    const TDateTime dt = first + static_cast<double>(i) + EncodeTime(seconds / 3600, seconds / 60 % 60, seconds % 60, 0);
    const std::string ours = numbers.ToString(dt) + "|" + names.ToString(dt) + "|" + times.ToString(dt);
    if (ours != reference[i]) {
      ADD_FAILURE() << "day " << i << ": " << ours << " != " << reference[i];
      ++failures;
    }
  }
}

// ---- Parsing the format -------------------------------------------------------------------

TEST(TDateFormaterParse, LongestWordFirstAndLiteralText) {
  EXPECT_EQ(TDateFormater("YYYY-MM-DD").DebugGetTotenList(),
            "1 <dfYYYY> = 'YYYY'\r\n2 <dfText> = '-'\r\n3 <dfMM> = 'MM'\r\n4 <dfText> = '-'\r\n5 <dfDD> = 'DD'\r\n");
  EXPECT_EQ(TDateFormater("HH24MI").DebugGetTotenList(),
            "1 <dfHH24> = 'HH24'\r\n2 <dfM> = 'M'\r\n3 <dfText> = 'I'\r\n");
  EXPECT_EQ(TDateFormater("Month mon").DebugGetTotenList(),
            "1 <dfMONTH> = 'Month'\r\n2 <dfText> = ' '\r\n3 <dfMON> = 'mon'\r\n");
  // Quotes: the other kind is an ordinary character, an empty pair an empty text, an
  // unclosed quote runs to the end.
  EXPECT_EQ(TDateFormater("'it\"s'\"\"YY'DD").DebugGetTotenList(),
            "1 <dfText> = 'it\"s'\r\n2 <dfText> = ''\r\n3 <dfYY> = 'YY'\r\n4 <dfText> = 'DD'\r\n");
  EXPECT_EQ(TDateFormater("").DebugGetTotenList(), "");
  EXPECT_EQ(GetReservedWord("hh24"), dfHH24);
  EXPECT_EQ(GetReservedWord("HH2"), dfText);
  EXPECT_EQ(DateFormatReservedWordsMaxLength, 5);
}

TEST(TDateFormaterParse, LowerCaseWordsAreTheSameFormat) {
  const TDateTime dt = At(2024, 3, 7);
  EXPECT_EQ(TDateFormater("dd.mm.yyyy").ToString(dt), "07.03.2024");
  EXPECT_EQ(TDateFormater("DD.MM.YYYY").ToString(dt), "07.03.2024");
  EXPECT_EQ(TDateFormater("'Date: 'YYYY").ToString(dt), "Date: 2024");
}

// ---- Formatting ---------------------------------------------------------------------------

TEST(TDateFormaterToString, Words) {
  struct Case {
    const char* format;
    TDateTime dt;
    const char* text;
  };
  const Case cases[] = {
      {"Q", At(2024, 2, 10), "1"},
      {"Q", At(2024, 12, 10), "4"},
      {"RM", At(2024, 9, 1), "IX"},
      {"RM", At(2024, 8, 1), "VIII"},
      {"DW", At(2024, 3, 10), "7"},  // a Sunday
      {"DW DDD DAY", At(2024, 3, 11), "1 Mon Monday"},
      {"DY", At(2024, 2, 1), "32"},
      {"DY", At(2024, 12, 31), "366"},
      {"MONTH MON", At(2023, 9, 5), "September Sep"},
      {"YYYY YEAR YY", At(987, 6, 5), "0987 0987 87"},
      {"HH12 HH H12 H AMPM", At(2024, 1, 1, 0, 5, 9), "00 00 0 0 AM"},
      {"HH12 H24 AMPM", At(2024, 1, 1, 12, 0, 0), "00 12 PM"},
      {"HH24:NN:SS H24:N:S", At(2024, 1, 1, 7, 8, 9), "07:08:09 7:8:9"},
      {"D.M.", At(2024, 1, 2), "2.1."},
  };
  for (const Case& c : cases) EXPECT_EQ(TDateFormater(c.format).ToString(c.dt), c.text) << c.format;
  // A value before 1899-12-30 with a time of day.
  EXPECT_EQ(TDateFormater("YYYY-MM-DD HH24:NN").ToString(At(1850, 6, 15) - EncodeTime(6, 30, 0, 0)),
            "1850-06-15 06:30");
}

TEST(TDateFormaterToString, RefusesValuesOutsideTheCalendar) {
  const TDateFormater f("YYYY");
  EXPECT_THROW(f.ToString(std::numeric_limits<double>::quiet_NaN()), EConvertError);
  EXPECT_THROW(f.ToString(std::numeric_limits<double>::infinity()), EConvertError);
  EXPECT_THROW(f.ToString(1e9), EConvertError);
}

// ---- Reading ------------------------------------------------------------------------------

TEST(TDateFormaterToDate, Cases) {
  EXPECT_EQ(TDateFormater("DD.M.YYYY").ToDate("07.3.2024"), At(2024, 3, 7));
  EXPECT_THROW(TDateFormater("DD.MM.YYYY").ToDate("07.3.2024"), EConvertError);
  EXPECT_EQ(TDateFormater("DD.MM.YY").ToDate("01.01.29"), At(2029, 1, 1));
  EXPECT_EQ(TDateFormater("DD.MM.YY").ToDate("01.01.30"), At(1930, 1, 1));
  EXPECT_NEAR(TDateFormater("HH24:NN").ToDate("14:30"), 0.6041666666666666, 1e-15);
  EXPECT_EQ(TDateFormater("HH12 AMPM").ToDate("11 PM"), EncodeTime(23, 0, 0, 0));
  EXPECT_EQ(TDateFormater("HH12 AMPM").ToDate("11 pm"), EncodeTime(23, 0, 0, 0));
  EXPECT_EQ(TDateFormater("HH12 AMPM").ToDate("00 AM"), 0.0);
  EXPECT_THROW(TDateFormater("HH12 AMPM").ToDate("12 PM"), EConvertError);  // hour 24
  EXPECT_EQ(TDateFormater("Q DD YYYY").ToDate("2 15 2024"), At(2024, 4, 15));
  EXPECT_EQ(TDateFormater("Q YYYY").ToDate("2 2024"), 0.0);  // no day: the zero date
  EXPECT_THROW(TDateFormater("DD.MM.YYYY").ToDate("31.02.2024"), EConvertError);
  EXPECT_THROW(TDateFormater("HH24").ToDate("2x"), EConvertError);
  // Words that are not read skip their own length; text after the last token is ignored.
  EXPECT_EQ(TDateFormater("MON DD.MM.YYYY").ToDate("Mar 07.03.2024 and more"), At(2024, 3, 7));
  // Text shorter than the format gives what is there.
  EXPECT_EQ(TDateFormater("DD.MM.YYYY HH24:NN").ToDate("07.03.2024 09"), At(2024, 3, 7, 9));
  EXPECT_EQ(TDateFormater("DD.MM.YYYY").ToDate("07.03"), 0.0);
  EXPECT_EQ(TDateFormater("D.M.YYYY H24:N:S").ToDate("7.3.2024 9:5:1"), At(2024, 3, 7, 9, 5, 1));
  // Before 1899-12-30 the time of day counts back from the day.
  EXPECT_EQ(TDateFormater("YYYY-MM-DD HH24:NN").ToDate("1850-06-15 06:30"),
            At(1850, 6, 15) - EncodeTime(6, 30, 0, 0));
}

TEST(TDateFormaterToDate, AmPmWordExpected) {
  try {
    TDateFormater("HH12 AMPM").ToDate("11 XM");
    ADD_FAILURE() << "no error";
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 30129);
    EXPECT_STREQ(e.what(), "AM/PM word expected, but 'XM' found - Native error: 30129");
  }
}

TEST(TDateFormaterToDate, RoundTrips) {
  struct Format {
    const char* text;
    int first_year, last_year;
  };
  const Format formats[] = {
      {"YYYY-MM-DD HH24:NN:SS", 1, 9999},
      {"D.M.YYYY H24:N:S", 1, 9999},
      {"'Date: 'YEAR/MM/DD HH12.NN.SS AMPM", 1, 9999},
      {"DD.MM.YY HH:NN:SS AMPM", 1930, 2029},
  };
  std::mt19937 rng(7);
  for (const Format& f : formats) {
    const TDateFormater fmt(f.text);
    for (int k = 0; k < 2000; ++k) {
      const int y = std::uniform_int_distribution<int>(f.first_year, f.last_year)(rng);
      const int mo = std::uniform_int_distribution<int>(1, 12)(rng);
      const int d = std::uniform_int_distribution<int>(1, platform::DaysInMonth(y, mo))(rng);
      const int s = std::uniform_int_distribution<int>(0, 86399)(rng);
      const TDateTime date = EncodeDate(y, mo, d), time = EncodeTime(s / 3600, s / 60 % 60, s % 60, 0);
      const TDateTime dt = date < 0 ? date - time : date + time;
      const std::string text = fmt.ToString(dt);
      ASSERT_EQ(fmt.ToDate(text), dt) << f.text << ": " << text;
    }
  }
}

// ---- Size, type and the date helpers ------------------------------------------------------

TEST(TDateFormater, SizeAndType) {
  EXPECT_EQ(TDateFormater("DAY, DD MONTH YYYY").GetStringMaxSize(), 31);
  EXPECT_EQ(TDateFormater("YYYY-MM-DD DY DW Q RM").GetStringMaxSize(), 4 + 1 + 2 + 1 + 2 + 1 + 4 + 1 + 2 + 1 + 1 + 1 + 4);
  EXPECT_EQ(TDateFormater("HH24:NN:SS AMPM 'o''clock'").GetStringMaxSize(), 2 + 1 + 2 + 1 + 2 + 1 + 2 + 1 + 1 + 5);
  EXPECT_EQ(TDateFormater("YYYY-MM-DD").GetDataType(), aftDate);
  EXPECT_EQ(TDateFormater("HH24:NN").GetDataType(), aftTime);
  EXPECT_EQ(TDateFormater("YYYY HH24").GetDataType(), aftDateTime);
  EXPECT_EQ(TDateFormater("'just text'").GetDataType(), aftDateTime);
  EXPECT_EQ(TDateFormater("AMPM").GetDataType(), aftTime);
  EXPECT_EQ(TDateFormater("D").GetDataType(), aftDate);
}

TEST(TDateFormater, DateHelpers) {
  const TDateTime dt = At(2024, 3, 10, 17, 45, 0);  // a Sunday
  EXPECT_EQ(YearOf(dt), 2024);
  EXPECT_EQ(MonthOf(dt), 3);
  EXPECT_EQ(StartOfTheYear(dt), At(2024, 1, 1));
  EXPECT_EQ(DayOfTheYear(dt), 31 + 29 + 10);
  EXPECT_EQ(DayOfTheWeek(dt), 7);
  EXPECT_EQ(DayOfTheWeek(At(1, 1, 1)), 1);  // 1 January of the year 1 was a Monday
  EXPECT_EQ(HourOf(dt), 17);
  EXPECT_EQ(HourOfTheDay(dt), 17);
}

}  // namespace
}  // namespace orv
