#!/usr/bin/env python3
"""Outside checks of database files, read with struct, zlib and fcntl alone.

  check_db_files.py fresh DATABASE
      A new database as the engine creates it with the defaults (page size 4096, extent 8,
      500 sessions, no password): prints what does not hold, exit status 0 when all does.
  check_db_files.py content DATABASE START_PAGE EXPECTED
      Follows the internal file that starts at START_PAGE through its pages, decompresses its
      content when it is zlib-compressed and compares it with the bytes of the file EXPECTED.
  check_db_files.py lock DATABASE BYTE
      Asks the system (F_OFD_GETLK) whether another open file holds a lock on BYTE; prints
      "write", "read" or "none".
"""
import fcntl
import os
import struct
import sys
import zlib

FIRST_PAGE = 380
PAGE_HEADER = 40


def header(data):
    return struct.unpack_from('<16shdHHiiiBB', data, 0)


def page(data, page_size, no):
    start = FIRST_PAGE + no * page_size
    return data[start:start + page_size]


def page_header(p):
    # Signature, State, PageType, NextPageNo
    return struct.unpack_from('<4siHi', p, 0)


def internal_content(data, page_size, start_page):
    """The stored bytes of an internal file and its header."""
    d = page_size - PAGE_HEADER
    first = page(data, page_size, start_page)
    header_size, size, decompressed, algorithm = struct.unpack_from('<BiiB', first, PAGE_HEADER)
    stored = b''
    no = start_page
    offset = header_size
    seen = set()
    while no != -1 and len(stored) < size:
        if no in seen:
            raise ValueError('chain loops at page %d' % no)
        seen.add(no)
        p = page(data, page_size, no)
        stored += p[PAGE_HEADER + offset:PAGE_HEADER + d][:size - len(stored)]
        no = page_header(p)[3]
        offset = 0
    if len(stored) != size:
        raise ValueError('chain holds %d of %d bytes' % (len(stored), size))
    return (header_size, size, decompressed, algorithm), stored


def check_fresh(path):
    data = open(path, 'rb').read()
    errors = []

    def expect(what, got, want):
        if got != want:
            errors.append('%s: %r, expected %r' % (what, got, want))

    expect('length', len(data), 24956)
    h = header(data)
    expect('header', (h[0].decode('latin-1'),) + tuple(round(v, 12) if isinstance(v, float) else v for v in h[1:]),
           ('ORVETA00DATABASE', 76, 7.9, 4096, 8, 6, 4, 1, 2, 0))
    expect('crypto header size', struct.unpack_from('<h', data, 76)[0], 280)
    expect('locked bytes', struct.unpack_from('<h', data, 356)[0], 20)
    expect('last object id', struct.unpack_from('<i', data, 376)[0], 0)
    page_size = h[3]
    types = [page_header(page(data, page_size, n))[2] for n in range(5)]
    expect('page types', types, [3, 2, 4, 5, 6])
    for n in range(5):
        expect('signature of page %d' % n, page_header(page(data, page_size, n))[0], b'ORVP')
    expect('PFS data byte', page(data, page_size, 0)[PAGE_HEADER], 0x1F)
    expect('EAM data byte', page(data, page_size, 1)[PAGE_HEADER], 0x01)

    (_, size, _, algorithm), directory = internal_content(data, page_size, 2)
    expect('directory compression', algorithm, 0)
    items = [struct.unpack_from('<Bi', directory, i) for i in range(0, size, 5)]
    expect('directory items', items, [(2, 3), (1, 4)])

    (hsize, size, decompressed, algorithm), _ = internal_content(data, page_size, 3)
    expect('sessions file header', (hsize, size, decompressed, algorithm), (10, 500, 0, 0))
    expect('sessions file next page', page_header(page(data, page_size, 3))[3], -1)

    (hsize, size, decompressed, algorithm), _ = internal_content(data, page_size, 4)
    expect('table list header', (hsize, size, decompressed, algorithm), (10, 0, 0, 0))

    for e in errors:
        print(e)
    return 0 if not errors else 1


def check_content(path, start_page, expected_path):
    data = open(path, 'rb').read()
    page_size = header(data)[3]
    (_, _, decompressed, algorithm), stored = internal_content(data, page_size, int(start_page))
    if algorithm == 1:
        content = zlib.decompress(stored)
    elif algorithm == 0:
        content = stored
    else:
        print('algorithm %d is not checked here' % algorithm)
        return 1
    expected = open(expected_path, 'rb').read()
    if len(content) != decompressed:
        print('decompressed size %d, header says %d' % (len(content), decompressed))
        return 1
    if content != expected:
        print('content differs (%d bytes, expected %d)' % (len(content), len(expected)))
        return 1
    print('stored %d bytes, algorithm %d' % (len(stored), algorithm))
    return 0


def check_lock(path, byte):
    fd = os.open(path, os.O_RDWR)
    try:
        getlk = getattr(fcntl, 'F_OFD_GETLK', 36)
        request = struct.pack('hhqqi4x', fcntl.F_WRLCK, os.SEEK_SET, int(byte), 1, 0)
        l_type = struct.unpack('hhqqi4x', fcntl.fcntl(fd, getlk, request))[0]
    finally:
        os.close(fd)
    print({fcntl.F_WRLCK: 'write', fcntl.F_RDLCK: 'read'}.get(l_type, 'none'))
    return 0


def main():
    command = sys.argv[1]
    if command == 'fresh':
        return check_fresh(sys.argv[2])
    if command == 'content':
        return check_content(sys.argv[2], sys.argv[3], sys.argv[4])
    if command == 'lock':
        return check_lock(sys.argv[2], sys.argv[3])
    print('unknown command ' + command)
    return 2


if __name__ == '__main__':
    sys.exit(main())
