#!/usr/bin/env python3
"""Outside ground truth for high-range image files (.QVR), written with zlib and struct only.

A high-range pixel holds one 24-bit value v. In the bitmap's memory the pixel's bytes are
blue, green, red = v >> 16, (v >> 8) & 255, v & 255; a PNG stores red, green, blue, so the
file's R, G, B samples hold the low, middle and high byte of v.

Commands:
  write-qvr FILE [W H]   writes a 24-bit truecolour PNG (default 1280 x 1024) with the known
                         pattern, top-row block and bottom-row header below
  check-qvr FILE [W H]   decodes FILE on its own (chunks, CRCs, inflate, all five filters) and
                         checks the layout, every pixel byte and both header areas; prints
                         "VERDICT: OK" (exit 0) or "VERDICT: FAIL ..." (exit 1)
  write-variants DIR     writes the files of other depths, sizes and the damaged files the
                         tests load (see VARIANTS below)
"""
import os
import struct
import sys
import zlib

# The bottom-row header the files carry.
SN = 0x123456           # 1193046
ATYPE = 3               # film page
M = 0xA1B2C3            # 10597059
C = -5                  # stored as 0xFFFFFB
PPI = 1234567
MAX = 16000000
MIN = 42
# The top-row block: maximum, minimum, origin marker.
TOP_MAX = 0xFEDCBA
TOP_MIN = 0x000102
ORIGIN = 1


def pattern(x, y):
    """The high-range value of pixel (x, y) outside the header areas."""
    return (x * 7919 + y * 104729 + x * y) % 16777216


def be24(v):
    v &= 0xFFFFFF
    return bytes((v >> 16, (v >> 8) & 255, v & 255))


def header_bytes():
    """Bytes 0..26 of the bottom row, in the bitmap's memory order."""
    return (b"QUIRVEL" + bytes((0, ATYPE)) + be24(SN) + be24(M) + be24(C) + be24(PPI) +
            be24(MAX) + be24(MIN))


def top_bytes():
    """Bytes 0..8 of the top row, in the bitmap's memory order."""
    return be24(TOP_MAX) + be24(TOP_MIN) + bytes((ORIGIN,) * 3)


def memory_row(y, width, height):
    """Row y as the bitmap holds it: blue, green, red per pixel, header areas included."""
    row = bytearray()
    for x in range(width):
        row += be24(pattern(x, y))
    if y == 0 and width >= 3:
        row[0:9] = top_bytes()
    if y == height - 1 and width >= 9:
        row[0:27] = header_bytes()
    return bytes(row)


def to_png_order(row, bpp=3):
    """Blue, green, red per pixel to red, green, blue."""
    out = bytearray(row)
    out[0::bpp], out[2::bpp] = row[2::bpp], row[0::bpp]
    return bytes(out)


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def ihdr(width, height, depth, colour, interlace=0):
    return chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_row(kind, row, prev, bpp):
    if kind == 0:
        return row
    out = bytearray(len(row))
    for i, v in enumerate(row):
        a = row[i - bpp] if i >= bpp else 0
        b = prev[i]
        c = prev[i - bpp] if i >= bpp else 0
        pred = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
        out[i] = (v - pred) & 255
    return bytes(out)


