#!/usr/bin/env python3
"""Writes the archives bench/archive_plugin_bench.cpp reads.

    make_bench_archives.py OUTPUT_FOLDER

open10000.cbz: 10,000 small stored entries. big.cbz: one 20 MiB entry of
picture-like bytes, deflated about 4:1. solid200.cb7: 200 pages of 100 KiB
in one solid 7z block.
"""
import os
import random
import shutil
import subprocess
import sys
import zipfile

out = sys.argv[1]
os.makedirs(out, exist_ok=True)


def picture_like(rnd, size):
    """Noise runs between flat runs, like scanned pages: about 4:1 under deflate."""
    data = bytearray()
    while len(data) < size:
        if rnd.random() < 0.25:
            data += rnd.randbytes(min(48, size - len(data)))
        else:
            data += bytes([rnd.randrange(256)]) * min(rnd.randrange(8, 140), size - len(data))
    return bytes(data)


rnd = random.Random(58)
with zipfile.ZipFile(os.path.join(out, "open10000.cbz"), "w", zipfile.ZIP_STORED) as z:
    for i in range(10000):
        z.writestr(f"pages/{i:05d}.jpg", f"page {i}\n".encode())

with zipfile.ZipFile(os.path.join(out, "big.cbz"), "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    z.writestr("big.bmp", picture_like(rnd, 20 << 20))

work = os.path.join(out, "solidwork")
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
for i in range(1, 201):
    with open(os.path.join(work, f"{i:03d}.jpg"), "wb") as f:
        f.write(picture_like(rnd, 100 << 10))
target = os.path.join(out, "solid200.cb7")
if os.path.exists(target):
    os.remove(target)
subprocess.run(["7z", "a", "-t7z", "-ms=on", "-mx=5", target, "."], cwd=work, check=True, stdout=subprocess.DEVNULL)
shutil.rmtree(work)
