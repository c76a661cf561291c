#!/usr/bin/env python3
"""Outside ground truth for the gray and density conversions of high-range images.

Computes each conversion straight from its formula, with exact fractions wherever the formula
is rational (so that a value halfway between two integers is exactly halfway and goes to the
even neighbour, as Python's round does), and floats only for powers and logarithms.

Usage: gray_truth.py SEED COUNT
Prints the parameters, then one line per pixel:
  v z  zero16 bmp16  glevel ggray  r zlevel zgray  w o  dlevel  d16level
where
  zero16          relative value against the zero reference (0 where z = 0), held in 24 bits
  bmp16           value rescaled between MIN16 and MAX16
  glevel ggray    level and gray byte of the range conversion between GMIN and GMAX
  r zlevel zgray  relative value, level and gray byte of the zero conversion with ZM, ZC, ZGAMMA
  w o             display curve value and level with LOW, HIGH, DIM, DM, DC, DGAMMA
  dlevel          density level against the zero reference
  d16level        density level of a relative image with F, K
"""
import math
import random
import sys
from fractions import Fraction

HR_MAX = 16777215

PARAMS = {
    "MAX16": 9000, "MIN16": 1500,
    "GMAX": 12000.0, "GMIN": 3000.0,
    "ZM": 300.0, "ZC": -20.0, "ZGAMMA": 1.0,
    "ZM2": 280.0, "ZC2": 0.0, "ZGAMMA2": 0.8,
    "LOW": 0, "HIGH": 10000, "DIM": 255, "DM": 300.0, "DC": -20.0, "DGAMMA": 1.0,
    "DGAMMA2": 1.3,
    "F": 150.0, "K": 50.0,
}


def sat(x):
    """A relative value held in the 24 bits of a pixel: never below 0, never wrapped."""
    return max(0, min(HR_MAX, x))


def zero16(v, z):
    return 0 if z == 0 else sat(round(Fraction(v * 10000, z)))


def bmp16(v, mx, mn):
    if mx == 0:
        mx = 1
    d = mn if mn < mx else mx - 1
    r = round(Fraction((v - d) * 10000, mx - d))
    return sat(r)


def gray_range(v, mx, mn):
    mx, mn = Fraction(mx), Fraction(mn)
    if mx == 0:
        mx = Fraction(1)
    if mn >= mx:
        mn = mx - 1
    e = v - mn
    if e <= 0:
        return 0, 0
    level = e * 10000 / (mx - mn)
    if level > 10000:
        return 10000, 255
    lv = round(level)
    return lv, round(Fraction(lv * 255, 10000))


def gray_zero(v, z, m, c, gamma):
    if z <= 0:
        return None, 0, 0
    if gamma == 1:
        rel = Fraction(v * 10000, z)
    else:
        rel = (v / z) ** gamma * 10000.0
    r = sat(round(rel))
    level = max(Fraction(m) * r / 10000 + Fraction(c), Fraction(0))
    if level >= 10000:
        return r, 10000, 255
    b = min(round(level), 255)
    return r, b, b


def display(v, low, high, dim, m, c, gamma):
    dim = min(dim, 10000)
    D = high - low if high > low else 1
    if gamma == 1:
        w = round(Fraction(c) + Fraction(m) * v / 320)
    else:
        w = round(c + m * D * (v / D) ** gamma / 320)
    o = max(0, min(dim, round(Fraction(dim * (w - low), D))))
    return w, o


def density_level(d):
    if not d > 0:
        return 0
    if d > 255:
        return 255
    return round(d)


def dens_zero(v, z):
    if z <= 0:
        return 0
    if v == 0:
        return 255
    return density_level(-100.0 * math.log10(v / z))


def dens16(v, f, k):
    if v == 0:
        return 255
    return density_level(-f * math.log10(v / 10000.0) - k)


def pixels(seed, count):
    rnd = random.Random(seed)
    out = [
        # Cases with a known answer and the halves that must go to the even neighbour.
        (5000, 10000), (10000, 10000), (0, 10000), (1234, 0), (1, 20000), (3, 20000),
        (8, 16), (24, 16), (16000000, 1), (HR_MAX, 1), (1000, 10000), (0, 0), (HR_MAX, HR_MAX),
    ]
    while len(out) < count:
        kind = rnd.random()
        if kind < 0.1:
            z = 0
        elif kind < 0.2:
            z = rnd.randint(1, 50)
        else:
            z = rnd.randint(1000, 60000)
        if rnd.random() < 0.05:
            v = rnd.randint(0, HR_MAX)
        else:
            v = rnd.randint(0, 3 * max(z, 10000))
        out.append((v, z))
    return out[:count]


def main():
    seed = int(sys.argv[1])
    count = int(sys.argv[2])
    p = PARAMS
    for name, value in p.items():
        print("PARAM", name, repr(value))
    for v, z in pixels(seed, count):
        gl, gg = gray_range(v, p["GMAX"], p["GMIN"])
        r, zl, zg = gray_zero(v, z, p["ZM"], p["ZC"], p["ZGAMMA"])
        r2, zl2, zg2 = gray_zero(v, z, p["ZM2"], p["ZC2"], p["ZGAMMA2"])
        w, o = display(v, p["LOW"], p["HIGH"], p["DIM"], p["DM"], p["DC"], p["DGAMMA"])
        w2, o2 = display(v, p["LOW"], p["HIGH"], p["DIM"], p["DM"], p["DC"], p["DGAMMA2"])
        fields = [v, z, zero16(v, z), bmp16(v, p["MAX16"], p["MIN16"]), gl, gg,
                  v if r is None else r, zl, zg, v if r2 is None else r2, zl2, zg2,
                  w, o, w2, o2, dens_zero(v, z), dens16(v, p["F"], p["K"])]
        print(" ".join(str(x) for x in fields))


if __name__ == "__main__":
    main()
