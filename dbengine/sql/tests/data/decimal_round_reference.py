#!/usr/bin/env python3
# Reference results of decimal rounding, written by Python's decimal module. One line per value
# and digit count n from -3 to 6: "<repr(x)> <n> <r1> ... <r9>", r1..r9 being
# Decimal(repr(x)).quantize(10**-n) under HALFEVEN, HALFPOS, HALFNEG, HALFDOWN, HALFUP,
# RNDNEG, RNDPOS, RNDDOWN, RNDUP. The values have at most 15 significant digits: fixed cases,
# half-way values for some n, and random values (seeded, so every run checks the same ones).
import decimal
import random
from decimal import Decimal

decimal.getcontext().prec = 80

FIXED = ["2.675", "2.665", "2.5", "3.5", "-2.5", "1234.5", "-1234.5", "1.21", "-1.21", "1.29", "-1.29",
         "1.2", "-1.2", "0.5", "1.5", "0.125", "1.005", "0.1", "0.3", "9.995", "-9.995", "0", "-0.0",
         "1e-25", "-1e-25", "5e-7", "123456789012.345", "999999999999999", "-999999999999999",
         "123456789012345", "0.000123456789012345", "4.5e15", "1e16"]


def random_value(rng):
    digits = rng.randint(1, 15)
    mantissa = rng.randint(10 ** (digits - 1), 10 ** digits - 1)
    if rng.random() < 0.4:
        # A half-way value for some n: the digit after the n-th decimal is the last one, a 5.
        n = rng.randint(-3, 6)
        mantissa = mantissa - mantissa % 10 + 5
        exponent = -(n + 1)
    else:
        exponent = rng.randint(-9 - digits, 16 - digits)
    sign = "-" if rng.random() < 0.5 else ""
    return "%s%dE%d" % (sign, mantissa, exponent)


def halfpos(d):
    return decimal.ROUND_HALF_UP if d >= 0 else decimal.ROUND_HALF_DOWN


def halfneg(d):
    return decimal.ROUND_HALF_DOWN if d >= 0 else decimal.ROUND_HALF_UP


MODES = [lambda d: decimal.ROUND_HALF_EVEN, halfpos, halfneg, lambda d: decimal.ROUND_HALF_DOWN,
         lambda d: decimal.ROUND_HALF_UP, lambda d: decimal.ROUND_FLOOR, lambda d: decimal.ROUND_CEILING,
         lambda d: decimal.ROUND_DOWN, lambda d: decimal.ROUND_UP]

rng = random.Random(20240515)
values = FIXED + [random_value(rng) for _ in range(3000)]
out = []
for text in values:
    r = repr(float(text))
    d = Decimal(r)
    for n in range(-3, 7):
        grid = Decimal(1).scaleb(-n)
        out.append("%s %d %s" % (r, n, " ".join(str(d.quantize(grid, rounding=m(d))) for m in MODES)))
print("\n".join(out))
