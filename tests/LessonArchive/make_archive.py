#!/usr/bin/env python3
"""Makes the archives the LessonArchive tests read: plain ones with Python's
zipfile, and damaged or crafted ones by patching the bytes zipfile wrote.

usage: make_archive.py KIND OUT [ARG]
  entries OUT JSON   JSON: {"method": "stored"|"deflated"|"bzip2",
                            "entries": [[name, text or null for a folder], ...]}
  any other KIND     one of the crafted archives in CRAFTED below
"""
import io
import json
import struct
import sys
import zipfile

METHODS = {"stored": zipfile.ZIP_STORED, "deflated": zipfile.ZIP_DEFLATED,
           "bzip2": zipfile.ZIP_BZIP2}
STAMP = (2009, 6, 30, 14, 5, 58)


def build(entries, method="deflated"):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", METHODS[method]) as zf:
        for name, text in entries:
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = METHODS[method]
            zf.writestr(info, b"" if text is None else text.encode())
    return bytearray(out.getvalue())


class Layout:
    """Where the records of an archive lie, so single fields can be patched."""

    def __init__(self, data):
        self.data = data
        self.eocd = data.rindex(b"PK\x05\x06")
        (self.count, self.cd_size, self.cd_offset) = struct.unpack_from("<HII", data, self.eocd + 10)
        self.central = []
        pos = self.cd_offset
        for _ in range(self.count):
            self.central.append(pos)
            n, e, c = struct.unpack_from("<HHH", data, pos + 28)
            pos += 46 + n + e + c

    def local(self, i):
        return struct.unpack_from("<I", self.data, self.central[i] + 42)[0]

    def data_start(self, i):
        lh = self.local(i)
        n, e = struct.unpack_from("<HH", self.data, lh + 26)
        return lh + 30 + n + e

    def set_central(self, i, offset, fmt, value):
        struct.pack_into(fmt, self.data, self.central[i] + offset, value)

    def set_local(self, i, offset, fmt, value):
        struct.pack_into(fmt, self.data, self.local(i) + offset, value)

    def set_sizes(self, i, compressed=None, uncompressed=None):
        for setter in (lambda o, v: self.set_central(i, o + 4, "<I", v),
                       lambda o, v: self.set_local(i, o + 2, "<I", v)):
            if compressed is not None:
                setter(16, compressed)
            if uncompressed is not None:
                setter(20, uncompressed)

    def set_count(self, count):
        struct.pack_into("<HH", self.data, self.eocd + 8, count, count)

    def replace_in_names(self, old, new):
        self.data[:] = self.data.replace(old, new)


TEXT = "lesson text " * 40


def crc_stored():
    data = build([("a.txt", TEXT)], "stored")
    data[Layout(data).data_start(0)] ^= 0x01
    return data


def crc_deflated():
    data = build([("a.txt", TEXT)])
    lay = Layout(data)
    lay.set_central(0, 16, "<I", 0x12345678)
    lay.set_local(0, 14, "<I", 0x12345678)
    return data


# More than the writer's 1 MiB buffer, so most of it is written (and summed) by
# the writer's own thread.
LARGE = bytes((i * 7919 + (i >> 12)) % 251 for i in range(3 * 1024 * 1024 + 999))


def crc_large_stored():
    data = build([("a.txt", LARGE.decode("latin-1"))], "stored")
    data[Layout(data).data_start(0) + 1000] ^= 0x01  # inside the first buffer
    return data


def crc_large_deflated():
    data = build([("a.txt", LARGE.decode("latin-1"))])
    lay = Layout(data)
    lay.set_central(0, 16, "<I", 0x12345678)
    lay.set_local(0, 14, "<I", 0x12345678)
    return data


def bad_deflate():
    data = build([("a.txt", TEXT)])
    lay = Layout(data)
    start = lay.data_start(0)
    data[start] = 0xFF  # final block of the reserved type 3: inflate refuses it
    return data


def short_stored():
    data = build([("a.txt", TEXT)], "stored")
    Layout(data).set_sizes(0, uncompressed=len(TEXT) + 100)
    return data


