#!/usr/bin/env python3
"""Image files for the main window's load and save commands, written and read with zlib and
struct only (the PNG chunk and filter code is shared with the analysis tests' qvr_truth.py).

A high-range pixel holds one 24-bit value v; the bitmap's memory holds blue, green, red =
v >> 16, (v >> 8) & 255, v & 255 and a PNG stores them as red, green, blue.

The small files live in app/tests/data as this script wrote them; the BMP (4 MB) is written by
the tests when they run.

Commands:
  write DIR          writes every file into DIR
  bmp DIR            writes only picture.bmp into DIR
  check FILE         decodes a saved .QVR on its own and prints, one per line:
                       size W H
                       header <signature ok 0/1> <page> <sn> <m> <c> <ppi> <max> <min>
                       top <max> <min> <marker>
                       crc <CRC-32 of every pixel byte in the bitmap's memory order>
"""
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "analysis", "tests", "data"))
from qvr_truth import be24, png_file, read_png, to_png_order  # noqa: E402

W, H = 1280, 1024

# The halftone of the high-range files: a square lattice of round dots, period 24 pixels,
# dot radius 8, dots 3000 and paper 10000 (as bright as the zero reference).
PERIOD, RADIUS = 24, 8
PAPER, DOT = 10000, 3000

# Headers: (file, page, serial, m, c, ppi x 100)
QVR_FILES = [
    ("plate_sn4711.qvr", 1, 4711, 300, -20, 4321000),
    ("film_sn0.qvr", 3, 0, 300, -20, 4250000),
]


def halftone_value(x, y):
    dx = x % PERIOD - PERIOD // 2
    dy = y % PERIOD - PERIOD // 2
    return DOT if dx * dx + dy * dy <= RADIUS * RADIUS else PAPER


def qvr_rows(page, sn, m, c, ppi):
    """Rows in the bitmap's memory order: the halftone, the top-row block (maximum, minimum,
    origin marker 1) and the bottom-row header."""
    period_rows = []
    for y in range(PERIOD):
        period_rows.append(b"".join(be24(halftone_value(x, y)) for x in range(W)))
    rows = [bytearray(period_rows[y % PERIOD]) for y in range(H)]
    rows[0][0:9] = be24(PAPER) + be24(DOT) + bytes((1, 1, 1))
    rows[H - 1][0:27] = (b"QUIRVEL" + bytes((0, page)) + be24(sn) + be24(m) + be24(c) + be24(ppi) +
                         be24(PAPER) + be24(DOT))
    return [bytes(r) for r in rows]


def gray_value(x, y):
    """The plain picture: a gradient with a few dark discs."""
    v = (x * 255 // (W - 1) + y * 255 // (H - 1)) // 2
    for cx, cy in ((300, 300), (900, 600), (640, 900)):
        if (x - cx) ** 2 + (y - cy) ** 2 <= 90 * 90:
            v = 20
    return v


def gray_rows(width, height):
    return [bytes(gray_value(x * W // width, y * H // height) for x in range(width)) for y in range(height)]


def bmp_file(rows, width, height):
    """A 24-bit bottom-up BMP of gray rows (the same value in blue, green and red)."""
    stride = (3 * width + 3) & ~3
    pixels = b"".join(bytes(v for g in row for v in (g, g, g)).ljust(stride, b"\0") for row in reversed(rows))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def write(folder):
    os.makedirs(folder, exist_ok=True)

    def put(name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

    for name, page, sn, m, c, ppi in QVR_FILES:
        rows = [to_png_order(r) for r in qvr_rows(page, sn, m, c, ppi)]
        put(name, png_file(W, H, 8, 2, rows, 3))
    gray = gray_rows(W, H)
    put("picture.png", png_file(W, H, 8, 0, gray, 1))  # 8-bit gray
    put("picture.bmp", bmp_file(gray, W, H))
    put("small_640x480.png", png_file(640, 480, 8, 0, gray_rows(640, 480), 1))
    whole = png_file(W, H, 8, 0, gray, 1)
    put("truncated.png", whole[:len(whole) // 2])


def check(path):
    with open(path, "rb") as f:
        head, _, rows = read_png(f.read())
    width, height, depth, colour = head[:4]
    print("size %d %d" % (width, height))
    if (depth, colour) != (8, 2):
        print("not 24-bit truecolour")
        return 1
    memory = [to_png_order(r) for r in rows]
    last = memory[-1]
    fields = [int.from_bytes(last[i:i + 3], "big") for i in range(9, 27, 3)]
    c = fields[2] - (1 << 24) if fields[2] & 0x800000 else fields[2]
    print("header %d %d %d %d %d %d %d %d" % (last[:7] == b"QUIRVEL", last[8], fields[0], fields[1], c,
                                             fields[3], fields[4], fields[5]))
    top = memory[0]
    print("top %d %d %d" % (int.from_bytes(top[0:3], "big"), int.from_bytes(top[3:6], "big"), top[6]))
    crc = 0
    for r in memory:
        crc = zlib.crc32(r, crc)
    print("crc %d" % crc)
    return 0


def main(argv):
    if len(argv) == 3 and argv[1] == "write":
        write(argv[2])
        return 0
    if len(argv) == 3 and argv[1] == "bmp":
        os.makedirs(argv[2], exist_ok=True)
        with open(os.path.join(argv[2], "picture.bmp"), "wb") as f:
            f.write(bmp_file(gray_rows(W, H), W, H))
        return 0
    if len(argv) == 3 and argv[1] == "check":
        return check(argv[2])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
