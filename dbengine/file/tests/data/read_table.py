#!/usr/bin/env python3
"""Reads the rows of a disk table from a closed database file with struct and zlib alone.

  read_table.py DATABASE TABLE
      Prints the table's fields, then one line per row in page and slot order:
      ID|NAME|VAL|IMG with IMG as "NULL" or "<length>:<sha256 of the value>".
  read_table.py DATABASE TABLE rows
      Compares the table with the ROWS table the tests leave in test-output/file/rows.orv:
      IDs 1-2000 without the multiples of 10, NAME "row <ID>", VAL ID/4, IMG (ID mod 4) * 3000
      bytes (NULL when 0), byte k the low 8 bits of x after k + 1 rounds of x ^= x << 13,
      x ^= x >> 17, x ^= x << 5 in 32 bits from x = ID. Prints what differs and the counts of
      small and large BLOBs; exit status 0 when every row is there once and right.

The way there: the system directory on page 2 names the table list; the table's entry names
its metadata file (zlib-compressed field definitions) and its most-updated file (the record
count). Record pages are the used pages (PFS bit set) of type 10 whose header carries the
table's id; a slot's bit in the page's bitmap says whether it holds a record. A BLOB reference
(page, id) names a small BLOB on a shared page (a 2-byte count, then per BLOB a 22-byte header
and its bytes) or, with id 65535, a large BLOB whose first page holds the header, the link to
its page list (start page, offset, count) and data from offset 32; the list of data pages
continues through the pages' NextPageNo. The stored bytes are the compressed BLOB stream:
blocks of a 20-byte header ('<iiIq': compressed size, size, CRC, offset to the next) and zlib.
"""
import hashlib
import math
import struct
import sys
import zlib

from check_db_files import FIRST_PAGE, PAGE_HEADER, header, internal_content, page, page_header

BFT_VARCHAR, BFT_INT32, BFT_DOUBLE, BFT_BLOB, BFT_CLOB, BFT_WIDECLOB = 3, 7, 13, 18, 19, 20
BLOB_TYPES = (BFT_BLOB, BFT_CLOB, BFT_WIDECLOB)
SIZES = {BFT_INT32: 4, BFT_DOUBLE: 8}


class Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def take(self, fmt):
        values = struct.unpack_from(fmt, self.data, self.pos)
        self.pos += struct.calcsize(fmt)
        return values

    def name(self):
        (n,) = self.take('<B')
        text = self.data[self.pos:self.pos + n].decode('cp1252')
        self.pos += n
        return text

    def value(self):
        _type, null = self.take('<BB')
        if null == 0xFF:
            return
        (n,) = self.take('<i')
        self.pos += n


def content(data, page_size, start):
    (_, _, decompressed, algorithm), stored = internal_content(data, page_size, start)
    out = zlib.decompress(stored) if algorithm == 1 else stored
    if len(out) != decompressed:
        raise ValueError('internal file at page %d: %d bytes, header says %d' % (start, len(out), decompressed))
    return out


def fields_of(metadata):
    r = Reader(metadata)
    (count,) = r.take('<i')
    fields = []
    for _ in range(count):
        name = r.name()
        _oid, bft, _aft, size = r.take('<iBBi')
        if bft in BLOB_TYPES:
            r.take('<BBi')
        r.take('<qqqqB')
        r.value()
        fields.append((name, bft, size))
    return fields


def disk_size(bft, size):
    if bft in BLOB_TYPES:
        return 6
    if bft == BFT_VARCHAR:
        return size + 1
    return SIZES[bft]


