#!/usr/bin/env python3
"""Writes the reference inputs and outputs of the buffer compression tests.

The outputs come from outside our code: Python's zlib.compress(data, level) and the bzip2
program (`bzip2 -<n> -c`). Run from this folder: python3 make_compression_golden.py
"""
import random
import subprocess
import zlib
from pathlib import Path

out = Path(__file__).resolve().parent / "compression"
out.mkdir(exist_ok=True)

words = ("dot area ruling screen angle plate film mask halftone measurement tolerance "
         "edge factor line width structure diameter size statistic").split()
rng = random.Random(1201)
text = bytearray()
while len(text) < 60000:
    text += (" ".join(rng.choice(words) for _ in range(rng.randint(4, 12))) +
             ", %d.%02d%%\r\n" % (rng.randint(0, 100), rng.randint(0, 99))).encode("ascii")
inputs = {
    "text": bytes(text[:60000]),
    "random": random.Random(7).randbytes(8192),
    "zeros": bytes(100000),
}
for name in ("text", "random"):
    (out / f"{name}.bin").write_bytes(inputs[name])

# Levels per input: enough to see every level take effect without storing near-copies.
zlib_levels = {"text": (0, 1, 6, 9), "random": (0, 6), "zeros": (1, 9)}
bzip2_levels = {"text": (1, 9), "random": (5,), "zeros": (1, 9)}
for name, data in inputs.items():
    for level in zlib_levels[name]:
        (out / f"zlib_{name}_{level}.bin").write_bytes(zlib.compress(data, level))
    for level in bzip2_levels[name]:
        packed = subprocess.run(["bzip2", f"-{level}", "-c"], input=data, check=True,
                                stdout=subprocess.PIPE).stdout
        (out / f"bzip2_{name}_{level}.bin").write_bytes(packed)

# A decompression bomb: 200 MiB of zeros in under 200 bytes of bzip2 (long runs). Its
# decompression must stop as soon as the output passes what the caller allows.
bomb = subprocess.run(["bzip2", "-9", "-c"], input=bytes(200 << 20), check=True, stdout=subprocess.PIPE).stdout
(out / "bzip2_bomb_200mib.bin").write_bytes(bomb)
