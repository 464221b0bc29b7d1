#!/usr/bin/env python3
"""Writes the benchmark's three lesson archives (deflate, Python's zipfile) from a
fixed seed, so every run times the same bytes.

    make_lessons.py OUTPUT_FOLDER

many-small.zip  about 5,000 files of 1-40 KB in nested folders, a quarter of
                them incompressible
few-large.zip   three files of about 150 MB: text-like, mixed, incompressible
bundle-like.zip about 850 files: an application bundle plus lesson content
"""

import os
import random
import sys
import zipfile

WORDS = ("lesson page chapter figure answer question learner course module quiz "
         "slide video audio caption module review summary practice example note").split()


def text(rng, size):
    out = bytearray()
    while len(out) < size:
        out += rng.choice(WORDS).encode() + (b"\n" if rng.random() < 0.1 else b" ")
    return bytes(out[:size])


def content(rng, size, incompressible):
    return rng.randbytes(size) if incompressible else text(rng, size)


def write(path, items):
    with zipfile.ZipFile(path + ".part", "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in items:
            info = zipfile.ZipInfo(name, date_time=(2009, 6, 30, 14, 5, 58))
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data)
    os.replace(path + ".part", path)


def launcher():
    plist = (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
             b"<key>CFBundleExecutable</key><string>Wayfarer</string></dict></plist>\n")
    return [("Wayfarer.app/Contents/Info.plist", plist),
            ("Wayfarer.app/Contents/MacOS/Wayfarer", b"#!/bin/sh\nexit 0\n")]


def many_small(rng):
    folders = ["pagewright_files/" + "/".join("d%d" % rng.randrange(6)
                                             for _ in range(rng.randrange(1, 4)))
               for _ in range(120)]
    items = launcher()
    for i in range(5000):
        size = rng.randrange(1024, 40 * 1024)
        items.append(("%s/f%04d.dat" % (rng.choice(folders), i),
                      content(rng, size, rng.random() < 0.25)))
    return items


def few_large(rng):
    block = text(rng, 1 << 20)
    mb150 = 150 << 20
    textual = b"".join(block[i:] + block[:i] for i in range(0, 150 * 4096, 4096))[:mb150]
    mixed = b"".join(text(rng, 1 << 18) if k % 2 else rng.randbytes(1 << 18)
                     for k in range(600))
    return launcher() + [("pagewright_files/video.txt", textual),
                         ("pagewright_files/mixed.bin", mixed),
                         ("pagewright_files/movie.bin", rng.randbytes(mb150))]


def bundle_like(rng):
    app = "pagewright_files/Player.app/Contents/"
    items = launcher() + [(app + "MacOS/Player", rng.randbytes(3 << 20)),
                          (app + "Info.plist", text(rng, 2000))]
    for i in range(150):
        items.append((app + "Resources/r%03d.%s" % (i, rng.choice(["png", "nib", "strings"])),
                      content(rng, rng.randrange(500, 60000), rng.random() < 0.5)))
    for i in range(40):
        items.append((app + "Frameworks/F%02d.framework/F%02d" % (i, i),
                      content(rng, rng.randrange(20000, 400000), rng.random() < 0.7)))
    for i in range(655):
        kind = rng.choice(["html", "js", "css", "png", "jpg", "mp3"])
        size = rng.randrange(2000, 200000 if kind in ("png", "jpg", "mp3") else 30000)
        items.append(("pagewright_files/p%02d/item%03d.%s" % (i % 30, i, kind),
                      content(rng, size, kind in ("png", "jpg", "mp3"))))
    return items


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, make in (("many-small", many_small), ("few-large", few_large),
                       ("bundle-like", bundle_like)):
        path = os.path.join(out, name + ".zip")
        if not os.path.exists(path):
            write(path, make(random.Random(name)))
        print(path)


if __name__ == "__main__":
    main()