def blob_value(data, page_size, ref_page, ref_id):
    d = page_size - PAGE_HEADER
    p = page(data, page_size, ref_page)
    if page_header(p)[2] != 11:
        raise ValueError('BLOB page %d has type %d' % (ref_page, page_header(p)[2]))
    body = p[PAGE_HEADER:]
    if ref_id != 0xFFFF:
        (count,) = struct.unpack_from('<H', body, 0)
        at = 2
        for _ in range(count):
            blob_id, blocks, stored, size = struct.unpack_from('<Hiqq', body, at)
            if blob_id == ref_id:
                return 'small', blocks, size, body[at + 22:at + 22 + stored]
            at += 22 + stored
        raise ValueError('BLOB %d not on page %d' % (ref_id, ref_page))
    _blob_id, blocks, stored, size = struct.unpack_from('<Hiqq', body, 0)
    list_page, list_offset, items = struct.unpack_from('<iHi', body, 22)
    pages = []
    no, offset = list_page, list_offset
    while len(pages) < items:
        q = page(data, page_size, no)
        here = min(items - len(pages), (d - offset) // 4)
        pages += list(struct.unpack_from('<%di' % here, q, PAGE_HEADER + offset))
        no, offset = page_header(q)[3], 0
    if pages[0] != ref_page or len(pages) != max(1, 1 + math.ceil((stored - (d - 32)) / d)):
        raise ValueError('large BLOB at page %d: list %r does not fit %d bytes' % (ref_page, pages[:4], stored))
    out = b''
    for i, no in enumerate(pages):
        q = page(data, page_size, no)[PAGE_HEADER:]
        start = 32 if i == 0 else 0
        out += q[start:start + (stored - len(out))]
    return 'large', blocks, size, out


def decompress_blocks(stored, blocks, size):
    out = b''
    at = 0
    for _ in range(blocks):
        comp, uncomp, _crc, offset = struct.unpack_from('<iiIq', stored, at)
        chunk = zlib.decompress(stored[at + 20:at + 20 + comp])
        if len(chunk) != uncomp:
            raise ValueError('a block gives %d bytes, its header says %d' % (len(chunk), uncomp))
        out += chunk
        at += offset
    if len(out) != size or at != len(stored):
        raise ValueError('BLOB of %d bytes in %d stored, header says %d' % (len(out), len(stored), size))
    return out


def read_table(path, table):
    data = open(path, 'rb').read()
    h = header(data)
    page_size, total = h[3], h[6]
    d = page_size - PAGE_HEADER
    directory = content(data, page_size, 2)
    items = dict(struct.unpack_from('<Bi', directory, 5 * i) for i in range(len(directory) // 5))
    tables = content(data, page_size, items[1])
    for at in range(0, len(tables), 272):
        n = tables[at]
        name = tables[at + 1:at + 1 + n].decode('cp1252')
        table_id, metadata_page, updated_page, _locks = struct.unpack_from('<iiii', tables, at + 256)
        if name.upper() == table.upper():
            break
    else:
        raise ValueError('no table %s' % table)
    fields = fields_of(content(data, page_size, metadata_page))
    updated = content(data, page_size, updated_page)
    (n,) = struct.unpack_from('<i', updated, 0)
    _state, record_count = struct.unpack_from('<iI', updated, 4 + 8 * n)
    null_bytes = (len(fields) + 7) // 8
    record_size = null_bytes + sum(disk_size(bft, size) for _, bft, size in fields)
    per_page = int((d - 1) / (record_size + 0.125))
    bitmap = (per_page + 7) // 8
    pfs_span = 8 * d

    def used(no):
        pfs = (no // pfs_span) * pfs_span
        r = no - pfs
        return (page(data, page_size, pfs)[PAGE_HEADER + r // 8] >> (r % 8)) & 1

    rows = []
    kinds = {'small': 0, 'large': 0}
    for no in range(1, total):
        p = page(data, page_size, no)
        sig, state, ptype, _next = page_header(p)
        (object_id,) = struct.unpack_from('<i', p, 22)
        if sig != b'ORVP' or ptype != 10 or object_id != table_id or state == 2147483647 or not used(no):
            continue
        body = p[PAGE_HEADER:]
        for slot in range(per_page):
            if not (body[slot // 8] >> (slot % 8)) & 1:
                continue
            record = body[bitmap + slot * record_size:bitmap + (slot + 1) * record_size]
            at = null_bytes
            row = []
            for i, (_name, bft, size) in enumerate(fields):
                null = (record[i // 8] >> (i % 8)) & 1
                width = disk_size(bft, size)
                raw = record[at:at + width]
                at += width
                if null:
                    row.append(None)
                elif bft == BFT_INT32:
                    row.append(struct.unpack('<i', raw)[0])
                elif bft == BFT_DOUBLE:
                    row.append(struct.unpack('<d', raw)[0])
                elif bft == BFT_VARCHAR:
                    row.append(raw.split(b'\0')[0].decode('cp1252'))
                elif bft in BLOB_TYPES:
                    ref_page, ref_id = struct.unpack('<iH', raw)
                    kind, blocks, size_, stored = blob_value(data, page_size, ref_page, ref_id)
                    kinds[kind] += 1
                    row.append(decompress_blocks(stored, blocks, size_))
                else:
                    row.append(raw)
            rows.append(row)
    if len(rows) != record_count:
        raise ValueError('%d records on the pages, the most-updated file says %d' % (len(rows), record_count))
    return fields, rows, kinds


def expected_image(row_id):
    n = (row_id % 4) * 3000
    out = bytearray(n)
    x = row_id & 0xFFFFFFFF
    for k in range(n):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out[k] = x & 0xFF
    return bytes(out) if n else None


def check_rows(fields, rows, kinds):
    names = [f[0] for f in fields]
    if names != ['ID', 'NAME', 'VAL', 'IMG']:
        print('fields %r' % names)
        return 1
    errors = []
    seen = {}
    for row in rows:
        seen[row[0]] = seen.get(row[0], 0) + 1
    expected_ids = [i for i in range(1, 2001) if i % 10]
    for i in expected_ids:
        if seen.get(i) != 1:
            errors.append('ID %d found %d times' % (i, seen.get(i, 0)))
    for i in set(seen) - set(expected_ids):
        errors.append('unexpected ID %r' % i)
    for row_id, name, val, img in rows:
        if name != 'row %d' % row_id or val != row_id / 4 or img != expected_image(row_id):
            errors.append('row %d: %r %r %s' % (row_id, name, val, 'NULL' if img is None else len(img)))
    for e in errors[:20]:
        print('FAIL:', e)
    print('rows=%d small=%d large=%d' % (len(rows), kinds['small'], kinds['large']))
    return 1 if errors else 0


def main():
    fields, rows, kinds = read_table(sys.argv[1], sys.argv[2])
    if len(sys.argv) > 3 and sys.argv[3] == 'rows':
        return check_rows(fields, rows, kinds)
    print('|'.join(f[0] for f in fields))
    for row in rows:
        print('|'.join('NULL' if v is None else
                       '%d:%s' % (len(v), hashlib.sha256(v).hexdigest()) if isinstance(v, bytes) else str(v)
                       for v in row))
    return 0


if __name__ == '__main__':
    sys.exit(main())
