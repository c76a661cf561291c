#!/usr/bin/env python3
"""Writes the seed corpora that Python's standard library can make on its own, independently of
our code: PNG, BMP and .QVR pictures, zlib and bzip2 buffers, PPM buffers (from the shared
PPMd vectors), ini and language files, texts in the string formats and stored table
definitions, PDF files (hand-written with classic cross-reference tables, and rewritten by qpdf
and mutool), SQL text. The other seeds come from our own writers (make_seeds.cpp). Run once from
the top of the repository, for every corpus or the named ones; the files are committed:

    python3 fuzz/tools/make_seeds.py [pdf_loader sql_text ...]
"""
import base64
import binascii
import bz2
import random
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
CORPUS = ROOT / "fuzz" / "corpus"


def put(target, name, data):
    d = CORPUS / target
    d.mkdir(parents=True, exist_ok=True)
    (d / name).write_bytes(data)


# ---- PNG ------------------------------------------------------------------------------------

def chunk(tag, data):
    return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)


def png(width, height, bit_depth, color_type, rows, extra=(), interlace=0, level=9):
    """rows: the filtered scanlines already joined (filter byte first on every line)."""
    ihdr = struct.pack(">IIBBBBB", width, height, bit_depth, color_type, 0, 0, interlace)
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
    for tag, data in extra:
        out += chunk(tag, data)
    out += chunk(b"IDAT", zlib.compress(rows, level)) + chunk(b"IEND", b"")
    return out


def filtered(line, prev_raw, bpp, kind):
    """One scanline with PNG filter `kind` against the previous raw scanline."""
    out = bytearray()
    for i, b in enumerate(line):
        a = line[i - bpp] if i >= bpp else 0
        up = prev_raw[i]
        c = prev_raw[i - bpp] if i >= bpp else 0
        if kind == 0:
            p = 0
        elif kind == 1:
            p = a
        elif kind == 2:
            p = up
        elif kind == 3:
            p = (a + up) // 2
        else:
            pa, pb, pc = abs(up - c), abs(a - c), abs(a + up - 2 * c)
            p = a if pa <= pb and pa <= pc else (up if pb <= pc else c)
        out.append((b - p) & 0xFF)
    return out


def filtered_image(width, height, bpp, pixel):
    out = bytearray()
    prev = bytes(width * bpp)
    for y in range(height):
        line = b"".join(pixel(x, y) for x in range(width))
        kind = y % 5
        out.append(kind)
        out += filtered(line, prev, bpp, kind)
        prev = line
    return bytes(out)


def adam7(width, height, bpp, pixel):
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
    out = bytearray()
    for x0, y0, dx, dy in passes:
        xs = list(range(x0, width, dx))
        ys = list(range(y0, height, dy))
        if not xs or not ys:
            continue
        for y in ys:
            out.append(0)
            out += b"".join(pixel(x, y) for x in xs)
    return bytes(out)


def rgb(x, y):
    return bytes(((x * 37 + y * 11) & 255, (x * 5 + y * 73) & 255, (x * y) & 255))


def make_png():
    put("png", "rgb8.png", png(16, 12, 8, 2, filtered_image(16, 12, 3, rgb)))
    put("png", "rgba8.png", png(9, 7, 8, 6, filtered_image(9, 7, 4, lambda x, y: rgb(x, y) + bytes([x * 20 & 255]))))
    gray = png(13, 5, 8, 0, filtered_image(13, 5, 1, lambda x, y: bytes([(x * 19 + y) & 255])))
    put("png", "gray8.png", gray)
    # 1-bit gray: 10 pixels in two bytes per row.
    put("png", "gray1.png", png(10, 4, 1, 0, b"".join(b"\x00" + bytes([0b10110010, 0b11000000 >> y]) for y in range(4))))
    plte = bytes(v for i in range(4) for v in ((i * 80) & 255, 255 - i * 60, i * 30))
    put("png", "palette4.png",
        png(6, 3, 4, 3, b"".join(b"\x00" + bytes([0x01, 0x23, 0x30]) for _ in range(3)),
            extra=[(b"PLTE", plte), (b"tRNS", b"\x00\x80")]))
    put("png", "rgb16.png", png(4, 3, 16, 2, filtered_image(4, 3, 6, lambda x, y: rgb(x, y) + rgb(y, x))))
    put("png", "gray_alpha.png", png(5, 5, 8, 4, filtered_image(5, 5, 2, lambda x, y: bytes([x * 40 & 255, y * 50 & 255]))))
    put("png", "interlaced.png", png(11, 9, 8, 2, adam7(11, 9, 3, rgb), interlace=1))
    put("png", "ancillary.png",
        png(3, 2, 8, 2, filtered_image(3, 2, 3, rgb),
            extra=[(b"gAMA", struct.pack(">I", 45455)), (b"tEXt", b"Comment\x00QUIRVEL seed"),
                   (b"zTXt", b"Note\x00\x00" + zlib.compress(b"a compressed text chunk"))]))


