#!/usr/bin/env python3
"""High-range images with a known answer for the main window's measurement commands, written
with zlib and struct only (the PNG code is shared with the analysis tests' qvr_truth.py).

Every pixel takes the ink value when its centre lies inside a dot (or a line), else the paper
value, so the share of each colour is known exactly; a little uniform noise (fixed seed) gives
the histogram peaks the width a camera's have. The header names the page, a serial number of
another camera and 43000 pixels per inch, so that the window measures at that scale.

Commands (each writes one .QVR and prints the rendered shares in percent of all pixels):
  halftone OUT PAGE D ANGLE COVERAGE dark|bright [PHASE_X PHASE_Y]
      round dots of the given coverage on a square lattice of period D pixels at ANGLE degrees
      (y downwards), dark dots on paper or paper-bright dots on ink
  grating OUT PAGE PERIOD WIDTH
      vertical dark lines WIDTH pixels wide, PERIOD pixels apart
Output:  bright <share>
         dark <share>
"""
import math
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "analysis", "tests", "data"))
from qvr_truth import be24, png_file, to_png_order  # noqa: E402

W, H = 1280, 1024
PAPER, INK = 10000, 3000
NOISE = 200           # +- high-range levels
SERIAL = 98765        # not the test profile's camera
PPI = 43000
# The display-range pair of each page (LAMS, plate, structure, film) as a capture writes it.
PAIRS = {0: (280, 0), 1: (300, -20), 2: (280, 0), 3: (300, -20)}


def halftone_rows(d, angle, coverage, dark, phase_x, phase_y):
    a = math.radians(angle)
    c, s = math.cos(a), math.sin(a)
    r2 = d * d * coverage / math.pi
    dot, ground = (INK, PAPER) if dark else (PAPER, INK)
    rows = []
    for y in range(H):
        row = []
        for x in range(W):
            u = (x * c + y * s) / d - phase_x
            v = (-x * s + y * c) / d - phase_y
            du = (u - round(u)) * d
            dv = (v - round(v)) * d
            row.append(dot if du * du + dv * dv <= r2 else ground)
        rows.append(row)
    return rows


def grating_rows(period, width):
    row = [INK if x % period < width else PAPER for x in range(W)]
    return [list(row) for _ in range(H)]


def write_qvr(path, page, rows):
    m, c = PAIRS[page]
    noise = random.Random(19)
    memory = []
    for y, values in enumerate(rows):
        row = bytearray(b"".join(be24(v + noise.randint(-NOISE, NOISE)) for v in values))
        if y == 0:
            row[0:9] = be24(PAPER) + be24(INK) + bytes((1, 1, 1))
        if y == H - 1:
            row[0:27] = (b"QUIRVEL" + bytes((0, page)) + be24(SERIAL) + be24(m) + be24(c) + be24(PPI * 100) +
                         be24(PAPER) + be24(INK))
        memory.append(to_png_order(bytes(row)))
    with open(path, "wb") as f:
        f.write(png_file(W, H, 8, 2, memory, 3))


def report(rows):
    bright = sum(v == PAPER for row in rows for v in row)
    total = W * H
    print("bright %.4f" % (100.0 * bright / total))
    print("dark %.4f" % (100.0 * (total - bright) / total))


def main(argv):
    if len(argv) in (8, 10) and argv[1] == "halftone":
        phase = (float(argv[8]), float(argv[9])) if len(argv) == 10 else (0.3, 0.6)
        rows = halftone_rows(float(argv[4]), float(argv[5]), float(argv[6]), argv[7] == "dark", *phase)
    elif len(argv) == 6 and argv[1] == "grating":
        rows = grating_rows(int(argv[4]), int(argv[5]))
    else:
        sys.stderr.write(__doc__)
        return 2
    write_qvr(argv[2], int(argv[3]), rows)
    report(rows)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
