#!/usr/bin/env python3
"""Writes the hostile-archive suite: one archive per case and manifest.json, which
says for each case what extracting it must give.

    make_hostile.py OUTPUT_FOLDER OUTSIDE_FOLDER

OUTSIDE_FOLDER is the absolute path of the sentinel folder beside the destination;
absolute entry names and link texts aim at it, so an escape shows up there.

Outcomes: "extracted" (YES, completion, the listed files), "refused" (NO, the given
message, no completion; "early" refusals create nothing at all), "unopenable"
(the archive does not even open). Plants are items the runner puts into the
destination before extracting: links to the outside, hard links, FIFOs.
"""

import hashlib
import io
import json
import os
import sys
import zipfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zipforge import (SYMLINK_ATTRIBUTES, UNIX_MADE_BY, Entry, build,  # noqa: E402
                      deflate, quoted_overlap, zip_encrypt)

# The extraction's refusal texts, by cause.
REASONS = {
    "unsafe_name": "Error occurs: entry name leads outside the destination",
    "control_char": "Error occurs: entry name holds a control character",
    "overlap_entry": "Error occurs: entry data overlaps another entry",
    "overlap_directory": "Error occurs: entry data overlaps the central directory",
    "outside_archive": "Error occurs: entry data lies outside the archive",
    "damaged": "Error occurs: archive structure is damaged",
    "zip64": "Error occurs: 64-bit records are inconsistent",
    "ratio": "Error occurs: entry declares an impossible compression ratio",
    "free_space": "Error occurs: not enough free space at the destination",
    "count": "Error occurs: entry count does not match the central directory",
    "method": "Error occurs: entry uses an unsupported compression method",
    "encrypted": "Error occurs: entry is encrypted and no password is set",
    "crc": "Error occurs: CRC check failed",
    "size": "Error occurs: entry size does not match",
    "read": "Failed to reading zip file",
    "write": "Error occurs while writing file",
    "folder": "Error occurs while writing file",
}

TEXT = b"A page of the lesson.\n" * 20
NOISE = bytes((i * 7919 + 13) % 251 for i in range(3000))  # does not deflate well

cases = []


def digest(data):
    return hashlib.sha256(data).hexdigest()


def case(name, what, data, outcome, reason=None, early=True, files=None, plants=(),
         e2e=False, password=None):
    cases.append({
        "name": name, "what": what, "archive": data, "outcome": outcome,
        "message": REASONS[reason] if reason else None, "early": early, "password": password,
        "files": {k: digest(v) for k, v in (files or {}).items()},
        "plants": list(plants), "e2e": e2e,
    })


def extracted(name, what, entries, files, **kw):
    case(name, what, build(entries), "extracted", files=files, **kw)


def refused(name, what, data, reason, **kw):
    case(name, what, data, "refused", reason, **kw)


def launcher():
    """A setup launcher that leaves a marker when it runs; the Unspool runs check that
    a refused archive never starts it."""
    plist = (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
             b"<key>CFBundleExecutable</key><string>Wayfarer</string>"
             b"<key>CFBundleName</key><string>Wayfarer</string></dict></plist>\n")
    script = b'#!/bin/sh\n[ -n "$HOSTILE_MARKER" ] && echo started > "$HOSTILE_MARKER"\n'
    return [Entry("Wayfarer.app/Contents/Info.plist", plist),
            Entry("Wayfarer.app/Contents/MacOS/Wayfarer", script)]


def lesson(*extra):
    return launcher() + [Entry("pagewright_files/index.html", TEXT)] + list(extra)


