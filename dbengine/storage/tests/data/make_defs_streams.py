#!/usr/bin/env python3
"""Prints, as three hex lines, the stored bytes of a table's field, index and constraint
definitions: the fixed layout packed field by field with struct, independently of the engine."""
import struct

def name8(s):
    b = s.encode('cp1252')
    return struct.pack('<B', len(b)) + b

def common(name, oid):
    return name8(name) + struct.pack('<i', oid)

def value_null(t):
    return struct.pack('<BB', t, 0xFF)

def value(t, data):
    return struct.pack('<BBi', t, 0, len(data)) + data

BFT_SIGNED_INT32, BFT_VARCHAR, BFT_BLOB = 7, 3, 18
AFT_INTEGER, AFT_STRING, AFT_BLOB = 7, 2, 31
INT64_MAX = 2**63 - 1

def field(name, oid, bft, aft, size, blob=None, autoinc=(1, 0, 0, INT64_MAX, 0), default=None):
    b = common(name, oid) + struct.pack('<BBi', bft, aft, size)
    if blob is not None:
        b += struct.pack('<BBi', *blob)
    b += struct.pack('<qqqqB', *autoinc)
    b += default if default is not None else value_null(0)
    return b

fields = struct.pack('<i', 3)
fields += field('ID', 5, BFT_SIGNED_INT32, AFT_INTEGER, 0)
fields += field('NAME', 6, BFT_VARCHAR, AFT_STRING, 30, default=value(BFT_VARCHAR, b'abc\0'))
fields += field('PIC', 7, BFT_BLOB, AFT_BLOB, 0, blob=(1, 5, 65536), autoinc=(2, 10, -5, 1000, 1))

def index(name, oid, unique, primary, root, cols):
    b = common(name, oid) + struct.pack('<BBBii', 0, unique, primary, len(cols), root)
    for cname, desc, nocase, size in cols:
        b += name8(cname) + struct.pack('<BBi', desc, nocase, size)
    return b

indexes = struct.pack('<i', 2)  # the temporary index between them is not stored
indexes += index('PK_ID', 10, 1, 1, 7, [('ID', 0, 0, 20)])
indexes += index('IX_NAME', 11, 0, 0, -1, [('NAME', 1, 1, 40), ('ID', 0, 0, 20)])

def short_counted(s):
    return struct.pack('<B', len(s) + 1) + name8(s)

def long_counted(s):
    return struct.pack('<i', len(s) + 1) + name8(s)

CT_PK, CT_UNIQUE, CT_NOTNULL, CT_CHECK = 0, 2, 3, 4
constraints = struct.pack('<i', 3)
constraints += struct.pack('<B', CT_PK) + common('PK1', 20) + struct.pack('<iii', -1, 1, 10)
constraints += long_counted('') + long_counted('T') + long_counted('PK_ID')
constraints += struct.pack('<i', 1) + struct.pack('<i', 5) + long_counted('ID')
constraints += struct.pack('<B', CT_NOTNULL) + common('NN1', 21) + struct.pack('<iii', -1, 1, 6)
constraints += short_counted('') + short_counted('T') + short_counted('NAME')
constraints += struct.pack('<B', CT_CHECK) + common('CK1', 22) + struct.pack('<iii', -1, 1, 5)
constraints += short_counted('S') + short_counted('T') + short_counted('ID')
constraints += value(BFT_SIGNED_INT32, struct.pack('<i', 1)) + value_null(BFT_SIGNED_INT32)

for b in (fields, indexes, constraints):
    print(b.hex())
