#!/usr/bin/env python3
"""Checks the two bitmaps of the stripe analysis without our code.

Usage: stripes_truth.py STRUCTIMG.bmp SOBEL.bmp

Both must be uncompressed 24-bit Windows bitmaps ("BM") of one size with gray pixels
(B = G = R). SOBEL.bmp must be STRUCTIMG.bmp after two passes of the 3 x 3 smoothing kernel
0.05 0.1 0.05 / 0.1 0.4 0.1 / 0.05 0.1 0.05 (inner pixels only, rounded half to even and
clamped) and then, in every row from left to right, pixel x := clamp(2 (x + 1 - x) + 128)
(the last column keeps its smoothed value). Prints OK or the first difference.
"""
import struct
import sys


def read_bmp(path):
    data = open(path, "rb").read()
    if data[:2] != b"BM":
        raise SystemExit(f"{path}: no BM signature")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, planes, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits != 24 or compression != 0 or planes != 1:
        raise SystemExit(f"{path}: {bits} bits, compression {compression}")
    stride = (width * 3 + 3) & ~3
    rows = []
    for r in range(abs(height)):
        src = r if height < 0 else abs(height) - 1 - r
        line = data[offset + src * stride: offset + src * stride + width * 3]
        row = []
        for x in range(width):
            b, g, rr = line[3 * x: 3 * x + 3]
            if not (b == g == rr):
                raise SystemExit(f"{path}: pixel ({x}, {r}) is not gray: {b} {g} {rr}")
            row.append(b)
        rows.append(row)
    return width, abs(height), rows


K = [[0.05, 0.1, 0.05], [0.1, 0.4, 0.1], [0.05, 0.1, 0.05]]


def smooth(src, dst):
    h, w = len(src), len(src[0])
    out = [row[:] for row in dst]
    for y in range(1, h - 1):
        for x in range(1, w - 1):
            v = 0.0
            for i in range(3):
                for j in range(3):
                    v += K[i][j] * src[y - 1 + i][x - 1 + j]
            out[y][x] = min(255, max(0, round(v)))
    return out


def main():
    w1, h1, a = read_bmp(sys.argv[1])
    w2, h2, b = read_bmp(sys.argv[2])
    if (w1, h1) != (w2, h2):
        raise SystemExit(f"sizes differ: {w1}x{h1} and {w2}x{h2}")
    c = smooth(a, a)
    s = smooth(c, a)
    for row in s:
        for x in range(len(row) - 1):
            row[x] = min(255, max(0, 2 * (row[x + 1] - row[x]) + 128))
    for y in range(h1):
        for x in range(w1):
            if s[y][x] != b[y][x]:
                raise SystemExit(f"SOBEL ({x}, {y}) is {b[y][x]}, expected {s[y][x]}")
    print(f"OK {w1}x{h1}")


main()
