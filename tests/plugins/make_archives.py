#!/usr/bin/env python3
"""Writes the archives the archive plug-in tests read, and what each must list.

    make_archives.py OUTPUT_FOLDER

Python's zipfile and tarfile, the 7z program, and a small ZIP writer of our
own for what those refuse to write (Shift-JIS names without the UTF-8 flag,
hostile names, lying sizes and checksums, broken directories).

manifest.txt, one line per entry that must be listed, in archive order:
    archive flags name size crc32 (hex)
the name as the plug-in lists it under code page 932 (in that code page, '\'
separated, no spaces).
flags: 'cp932' (the name holds only under code page 932), 'fail' (GetFile
must fail), '-' (none). hostile.txt names the archives that may fail whole;
every entry they list must either fail or give the bytes of a manifest entry.
"""
import hashlib
import os
import random
import shutil
import struct
import subprocess
import sys
import tarfile
import zipfile
import zlib

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
manifest = []
hostile = []


def content(name, size):
    """Picture-like bytes, the same for the same name and size everywhere:
    noisy rows with flat runs, deflating about 4:1."""
    rnd = random.Random(hashlib.sha256(f"{name}:{size}".encode()).digest())
    data = bytearray()
    while len(data) < size:
        if rnd.random() < 0.25:
            data += rnd.randbytes(min(64, size - len(data)))
        else:
            data += bytes([rnd.randrange(256)]) * min(rnd.randrange(4, 200), size - len(data))
    return bytes(data)


def page_size(name):
    return 500 + int(hashlib.sha256(name.encode()).hexdigest()[:6], 16) % 6000


def expect(archive, name, data, flags="-"):
    assert " " not in name
    manifest.append(f"{archive} {flags} {name.replace('/', chr(92))} {len(data)} {zlib.crc32(data):08x}")


# --- Our own ZIP writer -----------------------------------------------------
class ZipEntry:
    def __init__(self, name, data, method=8, flags=0, crc=None, size=None, csize=None, offset=None, extra=b""):
        self.name = name if isinstance(name, bytes) else name.encode("ascii")
        self.data = data
        self.method, self.flags = method, flags
        self.crc = zlib.crc32(data) if crc is None else crc
        if method == 8:
            c = zlib.compressobj(6, zlib.DEFLATED, -15)
            self.packed = c.compress(data) + c.flush()
        else:
            self.packed = data
        self.size = len(data) if size is None else size
        self.csize = len(self.packed) if csize is None else csize
        self.offset = offset  # forced local header offset in the directory
        self.extra = extra


def write_zip(path, entries, order=None, cd_offset=None, count=None, cut=None):
    blob = bytearray()
    offsets = []
    for e in entries:
        offsets.append(len(blob))
        blob += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, e.flags, e.method, 0, 0x21, e.crc, e.csize & 0xFFFFFFFF,
                            e.size & 0xFFFFFFFF, len(e.name), len(e.extra)) + e.name + e.extra + e.packed
    cd_start = len(blob)
    for i in (order if order is not None else range(len(entries))):
        e = entries[i]
        off = offsets[i] if e.offset is None else e.offset
        blob += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, e.flags, e.method, 0, 0x21, e.crc,
                            e.csize & 0xFFFFFFFF, e.size & 0xFFFFFFFF, len(e.name), len(e.extra), 0, 0, 0, 0,
                            off & 0xFFFFFFFF) + e.name + e.extra
    cd_size = len(blob) - cd_start
    n = len(entries) if count is None else count
    blob += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, n, n, cd_size, cd_start if cd_offset is None else cd_offset, 0)
    if cut is not None:
        blob = blob[:cut(cd_start, len(blob))]
    with open(os.path.join(out, path), "wb") as f:
        f.write(blob)


def pages(names):
    return [(n, content(n, page_size(n))) for n in names]


