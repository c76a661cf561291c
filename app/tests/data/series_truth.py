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

The scene and a frame's levels are those of sim_frame_truth.py (the simulated camera's frame on
its own), with the screen given here.

The scene stands still, so every frame is registered at shift (0, 0). The combination per
pixel: v = sum over k of level_k * IMBR[FIRST + k] / IMBR[FIRST] (in this order), the value
round(v / COUNT). The robust maximum (minimum) is the count-weighted mean of the 111 largest
(smallest) distinct values, rounded to even; they replace pixels 0 and 1 of the top row. The
average is the mean of all combined values, rounded to even.

Pixel 2 of the top row (the origin marker) and pixels 0..8 of the bottom row (the image header)
are written by the capture finish and are not compared.

Prints: "compared N mismatches M maxdiff D max X min Y avg A".
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "platform", "video", "tests", "data"))
from sim_frame_truth import IMBR, inked_samples, level, radiance, scene_ink  # noqa: E402

W, H = 1280, 1024
NMAX = 111


def round_div(a, b):
    """a / b for integers, rounded to the nearest, ties to even."""
    q, r = divmod(a, b)
    if 2 * r > b or (2 * r == b and q % 2 == 1):
        q += 1
    return q


def main():
    path = sys.argv[1]
    gain, first, count, mirror = (int(a) for a in sys.argv[2:6])
    period, angle, area = (float(a) for a in sys.argv[6:9])
    ink_at = scene_ink(period, angle, area)

    # The combined value of each of the five radiance levels (0..4 inked samples of 4).
    combined = []
    for k in range(5):
        L = radiance(k)
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
            w = combined[inked_samples(ink_at, sx, y)]
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
