#!/usr/bin/env python3
"""Forges the hostile archives and the fault lesson, with manifest.json: one row per
archive saying what extracting it must print (see ExtractProbe.cpp), and with which
plants, faults, files or earlier run.    make_hostile.py OUTPUT_FOLDER OUTSIDE_FOLDER
Absolute names aim at OUTSIDE_FOLDER (written to by no one), so an escape shows there.
Python's zipfile refuses to write what an attacker sends, so entries are laid out
byte by byte here from fields a row may bend one at a time."""
import hashlib, io, json, os, random, struct, sys, zipfile, zlib

M, T, D = 0xFFFFFFFF, (14 << 11) | (5 << 5) | 29, (29 << 9) | (6 << 5) | 30
TEXT = b"A page of the lesson.\n" * 20
NOISE = random.Random(7).randbytes(3000)
LINK = dict(method=0, ext=0o120777 << 16, made_by=0x314)
SAYS = dict(  # the extraction's texts, by cause
    unsafe="entry name leads outside the destination", control="entry name holds a control character",
    overlap="entry data overlaps another entry", overlap_cd="entry data overlaps the central directory",
    outside="entry data lies outside the archive", damaged="archive structure is damaged",
    zip64="64-bit records are inconsistent", ratio="entry declares an impossible compression ratio",
    space="not enough free space at the destination", method="entry uses an unsupported compression method",
    count="entry count does not match the central directory", crc="CRC check failed",
    encrypted="entry is encrypted and no password is set", size="entry size does not match")
EARLY = {"control", "overlap", "overlap_cd", "outside", "damaged", "zip64", "ratio", "space",
         "count", "method", "encrypted", "unopenable"}  # refused before anything is written


def deflate(data):
    packer = zlib.compressobj(6, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def block(values):  # a ZIP64 extra block
    return struct.pack("<HH", 1, 8 * len(values)) + b"".join(struct.pack("<Q", v) for v in values) if values else b""


class E:  # one entry; k bends: payload crc csize usize flags ext made_by offset z64 z64off c64 l64
    def __init__(s, name, data=TEXT, method=8, **k):
        s.name, s.data, s.method, s.k, s.at = name if isinstance(name, bytes) else name.encode(), data, method, k, 0
        s.payload = k.get("payload", deflate(data) if method == 8 else data)
        s.crc, s.csize, s.usize = k.get("crc", zlib.crc32(data)), k.get("csize", len(s.payload)), k.get("usize", len(data))

    def header(s, central):
        c, u, v, off = s.csize, s.usize, [], s.k.get("offset", s.at)
        if s.k.get("z64"):
            v, c, u = [u, c], M, M
        if central and s.k.get("z64off"):
            v, off = v + [off], M
        x = block(s.k.get("c64" if central else "l64", v))
        fields = (s.k.get("flags", 0), s.method, T, D, s.crc, c, u, len(s.name), len(x))
        if central:
            return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, s.k.get("made_by", 20), 45, *fields,
                               0, 0, 0, s.k.get("ext", 0), off) + s.name + x
        return struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, *fields) + s.name + x


def zip_(entries, prefix=b"", count=None, adjust=False, share=False, end64=None):
    """prefix: bytes before the archive (adjust: offsets count them); share: every central
    record points at the first local entry; end64: ZIP64 end records, fields bent."""
    body, base = b"", len(prefix) if adjust else 0
    for e in entries[:1] if share else entries:
        e.at, body = base + len(body), body + e.header(False) + e.payload
    for e in entries[1:] if share else []:
        e.at = entries[0].at
    cd, at = b"".join(e.header(True) for e in entries), base + len(body)
    n = len(entries) if count is None else count
    end = lambda c, size, off: struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, c & 0xFFFF, c & 0xFFFF, size, off, 0)
    if end64 is None:
        return prefix + body + cd + end(n, len(cd), at)
    c = end64.get("count", n)
    return (prefix + body + cd + struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, c, c, len(cd), at)
            + struct.pack("<IIQI", 0x07064B50, 0, at + len(cd), 1) + end64.get("gap", b"")
            + end(end64.get("count32", 0xFFFF), end64.get("size32", M), M))