# ---- .QVR: a 24-bit PNG whose bottom row holds the high-range header ------------------------

def qvr(width, height, page, sn, m, c, ppi, mx, mn, value):
    header = b"QUIRVEL\x00" + bytes([page])
    for v in (sn, m, c & 0xFFFFFF, ppi, mx, mn):
        header += struct.pack(">I", v & 0xFFFFFF)[1:]
    rows = []
    for y in range(height):
        line = bytearray(b"".join(struct.pack(">I", value(x, y) & 0xFFFFFF)[1:] for x in range(width)))
        if y == 0:
            line[0:9] = struct.pack(">I", mx)[1:] + struct.pack(">I", mn)[1:] + b"\x01\x01\x01"
        if y == height - 1:
            line[0:len(header)] = header
        rows.append(bytes(line))
    return png(width, height, 8, 2, b"".join(b"\x00" + r for r in rows))


def make_qvr():
    put("qvr", "mask.qvr", qvr(24, 16, 0, 12345, 280, 0, 305000, 900000, 1000,
                                lambda x, y: 1000 + ((x // 3 + y // 3) % 2) * 800000))
    put("qvr", "plate.qvr", qvr(30, 10, 1, 777, 300, -20, 254000, 16777215, 0, lambda x, y: (x * 500000 + y * 7) % 16777216))
    put("qvr", "flat.qvr", qvr(12, 12, 3, 1, 300, -20, 100, 10000, 9999, lambda x, y: 10000))


# ---- BMP --------------------------------------------------------------------------------------

def bmp(width, height, bit_count, rows_bottom_up, palette=b"", header_size=40, compression=0, masks=b"", top_down=False):
    stride = (width * bit_count + 31) // 32 * 4
    pixels = b"".join(r.ljust(stride, b"\x00") for r in rows_bottom_up)
    if header_size == 12:
        info = struct.pack("<IHHHH", 12, width, height, 1, bit_count)
    else:
        info = struct.pack("<IiiHHIIiiII", header_size, width, -height if top_down else height, 1, bit_count,
                           compression, len(pixels), 2835, 2835, len(palette) // (3 if header_size == 12 else 4), 0)
        info += masks
        info = info.ljust(header_size + (len(masks) if header_size == 40 else 0), b"\x00")
    offset = 14 + len(info) + len(palette)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + palette + pixels


def make_bmp():
    put("bmp", "rgb24.bmp", bmp(7, 5, 24, [b"".join(rgb(x, y)[::-1] for x in range(7)) for y in range(5)]))
    put("bmp", "topdown24.bmp", bmp(4, 3, 24, [b"".join(rgb(x, y) for x in range(4)) for y in range(3)], top_down=True))
    pal8 = b"".join(bytes((i, 255 - i, i // 2, 0)) for i in range(256))
    put("bmp", "gray8.bmp", bmp(9, 4, 8, [bytes((x * 28 + y) & 255 for x in range(9)) for y in range(4)], pal8))
    pal4 = b"".join(bytes((i * 16, i * 8, 255 - i * 16, 0)) for i in range(16))
    put("bmp", "pal4.bmp", bmp(5, 3, 4, [bytes([0x01, 0x23, 0x40]) for _ in range(3)], pal4))
    put("bmp", "mono1.bmp", bmp(10, 2, 1, [bytes([0b10101100, 0b01000000]) for _ in range(2)], b"\x00\x00\x00\x00\xff\xff\xff\x00"))
    put("bmp", "rgb32.bmp", bmp(3, 3, 32, [b"".join(rgb(x, y) + b"\x00" for x in range(3)) for y in range(3)]))
    put("bmp", "bitfields32.bmp",
        bmp(3, 2, 32, [b"".join(rgb(x, y) + b"\xff" for x in range(3)) for y in range(2)], compression=3,
            masks=struct.pack("<III", 0x00FF0000, 0x0000FF00, 0x000000FF)))
    put("bmp", "v5header.bmp", bmp(2, 2, 24, [rgb(0, y)[::-1] + rgb(1, y)[::-1] for y in range(2)], header_size=124))
    pal_core = b"".join(bytes((i, i, i)) for i in range(256))
    put("bmp", "os2core8.bmp", bmp(4, 2, 8, [bytes([1, 2, 3, 4])] * 2, pal_core, header_size=12))


# ---- compression buffers --------------------------------------------------------------------

def text(n, seed=3):
    rng = random.Random(seed)
    words = "dot area ruling screen angle plate film mask halftone measurement tolerance".split()
    out = b""
    while len(out) < n:
        out += (" ".join(rng.choice(words) for _ in range(rng.randint(3, 9))) + "\r\n").encode()
    return out[:n]


def make_compression():
    samples = {"text": text(3000), "zeros": bytes(4000), "random": random.Random(5).randbytes(700),
               "short": b"QUIRVEL", "record": struct.pack("<iqd", 7, -3, 2.5) * 40}
    for name, data in samples.items():
        for level in (0, 1, 9):
            put("zlib", f"{name}_{level}.zlib", zlib.compress(data, level))
        put("bzip2", f"{name}_9.bz2", bz2.compress(data, 9))
    put("bzip2", "text_1.bz2", bz2.compress(text(1200, 8), 1))
    # PPM: the expected size (16 bits) in front of the shared PPMd vectors.
    vectors = Path("/work/shared/testdata/ppmd")
    for name, size in (("abracadabra.m1", 11), ("abracadabra.m5", 11), ("abracadabra.m9", 11), ("zero1.m1", 1),
                       ("random4k.m2", 4096)):
        put("ppm", f"{name}.ppm", struct.pack("<H", size) + (vectors / f"{name}.ppm").read_bytes())


# ---- ini and language files -------------------------------------------------------------------

def make_text_files():
    put("ini", "QUIRVEL.INI", (ROOT / "assets" / "QUIRVEL.INI").read_bytes())
    put("ini", "profile.ini",
        b"[SETTINGS]\r\nLanguage=English\r\nTCPIP = 1\r\nDATABASE=\"C:\\data\\QUIRVEL.GEN\"\r\n"
        b"; a comment\r\n[calibration]\r\nPixelperInch=3050.5\r\nSerialNo=-12x\r\n\r\n[Settings]\r\nLanguage=German\r\n")
    put("ini", "odd.ini", b"no section=1\n[ A ]\nkey\n=value\n[B\nk=v=w\r\n[\xb5m]\nlen=\xb0\n")
    english = (ROOT / "assets" / "LANGUAGE" / "English.txt").read_bytes()
    german = (ROOT / "assets" / "LANGUAGE" / "German.txt").read_bytes()
    put("language", "English.txt", english)
    put("language", "German.txt", german)
    put("language", "utf8_bom.txt", b"\xef\xbb\xbf" + german.decode("cp1252").encode("utf-8")[:1200])
    put("language", "utf16le.txt", b"\xff\xfe" + german[:800].decode("cp1252").encode("utf-16-le"))
    put("language", "utf16be.txt", b"\xfe\xff" + english[:600].decode("cp1252").encode("utf-16-be"))
    put("language", "mixed_ends.txt", b"MAINMENU\r\nFile\rOpen\nMESSAGES\r\nLine one#Line two\r\n\xb5m \xb0\n")


# ---- string formats ---------------------------------------------------------------------------

def make_string_formats():
    data = [b"QUIRVEL", random.Random(11).randbytes(64), bytes(range(100))]
    for i, d in enumerate(data):
        put("string_formats", f"mime64_{i}.txt", base64.b64encode(d))
        put("string_formats", f"hex_{i}.txt", binascii.hexlify(d).upper())
    put("string_formats", "wrapped_mime64.txt", base64.encodebytes(random.Random(2).randbytes(120)))
    put("string_formats", "uu.txt", binascii.b2a_uu(b"QUIRVEL result line"))


# ---- stored table definitions -----------------------------------------------------------------

def make_table_defs():
    script = ROOT / "dbengine" / "storage" / "tests" / "data" / "make_defs_streams.py"
    lines = subprocess.run(["python3", str(script)], check=True, stdout=subprocess.PIPE, text=True).stdout.split()
    for kind, (name, line) in enumerate(zip(("fields", "indexes", "constraints"), lines)):
        put("table_defs", f"{name}.bin", bytes([kind]) + bytes.fromhex(line))


# ---- PDF files ----------------------------------------------------------------------------------

def classic_pdf(objects, trailer=b"/Root 1 0 R", version=b"1.4"):
    """A PDF of the object bodies (numbered from 1) with a classic cross-reference table."""
    out = b"%PDF-" + version + b"\n%\xe2\xe3\xcf\xd3\n"
    offsets = []
    for i, body in enumerate(objects):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % (i + 1) + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d " % (len(objects) + 1) + trailer + b" >>\nstartxref\n%d\n%%%%EOF\n" % xref
    return out


def stream(entries, data):
    return b"<< /Length %d " % len(data) + entries + b" >>\nstream\n" + data + b"\nendstream"


def make_pdf():
    font = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"
    one_page = classic_pdf([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Resources << /Font << /F1 4 0 R >> >> "
        b"/Contents 5 0 R >>",
        font,
        stream(b"", b"BT /F1 12 Tf 20 50 Td (Plate 7: 42.5 %) Tj ET\n0 0 m 100 10 l S"),
        b"<< /Title (Report) /Producer (hand) >>",
    ], b"/Root 1 0 R /Info 6 0 R")
    put("pdf_loader", "one_page.pdf", one_page)
    # An inner node of the page tree that passes resources, box and rotation down.
    put("pdf_loader", "inherited.pdf", classic_pdf([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [6 0 R 3 0 R] /Count 2 /Resources << /Font << /F1 4 0 R >> >> >>",
        b"<< /Type /Page /Parent 2 0 R /Contents [5 0 R 5 0 R] /MediaBox [0 0 300 200] >>",
        font,
        stream(b"", b"BT\n(Inherited) Tj\nET"),
        b"<< /Type /Pages /Parent 2 0 R /Kids [7 0 R] /Count 1 /Rotate 90 /MediaBox [0 0 200 100] >>",
        b"<< /Type /Page /Parent 6 0 R /Contents 5 0 R /CropBox [1 1 199 99] >>",
    ]))
    # Every filter the loader decodes, and object syntax of every kind.
    flate = zlib.compress(b"BT\n<0041> Tj\nET\n")
    hexed = binascii.hexlify(b"BT\n(Hex) Tj\nET").upper() + b">"
    a85 = base64.a85encode(b"BT\n(85) Tj\nET", adobe=True)[2:]
    rle = bytes([9]) + b"BT\n(R) Tj" + bytes([253]) + b"\n" + b"\x80"
    put("pdf_loader", "filters.pdf", classic_pdf([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << >> /Contents [5 0 R 6 0 R] >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << >> /Contents [7 0 R 8 0 R] "
        b"/Extra [ (a\\\\) (x\\)y) (n (b) p) (\\101\\7) <41 42> /A#20B .5 -3. +7 null true false [1 [2]] << /K 1 >> ] >>",
        stream(b"/Filter /FlateDecode", flate),
        stream(b"/Filter /ASCIIHexDecode", hexed),
        stream(b"/Filter [/ASCII85Decode]", a85),
        stream(b"/Filter /RunLengthDecode", rle),
    ]))
    # An incremental update: one object replaced, an information dictionary added.
    base = one_page
    old_xref = int(base[base.rindex(b"startxref\n") + 10:].split()[0])
    obj4 = len(base)
    upd = base + b"4 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>\nendobj\n"
    obj7 = len(upd)
    upd += b"7 0 obj\n<< /Title (Updated) >>\nendobj\n"
    xref = len(upd)
    upd += b"xref\n4 1\n%010d 00000 n \n7 1\n%010d 00000 n \n" % (obj4, obj7)
    upd += b"trailer\n<< /Size 8 /Root 1 0 R /Info 7 0 R /Prev %d >>\nstartxref\n%d\n%%%%EOF\n" % (old_xref, xref)
    put("pdf_loader", "incremental.pdf", upd)
    # Outside tools: qpdf and mutool rewrite and make files of their own (classic tables only:
    # cross-reference streams are refused before anything else is read).
    with tempfile.TemporaryDirectory() as tmp:
        t = Path(tmp)
        (t / "one.pdf").write_bytes(one_page)
        (t / "inh.pdf").write_bytes(CORPUS.joinpath("pdf_loader", "inherited.pdf").read_bytes())
        (t / "page.txt").write_text("%%MediaBox 0 0 120 80\n%%Font F1 Times-Roman\n"
                                    "BT /F1 10 Tf 10 40 Td (mutool page) Tj ET\n1 0 0 RG 5 5 110 70 re S\n")
        runs = [
            ["qpdf", "--qdf", "--object-streams=disable", t / "inh.pdf", t / "qdf.pdf"],
            ["qpdf", "--linearize", "--object-streams=disable", t / "one.pdf", t / "linear.pdf"],
            ["qpdf", "--empty", "--object-streams=disable", "--pages", t / "one.pdf", t / "inh.pdf", "--",
             t / "merged.pdf"],
            ["qpdf", "--encrypt", "user", "owner", "256", "--", "--object-streams=disable",
             t / "one.pdf", t / "encrypted.pdf"],
            ["mutool", "create", "-o", t / "mutool.pdf", t / "page.txt"],
        ]
        for cmd in runs:
            subprocess.run([str(c) for c in cmd], check=True)
        for name in ("qdf.pdf", "linear.pdf", "merged.pdf", "encrypted.pdf"):
            put("pdf_loader", "qpdf_" + name, (t / name).read_bytes())
        put("pdf_loader", "mutool.pdf", (t / "mutool.pdf").read_bytes())


# ---- SQL text ---------------------------------------------------------------------------------

def make_sql_text():
    """Filter conditions over T(ID, Name, Area, Made, Ok) and whole statements for the lexer."""
    texts = {
        "compare.txt": "Area >= 40 AND Name <> 'mask'",
        "between_in.txt": "ID BETWEEN 1 AND 2 OR ID IN (3, 5, 7)",
        "like.txt": "UPPER(Name) LIKE 'PLATE%' ESCAPE '\\'",
        "null.txt": "Name IS NULL OR NOT (Ok = TRUE)",
        "arith.txt": "(Area * 2 + ID) / 3 - -1.5e2 > CAST(ID AS DOUBLE) % 2",
        "dates.txt": "Made > DATE '1999-12-31' AND EXTRACT(YEAR FROM Made) < 2100 "
                     "OR CAST(Made AS DATE) = DATE '2023-03-04'",
        "functions.txt": "SUBSTRING(Name FROM 1 FOR 3) || TRIM(' x ') = 'Plax' "
                         "OR POSITION('7' IN Name) > 0 OR COALESCE(Area, 0) = 0 OR CHARACTER_LENGTH(Name) = 6",
        "case.txt": "CASE WHEN Area > 0 THEN 'pos' WHEN Area < 0 THEN 'neg' ELSE NULL END = 'pos'",
        "quoted_names.txt": "\"Name\" = \"Plate 7\" OR [Area] <> 1 OR `ID` = 2",
        "select.sql": "SELECT ID, Name AS \"N\", Area * 1.5 FROM T WHERE Made < CURRENT_DATE "
                      "ORDER BY 2 DESC, ID; -- a comment\nSELECT COUNT(*) FROM T GROUP BY Ok HAVING COUNT(*) > 1;",
        "params.sql": "UPDATE T SET Area = :a, Name = ? WHERE ID = :a /* block\ncomment */;\n"
                      "INSERT INTO T (ID, Name) VALUES (4, 'it''s');\nDELETE FROM T WHERE Name = 'x'",
        "create.sql": "CREATE TABLE \"Messung\" (\"ID\" AUTOINC, \"Wert\" NUMERIC(10,2) DEFAULT 0.5, "
                      "\"Text\" VARCHAR(20) NOT NULL, PRIMARY KEY (\"ID\"));\n"
                      "CREATE INDEX \"ByWert\" ON \"Messung\" (\"Wert\" DESC);\nDROP TABLE x",
        "numbers.txt": "ID = 31 OR Area = .5 OR Area = 1. OR Area = 1E-3 OR ID = 9223372036854775807",
    }
    for name, text in texts.items():
        put("sql_text", name, text.encode("cp1252"))


SECTIONS = {
    "png": lambda: make_png(),
    "qvr": lambda: make_qvr(),
    "bmp": lambda: make_bmp(),
    "compression": lambda: make_compression(),
    "text_files": lambda: make_text_files(),
    "string_formats": lambda: make_string_formats(),
    "table_defs": lambda: make_table_defs(),
    "pdf_loader": lambda: make_pdf(),
    "sql_text": lambda: make_sql_text(),
}

if __name__ == "__main__":
    for section in sys.argv[1:] or SECTIONS:
        SECTIONS[section]()
