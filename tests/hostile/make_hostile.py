#!/usr/bin/env python3
"""make_hostile.py OUTPUT OUTSIDE: forges the hostile archives and the fault lesson byte by byte (zipfile
refuses to write what an attacker sends) with manifest.json: what extract_probe must print for each, and
the row's plants, faults, files and earlier run. Absolute names aim at OUTSIDE, where an escape shows."""
import hashlib, io, json, os, random, struct, sys, zipfile, zlib

MARKER = 0xFFFFFFFF  # a 32-bit field whose value lies in a ZIP64 block
DOS_TIME, DOS_DATE = (14 << 11) | (5 << 5) | 29, (29 << 9) | (6 << 5) | 30  # 14:05:58 on 2009-06-30
TEXT = b"A page of the lesson.\n" * 20
NOISE = random.Random(7).randbytes(3000)
SAYS = {cause: "Error occurs: " + text for cause, text in dict(  # the extraction's texts, by cause
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
    return struct.pack("<HH", 1, 8 * len(values)) + b"".join(struct.pack("<Q", value) for value in values) if values else b""


class Entry:  # one entry; bends: payload crc csize usize flags ext made_by offset z64 z64off c64 l64 lname
    def __init__(self, name, data=TEXT, method=8, **bends):
        self.name = name if isinstance(name, bytes) else name.encode()
        self.data, self.method, self.bends, self.at = data, method, bends, 0  # at: its local header's offset
        self.payload = bends.get("payload", deflate(data) if method == 8 else data)
        self.crc = bends.get("crc", zlib.crc32(data))
        self.csize, self.usize = bends.get("csize", len(self.payload)), bends.get("usize", len(data))

    def header(self, central):
        stored, size, in_block, offset = self.csize, self.usize, [], self.bends.get("offset", self.at)
        if self.bends.get("z64"):
            in_block, stored, size = [size, stored], MARKER, MARKER
        if central and self.bends.get("z64off"):
            in_block, offset = in_block + [offset], MARKER
        extra = block(self.bends.get("c64" if central else "l64", in_block))
        fields = (self.bends.get("flags", 0), self.method, DOS_TIME, DOS_DATE, self.crc, stored, size,
                  len(self.name), len(extra))
        if central:
            return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, self.bends.get("made_by", 20), 45, *fields,
                               0, 0, 0, self.bends.get("ext", 0), offset) + self.name + extra
        return struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, *fields) + self.bends.get("lname", self.name) + extra


def forge_zip(entries, prefix=b"", count=None, adjust=False, share=False, end64=None):
    # prefix (adjust: offsets count it); share: all central records point at the first entry
    body, base = b"", len(prefix) if adjust else 0
    for entry in entries[:1] if share else entries:
        entry.at, body = base + len(body), body + entry.header(False) + entry.payload
    for entry in entries[1:] if share else []:
        entry.at = entries[0].at
    directory, directory_at = b"".join(entry.header(True) for entry in entries), base + len(body)
    declared = len(entries) if count is None else count

    def end(entry_count, size, offset):
        return struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, entry_count & 0xFFFF, entry_count & 0xFFFF, size, offset, 0)
    if end64 is None:
        return prefix + body + directory + end(declared, len(directory), directory_at)
    count64 = end64.get("count", declared)
    return (prefix + body + directory
            + struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count64, count64, len(directory), directory_at)
            + struct.pack("<IIQI", 0x07064B50, 0, directory_at + len(directory), 1) + end64.get("gap", b"")
            + end(end64.get("count32", 0xFFFF), end64.get("size32", MARKER), MARKER))


def encrypt(password, crc, data):  # traditional ZIP encryption, 12-byte header first
    keys, out = [0x12345678, 0x23456789, 0x34567890], bytearray()

    def step(key, byte):  # one byte of CRC-32 over the key
        return ~zlib.crc32(bytes([byte]), ~key & 0xFFFFFFFF) & 0xFFFFFFFF

    def update(byte):
        keys[0] = step(keys[0], byte)
        keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = step(keys[2], keys[1] >> 24)
    for byte in password:
        update(byte)
    for byte in bytes(range(11)) + bytes([crc >> 24]) + data:
        mixed = (keys[2] | 2) & 0xFFFF
        out.append(byte ^ (((mixed * (mixed ^ 1)) >> 8) & 0xFF))
        update(byte)
    return bytes(out)


