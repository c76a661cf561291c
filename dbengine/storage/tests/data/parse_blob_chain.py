#!/usr/bin/env python3
"""Independent reader of a compressed BLOB chain.

usage: parse_blob_chain.py CHAIN_FILE START NUM_BLOCKS EXPECTED_DATA_FILE

Walks NUM_BLOCKS blocks from START: a 20-byte little-endian header (struct '<iiIq':
CompressedSize, UncompressedSize, Crc32, OffsetToNextHeader), then CompressedSize bytes of a
zlib stream. Checks the link, the size and the checksum (reflected CRC-32, polynomial
0xEDB88320, start 0, no inversion, computed here bit by bit) of every block, and that the
blocks together give the expected data. Prints "blocks=" and the uncompressed sizes.
"""
import struct
import sys
import zlib


def crc32_plain(data: bytes) -> int:
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ (0xEDB88320 if crc & 1 else 0)
    return crc


def main() -> int:
    chain = open(sys.argv[1], "rb").read()
    pos = int(sys.argv[2])
    count = int(sys.argv[3])
    expected = open(sys.argv[4], "rb").read()
    out = bytearray()
    sizes = []
    for i in range(count):
        comp, uncomp, crc, offset = struct.unpack_from("<iiIq", chain, pos)
        if offset != 20 + comp:
            print(f"block {i}: offset {offset} != 20 + {comp}")
            return 1
        data = zlib.decompress(chain[pos + 20:pos + 20 + comp])
        if len(data) != uncomp:
            print(f"block {i}: {len(data)} bytes, header says {uncomp}")
            return 1
        if crc32_plain(data) != crc:
            print(f"block {i}: checksum {crc32_plain(data):#x} != {crc:#x}")
            return 1
        out += data
        sizes.append(uncomp)
        pos += offset
    if bytes(out) != expected:
        print("data differs")
        return 1
    print("blocks=" + ",".join(map(str, sizes)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
