#!/usr/bin/env python3
"""Independent reader of a memory table's BLOB block.

usage: read_memory_blob_block.py BLOCK_FILE ORIGINAL_FILE

The block: NumBlocks (Int32) and UncompressedSize (Int64), little-endian (struct '<iq'), then
NumBlocks compressed blocks, each a 20-byte header (struct '<iiIq': CompressedSize,
UncompressedSize, Crc32, OffsetToNextHeader) and CompressedSize bytes of a zlib stream.
Prints the SHA-256 of what the blocks decompress to and "same" or "differs" for the original.
"""
import hashlib
import struct
import sys
import zlib


def main() -> int:
    block = open(sys.argv[1], "rb").read()
    original = open(sys.argv[2], "rb").read()
    num_blocks, size = struct.unpack_from("<iq", block, 0)
    pos = 12
    out = bytearray()
    for i in range(num_blocks):
        comp, uncomp, _crc, offset = struct.unpack_from("<iiIq", block, pos)
        data = zlib.decompress(block[pos + 20:pos + 20 + comp])
        if len(data) != uncomp or offset != 20 + comp:
            print(f"block {i} is damaged")
            return 1
        out += data
        pos += offset
    if pos != len(block) or len(out) != size:
        print(f"block sizes do not add up: {pos} of {len(block)} bytes, {len(out)} of {size}")
        return 1
    digest = hashlib.sha256(bytes(out)).hexdigest()
    print(digest, "same" if digest == hashlib.sha256(original).hexdigest() else "differs")
    return 0


if __name__ == "__main__":
    sys.exit(main())