def encrypt(password, crc, data):  # traditional ZIP encryption, 12-byte header first
    keys, out = [0x12345678, 0x23456789, 0x34567890], bytearray()
    step = lambda key, byte: ~zlib.crc32(bytes([byte]), ~key & M) & M

    def update(byte):
        keys[0] = step(keys[0], byte)
        keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & M
        keys[2] = step(keys[2], keys[1] >> 24)
    for byte in password:
        update(byte)
    for byte in bytes(range(11)) + bytes([crc >> 24]) + data:
        t = (keys[2] | 2) & 0xFFFF
        out.append(byte ^ (((t * (t ^ 1)) >> 8) & 0xFF))
        update(byte)
    return bytes(out)


def lesson(*extra):  # a launcher that leaves a marker when run, a page, then `extra`
    plist = (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict><key>CFBundleExecutable'
             b"</key><string>Wayfarer</string></dict></plist>\n")
    return [E("Wayfarer.app/Contents/Info.plist", plist), E("pagewright_files/index.html"),
            E("Wayfarer.app/Contents/MacOS/Wayfarer", b'#!/bin/sh\n[ -n "$HOSTILE_MARKER" ] && echo started > "$HOSTILE_MARKER"\n')] + list(extra)


def rows(outside):
    A, part = zip_(lesson(E("notes.txt", NOISE))), TEXT[:-100]
    broken, crc, space = bytearray(deflate(TEXT)), zlib.crc32(part), os.statvfs(outside)
    broken[len(broken) // 2] ^= 0xFF
    free = space.f_bavail * space.f_frsize // 0xFFFFFFFE + 2
    big = random.Random(7).randbytes(3 * 1024 * 1024 + 12345)  # does not deflate: faults strike mid-file
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for e in lesson(E("notes.txt")):
            with z.open(zipfile.ZipInfo(e.name.decode(), (2009, 6, 30, 14, 5, 58)), "w", force_zip64=True) as f:
                f.write(e.data)
    fault = dict(file="fault_none.zip", files={"pagewright_files/media.bin": big})
    notes = dict(files={"notes.txt": TEXT})
    yield "control_lesson", zip_(lesson(E("docs\\readme.txt"), E("deep/a/b/c/d.bin", NOISE, 0), E("empty/", b""), E("n.bin", NOISE))), \
        "ok", dict(files={"docs/readme.txt": TEXT, "deep/a/b/c/d.bin": NOISE, "n.bin": NOISE}, e2e=True)
    yield "good", zip_(lesson(E("bad.txt"))), "ok", {}  # the earlier copy damaged rows must leave
    for i, name in enumerate([b"../evil.txt", b"..", b"a\\..\\..\\evil.txt", b"a/..\\../evil.txt", b"/../../evil.txt",
                              b"../lesson-evil/evil.txt", b"C:\\..\\..\\evil.txt", b"a/b/../../../evil.txt"]):
        yield "name_dotdot_%d" % i, zip_(lesson(E(name))), "unsafe", dict(e2e=i == 0)
    absolute = outside.encode() + b"/evil.txt"
    yield "name_absolute", zip_(lesson(E(absolute), E(absolute.replace(b"/", b"\\")))), "ok", \
        dict(files={absolute.decode().lstrip("/"): TEXT})
    yield "name_dots_that_are_names", zip_(lesson(E(".../a.txt"), E("..x"), E("./b/./c.txt"), E(b"", b""))), "ok", \
        dict(files={".../a.txt": TEXT, "..x": TEXT, "b/c.txt": TEXT})
    yield "name_control_nul", zip_(lesson(E(b"good.txt\0../../evil.txt"))), "control", {}
    yield "name_control_escape", zip_(lesson(E(b"\x1b[31mred\n.txt"))), "control", {}
    # Links: link entries are plain files; links planted in the destination are never followed.
    yield "link_entry_then_through_it", zip_(lesson(E("up", outside.encode(), **LINK), E("up/evil.txt"))), "write", {}
    for where, entry, at, target, says in [("entry", "new.txt", "new.txt", "outside/created.txt", "write"),
                                           ("parent", "sub/evil.txt", "sub", "outside", "write"),
                                           ("hard", "hard.txt", "hard.txt", "outside/hard.txt", "ok"),
                                           ("fifo", "pipe", "pipe", None, "write")]:
        kind = "hardlink" if where == "hard" else "fifo" if target is None else "symlink"
        yield "plant_at_" + where, zip_(lesson(E(entry))), says, dict(
            plants=[[at, kind, target or ""]], files={"hard.txt": TEXT}, e2e=where == "parent")
    # The structure check.
    yield "overlap_shared_local_header", zip_([E("s%d" % i, b"\0" * 50000) for i in range(10)], share=True), "overlap", {}
    yield "overlap_central_directory", zip_(lesson(E("n", NOISE, 0, csize=len(NOISE) + 60))), "overlap_cd", {}
    yield "ratio_4GB", zip_(lesson(E("r", b"x" * 1000, usize=4_000_000_000))), "ratio", {}
    yield "ratio_zip64_petabyte", zip_(lesson(E("r", b"x" * 1000, z64=True, usize=1 << 50))), "ratio", {}
    yield "local_header_past_the_end", zip_(lesson(E("far", offset=10_000_000))), "outside", {}
    yield "local_header_not_there", zip_(lesson(E("nowhere", offset=3))), "damaged", {}
    yield "sizes_beyond_free_space", zip_(lesson(*[E("c%d" % i, b"x", 0, usize=0xFFFFFFFE) for i in range(free)])), "space", {}
    yield "count_wrapped_past_65535", zip_([E("f/%05d" % i, b"", 0) for i in range(65539)]), "count", {}
    yield "count_too_high", zip_(lesson(), count=7), "count", {}
    yield "count_too_low", zip_(lesson(), count=2), "count", {}
    yield "method_bzip2", zip_(lesson(E("packed", method=12, payload=TEXT))), "method", {}
    secret = encrypt(b"pw", zlib.crc32(TEXT), deflate(TEXT))
    yield "encrypted_without_password", zip_(lesson(E("secret", flags=1, payload=secret))), "encrypted", {}
    for cut in (0, 100, len(A) // 2, len(A) - 23):
        yield "truncated_at_%d" % cut, A[:cut], "unopenable", {}
    yield "truncated_in_end_record", A[:-1], "damaged", {}
    # Damaged entries: refused, and an earlier copy at their name is kept.
    ends = dict(first="good")
    yield "short_stored", zip_(lesson(E("bad.txt", method=0, usize=len(TEXT) + 100))), "size", ends
    yield "short_deflated", zip_(lesson(E("bad.txt", usize=len(TEXT) + 500))), "size", ends
    for label, method, payload, pw in [("stored", 0, TEXT, ""), ("deflated", 8, deflate(TEXT), ""),
                                       ("encrypted_stored", 0, encrypt(b"pw", crc, TEXT), "pw"),
                                       ("encrypted_deflated", 8, encrypt(b"pw", crc, deflate(TEXT)), "pw")]:
        yield "long_entry_" + label, zip_(lesson(E("bad.txt", part, method, payload=payload, crc=crc, flags=bool(pw)))), \
            "size", dict(ends, password=pw)
    yield "trailing_bytes", zip_(lesson(E("bad.txt", payload=deflate(TEXT) + b"trailing"))), "size", ends
    yield "crc_stored", zip_(lesson(E("bad.txt", method=0, crc=0x12345678))), "crc", ends
    yield "crc_deflated", zip_(lesson(E("bad.txt", crc=0x12345678))), "crc", ends
    yield "corrupt_deflate_stream", zip_(lesson(E("bad.txt", payload=bytes(broken)))), "crc", ends
    yield "prefixed", zip_(lesson(E("notes.txt")), prefix=b"#!/bin/sh\n" + bytes(999)), "ok", notes
    yield "prefixed_adjusted", zip_(lesson(E("notes.txt")), prefix=b"#!/bin/sh\n" + bytes(999), adjust=True), "ok", notes
    yield "duplicate_names", zip_(lesson(E("notes.txt", b"first\n"), E("notes.txt"))), "ok", notes
    # ZIP64 as other tools write it, then forged.
    yield "zip64_sizes_in_blocks", zip_(lesson(E("notes.txt", z64=True))), "ok", notes
    yield "zip64_offset_in_block", zip_(lesson(E("notes.txt", z64=True, z64off=True))), "ok", notes
    yield "zip64_end_records", zip_(lesson(E("notes.txt")), end64={}), "ok", notes
    yield "zip64_forced_by_zipfile", out.getvalue(), "ok", notes
    for label, bent, end, says in [
            ("marker_without_block", dict(z64=True, c64=[]), None, "zip64"),
            ("block_too_short", dict(z64=True, c64=[len(TEXT)]), None, "zip64"),
            ("local_block_disagrees", dict(z64=True, l64=[len(TEXT) + 1, 0]), None, "zip64"),
            ("local_marker_without_block", dict(z64=True, l64=[]), None, "zip64"),
            ("offset_past_the_end", dict(z64off=True, offset=1 << 40), None, "outside"),
            ("stored_size_past_the_end", dict(z64=True, method=0, csize=1 << 40, usize=1 << 40), None, "outside"),
            ("end_count_too_high", {}, {"count": 5}, "count"), ("end_count_disagrees", {}, {"count32": 3}, "zip64"),
            ("end_size_disagrees", {}, {"size32": 46}, "zip64"), ("locator_apart", {}, {"gap": bytes(8)}, "zip64")]:
        yield "zip64_" + label, zip_(lesson(E("notes.txt", **bent)), end64=end), says, {}
    # The fault sweep: one lesson, a fault per row (shim settings or a file-size limit).
    for label, env, limit, says in [
            ("none", {}, -1, "ok"), ("no_threads", {"FAULT_NO_THREADS": "1"}, -1, "ok"),
            ("write_out_of_reach", {"FAULT_WRITE_AFTER": "100000000"}, -1, "ok"),
            ("one_write_out_of_reach", {"FAULT_EIO_AT": "100000000"}, -1, "ok"),
            ("read_out_of_reach", {"FAULT_READ_EIO_AT": "100000000"}, -1, "ok"),
            ("size_limit_0", {}, 0, "write"), ("size_limit_4096", {}, 4096, "write"),
            ("size_limit_1MiB", {}, 1 << 20, "write"), ("size_limit_2_5MiB", {}, 5 << 19, "write"),
            ("close_fails", {"FAULT_CLOSE": "1"}, -1, "write"),
            ("one_write_fails_at_1MiB", {"FAULT_EIO_AT": "1048576"}, -1, "write"),
            ("one_write_fails_at_3MiB", {"FAULT_EIO_AT": "3145728"}, -1, "write"),
            ("read_fails_at_1MiB", {"FAULT_READ_EIO_AT": "1048576"}, -1, "read"),
            ("read_fails_at_2MiB", {"FAULT_READ_EIO_AT": "2097152"}, -1, "read")]:
        yield "fault_" + label, None if env or limit >= 0 else zip_(lesson(E("pagewright_files/media.bin", big))), says, \
            dict(fault, env=env, limit=limit, e2e=limit == 4096)
    for budget in ("0", "100000", "1572864"):  # a failed file leaves the earlier copy and nothing else
        for unnamed in ("", "1"):
            yield "fault_over_earlier_write_after_%s%s" % (budget, "_no_tmpfile" * bool(unnamed)), None, "write", \
                dict(fault, first="fault_none", env={"FAULT_WRITE_AFTER": budget, "FAULT_NO_TMPFILE": unnamed})


def main():
    folder, manifest = sys.argv[1], []
    os.makedirs(folder, exist_ok=True)
    for name, data, says, bent in rows(sys.argv[2]):
        row = dict(bent)
        row.setdefault("file", name + ".zip")
        row.update(name=name, early=says in EARLY, files={k: hashlib.sha256(v).hexdigest() for k, v in
                   row.get("files", {}).items() if says == "ok"}, fault=name.startswith("fault_"), expect=
                   "open NO\n" if says == "unopenable" else "open YES\ncomplete\nresult YES\n" if says == "ok" else
                   "open YES\nmessage %s\nresult NO\n" % {"write": "Error occurs while writing file",
                                                          "read": "Failed to reading zip file"}.get(says, "Error occurs: " + SAYS.get(says, "")))
        if data is not None:
            with open(os.path.join(folder, row["file"]), "wb") as f:
                f.write(data)
        manifest.append(row)
    with open(os.path.join(folder, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=0)


if __name__ == "__main__":
    main()