def lesson(*extra):  # a launcher that leaves a marker when run, a page, then `extra`
    plist = (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict><key>CFBundleExecutable'
             b"</key><string>Wayfarer</string></dict></plist>\n")
    return [Entry("Wayfarer.app/Contents/Info.plist", plist), Entry("pagewright_files/index.html"),
            Entry("Wayfarer.app/Contents/MacOS/Wayfarer", b'#!/bin/sh\n[ -n "$HOSTILE_MARKER" ] && echo started > "$HOSTILE_MARKER"\n')] + list(extra)


ROWS = []


def row(name, data, says, **extra):  # says: a key of SAYS
    ROWS.append((name, data, says, extra))


def lesson_zip(*entries, **layout):  # a lesson's archive
    return forge_zip(lesson(*entries), **layout)


outside, whole, part, notes = sys.argv[2], lesson_zip(Entry("notes.txt", NOISE)), TEXT[:-100], {"notes.txt": TEXT}
part_crc, free = zlib.crc32(part), os.statvfs(outside)
broken = bytes(byte ^ 0xFF * (at == 14) for at, byte in enumerate(deflate(TEXT)))  # one byte flipped
big = random.Random(7).randbytes(3 * 1024 * 1024 + 12345)  # does not deflate: faults strike mid-file
row("control_lesson", lesson_zip(Entry("docs\\readme.txt"), Entry("deep/a/b/c/d.bin", NOISE, 0), Entry("empty/", b""), Entry("n.bin", NOISE)),
    "ok", files={"docs/readme.txt": TEXT, "deep/a/b/c/d.bin": NOISE, "n.bin": NOISE}, e2e=True)
row("good", lesson_zip(Entry("bad.txt")), "ok")  # the earlier copy that damaged entries must leave
for number, name in enumerate([b"../evil.txt", b"..", b"a\\..\\..\\evil.txt", b"a/..\\../evil.txt", b"/../../evil.txt",
                          b"../lesson-evil/evil.txt", b"C:\\..\\..\\evil.txt", b"a/b/../../../evil.txt"]):
    row("name_dotdot_%d" % number, lesson_zip(Entry(name)), "unsafe", e2e=number == 0)
absolute = outside.encode() + b"/evil.txt"
row("name_absolute_or_dots_that_are_names", lesson_zip(Entry(absolute), Entry(absolute.replace(b"/", b"\\")), Entry(".../a"), Entry("..x"), Entry("./b/./c"),
    Entry(b"", b"")), "ok", files={absolute.decode()[1:]: TEXT, ".../a": TEXT, "..x": TEXT, "b/c": TEXT})
for label, name in [("nul", b"good.txt\0../../evil.txt"), ("escape", b"\x1b[31mred\n.txt")]:
    row("name_control_" + label, lesson_zip(Entry(name)), "control")
# A link entry is a plain file; a link planted in the destination is never followed.
row("link_entry_then_through_it", lesson_zip(Entry("up", outside.encode(), 0, ext=0o120777 << 16, made_by=0x314), Entry("up/evil.txt")), "write")
for label, entry, plant, says in [("symlink_at_entry", "new.txt", 'ln -s "$1/outside/created.txt" new.txt', "write"),
                                  ("symlink_at_parent", "sub/evil.txt", 'ln -s "$1/outside" sub', "write"),
                                  ("hardlink_at_entry", "hard.txt", 'ln "$1/outside/hard.txt" hard.txt', "ok"),
                                  ("fifo_at_entry", "pipe", "mkfifo pipe", "write")]:
    row("plant_" + label, lesson_zip(Entry(entry)), says, plant=plant, files={"hard.txt": TEXT}, e2e="parent" in label)
# A user's file that merely starts with the leftover prefix is no leftover: the sweep keeps it.
row("user_file_with_the_leftover_prefix", lesson_zip(), "ok", files={"pagewright_files/.unspool-partial-notes": b"notes\n"},
    plant="mkdir pagewright_files && echo notes > pagewright_files/.unspool-partial-notes")
