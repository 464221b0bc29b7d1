#!/usr/bin/env python3
"""make_hostile.py OUTPUT OUTSIDE: forges the hostile archives and the fault lesson byte by byte (zipfile
refuses to write what an attacker sends) with manifest.json: what extract_probe must print for each, and
the row's plants, faults, files and earlier run. Absolute names aim at OUTSIDE, where an escape shows."""
import hashlib, io, json, os, random, struct, sys, zipfile, zlib

M, T, D = 0xFFFFFFFF, (14 << 11) | (5 << 5) | 29, (29 << 9) | (6 << 5) | 30
TEXT = b"A page of the lesson.\n" * 20
NOISE = random.Random(7).randbytes(3000)
SAYS = {k: "Error occurs: " + v for k, v in dict(  # the extraction's texts, by cause
    unsafe="entry name leads outside the destination", control="entry name holds a control character",
    overlap="entry data overlaps another entry", overlap_cd="entry data overlaps the central directory",
    outside="entry data lies outside the archive", damaged="archive structure is damaged",
    zip64="64-bit records are inconsistent", ratio="entry declares an impossible compression ratio",
    space="not enough free space at the destination", method="entry uses an unsupported compression method",
    count="entry count does not match the central directory", crc="CRC check failed",
    encrypted="entry is encrypted and no password is set", size="entry size does not match").items()}
SAYS.update(write="Error occurs while writing file", read="Failed to reading zip file", ok="", unopenable="")


def deflate(data):  # a raw stream, as entries hold it
    return zlib.compress(data, 6, -15)


def block(values):  # a ZIP64 extra block
    return struct.pack("<HH", 1, 8 * len(values)) + b"".join(struct.pack("<Q", v) for v in values) if values else b""


class E:  # one entry; k bends: payload crc csize usize flags ext made_by offset z64 z64off c64 l64 lname
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
        return struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, *fields) + s.k.get("lname", s.name) + x


def zip_(entries, prefix=b"", count=None, adjust=False, share=False, end64=None):
    # prefix (adjust: offsets count it); share: all central records point at the first entry
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


ROWS = []


row = lambda name, data, says, **extra: ROWS.append((name, data, says, extra))  # noqa: E731
L = lambda *entries, **layout: zip_(lesson(*entries), **layout)  # noqa: E731 (a lesson's archive)


outside, A, part, notes = sys.argv[2], L(E("notes.txt", NOISE)), TEXT[:-100], {"notes.txt": TEXT}
crc, space, broken = zlib.crc32(part), os.statvfs(outside), bytes(b ^ 0xFF * (i == 14) for i, b in enumerate(deflate(TEXT)))  # one byte flipped
big = random.Random(7).randbytes(3 * 1024 * 1024 + 12345)  # does not deflate: faults strike mid-file
row("control_lesson", L(E("docs\\readme.txt"), E("deep/a/b/c/d.bin", NOISE, 0), E("empty/", b""), E("n.bin", NOISE)),
    "ok", files={"docs/readme.txt": TEXT, "deep/a/b/c/d.bin": NOISE, "n.bin": NOISE}, e2e=True)
row("good", L(E("bad.txt")), "ok")  # the earlier copy that damaged entries must leave
for i, name in enumerate([b"../evil.txt", b"..", b"a\\..\\..\\evil.txt", b"a/..\\../evil.txt", b"/../../evil.txt",
                          b"../lesson-evil/evil.txt", b"C:\\..\\..\\evil.txt", b"a/b/../../../evil.txt"]):
    row("name_dotdot_%d" % i, L(E(name)), "unsafe", e2e=i == 0)
absolute = outside.encode() + b"/evil.txt"
row("name_absolute_or_dots_that_are_names", L(E(absolute), E(absolute.replace(b"/", b"\\")), E(".../a"), E("..x"), E("./b/./c"),
    E(b"", b"")), "ok", files={absolute.decode()[1:]: TEXT, ".../a": TEXT, "..x": TEXT, "b/c": TEXT})
for label, name in [("nul", b"good.txt\0../../evil.txt"), ("escape", b"\x1b[31mred\n.txt")]:
    row("name_control_" + label, L(E(name)), "control")
