#!/usr/bin/env python3
"""The combined high-range image of an exposure series of the simulated microscope camera,
computed independently of the C++ code, compared with the image the program made.

Usage: series_truth.py BMP GAIN FIRST COUNT MIRROR PERIOD ANGLE AREA

BMP     the program's high-range image as a 24-bit bottom-up BMP file (1280 x 1024)
GAIN    the sensor gain of every frame
FIRST   the shutter step of the first frame; frame k is taken at step FIRST + k
COUNT   the number of frames
MIRROR  1 when the frames are mirrored (column x shows scene column 1279 - x)
PERIOD, ANGLE, AREA  the scene's screen

The scene: round dots on a screen of PERIOD points at ANGLE degrees covering AREA, ink
radiance 1500 on paper 60000; a dark 128-point square edge target centred at (640, 640) inside
a dot-free 256-point square. Every point is the mean of 2 x 2 samples at offsets 0.25 and 0.75.
A frame's level is min(255, round(L * gain / 32 / IMBR[step])), ties to even.

The scene stands still, so every frame is registered at shift (0, 0). The combination per
pixel: v = sum over k of level_k * IMBR[FIRST + k] / IMBR[FIRST] (in this order), the value
round(v / COUNT). The robust maximum (minimum) is the count-weighted mean of the 111 largest
(smallest) distinct values, rounded to even; they replace pixels 0 and 1 of the top row. The
average is the mean of all combined values, rounded to even.

Pixel 2 of the top row (the origin marker) and pixels 0..8 of the bottom row (the image header)
are written by the capture finish and are not compared.

Prints: "compared N mismatches M maxdiff D max X min Y avg A".
"""
import math
import struct
import sys

IMBR = [2, 4, 7.5, 15, 20, 30, 50, 60, 100, 120, 200, 250, 500, 750, 1000, 2000, 3000, 4000, 5000]
PAPER, INK = 60000.0, 1500.0
TX, TY, TSIZE, CSIZE = 640, 640, 128, 256
W, H = 1280, 1024
NMAX = 111


def round_div(a, b):
    """a / b for integers, rounded to the nearest, ties to even."""
    q, r = divmod(a, b)
    if 2 * r > b or (2 * r == b and q % 2 == 1):
        q += 1
    return q


def level(L, gain, step):
    return min(255, round(L * gain / 32 / IMBR[step]))


def main():
    path = sys.argv[1]
    gain, first, count, mirror = (int(a) for a in sys.argv[2:6])
    period, angle, area = (float(a) for a in sys.argv[6:9])
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

    # The combined value of each of the five radiance levels (0..4 inked samples of 4).
    combined = []
    for k in range(5):
        L = ((4 - k) * PAPER + k * INK) / 4
        v = 0.0
        for i in range(count):
            v += level(L, gain, first + i) * IMBR[first + i] / IMBR[first]
        combined.append(round(v / count))

    expected = [[0] * W for _ in range(H)]
    hist = {}
    for y in range(H):
        row = expected[y]
        for x in range(W):
            sx = W - 1 - x if mirror else x
            k = (ink_at(sx + 0.25, y + 0.25) + ink_at(sx + 0.75, y + 0.25) + ink_at(sx + 0.25, y + 0.75) +
                 ink_at(sx + 0.75, y + 0.75))
            w = combined[k]
            row[x] = w
            hist[w] = hist.get(w, 0) + 1

    values = sorted(hist)
    top = values[-NMAX:]
    low = values[:NMAX]
    rmax = round_div(sum(hist[v] * v for v in top), sum(hist[v] for v in top))
    rmin = round_div(sum(hist[v] * v for v in low), sum(hist[v] for v in low))
    avg = round_div(sum(hist[v] * v for v in values), W * H)
    expected[0][0] = rmax
    expected[0][1] = rmin

    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        sys.exit("not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, planes, bits = struct.unpack_from("<iiHH", data, 18)
    if (width, height, bits) != (W, H, 24):
        sys.exit(f"unexpected BMP {width} x {height} x {bits}")
    stride = (3 * W + 3) & ~3
    compared = mismatches = maxdiff = 0
    for y in range(H):
        base = offset + (H - 1 - y) * stride  # bottom-up rows
        want = expected[y]
        for x in range(W):
            if (y == 0 and x == 2) or (y == H - 1 and x <= 8):
                continue
            p = base + 3 * x
            got = (data[p] << 16) | (data[p + 1] << 8) | data[p + 2]
            d = abs(got - want[x])
            compared += 1
            if d:
                mismatches += 1
                maxdiff = max(maxdiff, d)
    print(f"compared {compared} mismatches {mismatches} maxdiff {maxdiff} max {rmax} min {rmin} avg {avg}")


main()