# --- Valid archives ---------------------------------------------------------
def zip_with(archive, items, compression, folders=(), **kw):
    with zipfile.ZipFile(os.path.join(out, archive), "w", compression) as z:
        for folder in folders:
            z.writestr(zipfile.ZipInfo(folder), b"")
        for name, data in items:
            info = zipfile.ZipInfo(name, (2024, 5, 1, 12, 0, 0))
            info.compress_type = compression
            with z.open(info, "w", **kw) as f:
                f.write(data)
            expect(archive, name, data)


zip_with("stored.zip", pages(["img/p01.jpg", "img/p02.jpg"]) + [("img/empty.txt", b"")], zipfile.ZIP_STORED,
         folders=["img/"])
zip_with("zip64.zip", pages(["a/p1.png", "a/p2.png", "a/p3.png"]), zipfile.ZIP_DEFLATED, force_zip64=True)

# Written in shuffled order: the listing must come out in natural order.
shuffled = ["p10.jpg", "sub/P10.jpg", "P9.jpg", "Sub2/a.jpg", "a.jpg", "p1.jpg", "sub/p2.jpg", "_x.jpg",
            "p01b.jpg", "sub/deep/z.jpg", "sub.jpg"]
zip_with("shuffled.zip", pages(shuffled), zipfile.ZIP_DEFLATED)

# Python marks non-ASCII names as UTF-8. 'café' and the emoji are not in code page 932.
utf8 = [("日本語/表紙.jpg", "日本語/表紙.jpg"), ("café.jpg", "caf_.jpg"), ("smile😀.png", "smile_.png"),
        ("caf\u00ea.jpg", "caf_~4.jpg")]
with zipfile.ZipFile(os.path.join(out, "utf8.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for stored, listed in utf8:
        data = content(stored, page_size(stored))
        z.writestr(stored, data)
        expect("utf8.zip", listed, data, "cp932")

# Shift-JIS names with no UTF-8 flag. 表 is 95 5C and ソ is 83 5C (trail byte
# '\'); ア is 83 41 and ャ is 83 61 (trail bytes 'A' and 'a').
sjis_names = ["表紙.jpg", "ソ/ア.jpg", "ソ/ャ.jpg", "表/01.jpg"]
entries = []
for n in sjis_names:
    data = content(n, page_size(n))
    entries.append(ZipEntry(n.encode("cp932"), data))
    expect("sjis.zip", n, data, "cp932")
write_zip("sjis.zip", entries)

# Names that lead outside the archive are never listed. They hold the bytes
# of the listed entry: a mutation that turns one into a harmless name (a
# control character in place of the drive colon) may rightly list it.
bad_names = [b"../evil.jpg", b"/abs.jpg", b"\\abs2.jpg", b"C:/x.jpg", b"c:y.jpg", b"a/../../b.jpg", b"a/b/../../../c.jpg"]
ok = content("ok.jpg", 300)
write_zip("names.zip", [ZipEntry(n, ok) for n in bad_names] + [ZipEntry(b"./dot/./ok.jpg", ok)])
expect("names.zip", "dot/ok.jpg", ok)

# Listed, but not readable: encrypted (flag bit 0) and an unknown method.
good = content("good.jpg", 700)
write_zip("methods.zip", [ZipEntry(b"locked.jpg", content("locked.jpg", 400), method=0, flags=1),
                          ZipEntry(b"odd.jpg", content("odd.jpg", 400), method=20), ZipEntry(b"good.jpg", good)])
expect("methods.zip", "locked.jpg", content("locked.jpg", 400), "fail")
expect("methods.zip", "odd.jpg", content("odd.jpg", 400), "fail")
expect("methods.zip", "good.jpg", good)

# An entry of 5 GiB (declared in its ZIP64 field) is not listed.
ok4 = content("ok4.jpg", 800)
huge5 = ZipEntry(b"over4g.bin", b"x" * 64, size=0xFFFFFFFF, csize=0xFFFFFFFF,
                 extra=struct.pack("<HHQQ", 1, 16, 5 << 30, 0))
huge5.extra = struct.pack("<HHQQ", 1, 16, 5 << 30, len(huge5.packed))
write_zip("over4g.zip", [huge5, ZipEntry(b"ok4.jpg", ok4)])
expect("over4g.zip", "ok4.jpg", ok4)

# Ten thousand entries.
with zipfile.ZipFile(os.path.join(out, "many.zip"), "w", zipfile.ZIP_STORED) as z:
    for i in range(10000):
        name, data = f"d{i // 1000}/e{i}.txt", f"entry {i}\n".encode()
        z.writestr(name, data)
        expect("many.zip", name, data)

# Tar, plain and through each compressor; pax names are UTF-8.
tar_pages = pages(["t/001.png", "t/002.png", "t/表.png"])
for archive, mode in [("book.tar", "w"), ("book.tar.gz", "w:gz"), ("book.tar.bz2", "w:bz2"), ("book.tar.xz", "w:xz")]:
    with tarfile.open(os.path.join(out, archive), mode, format=tarfile.PAX_FORMAT) as t:
        for name, data in tar_pages:
            info = tarfile.TarInfo(name)
            info.size = len(data)
            info.mtime = 1700000000
            t.addfile(info, __import__("io").BytesIO(data))
            expect(archive, name, data, "cp932" if "表" in name else "-")

# Solid 7z, with its folder entry.
work = os.path.join(out, "7zwork")
shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "pages"))
for name, data in pages([f"pages/{i:03d}.jpg" for i in range(1, 31)]):
    with open(os.path.join(work, name), "wb") as f:
        f.write(data)
    expect("solid.7z", name, data)