# A link entry is a plain file; a link planted in the destination is never followed.
row("link_entry_then_through_it", L(E("up", outside.encode(), 0, ext=0o120777 << 16, made_by=0x314), E("up/evil.txt")), "write")
for label, entry, plant, says in [("symlink_at_entry", "new.txt", 'ln -s "$1/outside/created.txt" new.txt', "write"),
                                  ("symlink_at_parent", "sub/evil.txt", 'ln -s "$1/outside" sub', "write"),
                                  ("hardlink_at_entry", "hard.txt", 'ln "$1/outside/hard.txt" hard.txt', "ok"),
                                  ("fifo_at_entry", "pipe", "mkfifo pipe", "write")]:
    row("plant_" + label, L(E(entry)), says, plant=plant, files={"hard.txt": TEXT}, e2e="parent" in label)
# A user's file that merely starts with the leftover prefix is no leftover: the sweep keeps it.
row("user_file_with_the_leftover_prefix", L(), "ok", files={"pagewright_files/.unspool-partial-notes": b"notes\n"},
    plant="mkdir pagewright_files && echo notes > pagewright_files/.unspool-partial-notes")
# The structure check.
row("overlap_shared_local_header", zip_([E("s%d" % i, b"\0" * 50000) for i in range(10)], share=True), "overlap")
# Neighbours: data running one byte into the next local header is refused; touching is not.
for label, more, says in [("by_one_byte", 1, "overlap"), ("touching", 0, "ok")]:
    row("overlap_neighbours_" + label, L(E("a", NOISE, csize=len(deflate(NOISE)) + more), E("b")), says)
