#!/usr/bin/env python3
"""Pictures for the picture plug-in tests, coded by each format's own tools
(cjpeg, cwebp, img2webp), each beside the pixels its reference decoder
(djpeg, dwebp) gives, as a PAM the tests read. Netpbm and PNG files
are written here, each beside the picture it holds: a PAM of red, green,
blue and opacity at the file's own depth (a bitmap's 1 black, a palette
and a transparent colour resolved). pnms.txt and pngs.txt name them.

    make_pictures.py FOLDER
"""
import os
import re
import struct
import subprocess
import sys
import zlib


def pattern(w, h, channels, seed):
    """Smooth ramps, hard edges and a little noise: a scanned page in small."""
    out = bytearray()
    state = seed
    for y in range(h):
        for x in range(w):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            noise = (state >> 16) % 9
            edge = 200 if (x // 23 + y // 17) % 2 else 0
            for c in range(channels):
                if c == 3:  # alpha: clear, opaque and everything between
                    out.append(0 if x < w // 6 else 255 if x > w * 5 // 6 else (x * 7 + y * 3) % 256)
                else:
                    out.append((x * (c + 1) * 3 + y * (3 - c) * 2 + edge + noise) % 256)
    return bytes(out)


def write_pnm(path, w, h, channels, data):
    if channels == 4:
        head = b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (w, h)
    else:
        head = b"P%d\n%d %d\n255\n" % (5 if channels == 1 else 6, w, h)
    with open(path, "wb") as f:
        f.write(head + data)


def write_pam(path, w, h, maxval, pixels):
    """RGBA samples of maxval; two bytes each over 255, big-endian."""
    pack = ">%dH" if maxval > 255 else "%dB"
    data = b"".join(struct.pack(pack % len(px), *px) for px in pixels)
    head = b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL %d\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (w, h, maxval)
    with open(path, "wb") as f:
        f.write(head + data)


def write_netpbm(folder, kind, w, h, maxval):
    """Plain (P1-P3) or raw (P4-P6), with comments wherever the format allows
    them; samples spread over 0..maxval; a raw bitmap's unused bits past each
    row's end set, as a file may have them."""
    plain, bitmap, channels = kind <= 3, kind % 3 == 1, 3 if kind % 3 == 0 else 1
    pnm = b"P%d#c\n %d\t#c\r%d" % (kind, w, h) + (b"#c\n" if bitmap else b"\n#c\n%d" % maxval + (b" " if plain else b"#c\n"))
    shown = []
    for y in range(h):
        packed = bytearray((w + 7) // 8)
        packed[-1] = (1 << (7 - (w - 1) % 8)) - 1
        for x in range(w):
            s = [(x * 7919 + y * 104729 + c * 31) % (maxval + 1) for c in range(channels)]
            for c in range(channels):
                if plain:
                    pnm += b"%d" % s[c] + (b"" if bitmap and x % 2 else b" " if x % 3 else b"#c\n")
                elif bitmap:
                    packed[x // 8] |= s[c] << (7 - x % 8)
                else:
                    pnm += s[c].to_bytes(2 if maxval > 255 else 1, "big")
            shown.append(([1 - s[0]] if bitmap else s) * (3 // channels) + [maxval])
        pnm += packed if bitmap and not plain else b""
    name = "p%d_%dx%d_%d" % (kind, w, h, maxval)
    with open(os.path.join(folder, name + ".pnm"), "wb") as f:
        f.write(pnm)
    write_pam(os.path.join(folder, name + ".pnm.pam"), w, h, maxval, shown)
    return name


PNG_TYPES = {"grey": (0, 1), "rgb": (2, 3), "pal": (3, 1), "greya": (4, 2), "rgba": (6, 4)}
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def write_png(folder, kind, depth, interlaced, trns, w=37, h=21):
    """Every fifth pixel has the transparent colour's samples; a palette's
    first half of entries has opacities, the rest stays opaque. Rows are
    filtered with none, sub and up in turn."""
    ctype, channels = PNG_TYPES[kind]
    top = (1 << depth) - 1
    key = [(top // 3 + c) % (top + 1) for c in range(3)]
    entries = 200 if depth == 8 else 1 << depth
    palette = [[(i * 37 + c * 91) % 256 for c in range(3)] for i in range(entries)]
    alphas = [(i * 53) % 256 for i in range(entries // 2)] if trns else []

    def sample(x, y, c):
        if (x + 2 * y) % 5 == 0 and c < 3:
            return key[c]
        mix = ((x * 7919 + y * 104729 + c * 31) * 2654435761 & 0xFFFFFFFF) >> 7
        return mix % entries if kind == "pal" else mix & top

    def shown(x, y):
        s = [sample(x, y, c) for c in range(channels)]
        if kind == "pal":
            return palette[s[0]] + [alphas[s[0]] if s[0] < len(alphas) else 255]
        rgb = s[:3] if channels >= 3 else s[:1] * 3
        if channels % 2 == 0:  # an alpha channel
            return rgb + s[-1:]
        return rgb + [0 if trns and s == key[:channels] else top]

    image = b""
    for x0, y0, dx, dy in ADAM7 if interlaced else [(0, 0, 1, 1)]:
        prior = None
        for y in range(y0, h, dy) if x0 < w else []:
            bits = "".join(format(sample(x, y, c), "0%db" % depth) for x in range(x0, w, dx) for c in range(channels))
            raw = int(bits + "0" * (-len(bits) % 8), 2).to_bytes((len(bits) + 7) // 8, "big")
            bpp, f, prior = max(1, channels * depth // 8), y % 3, prior or bytes(len(raw))
            predict = lambda i: 0 if f == 0 else prior[i] if f == 2 else raw[i - bpp] if i >= bpp else 0
            image += bytes([f] + [(raw[i] - predict(i)) % 256 for i in range(len(raw))])
            prior = raw
    png = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, ctype, 0, 0, interlaced))
    if kind == "pal":
        png += png_chunk(b"PLTE", bytes(sum(palette, [])))
        png += png_chunk(b"tRNS", bytes(alphas)) if trns else b""
    elif trns:
        png += png_chunk(b"tRNS", b"".join(struct.pack(">H", k) for k in key[:channels]))
    png += png_chunk(b"IDAT", zlib.compress(image)) + png_chunk(b"IEND", b"")
    name = "%s%d%s%s_%dx%d" % (kind, depth, "i" if interlaced else "", "t" if trns else "", w, h)
    with open(os.path.join(folder, name + ".png"), "wb") as f:
        f.write(png)
    write_pam(os.path.join(folder, name + ".png.pam"), w, h, 255 if kind == "pal" else top,
              [shown(x, y) for y in range(h) for x in range(w)])
    return name


def to_pam(path):
    """A P5 or P6 reference picture (maxval 255) rewritten as the PAM the tests read."""
    with open(path, "rb") as f:
        data = f.read()
    m = re.match(rb"P([56])\s+(\d+)\s+(\d+)\s+255\s", data)
    if m:
        n, pixels = 1 if m[1] == b"5" else 3, data[m.end():]
        write_pam(path, int(m[2]), int(m[3]), 255,
                  [list(pixels[i:i + n]) * (3 // n) + [255] for i in range(0, len(pixels), n)])


def run(*args):
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if done.returncode != 0:
        sys.exit("%s failed:\n%s" % (" ".join(args), done.stdout.decode(errors="replace")))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    p = lambda name: os.path.join(out, name)

    # Odd sizes, so that the last blocks and subsampled chroma are partial.
    write_pnm(p("colour.ppm"), 301, 203, 3, pattern(301, 203, 3, 1))
    write_pnm(p("grey.pgm"), 301, 203, 1, pattern(301, 203, 1, 2))
    write_pnm(p("alpha.pam"), 157, 93, 4, pattern(157, 93, 4, 3))
    write_pnm(p("alpha2.pam"), 157, 93, 4, pattern(157, 93, 4, 7))
    write_pnm(p("frame1.ppm"), 64, 48, 3, pattern(64, 48, 3, 4))
    write_pnm(p("frame2.ppm"), 64, 48, 3, pattern(64, 48, 3, 5))
    write_pnm(p("small.ppm"), 32, 24, 3, pattern(32, 24, 3, 6))

    jpegs = {
        "c444": ["-sample", "1x1", "colour.ppm"],
        "c422": ["-sample", "2x1", "colour.ppm"],
        "c420": ["-sample", "2x2", "colour.ppm"],
        "progressive": ["-progressive", "-sample", "2x2", "colour.ppm"],
        "restarts": ["-restart", "2", "-sample", "2x2", "colour.ppm"],
        "grey": ["-grayscale", "grey.pgm"],
    }
    with open(p("jpegs.txt"), "w") as f:
        f.write("".join("%s.jpg %s.jpg.pnm\n" % (name, name) for name in ["c420"] + [n for n in jpegs if n != "c420"]))
    for name, args in jpegs.items():
        run("cjpeg", "-quality", "85", *args[:-1], "-outfile", p(name + ".jpg"), p(args[-1]))
        run("djpeg", "-pnm", "-outfile", p(name + ".jpg.pnm"), p(name + ".jpg"))

    # Every EXIF orientation: an APP1 segment whose first IFD holds another tag,
    # then the orientation; even ones in big-endian order.
    with open(p("c420.jpg"), "rb") as f:
        jpeg = f.read()
    for o in range(1, 9):
        e = ">" if o % 2 == 0 else "<"
        exif = b"Exif\0\0" + (b"MM" if o % 2 == 0 else b"II") + struct.pack(e + "HIHHHI4sHHIHHI", 42, 8, 2, 0x010F, 2, 4,
                                                                          b"abc", 0x0112, 3, 1, o, 0, 0)
        with open(p("c420_o%d.jpg" % o), "wb") as f:
            f.write(jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(exif) + 2) + exif + jpeg[2:])

    webps = {
        "lossy": (["-q", "75"], "colour.ppm", "-ppm"),
        "lossless": (["-lossless"], "colour.ppm", "-ppm"),
        "alpha_lossy": (["-q", "75", "-alpha_q", "90"], "alpha.pam", "-pam"),
        "alpha_lossless": (["-lossless", "-exact"], "alpha.pam", "-pam"),
    }
    for name, (args, source, kind) in webps.items():
        run("cwebp", "-quiet", *args, p(source), "-o", p(name + ".webp"))
        run("dwebp", "-quiet", kind, p(name + ".webp"), "-o", p(name + ".webp.pnm"))

    # Animated: the first frame, lossless, is the source itself.
    run("img2webp", "-loop", "0", "-lossless", "-d", "100", p("frame1.ppm"), "-d", "100", p("frame2.ppm"),
        "-o", p("animated.webp"))
    # A first frame smaller than the canvas, at (8, 6).
    run("cwebp", "-quiet", "-lossless", p("small.ppm"), "-o", p("small.webp"))
    run("cwebp", "-quiet", "-lossless", p("frame2.ppm"), "-o", p("frame2.webp"))
    run("webpmux", "-frame", p("small.webp"), "+100+8+6", "-frame", p("frame2.webp"), "+100", "-loop", "0",
        "-o", p("offset.webp"))
    # Lossy with alpha: the reference is the first frame taken out whole.
    run("img2webp", "-loop", "0", "-lossy", "-q", "75", p("alpha.pam"), p("alpha2.pam"), "-o",
        p("animated_alpha.webp"))
    run("webpmux", "-get", "frame", "1", p("animated_alpha.webp"), "-o", p("animated_alpha_1.webp"))
    run("dwebp", "-quiet", "-pam", p("animated_alpha_1.webp"), "-o", p("animated_alpha.webp.pnm"))
    # The list: a file and the picture it holds; for an animation's first
    # frame smaller than its canvas, the canvas size and where the frame
    # header puts the frame (offsets stored halved, 24 bits each).
    with open(p("animated_alpha.webp"), "rb") as f:
        animated = f.read()
    at = animated.find(b"ANMF") + 8
    x, y = (2 * int.from_bytes(animated[i:i + 3], "little") for i in (at, at + 3))
    with open(p("webps.txt"), "w") as f:
        f.write("".join("%s.webp %s.webp.pnm\n" % (name, name) for name in webps))
        f.write("animated.webp frame1.ppm\noffset.webp small.ppm 64 48 8 6\n")
        f.write("animated_alpha.webp animated_alpha.webp.pnm 157 93 %d %d\n" % (x, y))

    # Netpbm: every kind; raw 8-bit colour of maxval 255 has a path of its own, four pixels at a time.
    pnms = [(6, 301, 203, 65535), (1, 33, 5, 1), (4, 33, 5, 1), (4, 8, 3, 1), (2, 5, 3, 255), (5, 5, 3, 255),
            (5, 2, 4, 1000), (5, 3, 2, 1), (3, 3, 2, 1000), (6, 3, 3, 255), (6, 1, 2, 1), (6, 5, 4, 65535),
            (3, 2, 2, 65535), (2, 7, 2, 1), (6, 130, 70, 255), (5, 40, 300, 255)]
    with open(p("pnms.txt"), "w") as f:
        f.write("".join("%s.pnm %s.pnm.pam\n" % (name, name) for name in (write_netpbm(out, *v) for v in pnms)))

    # PNG: every colour type and depth, interlaced or not, with and without
    # a transparent colour; pngs.txt names them.
    pngs = [("grey", 1, 0, 0), ("grey", 2, 1, 0), ("grey", 4, 0, 1, 13, 9), ("grey", 8, 0, 1), ("grey", 16, 1, 0),
            ("grey", 16, 0, 1, 11, 7), ("greya", 8, 0, 0), ("greya", 16, 1, 0), ("rgb", 8, 0, 0), ("rgb", 8, 1, 1),
            ("rgb", 16, 0, 0), ("rgb", 16, 1, 1, 3, 9), ("rgba", 8, 0, 0), ("rgba", 8, 1, 0, 1, 1), ("rgba", 16, 1, 0),
            ("pal", 1, 0, 0), ("pal", 2, 1, 0, 5, 3), ("pal", 4, 1, 1), ("pal", 8, 0, 1), ("pal", 8, 0, 0, 301, 203),
            ("rgba", 16, 1, 0, 301, 203), ("rgba", 8, 0, 0, 40, 300)]
    with open(p("pngs.txt"), "w") as f:
        f.write("".join("%s.png %s.png.pam\n" % (name, name) for name in (write_png(out, *v) for v in pngs)))
    for name in [n + ".jpg.pnm" for n in jpegs] + [n + ".webp.pnm" for n in webps] + ["frame1.ppm", "small.ppm"]:
        to_pam(p(name))
    open(p(".stamp"), "w").close()


if __name__ == "__main__":
    main()
