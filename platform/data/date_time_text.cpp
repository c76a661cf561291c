#include "platform/data/date_time_text.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/base/number_parse.h"

namespace platform::data {
namespace {

void AppendNumber(std::string& out, int value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  out += buf;
}

int CountRun(std::string_view f, size_t i, char c) {
  int n = 0;
  while (i + n < f.size() && (f[i + n] | 0x20) == c) ++n;
  return n;
}

struct Numbers {
  std::vector<int> values;
  std::vector<int> widths;
};

// Digit runs separated by the allowed separators; false on any other character.
bool SplitNumbers(std::string_view text, std::string_view separators, Numbers& out) {
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      int v = 0;
      int w = 0;
      while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (w >= 9) return false;
        v = v * 10 + (text[i] - '0');
        ++w;
        ++i;
      }
      out.values.push_back(v);
      out.widths.push_back(w);
    } else if (separators.find(c) != std::string_view::npos) {
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Order of year, month and day in the short date format: for each of y, m, d its rank.
void DateOrder(int& y_rank, int& m_rank, int& d_rank) {
  const std::string& f = ProcessDateTimeTextSettings().ShortDateFormat;
  size_t py = f.find_first_of("yY"), pm = f.find_first_of("mM"), pd = f.find_first_of("dD");
  if (py == std::string::npos || pm == std::string::npos || pd == std::string::npos) {
    py = 0;
    pm = 1;
    pd = 2;
  }
  y_rank = (py > pm) + (py > pd);
  m_rank = (pm > py) + (pm > pd);
  d_rank = (pd > py) + (pd > pm);
}

bool DateFromNumbers(const Numbers& n, size_t first, TDateTime& value) {
  int yr = 0, mr = 0, dr = 0;
  DateOrder(yr, mr, dr);
  int year = n.values[first + yr];
  if (n.widths[first + yr] <= 2) year += year < 50 ? 2000 : 1900;
  return TryEncodeDate(year, n.values[first + mr], n.values[first + dr], value);
}

bool TimeFromNumbers(const Numbers& n, size_t first, TDateTime& value) {
  const size_t count = n.values.size() - first;
  if (count < 2 || count > 4) return false;
  const int h = n.values[first];
  const int m = n.values[first + 1];
  const int s = count > 2 ? n.values[first + 2] : 0;
  int ms = 0;
  if (count > 3) {
    // the fraction's digits are a fraction of a second, not a count of milliseconds
    const int w = n.widths[first + 3];
    double frac = n.values[first + 3] / std::pow(10.0, w);
    ms = static_cast<int>(std::lround(frac * 1000));
    if (ms > 999) ms = 999;
  }
  return TryEncodeTime(h, m, s, ms, value);
}

}  // namespace

DateTimeTextSettings& ProcessDateTimeTextSettings() {
  static DateTimeTextSettings settings;
  return settings;
}

std::string FormatDateTime(std::string_view f, TDateTime value) {
  const DateParts p = DecodeDateTime(value);
  std::string out;
  size_t i = 0;
  while (i < f.size()) {
    const char c = f[i];
    if (c == '\'' || c == '"') {
      const size_t end = f.find(c, i + 1);
      const size_t stop = end == std::string_view::npos ? f.size() : end;
      out.append(f.substr(i + 1, stop - i - 1));
      i = stop == f.size() ? stop : stop + 1;
      continue;
    }
    const char lc = static_cast<char>(c | 0x20);
    const int run = (lc >= 'a' && lc <= 'z') ? CountRun(f, i, lc) : 0;
    switch (run > 0 ? lc : '\0') {
      case 'y':
        if (run >= 3) {
          AppendNumber(out, p.year, 4);
        } else {
          AppendNumber(out, p.year % 100, 2);
        }
        break;
      case 'm':
        AppendNumber(out, p.month, run >= 2 ? 2 : 1);
        break;
      case 'd':
        AppendNumber(out, p.day, run >= 2 ? 2 : 1);
        break;
      case 'h':
        AppendNumber(out, p.hour, run >= 2 ? 2 : 1);
        break;
      case 'n':
        AppendNumber(out, p.minute, run >= 2 ? 2 : 1);
        break;
      case 's':
        AppendNumber(out, p.second, run >= 2 ? 2 : 1);
        break;
      case 'z':
        AppendNumber(out, p.msec, run >= 3 ? 3 : 1);
        break;
      default:
        out += c;
        i += 1;
        continue;
    }
    i += static_cast<size_t>(run);
  }
  return out;
}

std::string DateToStr(TDateTime value) { return FormatDateTime(ProcessDateTimeTextSettings().ShortDateFormat, value); }

std::string TimeToStr(TDateTime value) { return FormatDateTime(ProcessDateTimeTextSettings().LongTimeFormat, value); }

std::string DateTimeToStr(TDateTime value) {
  const DateParts p = DecodeDateTime(value);
  std::string text = DateToStr(value);
  if (p.hour != 0 || p.minute != 0 || p.second != 0 || p.msec != 0) text += " " + TimeToStr(value);
  return text;
}

bool TryStrToDate(std::string_view text, TDateTime& value) {
  Numbers n;
  if (!SplitNumbers(Trim(text), " -./", n) || n.values.size() != 3) return false;
  return DateFromNumbers(n, 0, value);
}

bool TryStrToTime(std::string_view text, TDateTime& value) {
  Numbers n;
  if (!SplitNumbers(Trim(text), ":.", n)) return false;
  return TimeFromNumbers(n, 0, value);
}

bool TryStrToDateTime(std::string_view text, TDateTime& value) {
  text = Trim(text);
  // the date ends at the first blank or "T" that follows a digit
  size_t split = std::string_view::npos;
  for (size_t i = 1; i < text.size(); ++i) {
    if ((text[i] == ' ' || text[i] == 'T') && text[i - 1] >= '0' && text[i - 1] <= '9') {
      split = i;
      break;
    }
  }
  TDateTime date = 0;
  if (split == std::string_view::npos) return TryStrToDate(text, value);
  if (!TryStrToDate(text.substr(0, split), date)) return false;
  std::string_view rest = text.substr(split + 1);
  TDateTime time = 0;
  if (!TryStrToTime(rest, time)) return false;
  value = CombineDateTime(date, time);
  return true;
}

TSQLTimeStamp DateTimeToSQLTimeStamp(TDateTime value) {
  const DateParts p = DecodeDateTime(value);
  TSQLTimeStamp ts;
  ts.Year = static_cast<int16_t>(p.year);
  ts.Month = static_cast<uint16_t>(p.month);
  ts.Day = static_cast<uint16_t>(p.day);
  ts.Hour = static_cast<uint16_t>(p.hour);
  ts.Minute = static_cast<uint16_t>(p.minute);
  ts.Second = static_cast<uint16_t>(p.second);
  ts.Fractions = static_cast<uint32_t>(p.msec);
  return ts;
}

TDateTime SQLTimeStampToDateTime(const TSQLTimeStamp& ts) {
  // an all-zero stamp is the empty value, not an error
  if (ts == TSQLTimeStamp{}) return 0;
  const TDateTime date = EncodeDate(ts.Year, ts.Month, ts.Day);
  const TDateTime time = EncodeTime(ts.Hour, ts.Minute, ts.Second, static_cast<int>(ts.Fractions));
  return CombineDateTime(date, time);
}

TDateTime CombineDateTime(TDateTime date, TDateTime time) { return date < 0 ? date - time : date + time; }

}  // namespace platform::data