row("overlap_central_directory", L(E("n", NOISE, 0, csize=len(NOISE) + 60)), "overlap_cd")
row("ratio_4GB", L(E("r", b"x" * 1000, usize=4_000_000_000)), "ratio")
row("local_header_past_the_end", L(E("far", offset=10_000_000)), "outside")
row("local_header_not_there", L(E("nowhere", offset=3)), "damaged")
# A reader going by local headers would write another file than the central record names.
row("local_header_names_another_file", L(E("notes.txt", lname=b"evil!.txt")), "damaged")
row("sizes_beyond_free_space", L(*[E("c%d" % i, b"x", 0, usize=M - 1)
                                   for i in range(space.f_bavail * space.f_frsize // (M - 1) + 2)]), "space")
row("count_wrapped_past_65535", zip_([E("f/%05d" % i, b"", 0) for i in range(65539)]), "count")
for count in (2, 7):
    row("count_%d_of_3" % count, L(count=count), "count")
row("method_bzip2", L(E("packed", method=12, payload=TEXT)), "method")
# An empty file encrypted as Info-ZIP stores it: stored, the encryption header alone.
row("encrypted_empty_entry", L(E("empty.txt", b"", 0, flags=9, payload=encrypt(b"pw", 0, b""))), "ok", password="pw")
row("encrypted_without_password", L(E("secret", flags=1, payload=encrypt(b"pw", zlib.crc32(TEXT), deflate(TEXT)))), "encrypted")
for cut in (0, 100, len(A) // 2, len(A) - 23):
    row("truncated_at_%d" % cut, A[:cut], "unopenable")
row("truncated_in_end_record", A[:-1], "damaged")
# An archive of nothing (its end record alone, or after other bytes) extracts nothing and completes.
row("empty_archive", zip_([]), "ok")
row("empty_archive_prefixed", zip_([], prefix=b"#!/bin/sh\n", adjust=True), "ok")
# Damaged entries: refused, and the earlier copy at their name is kept.
for method in (0, 8):
    row("short_%d" % method, L(E("bad.txt", method=method, usize=len(TEXT) + 100)), "size", first="good")
    row("crc_%d" % method, L(E("bad.txt", method=method, crc=0x12345678)), "crc", first="good")
for label, method, payload, pw in [("stored", 0, TEXT, ""), ("deflated", 8, deflate(TEXT), ""),
                                   ("encrypted_stored", 0, encrypt(b"pw", crc, TEXT), "pw"),
                                   ("encrypted_deflated", 8, encrypt(b"pw", crc, deflate(TEXT)), "pw")]:
    row("long_entry_" + label, L(E("bad.txt", part, method, payload=payload, crc=crc, flags=bool(pw))), "size",
        first="good", password=pw)
row("trailing_bytes", L(E("bad.txt", payload=deflate(TEXT) + b"trailing")), "size", first="good")
row("corrupt_deflate_stream", L(E("bad.txt", payload=broken)), "crc", first="good")
for adjust in (False, True):
    row("prefixed_adjusted_%d" % adjust, L(E("notes.txt"), prefix=b"#!/bin/sh\n" + bytes(999), adjust=adjust), "ok", files=notes)
row("duplicate_names", L(E("notes.txt", b"first\n"), E("notes.txt")), "ok", files=notes)
# ZIP64 as other tools write it, then forged.
for label, bent, end in [("sizes_in_blocks", dict(z64=True), None), ("offset_in_block", dict(z64=True, z64off=True), None),
                         ("end_records", {}, {})]:
    row("zip64_" + label, L(E("notes.txt", **bent), end64=end), "ok", files=notes)
out = io.BytesIO()
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    for e in lesson(E("notes.txt")):
        z.open(zipfile.ZipInfo(e.name.decode(), (2009, 6, 30, 14, 5, 58)), "w", force_zip64=True).write(e.data)
row("zip64_forced_by_zipfile", out.getvalue(), "ok", files=notes)
for label, bent, end, says in [
        ("marker_without_block", dict(z64=True, c64=[]), None, "zip64"), ("locator_apart", {}, {"gap": bytes(8)}, "zip64"),
        ("block_too_short", dict(z64=True, c64=[len(TEXT)]), None, "zip64"), ("end_count_too_high", {}, {"count": 5}, "count"),
        ("local_block_disagrees", dict(z64=True, l64=[len(TEXT) + 1, 0]), None, "zip64"),
        ("local_marker_without_block", dict(z64=True, l64=[]), None, "zip64"),
        ("offset_past_the_end", dict(z64off=True, offset=1 << 40), None, "outside"),
        ("stored_size_past_the_end", dict(z64=True, method=0, csize=1 << 40, usize=1 << 40), None, "outside"),
        ("end_count_disagrees", {}, {"count32": 3}, "zip64"), ("end_size_disagrees", {}, {"size32": 46}, "zip64")]:
    row("zip64_" + label, L(E("notes.txt", **bent), end64=end), says)
# The fault sweep: one lesson, one fault per row (shim settings or a file-size limit); the
# last rows fail a file over an earlier copy, which must stay, with and without unnamed files.
fault = dict(file="fault_none.zip", files={"pagewright_files/media.bin": big})
row("fault_none", L(E("pagewright_files/media.bin", big)), "ok", **fault)
for label, env, limit, says in [
        ("no_threads", {"FAULT_NO_THREADS": "1"}, -1, "ok")] + [
        ("size_limit_%d" % n, {}, n, "write") for n in (0, 4096, 1 << 20, 5 << 19)] + [
        ("one_write_fails_at_%d" % n, {"FAULT_EIO_AT": str(n)}, -1, "write") for n in (1 << 20, 3 << 20)] + [
        ("read_fails_at_%d" % n, {"FAULT_READ_EIO_AT": str(n)}, -1, "read") for n in (1 << 20, 2 << 20)] + [
        ("over_earlier_write_after_%s%s" % (n, "_no_tmpfile" * len(u)), {"FAULT_WRITE_AFTER": n, "FAULT_NO_TMPFILE": u}, -1, "write")
        for n in ("0", "100000", "1572864") for u in ("", "1")]:
    row("fault_" + label, None, says, env=env, limit=limit, e2e=limit == 4096, first="fault_none" * ("over" in label), **fault)

os.makedirs(sys.argv[1], exist_ok=True)
for name, data, says, extra in ROWS:
    extra.update(name=name, fault=name.startswith("fault_"), files={
        k: hashlib.sha256(v).hexdigest() for k, v in extra.get("files", {}).items() if says == "ok"}, expect=
        "open NO\n" if says == "unopenable" else "open YES\ncomplete\nresult YES\n" if says == "ok" else
        "open YES\nmessage %s\nresult NO\n" % SAYS[says])
    extra.setdefault("file", name + ".zip")
    if data is not None:
        with open(os.path.join(sys.argv[1], extra["file"]), "wb") as f:
            f.write(data)
with open(os.path.join(sys.argv[1], "manifest.json"), "w") as f:
    json.dump([extra for _, _, _, extra in ROWS], f, indent=0)
