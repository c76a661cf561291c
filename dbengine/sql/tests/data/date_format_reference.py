#!/usr/bin/env python3
# Reference texts of every day from 1900-01-01 to 2100-12-31, written by Python's datetime:
#   <YYYY-MM-DD DY DW Q RM>|<DAY, DDD, MONTH, MON, D.M.YY>|<HH24:NN:SS HH12 H AMPM>
# The time of day of day number i (from 0) is (i * 7919) mod 86400 seconds.
import datetime

ROMAN = ["I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX", "X", "XI", "XII"]

day = datetime.date(1900, 1, 1)
last = datetime.date(2100, 12, 31)
i = 0
out = []
while day <= last:
    a = "%s %d %d %d %s" % (day.strftime("%Y-%m-%d"), day.timetuple().tm_yday, day.isoweekday(),
                            (day.month - 1) // 3 + 1, ROMAN[day.month - 1])
    b = "%s, %d.%d.%s" % (day.strftime("%A, %a, %B, %b"), day.day, day.month, day.strftime("%y"))
    s = (i * 7919) % 86400
    h, m, sec = s // 3600, s // 60 % 60, s % 60
    c = "%02d:%02d:%02d %02d %d %s" % (h, m, sec, h % 12, h % 12, "PM" if h >= 12 else "AM")
    out.append("%s|%s|%s" % (a, b, c))
    day += datetime.timedelta(days=1)
    i += 1
print("\n".join(out))
