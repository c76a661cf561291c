#!/usr/bin/env python3
"""Writes the hostile inputs that once made a reader hang, run out of memory or hit undefined
behaviour, each into the regression folder of its fuzz target, where the test build runs them
on every build. Inputs the fuzzer finds later are copied there as they are (no script). Run
once from the top of the repository after make_seeds.py; the files are committed:

    python3 fuzz/tools/make_regressions.py
"""
import struct
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
REGRESSION = ROOT / "fuzz" / "regression"
CORPUS = ROOT / "fuzz" / "corpus"


def put(target, name, data):
    d = REGRESSION / target
    d.mkdir(parents=True, exist_ok=True)
    (d / name).write_bytes(data)


# ---- decompression ----------------------------------------------------------------------------

def compression():
    # A zlib header with the preset-dictionary flag: inflate asks for the dictionary forever.
    put("zlib", "preset_dictionary.zlib", bytes([0x78, 0xBB, 0x12, 0x34, 0x56, 0x78, 0x4B, 0x4C, 0x4A, 0x06, 0x00]))
    # 32 MiB of zeros in 32 KB: beyond the cap for a buffer of unknown size.
    put("zlib", "bomb_32mib.zlib", zlib.compress(bytes(32 << 20), 9))
    # 200 MiB of zeros in 177 bytes.
    put("bzip2", "bomb_200mib.bz2",
        (ROOT / "dbengine" / "storage" / "tests" / "data" / "compression" / "bzip2_bomb_200mib.bin").read_bytes())
    # PPM: a header that names the largest model with 16 bytes expected.
    put("ppm", "largest_model.ppm", struct.pack("<HI", 16, 0x6FFF) + bytes(40))


# ---- compressed BLOB streams ------------------------------------------------------------------

def descriptor(block_size, blocks, size, start, algorithm, mode):
    return struct.pack("<iqqqBBxx", block_size, blocks, size, start, algorithm, mode)


def block(compressed, claimed, crc=0, link=None):
    return struct.pack("<iiIq", len(compressed), claimed, crc, 20 + len(compressed) if link is None else link) + compressed


def blob_streams():
    data = b"dot area 12.5%" * 10
    # The block checksum is the reflected CRC-32 without its inversions.
    one = block(zlib.compress(data), 140, zlib.crc32(data, 0xFFFFFFFF) ^ 0xFFFFFFFF)
    put("blob_stream", "negative_start.bin", descriptor(1000, 1, 140, -7, 1, 1) + b"\x00" + one)
    put("blob_stream", "plain_start_plus_size_past_2p63.bin",
        descriptor(0, 0, 0x7FFFFFFFFFFFFFFC, 4, 0, 0) + b"\x00" + b"HEAD" + bytes(100))
    put("blob_stream", "block_count_past_2p63.bin", descriptor(1000, 0x7FFFFFFFFFFFFFFF, 0, 0, 1, 1) + b"\x00" + one)
    put("blob_stream", "negative_block_count.bin", descriptor(1000, -5, 0, 0, 1, 1) + b"\x01" + one)
    put("blob_stream", "link_past_2p63.bin",
        descriptor(1000, 2, 0, 0, 1, 1) + b"\x00" + one + block(b"x" * 10, 10, 0, 0x7FFFFFFFFFFFFFFF))
    # A zlib bomb of 32 MiB behind a header that promises 100 bytes, read and repaired.
    bomb = zlib.compress(bytes(32 << 20), 9)
    for choice, name in ((0, "bomb_block_read.bin"), (1, "bomb_block_repair.bin")):
        put("blob_stream", name, descriptor(102400, 1, 0, 0, 1, 9) + bytes([choice]) + block(bomb, 100))


# ---- B-tree pages -----------------------------------------------------------------------------

def index_page(root, leaf, left, right, children):
    b = struct.pack("<BBiiBBHHH", root, leaf, left, right, 1, 0, 4, len(children), 0)
    for i, child in enumerate(children):
        b += struct.pack("<iH", 100 * i, 1) if leaf else struct.pack("<ii", 100 * i, child)
    return b.ljust(256, b"\x00")


def btree_pages():
    # 25 levels of nodes whose entries all name the next level (8^25 paths), each page linked
    # to itself, and an empty leaf at the bottom.
    pages = [index_page(level == 0, False, level, level, [level + 1] * 8) for level in range(25)]
    pages.append(index_page(False, True, 25, 25, []))
    put("btree_pages", "shared_children.bin", bytes([0x80]) + struct.pack("<i", 100) + b"".join(pages))
    # A cycle through different levels: the root's second child names the root again.
    cycle = [index_page(True, False, -1, -1, [1, 2]), index_page(False, True, -1, 2, [1]),
             index_page(False, False, 1, -1, [0])]
    put("btree_pages", "cycle.bin", bytes([0x01]) + struct.pack("<i", 100) + b"".join(cycle))


# ---- metafiles --------------------------------------------------------------------------------

def record(rtype, payload):
    payload += bytes(-len(payload) % 4)
    return struct.pack("<II", rtype, 8 + len(payload)) + payload


