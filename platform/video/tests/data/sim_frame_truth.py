#!/usr/bin/env python3
"""The simulated microscope camera's frame, computed independently of the C++ code.

Usage: sim_frame_truth.py GAIN SHUTTER ROW...
Prints one line per requested row (top row = 0) of the default 1280 x 1024 gray frame:
the row number, a colon and the 1280 levels separated by blanks.

Scene (defaults of the simulated camera): round dots on a screen of period 16 points at
15 degrees covering 30 %, ink radiance 1500 on paper 60000; a dark 128-point square edge
target centred at (640, 640) inside a dot-free 256-point square. Every point is the mean of
2 x 2 samples at offsets 0.25 and 0.75. level = min(255, round(L * gain / 32 / IMBR[shutter])).
"""
import math
import sys

IMBR = [2, 4, 7.5, 15, 20, 30, 50, 60, 100, 120, 200, 250, 500, 750, 1000, 2000, 3000, 4000, 5000]
PERIOD, ANGLE, AREA = 16.0, 15.0, 0.30
PAPER, INK = 60000.0, 1500.0
TX, TY, TSIZE, CSIZE = 640, 640, 128, 256
W = 1280


def scene_ink(period=PERIOD, angle=ANGLE, area=AREA):
    """The scene's ink test: whether the sample point (px, py) lies in a dot or the target."""
    c = math.cos(math.radians(angle))
    s = math.sin(math.radians(angle))
    r2 = area / math.pi

    def ink_at(px, py):
        ax, ay = abs(px - TX), abs(py - TY)
        if ax < TSIZE / 2 and ay < TSIZE / 2:
            return True
        if ax < CSIZE / 2 and ay < CSIZE / 2:
            return False
        u = (px * c + py * s) / period
        v = (py * c - px * s) / period
        fu = u - math.floor(u) - 0.5
        fv = v - math.floor(v) - 0.5
        return fu * fu + fv * fv < r2

    return ink_at


def inked_samples(ink_at, x, y):
    """How many of the 2 x 2 samples of point (x, y) lie in ink (0..4)."""
    return sum(ink_at(x + 0.25 + 0.5 * i, y + 0.25 + 0.5 * j) for j in (0, 1) for i in (0, 1))


def radiance(k):
    """The radiance of a point with k of its 4 samples in ink."""
    return ((4 - k) * PAPER + k * INK) / 4


def level(L, gain, step):
    return min(255, round(L * gain / 32 / IMBR[step]))


def main():
    gain = int(sys.argv[1])
    shutter = int(sys.argv[2])
    ink_at = scene_ink()
    for row in (int(a) for a in sys.argv[3:]):
        levels = [level(radiance(inked_samples(ink_at, x, row)), gain, shutter) for x in range(W)]
        print(f"{row}: " + " ".join(map(str, levels)))


if __name__ == "__main__":
    main()