def names(outside):
    bad = b"evil.txt"
    for label, name in [
        ("dotdot_leading", b"../" + bad),
        ("dotdot_middle", b"pagewright_files/../../" + bad),
        ("dotdot_trailing_folder", b"pagewright_files/../../"),
        ("dotdot_only", b".."),
        ("dotdot_deep", b"a/b/c/../../../../" + bad),
        ("dotdot_backslash_leading", b"..\\" + bad),
        ("dotdot_backslash_middle", b"a\\..\\..\\" + bad),
        ("dotdot_mixed_separators", b"a/..\\../" + bad),
        ("dotdot_sibling_prefix", b"../lesson-evil/" + bad),
        ("dotdot_after_absolute", b"/../../" + bad),
        ("drive_letter_dotdot", b"C:\\..\\..\\" + bad),
    ]:
        refused("name_" + label, "entry name %r" % name,
                build(lesson(Entry(name, TEXT))), "unsafe_name", early=False,
                e2e=label == "dotdot_leading")

    absolute = outside.encode() + b"/" + bad
    extracted("name_absolute_slash", "absolute name stays inside the destination",
              lesson(Entry(absolute, TEXT)), {absolute.decode().lstrip("/"): TEXT})
    backslashed = absolute.replace(b"/", b"\\")
    extracted("name_absolute_backslash", "absolute name with backslashes stays inside",
              lesson(Entry(backslashed, TEXT)), {absolute.decode().lstrip("/"): TEXT})
    extracted("name_drive_letter", "a drive letter is an ordinary folder name here",
              lesson(Entry(b"C:\\Windows\\" + bad, TEXT)), {"C:/Windows/evil.txt": TEXT})
    extracted("name_dots_that_are_names", "'...' and '..x' are names, not parents",
              lesson(Entry(b".../a.txt", TEXT), Entry(b"..x", TEXT), Entry(b"./b/./c.txt", TEXT)),
              {".../a.txt": TEXT, "..x": TEXT, "b/c.txt": TEXT})
    extracted("name_empty", "an empty name stands for the destination itself",
              lesson(Entry(b"", b"")), {"pagewright_files/index.html": TEXT})
    for label, name in [("nul", b"good.txt\0../../evil.txt"), ("bell", b"bad\x07name.txt"),
                        ("newline", b"bad\nname.txt"), ("escape", b"\x1b[31mred.txt"),
                        ("delete", b"bad\x7fname.txt")]:
        refused("name_control_" + label, "entry name %r" % name,
                build(lesson(Entry(name, TEXT))), "control_char", e2e=label == "nul")


def links(outside):
    link_to_outside = Entry("escape", outside.encode(), method=0, external=SYMLINK_ATTRIBUTES,
                            made_by=UNIX_MADE_BY)
    refused("link_entry_then_through_it",
            "a symbolic-link entry is written as a plain file, so a later entry through it "
            "finds a file where its folder should be",
            build(lesson(link_to_outside, Entry("escape/evil.txt", TEXT))), "folder", early=False)
    relative = Entry("up", b"../../outside", method=0, external=SYMLINK_ATTRIBUTES,
                     made_by=UNIX_MADE_BY)
    refused("link_entry_relative_then_through_it", "the same with a relative link text",
            build(lesson(relative, Entry("up/evil.txt", TEXT))), "folder", early=False)
    alone = Entry("escape", outside.encode(), method=0, external=SYMLINK_ATTRIBUTES,
                  made_by=UNIX_MADE_BY)
    extracted("link_entry_alone", "a link entry alone becomes a file holding the link text",
              lesson(alone), {"escape": outside.encode()})

    refused("plant_link_at_entry", "a link planted at the entry's own path",
            build(lesson(Entry("victim.txt", TEXT))), "write", early=False,
            plants=[{"path": "victim.txt", "kind": "symlink", "target": "outside/target.txt"}])
    refused("plant_link_at_parent", "a link planted at the entry's parent folder",
            build(lesson(Entry("sub/evil.txt", TEXT))), "folder", early=False,
            plants=[{"path": "sub", "kind": "symlink", "target": "outside"}], e2e=True)
    refused("plant_link_at_grandparent", "a link planted two folders up",
            build(lesson(Entry("a/b/c/evil.txt", TEXT))), "folder", early=False,
            plants=[{"path": "a/b", "kind": "symlink", "target": "outside"}])
    refused("plant_dangling_link_at_entry", "a dangling link at the entry's path",
            build(lesson(Entry("new.txt", TEXT))), "write", early=False,
            plants=[{"path": "new.txt", "kind": "symlink", "target": "outside/created.txt"}])
    extracted("plant_hard_link_at_entry", "a hard link to an outside file is replaced, "
              "not written through", lesson(Entry("hard.txt", TEXT)), {"hard.txt": TEXT},
              plants=[{"path": "hard.txt", "kind": "hardlink", "target": "outside/hard.txt"}])
    refused("plant_fifo_at_entry", "a FIFO at the entry's path neither blocks nor is written",
            build(lesson(Entry("pipe", TEXT))), "write", early=False,
            plants=[{"path": "pipe", "kind": "fifo"}])