def emf(records, header_size=108, millimeters=(210, 297)):
    body = b"".join(records)
    eof = record(14, struct.pack("<III", 0, 16, 20))
    total = header_size + len(body) + len(eof)
    head = struct.pack("<iiii", 0, 0, 400, 300) + struct.pack("<iiii", 0, 0, 10583, 7937)
    head += struct.pack("<IIIIHHIII", 0x464D4520, 0x10000, total, len(records) + 2, 8, 0, 0, 0, 0)
    head += struct.pack("<ii", 794, 1123) + struct.pack("<ii", *millimeters)
    if header_size >= 100:
        head += struct.pack("<III", 0, 0, 0)
    if header_size >= 108:
        head += struct.pack("<ii", millimeters[0] * 1000, millimeters[1] * 1000)
    return struct.pack("<II", 1, header_size) + head + body + eof


def font(height):
    p = struct.pack("<I", 1) + struct.pack("<iiiii", height, 0, 0, 0, 400) + bytes([0, 0, 0, 1, 0, 0, 0, 0])
    return record(82, p + "Arial".encode("utf-16-le").ljust(64, b"\x00")) + record(37, struct.pack("<I", 1))


def ext_text_out(x, y, text, options, rect, dx=None):
    chars = text.encode("utf-16-le")
    dx_at = 76 + (len(chars) + 3) // 4 * 4 if dx else 0
    p = struct.pack("<iiiiIff", 0, 0, 0, 0, 1, 1.0, 1.0)
    p += struct.pack("<iiIII", x, y, len(text), 76, options) + struct.pack("<iiii", *rect) + struct.pack("<I", dx_at)
    p += chars.ljust((len(chars) + 3) // 4 * 4, b"\x00")
    if dx:
        p += b"".join(struct.pack("<i", v) for v in dx)
    return record(84, p)


def metafiles():
    # The 88-byte header form: micrometres derived from 3 km of millimetres.
    put("emf", "short_header_millimetres.emf", emf([], header_size=88, millimeters=(210, 3_000_000)))
    # Text with the current position updated by an extent of 4.3e9.
    put("emf", "update_position_wide_bounds.emf",
        emf([record(27, struct.pack("<ii", 20, 10)), font(-16), record(22, struct.pack("<I", 1)),
             ext_text_out(0, 0, "far", 2, (-2**31, 0, 2**31 - 1, 10)),
             ext_text_out(0, 0, "b", 0, (0, 0, -1, -1), [2**31 - 1, 2**31 - 1]),
             ext_text_out(0, 0, "a", 0, (0, 0, -1, -1), [30])]))


# ---- pictures ---------------------------------------------------------------------------------

def jpeg_with_size(jpeg, width, height):
    b = bytearray(jpeg)
    for i in range(2, len(b) - 8):
        if b[i] == 0xFF and b[i + 1] in (0xC0, 0xC2):
            b[i + 5:i + 9] = struct.pack(">HH", height, width)
            return bytes(b)
    raise ValueError("no frame header")


def png_with_size(png, width, height):
    b = bytearray(png)
    b[16:24] = struct.pack(">II", width, height)
    b[29:33] = struct.pack(">I", zlib.crc32(bytes(b[12:29])) & 0xFFFFFFFF)
    return bytes(b)


def tiff_claim(width, height):
    entries = [(256, 4, width), (257, 4, height), (258, 3, 8), (259, 3, 1), (262, 3, 1),
               (273, 4, 8 + 2 + 9 * 12 + 4), (277, 3, 1), (278, 4, height), (279, 4, (width * height) & 0xFFFFFFFF)]
    t = b"II*\x00" + struct.pack("<I", 8) + struct.pack("<H", len(entries))
    for tag, typ, value in entries:
        t += struct.pack("<HHI", tag, typ, 1) + (struct.pack("<HH", value, 0) if typ == 3 else struct.pack("<I", value))
    return t + struct.pack("<I", 0) + b"\x80" * 1000


def pictures():
    colour = (CORPUS / "jpeg" / "colour.jpg").read_bytes()
    progressive = (CORPUS / "jpeg" / "progressive.jpg").read_bytes()
    put("jpeg", "claims_16383_square.jpg", jpeg_with_size(colour, 16383, 16383))
    put("jpeg", "claims_8000_square.jpg", jpeg_with_size(colour, 8000, 8000))
    put("jpeg", "progressive_claims_16383_square.jpg", jpeg_with_size(progressive, 16383, 16383))
    put("jpeg", "progressive_claims_8000_square.jpg", jpeg_with_size(progressive, 8000, 8000))
    put("jpeg", "progressive_cut.jpg", jpeg_with_size(progressive, 8000, 8000)[:len(progressive) // 2])
    rgb = (CORPUS / "png" / "rgb8.png").read_bytes()
    put("png", "claims_16383_square.png", png_with_size(rgb, 16383, 16383))
    put("png", "claims_8000_square.png", png_with_size(rgb, 8000, 8000))
    put("qvr", "claims_16383_square.qvr", png_with_size((CORPUS / "qvr" / "mask.qvr").read_bytes(), 16383, 16383))
    bmp = bytearray((CORPUS / "bmp" / "rgb24.bmp").read_bytes())
    bmp[18:26] = struct.pack("<ii", 16383, 16383)
    put("bmp", "claims_16383_square.bmp", bytes(bmp))
    put("tiff", "claims_16383_square.tif", tiff_claim(16383, 16383))
    put("tiff", "claims_8000_square.tif", tiff_claim(8000, 8000))


if __name__ == "__main__":
    compression()
    blob_streams()
    btree_pages()
    metafiles()
    pictures()