target = os.path.join(out, "solid.7z")
if os.path.exists(target):
    os.remove(target)
subprocess.run(["7z", "a", "-t7z", "-ms=on", "-mx=5", target, "pages"], cwd=work, check=True,
               stdout=subprocess.DEVNULL)
shutil.rmtree(work)

# --- Hostile archives (each may fail whole) --------------------------------
base = [ZipEntry(f"h{i}.jpg".encode(), content(f"h{i}.jpg", 900 + i)) for i in range(3)]
for e in base:
    expect("-", e.name.decode(), e.data)


def hostile_zip(name, entries, **kw):
    write_zip(name, entries, **kw)
    hostile.append(name)


def with_lie(**kw):
    data = content("lie.bin", 1000)
    return base[:1] + [ZipEntry(b"lie.bin", data, method=0, **kw)] + base[1:]


hostile_zip("cd_truncated.zip", base, cut=lambda cd, end: cd + (end - cd) // 2)
hostile_zip("cd_missing.zip", base, cut=lambda cd, end: cd)
hostile_zip("offset_past_end.zip", base[:1] + [ZipEntry(b"h9.jpg", content("h9.jpg", 50), offset=1 << 30)])
hostile_zip("size_short.zip", with_lie(size=500, csize=500))
hostile_zip("size_long.zip", with_lie(size=5000))
hostile_zip("size_long_packed.zip", with_lie(size=5000, csize=5000))
hostile_zip("crc_bad.zip", with_lie(crc=0x12345678))
hostile_zip("overlap.zip", base + [ZipEntry(b"h0copy.jpg", base[0].data, offset=0)])
hostile_zip("cd_loops.zip", base, cd_offset=0xFFFFFFF0, count=0xFFFF)
hostile_zip("cd_count_lies.zip", base, count=0xFFFF)
hostile_zip("cd_points_at_end.zip", base, cd_offset=0)
# 4 GB declared over 1 MB of data.
big = ZipEntry(b"huge.bin", content("huge.bin", 1 << 20), method=8, size=4000000000)
hostile_zip("declared_4gb.zip", [big] + base[:1])

with open(os.path.join(out, "manifest.txt"), "w", encoding="cp932") as f:
    f.write("\n".join(manifest) + "\n")
with open(os.path.join(out, "hostile.txt"), "w") as f:
    f.write("\n".join(hostile) + "\n")