def bombs():
    refused("bomb_quoted_overlap", "entries quoting each other's headers (small scale)",
            quoted_overlap(20000, 20), "overlap_entry", e2e=True)
    shared = [Entry("s%02d.txt" % i, b"\0" * 50000) for i in range(10)]
    build(shared)  # lays the entries out, giving the first its offset
    # Every central record points at the first entry's local header.
    refused("bomb_shared_local_header", "ten central records share one local entry",
            _repoint(shared), "overlap_entry")
    runs_on = Entry("long.bin", NOISE, method=0, csize=len(NOISE) + 60, usize=len(NOISE) + 60)
    refused("overlap_into_central_directory", "an entry's data runs into the central directory",
            build(lesson(runs_on)), "overlap_directory")
    ratio = Entry("ratio.bin", b"x" * 1000, usize=4_000_000_000)
    refused("declared_expansion_beyond_deflate", "a few deflated bytes declare 4 GB",
            build(lesson(ratio)), "ratio")
    huge = Entry("huge.bin", b"x" * 1000, zip64=True, usize=1 << 50)
    refused("declared_size_zip64_huge", "a zip64 size of a petabyte", build(lesson(huge)),
            "ratio")
    big_stored = Entry("big.bin", TEXT, method=0, usize=len(TEXT) * 1000)
    refused("declared_stored_size_mismatch", "stored entry whose sizes disagree",
            build(lesson(big_stored)), "size", early=False)


def layout_lies(outside):
    far = Entry("far.txt", TEXT, offset=10_000_000)
    refused("local_header_beyond_the_end", "a central record points past the end of the file",
            build(lesson(far)), "outside_archive")
    nowhere = Entry("nowhere.txt", TEXT, offset=3)
    refused("local_header_not_there", "a central record points at no local header",
            build(lesson(nowhere)), "damaged")
    # Stored entries may claim any size without a ratio to betray them; together
    # they claim more than the destination's file system has free.
    free = os.statvfs(outside)
    count = (free.f_bavail * free.f_frsize) // 0xFFFFFFFE + 2
    claims = [Entry("claim%03d.bin" % i, b"x", method=0, usize=0xFFFFFFFE) for i in range(count)]
    refused("declared_sizes_beyond_free_space", "%d stored entries claiming 4 GB each" % count,
            build(lesson(*claims)), "free_space")


def _repoint(entries):
    first = entries[0]
    for entry in entries:
        entry.offset_override = first.offset
        if entry is not first:
            entry.local_name = first.local_name
    return build(entries, skip_locals=tuple(entries[1:]))