def short_deflated():
    data = build([("a.txt", TEXT)])
    Layout(data).set_sizes(0, uncompressed=len(TEXT) + 100)
    return data


def name_mismatch():
    data = build([("a.txt", TEXT)])
    Layout(data).set_local(0, 26, "<H", 4)
    return data


def empty_prefixed():
    return bytearray(b"not an archive\n") + build([])


def overlap():
    # Two directory records share one entry's data: the classic overlap bomb.
    data = build([("a.txt", TEXT)])
    lay = Layout(data)
    record = bytes(data[lay.central[0]:lay.eocd])
    record = record.replace(b"a.txt", b"b.txt")
    eocd = bytearray(data[lay.eocd:])
    body = data[:lay.eocd] + record
    struct.pack_into("<HHI", eocd, 8, 2, 2, lay.cd_size + len(record))
    return bytearray(body + eocd)


def overlap_cd():
    data = build([("a.txt", TEXT)], "stored")
    Layout(data).set_sizes(0, compressed=len(TEXT) + 10, uncompressed=len(TEXT) + 10)
    return data


def outside():
    data = build([("a.txt", TEXT), ("b.txt", TEXT)])
    Layout(data).set_central(1, 42, "<I", len(data) + 1000)
    return data


def free_space(count):
    data = build([("f%05d.bin" % i, "x") for i in range(count)], "stored")
    lay = Layout(data)
    for i in range(count):
        lay.set_central(i, 24, "<I", 0xFFFFFF00)
    return data


def ratio():
    data = build([("a.txt", "a" * 100000)])
    lay = Layout(data)
    compressed = struct.unpack_from("<I", data, lay.central[0] + 20)[0]
    lay.set_sizes(0, uncompressed=compressed * 2000)
    return data


def count():
    data = build([("a.txt", "a"), ("b.txt", "b"), ("c.txt", "c")])
    Layout(data).set_count(2)
    return data


def wrapped_count():
    # 65,537 entries under a plain 32-bit end record whose count wrapped to 1;
    # zipfile's own 64-bit end records are left out.
    data = build([("e%05d" % i, None if i % 2 else "") for i in range(65537)], "stored")
    eocd = data.rindex(b"PK\x05\x06")
    cd_size, cd_offset = struct.unpack_from("<II", data, eocd + 12)
    end = struct.pack("<4s4H2IH", b"PK\x05\x06", 0, 0, 1, 1, cd_size, cd_offset, 0)
    return data[:cd_offset + cd_size] + bytearray(end)


def control_nul():
    data = build([("aXb.txt", TEXT)])
    Layout(data).replace_in_names(b"aXb.txt", b"a\x00b.txt")
    return data


def control_char():
    return build([("a\x1bb.txt", TEXT)])


def method():
    return build([("a.txt", TEXT)], "bzip2")


def zip64_size():
    data = build([("a.txt", TEXT)], "stored")
    Layout(data).set_central(0, 24, "<I", 0xFFFFFFFF)
    return data


def damaged():
    data = build([("a.txt", TEXT)])
    lay = Layout(data)
    data[lay.central[0] + 3] = 0x09
    return data


CRAFTED = {
    "crc-stored": crc_stored, "crc-deflated": crc_deflated, "bad-deflate": bad_deflate,
    "crc-large-stored": crc_large_stored, "crc-large-deflated": crc_large_deflated,
    "short-stored": short_stored, "short-deflated": short_deflated,
    "name-mismatch": name_mismatch, "empty-prefixed": empty_prefixed,
    "overlap": overlap, "overlap-cd": overlap_cd, "outside": outside, "ratio": ratio,
    "count": count, "wrapped-count": wrapped_count, "control-nul": control_nul,
    "control-char": control_char, "method": method, "zip64-size": zip64_size,
    "damaged": damaged,
}


def main():
    kind, out = sys.argv[1], sys.argv[2]
    if kind == "entries":
        spec = json.loads(sys.argv[3])
        data = build([(n, t) for n, t in spec["entries"]], spec.get("method", "deflated"))
    elif kind == "free-space":
        data = free_space(int(sys.argv[3]))
    else:
        data = CRAFTED[kind]()
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
