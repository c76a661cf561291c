#!/usr/bin/env python3
"""Checks the free-space maps of a closed database file, read with struct alone.

Usage: check_space.py DATABASE [USED]

USED is a text file with the page numbers the writer of the database left in use (one per
line, PFS and EAM pages not included). Exit status 0 when every check holds; the failures are
printed otherwise.
"""
import struct
import sys


def main():
    path = sys.argv[1]
    used = None
    if len(sys.argv) > 2:
        with open(sys.argv[2]) as f:
            used = {int(line) for line in f if line.strip()}
    data = open(path, 'rb').read()
    errors = []

    def fail(text):
        errors.append(text)

    (signature, header_size, version, page_size, extent, total, last_used, state, write_state,
     encrypted) = struct.unpack_from('<16shdHHiiiBB', data, 0)
    if signature != b'ORVETA00DATABASE':
        fail('signature %r' % signature)
    if header_size != 76 or abs(version - 7.9) > 1e-12:
        fail('header size %d, version %r' % (header_size, version))
    if write_state != 2 or encrypted != 0:
        fail('write state %d, encrypted %d' % (write_state, encrypted))
    (crypto_size,) = struct.unpack_from('<h', data, 76)
    (locked_size,) = struct.unpack_from('<h', data, 356)
    if crypto_size != 280 or locked_size != 20:
        fail('crypto header %d, locked bytes %d' % (crypto_size, locked_size))
    first = 380
    if len(data) != first + total * page_size:
        fail('length %d for %d pages of %d bytes' % (len(data), total, page_size))

    d = page_size - 40
    pfs_span = 8 * d
    eam_span = 4 * d * extent

    def page(n):
        return data[first + n * page_size:first + (n + 1) * page_size]

    def page_type(n):
        return struct.unpack_from('<H', page(n), 8)[0]

    pfs_pages = list(range(0, total, pfs_span))
    eam_pages = []
    for j in range((max(total - 1, 0)) // eam_span + 1):
        n = j * eam_span
        if n % pfs_span == 0:
            n += 1
        if n < total:
            eam_pages.append(n)
    system = set(pfs_pages) | set(eam_pages)
    for n in pfs_pages:
        if page(n)[:4] != b'ORVP' or page_type(n) != 3:
            fail('page %d is no PFS page' % n)
    for n in eam_pages:
        if page(n)[:4] != b'ORVP' or page_type(n) != 2:
            fail('page %d is no EAM page' % n)

    def bit(n):
        pfs = (n // pfs_span) * pfs_span
        r = n - pfs
        return (page(pfs)[40 + r // 8] >> (r % 8)) & 1

    used_bits = set()
    for n in range(total):
        if bit(n):
            used_bits.add(n)
    for n in system:
        if n not in used_bits:
            fail('map page %d marked free' % n)
    # Bits of pages beyond the end of the file are clear.
    last_pfs = pfs_pages[-1] if pfs_pages else 0
    for n in range(total, last_pfs + pfs_span):
        if bit(n):
            fail('page %d beyond the end marked used' % n)
    data_pages = used_bits - system
    if used is not None and data_pages != used:
        fail('used pages differ: extra %s, missing %s' % (sorted(data_pages - used)[:10],
                                                          sorted(used - data_pages)[:10]))
    expected_last = max(data_pages) if data_pages else -1
    if last_used != expected_last:
        fail('LastUsedPageNo %d, highest used page %d' % (last_used, expected_last))
    for n in data_pages:
        p = page(n)
        if p[:4] != b'ORVP' or struct.unpack_from('<i', p, 4)[0] == 2147483647:
            fail('used page %d holds no live page' % n)

    # An extent marked full has no free page: a free page is never lost to the search.
    for e in range((total + extent - 1) // extent):
        j = e // (4 * d)
        eam = eam_pages[j] if j < len(eam_pages) else None
        if eam is None:
            continue
        i = e - j * 4 * d
        pair = (page(eam)[40 + i // 4] >> (2 * (i % 4))) & 3
        if pair & 2:
            pages = range(e * extent, (e + 1) * extent)
            if any(n >= total or n not in used_bits for n in pages):
                fail('extent %d marked full with a free page' % e)

    print('%s: %d pages of %d bytes, %d PFS and %d EAM pages, %d in use, last %d' %
          (path, total, page_size, len(pfs_pages), len(eam_pages), len(data_pages), last_used))
    for e in errors[:20]:
        print('FAIL:', e)
    return 1 if errors else 0


if __name__ == '__main__':
    sys.exit(main())