# The structure check.
row("overlap_shared_local_header", forge_zip([Entry("s%d" % number, b"\0" * 50000) for number in range(10)], share=True), "overlap")
# Neighbours: data running one byte into the next local header is refused; touching is not.
for label, more, says in [("by_one_byte", 1, "overlap"), ("touching", 0, "ok")]:
    row("overlap_neighbours_" + label, lesson_zip(Entry("a", NOISE, csize=len(deflate(NOISE)) + more), Entry("b")), says)
row("overlap_central_directory", lesson_zip(Entry("n", NOISE, 0, csize=len(NOISE) + 60)), "overlap_cd")
row("ratio_4GB", lesson_zip(Entry("r", b"x" * 1000, usize=4_000_000_000)), "ratio")
row("local_header_past_the_end", lesson_zip(Entry("far", offset=10_000_000)), "outside")
row("local_header_not_there", lesson_zip(Entry("nowhere", offset=3)), "damaged")
# A reader going by local headers would write another file than the central record names.
row("local_header_names_another_file", lesson_zip(Entry("notes.txt", lname=b"evil!.txt")), "damaged")
row("sizes_beyond_free_space", lesson_zip(*[Entry("c%d" % number, b"x", 0, usize=MARKER - 1)  # each the most short of ZIP64
                                            for number in range(free.f_bavail * free.f_frsize // (MARKER - 1) + 2)]), "space")
row("count_wrapped_past_65535", forge_zip([Entry("f/%05d" % number, b"", 0) for number in range(65539)]), "count")
for count in (2, 7):
    row("count_%d_of_3" % count, lesson_zip(count=count), "count")
row("method_bzip2", lesson_zip(Entry("packed", method=12, payload=TEXT)), "method")
# An empty file encrypted as Info-ZIP stores it: stored, the encryption header alone.
row("encrypted_empty_entry", lesson_zip(Entry("empty.txt", b"", 0, flags=9, payload=encrypt(b"pw", 0, b""))), "ok", password="pw")
row("encrypted_without_password", lesson_zip(Entry("secret", flags=1, payload=encrypt(b"pw", zlib.crc32(TEXT), deflate(TEXT)))), "encrypted")
for cut in (0, 100, len(whole) // 2, len(whole) - 23):
    row("truncated_at_%d" % cut, whole[:cut], "unopenable")
row("truncated_in_end_record", whole[:-1], "damaged")
# An archive of nothing (its end record alone, or after other bytes) extracts nothing and completes.
row("empty_archive", forge_zip([]), "ok")
row("empty_archive_prefixed", forge_zip([], prefix=b"#!/bin/sh\n", adjust=True), "ok")
# Damaged entries: refused, and the earlier copy at their name is kept.
for method in (0, 8):
    row("short_%d" % method, lesson_zip(Entry("bad.txt", method=method, usize=len(TEXT) + 100)), "size", first="good")
    row("crc_%d" % method, lesson_zip(Entry("bad.txt", method=method, crc=0x12345678)), "crc", first="good")
for label, method, payload, password in [("stored", 0, TEXT, ""), ("deflated", 8, deflate(TEXT), ""),
                                         ("encrypted_stored", 0, encrypt(b"pw", part_crc, TEXT), "pw"),
                                         ("encrypted_deflated", 8, encrypt(b"pw", part_crc, deflate(TEXT)), "pw")]:
    row("long_entry_" + label, lesson_zip(Entry("bad.txt", part, method, payload=payload, crc=part_crc, flags=bool(password))), "size",
        first="good", password=password)
row("trailing_bytes", lesson_zip(Entry("bad.txt", payload=deflate(TEXT) + b"trailing")), "size", first="good")
row("corrupt_deflate_stream", lesson_zip(Entry("bad.txt", payload=broken)), "crc", first="good")
for adjust in (False, True):
    row("prefixed_adjusted_%d" % adjust, lesson_zip(Entry("notes.txt"), prefix=b"#!/bin/sh\n" + bytes(999), adjust=adjust), "ok", files=notes)
row("duplicate_names", lesson_zip(Entry("notes.txt", b"first\n"), Entry("notes.txt")), "ok", files=notes)
# ZIP64 as other tools write it, then forged.
for label, bent, end in [("sizes_in_blocks", dict(z64=True), None), ("offset_in_block", dict(z64=True, z64off=True), None),
                         ("end_records", {}, {})]:
    row("zip64_" + label, lesson_zip(Entry("notes.txt", **bent), end64=end), "ok", files=notes)
out = io.BytesIO()
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zipped:
    for entry in lesson(Entry("notes.txt")):
        zipped.open(zipfile.ZipInfo(entry.name.decode(), (2009, 6, 30, 14, 5, 58)), "w", force_zip64=True).write(entry.data)
row("zip64_forced_by_zipfile", out.getvalue(), "ok", files=notes)
for label, bent, end, says in [
        ("marker_without_block", dict(z64=True, c64=[]), None, "zip64"), ("locator_apart", {}, {"gap": bytes(8)}, "zip64"),
        ("block_too_short", dict(z64=True, c64=[len(TEXT)]), None, "zip64"), ("end_count_too_high", {}, {"count": 5}, "count"),
        ("local_block_disagrees", dict(z64=True, l64=[len(TEXT) + 1, 0]), None, "zip64"),
        ("local_marker_without_block", dict(z64=True, l64=[]), None, "zip64"),
        ("offset_past_the_end", dict(z64off=True, offset=1 << 40), None, "outside"),
        ("stored_size_past_the_end", dict(z64=True, method=0, csize=1 << 40, usize=1 << 40), None, "outside"),
        ("end_count_disagrees", {}, {"count32": 3}, "zip64"), ("end_size_disagrees", {}, {"size32": 46}, "zip64")]:
    row("zip64_" + label, lesson_zip(Entry("notes.txt", **bent), end64=end), says)
# The fault sweep: one lesson, one fault per row (shim settings or a file-size limit); the
# last rows fail a file over an earlier copy, which must stay, with and without unnamed files.
fault = dict(file="fault_none.zip", files={"pagewright_files/media.bin": big})
row("fault_none", lesson_zip(Entry("pagewright_files/media.bin", big)), "ok", **fault)
for label, env, limit, says in [
        ("no_threads", {"FAULT_NO_THREADS": "1"}, -1, "ok")] + [
        ("size_limit_%d" % size, {}, size, "write") for size in (0, 4096, 1 << 20, 5 << 19)] + [
        ("one_write_fails_at_%d" % at, {"FAULT_EIO_AT": str(at)}, -1, "write") for at in (1 << 20, 3 << 20)] + [
        ("read_fails_at_%d" % at, {"FAULT_READ_EIO_AT": str(at)}, -1, "read") for at in (1 << 20, 2 << 20)] + [
        ("over_earlier_write_after_%s%s" % (at, "_no_tmpfile" * len(unnamed_off)),
         {"FAULT_WRITE_AFTER": at, "FAULT_NO_TMPFILE": unnamed_off}, -1, "write")
        for at in ("0", "100000", "1572864") for unnamed_off in ("", "1")]:
    row("fault_" + label, None, says, env=env, limit=limit, e2e=limit == 4096, first="fault_none" * ("over" in label), **fault)

os.makedirs(sys.argv[1], exist_ok=True)
for name, data, says, extra in ROWS:
    extra.update(name=name, fault=name.startswith("fault_"), files={
        path: hashlib.sha256(content).hexdigest() for path, content in extra.get("files", {}).items() if says == "ok"}, expect=
        "open NO\n" if says == "unopenable" else "open YES\ncomplete\nresult YES\n" if says == "ok" else
        "open YES\nmessage %s\nresult NO\n" % SAYS[says])
    extra.setdefault("file", name + ".zip")
    if data is not None:
        with open(os.path.join(sys.argv[1], extra["file"]), "wb") as archive:
            archive.write(data)
with open(os.path.join(sys.argv[1], "manifest.json"), "w") as manifest:
    json.dump([extra for _, _, _, extra in ROWS], manifest, indent=0)