def sizes_and_checksums():
    short_stored = Entry("short.txt", TEXT, method=0, usize=len(TEXT) + 100)
    refused("short_entry_stored", "stored entry shorter than it declares",
            build(lesson(short_stored)), "size", early=False)
    short_deflate = Entry("short.txt", TEXT, usize=len(TEXT) + 500)
    refused("short_entry_deflated", "deflated entry ends before its declared size",
            build(lesson(short_deflate)), "size", early=False)
    # Longer than declared, with the CRC of the declared part: only the length
    # betrays them.
    part = TEXT[:-100]
    part_crc = zlib.crc32(part) & 0xFFFFFFFF
    for label, method, payload, password in [
            ("stored", 0, TEXT, None), ("deflated", 8, deflate(TEXT), None),
            ("encrypted_stored", 0, zip_encrypt(b"pw", part_crc, TEXT), "pw"),
            ("encrypted_deflated", 8, zip_encrypt(b"pw", part_crc, deflate(TEXT)), "pw")]:
        long_entry = Entry("long.txt", part, method=method, payload=payload, crc=part_crc,
                           flags=1 if password else 0)
        refused("long_entry_" + label, "%s entry holding more than it declares" % label,
                build(lesson(long_entry)), "size", early=False, password=password)
    trailing = Entry("trailing.txt", TEXT, payload=deflate(TEXT) + b"trailing bytes")
    refused("trailing_bytes_after_deflate_stream", "stored bytes left after the stream ends",
            build(lesson(trailing)), "size", early=False)
    refused("crc_stored", "stored entry with a wrong CRC",
            build(lesson(Entry("bad.txt", TEXT, method=0, crc=0x12345678))), "crc", early=False)
    refused("crc_deflated", "deflated entry with a wrong CRC",
            build(lesson(Entry("bad.txt", TEXT, crc=0x12345678))), "crc", early=False)
    broken = bytearray(deflate(TEXT))
    broken[len(broken) // 2] ^= 0xFF
    refused("corrupt_deflate_stream", "a flipped byte inside the deflate stream",
            build(lesson(Entry("bad.txt", TEXT, payload=bytes(broken)))), "crc", early=False)


def truncations():
    good = build(lesson(Entry("notes.txt", NOISE)))
    for cut in (0, 1, 22, 29, 100, len(good) // 2, len(good) - 200, len(good) - 23):
        case("truncated_at_%d" % cut, "the archive cut short after %d bytes" % cut,
             good[:cut], "unopenable")
    # Without the last byte the end record is still found, but not whole.
    refused("truncated_in_end_record", "the archive without its last byte", good[:-1],
            "damaged")


def methods_and_encryption():
    secret = zip_encrypt(b"secret", zlib.crc32(TEXT) & 0xFFFFFFFF, deflate(TEXT))
    refused("encrypted_without_password", "traditional encryption, no password given",
            build(lesson(Entry("secret.txt", TEXT, flags=1, payload=secret))), "encrypted",
            e2e=True)
    refused("encrypted_flag_on_plain_data", "flagged encrypted, data in the clear",
            build(lesson(Entry("secret.txt", TEXT, flags=1))), "encrypted")
    for method in (12, 14, 99):
        refused("method_%d" % method, "compression method %d" % method,
                build(lesson(Entry("packed.bin", TEXT, method=method, payload=TEXT))), "method")


def counts_and_layout():
    many = [Entry("f/%05d" % i, b"", method=0) for i in range(65536 + 3)]
    refused("count_wrapped_past_65535", "65,539 entries; the end record says 3",
            build(many), "count")
    three = [Entry("n%d.txt" % i, TEXT) for i in range(3)]
    refused("count_too_high", "the end record claims more entries than there are",
            build(three, count=7), "count")
    refused("count_too_low", "the end record claims fewer entries than there are",
            build([Entry("n%d.txt" % i, TEXT) for i in range(3)], count=2), "count")
    stub = b"#!/bin/sh\nexit 0\n" + b"\0" * 1000
    case("prefixed_data", "bytes before the archive, offsets from the archive's start",
         build(lesson(Entry("notes.txt", TEXT)), prefix=stub), "extracted",
         files={"notes.txt": TEXT, "pagewright_files/index.html": TEXT})
    case("prefixed_data_adjusted", "bytes before the archive, offsets from the file's start",
         build(lesson(Entry("notes.txt", TEXT)), prefix=stub, adjust_offsets=True), "extracted",
         files={"notes.txt": TEXT})
    extracted("duplicate_names", "the same name twice: the later entry wins",
              lesson(Entry("twice.txt", b"first\n"), Entry("twice.txt", b"second\n")),
              {"twice.txt": b"second\n"})
    refused("duplicate_file_then_folder", "a file, then a folder under the same name",
            build(lesson(Entry("clash", TEXT), Entry("clash/inner.txt", TEXT))), "folder",
            early=False)
    extracted("control_lesson", "a plain lesson: positive control for everything above",
              lesson(Entry("docs\\readme.txt", TEXT), Entry("deep/a/b/c/d.bin", NOISE),
                     Entry("empty/", b"")),
              {"docs/readme.txt": TEXT, "deep/a/b/c/d.bin": NOISE,
               "pagewright_files/index.html": TEXT}, e2e=True)
    extracted("control_noise_stored", "stored and deflated incompressible data",
              lesson(Entry("n1.bin", NOISE, method=0), Entry("n2.bin", NOISE)),
              {"n1.bin": NOISE, "n2.bin": NOISE})


def zip64_records():
    """ZIP64 as other tools write it, and forged."""
    notes = {"notes.txt": TEXT}
    extracted("zip64_sizes_in_blocks", "sizes in ZIP64 blocks of both headers",
              lesson(Entry("notes.txt", TEXT, zip64=True)), notes)
    extracted("zip64_offset_in_block", "the local header's offset in a ZIP64 block",
              lesson(Entry("notes.txt", TEXT, zip64=True, zip64_offset=True)), notes)
    case("zip64_end_records", "ZIP64 end record and locator, markers in the end record",
         build(lesson(Entry("notes.txt", TEXT)), zip64_end={}), "extracted", files=notes)
    case("zip64_forced_by_zipfile", "Python's zipfile writing ZIP64 for small files",
         forced_zip64([(e.name.decode(), e.data) for e in lesson(Entry("notes.txt", TEXT))]),
         "extracted", files=notes)

    forged = [
        ("marker_without_block", dict(zip64=True, central64=[]), {}, "zip64"),
        ("block_too_short", dict(zip64=True, central64=[len(TEXT)]), {}, "zip64"),
        ("local_block_disagrees", dict(zip64=True, local64=[len(TEXT) + 1, 0]), {}, "zip64"),
        ("local_marker_without_block", dict(zip64=True, local64=[]), {}, "zip64"),
        ("offset_beyond_the_end", dict(zip64_offset=True, offset=1 << 40), {},
         "outside_archive"),
        ("stored_size_beyond_the_end", dict(zip64=True, method=0, csize=1 << 40, usize=1 << 40),
         {}, "outside_archive"),
        ("end_count_too_high", {}, {"count": 5}, "count"),
        ("end_count_disagrees", {}, {"count32": 3}, "zip64"),
        ("end_size_disagrees", {}, {"size32": 46}, "zip64"),
    ]
    for label, bent, end, reason in forged:
        entry = Entry("notes.txt", TEXT, **bent)
        data = build(lesson(entry), zip64_end=end) if end else build(lesson(entry))
        refused("zip64_" + label, "ZIP64 records: " + label.replace("_", " "), data, reason)
    data = build(lesson(Entry("notes.txt", TEXT)), zip64_end={})
    data = data[:-22] + b"\0" * 8 + data[-22:]
    refused("zip64_locator_apart", "bytes between the locator and the end record", data, "zip64")


def forced_zip64(entries):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zf:
        for name, data in entries:
            with zf.open(zipfile.ZipInfo(name, (2009, 6, 30, 14, 5, 58)), "w",
                         force_zip64=True) as f:
                f.write(data)
    return out.getvalue()


def main():
    output, outside = sys.argv[1], sys.argv[2]
    os.makedirs(output, exist_ok=True)
    names(outside)
    links(outside)
    bombs()
    layout_lies(outside)
    sizes_and_checksums()
    truncations()
    methods_and_encryption()
    counts_and_layout()
    zip64_records()
    manifest = []
    for item in cases:
        item["file"] = item["name"] + ".zip"
        with open(os.path.join(output, item["file"]), "wb") as out:
            out.write(item.pop("archive"))
        manifest.append(item)
    with open(os.path.join(output, "manifest.json"), "w") as out:
        json.dump(manifest, out, indent=1)
    print("%d cases" % len(manifest))


if __name__ == "__main__":
    main()