def png_file(width, height, depth, colour, rows, bpp, extra=b"", filters=True, idat_parts=3):
    """A PNG of the given sample rows; rows near the top and bottom use every filter type."""
    raw = bytearray()
    prev = bytes(len(rows[0]))
    for y, row in enumerate(rows):
        kind = (y % 5) if filters and (y < 10 or y >= height - 5) else 0
        raw.append(kind)
        raw += filter_row(kind, row, prev, bpp)
        prev = row
    data = zlib.compress(bytes(raw), 6)
    step = max(1, len(data) // idat_parts + 1)
    idats = b"".join(chunk(b"IDAT", data[i:i + step]) for i in range(0, len(data), step))
    return b"\x89PNG\r\n\x1a\n" + ihdr(width, height, depth, colour) + extra + idats + chunk(b"IEND", b"")


def qvr_bytes(width, height):
    rows = [to_png_order(memory_row(y, width, height)) for y in range(height)]
    return png_file(width, height, 8, 2, rows, 3)


def read_png(data):
    """Returns (ihdr fields, chunk types, raw unfiltered rows) or raises ValueError."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("no PNG signature")
    pos, types, idat, head = 8, [], b"", None
    while pos < len(data):
        if pos + 12 > len(data):
            raise ValueError("chunk cut short at %d" % pos)
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if len(body) != length or zlib.crc32(kind + body) != crc:
            raise ValueError("bad chunk %r" % kind)
        types.append(kind.decode("latin-1"))
        if kind == b"IHDR":
            head = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if head is None or types[-1] != "IEND":
        raise ValueError("IHDR or IEND missing")
    width, height, depth, colour, _, _, interlace = head
    bpp = {2: 3, 6: 4, 0: 1, 4: 2}.get(colour, 1) * (depth // 8 if depth >= 8 else 1)
    stride = (width * {2: 3, 6: 4, 0: 1, 4: 2, 3: 1}[colour] * depth + 7) // 8
    raw = zlib.decompress(idat)
    rows, prev, pos = [], bytes(stride), 0
    for _ in range(height):
        kind, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                line[i] = (line[i] + paeth(a, b, c)) & 255
            elif kind != 0:
                raise ValueError("filter type %d" % kind)
        rows.append(bytes(line))
        prev = rows[-1]
    if pos != len(raw):
        raise ValueError("%d bytes of image data left over" % (len(raw) - pos))
    return head, types, rows


def check_qvr(path, width, height):
    problems = []
    with open(path, "rb") as f:
        data = f.read()
    try:
        head, types, rows = read_png(data)
    except (ValueError, zlib.error) as e:
        return ["cannot decode: %s" % e]
    if head[:2] != (width, height):
        problems.append("size %d x %d, expected %d x %d" % (head[0], head[1], width, height))
    if head[2:4] != (8, 2) or head[6] != 0:
        problems.append("not 8-bit RGB truecolour without interlace: %r" % (head,))
    extra = [t for t in types if t not in ("IHDR", "IDAT", "IEND")]
    if extra:
        problems.append("ancillary chunks %s" % ",".join(extra))
    if problems:
        return problems
    bad = 0
    for y in range(height):
        expected = to_png_order(memory_row(y, width, height))
        if rows[y] != expected:
            for x in range(width):
                if rows[y][3 * x:3 * x + 3] != expected[3 * x:3 * x + 3]:
                    bad += 1
                    if bad <= 5:
                        problems.append("pixel (%d, %d): RGB %s, expected %s" % (
                            x, y, rows[y][3 * x:3 * x + 3].hex(), expected[3 * x:3 * x + 3].hex()))
    if bad:
        problems.append("%d pixels differ" % bad)
    # The header fields, read back on their own from the R, G, B samples of the last row.
    last = rows[height - 1]
    memory = to_png_order(last[:27])
    fields = [int.from_bytes(memory[i:i + 3], "big") for i in range(9, 27, 3)]
    if memory[:7] != b"QUIRVEL" or memory[7] != 0 or memory[8] != ATYPE:
        problems.append("bottom-row signature or page wrong: %r" % memory[:9])
    c = fields[2] - (1 << 24) if fields[2] & 0x800000 else fields[2]
    if [fields[0], fields[1], c] + fields[3:] != [SN, M, C, PPI, MAX, MIN]:
        problems.append("bottom-row fields %r" % fields)
    top = to_png_order(rows[0][:9])
    if (int.from_bytes(top[0:3], "big"), int.from_bytes(top[3:6], "big"), top[6:9]) != (
            TOP_MAX, TOP_MIN, bytes((ORIGIN,) * 3)):
        problems.append("top-row block %s" % top.hex())
    return problems


def write_variants(folder):
    """Other depths and sizes (they load, as 24-bit) and damaged files (they must not)."""
    os.makedirs(folder, exist_ok=True)

    def put(name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

    # 8-bit gray 4 x 2: 0, 85, 170, 255 / 1, 2, 3, 4.
    put("gray8.png", png_file(4, 2, 8, 0, [bytes((0, 85, 170, 255)), bytes((1, 2, 3, 4))], 1))
    # Palette of three colours, indices 2, 0, 1.
    plte = chunk(b"PLTE", bytes((10, 20, 30, 40, 50, 60, 70, 80, 90)))
    put("palette.png", png_file(3, 1, 8, 3, [bytes((2, 0, 1))], 1, extra=plte))
    # 16-bit RGB 2 x 1: samples 0x1122 0x3344 0x5566, 0xFFEE 0x0001 0x8000.
    put("rgb16.png", png_file(2, 1, 16, 2, [bytes.fromhex("112233445566ffee00018000")], 6))
    # RGBA 12 x 2 carrying a header in its bottom row; alpha 0 everywhere (fully transparent).
    rgba = []
    for y in range(2):
        rgb = to_png_order(memory_row(y, 12, 2))
        rgba.append(b"".join(rgb[3 * x:3 * x + 3] + b"\x00" for x in range(12)))
    put("rgba_header.png", png_file(12, 2, 8, 6, rgba, 4))
    # 24-bit files of other sizes: narrower than a header, a header-wide strip, a single row.
    put("small_8x3.png", qvr_bytes(8, 3))
    put("strip_9x1.png", qvr_bytes(9, 1))
    put("odd_100x50.png", qvr_bytes(100, 50))
    # Damaged files.
    good = qvr_bytes(64, 16)
    put("truncated.qvr", good[:len(good) // 2])
    put("signature_only.qvr", good[:8])
    put("garbage.qvr", b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 4)
    idat = good.index(b"IDAT")
    put("bad_crc.qvr", good[:idat + 20] + bytes((good[idat + 20] ^ 0x5A,)) + good[idat + 21:])
    put("empty.qvr", b"")
    put("bitmap.qvr", b"BM" + bytes(60))
    # A BMP whose header claims 1280 x 1024 x 24 bit but which holds ten rows.
    bmp_head = b"BM" + struct.pack("<IHHI", 54 + 10 * 3840, 0, 0, 54) + struct.pack(
        "<IiiHHIIiiII", 40, 1280, 1024, 1, 24, 0, 1024 * 3840, 0, 0, 0, 0)
    put("lying.bmp", bmp_head + bytes(10 * 3840))


def main(argv):
    if len(argv) >= 2 and argv[0] in ("write-qvr", "check-qvr"):
        width, height = (int(argv[2]), int(argv[3])) if len(argv) >= 4 else (1280, 1024)
        if argv[0] == "write-qvr":
            with open(argv[1], "wb") as f:
                f.write(qvr_bytes(width, height))
            print("wrote %s %d x %d sn=%d atype=%d m=%d c=%d ppi=%d max=%d min=%d" % (
                argv[1], width, height, SN, ATYPE, M, C, PPI, MAX, MIN))
            return 0
        problems = check_qvr(argv[1], width, height)
        print("VERDICT: OK" if not problems else "VERDICT: FAIL " + "; ".join(problems))
        return 0 if not problems else 1
    if len(argv) == 2 and argv[0] == "write-variants":
        write_variants(argv[1])
        print("wrote variants to %s" % argv[1])
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
