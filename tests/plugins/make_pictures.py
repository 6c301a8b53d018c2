#!/usr/bin/env python3
"""Pictures for the picture plug-in tests, coded by each format's own tools
(cjpeg, cwebp, img2webp), each beside the pixels its reference decoder
(djpeg, dwebp) gives, as Netpbm files the tests read.

    make_pictures.py FOLDER
"""
import os
import subprocess
import sys


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
    for name, args in jpegs.items():
        run("cjpeg", "-quality", "85", *args[:-1], "-outfile", p(name + ".jpg"), p(args[-1]))
        run("djpeg", "-pnm", "-outfile", p(name + ".jpg.pnm"), p(name + ".jpg"))

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
    open(p(".stamp"), "w").close()


if __name__ == "__main__":
    main()
