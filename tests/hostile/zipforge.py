"""Byte-exact ZIP writing for the hostile-archive suite.

Python's zipfile refuses to write most of what an attacker sends (bad names,
overlapping entries, lying sizes), so the suite lays archives out itself: each
entry's local header, data and central record are built from plain fields that a
case may bend one at a time.
"""

import struct
import zlib

LOCAL_SIG = 0x04034B50
CENTRAL_SIG = 0x02014B50
END_SIG = 0x06054B50
END64_SIG = 0x06064B50
LOCATOR_SIG = 0x07064B50
MARKER = 0xFFFFFFFF

# 14:05:58 on 30 June 2009, as DOS time and date.
DOS_TIME = (14 << 11) | (5 << 5) | (58 // 2)
DOS_DATE = ((2009 - 1980) << 9) | (6 << 5) | 30

# Upper half of the external attributes of an entry made on a Unix system.
SYMLINK_ATTRIBUTES = 0o120777 << 16
UNIX_MADE_BY = (3 << 8) | 20


def deflate(data, level=6):
    """A raw deflate stream, as ZIP entries carry it."""
    packer = zlib.compressobj(level, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


class Entry:
    """One entry; every field the archive states about it can be overridden."""

    def __init__(self, name, data=b"", method=8, **bent):
        self.name = name if isinstance(name, bytes) else name.encode()
        self.data = data
        self.method = method
        self.flags = bent.get("flags", 0)
        self.payload = bent.get("payload")
        if self.payload is None:
            self.payload = deflate(data) if method == 8 else data
        self.crc = bent.get("crc", zlib.crc32(data) & 0xFFFFFFFF)
        self.csize = bent.get("csize", len(self.payload))
        self.usize = bent.get("usize", len(data))
        self.external = bent.get("external", 0)
        self.made_by = bent.get("made_by", 20)
        self.local_name = bent.get("local_name", self.name)
        # Where the central record says the local header is; None: where it was put.
        self.offset_override = bent.get("offset")
        # ZIP64: sizes (both headers) and the offset (central record) may be moved
        # into ZIP64 blocks behind marked 32-bit fields; central64 and local64
        # replace a block's values (an empty list leaves the block out).
        self.zip64 = bent.get("zip64", False)
        self.zip64_offset = bent.get("zip64_offset", False)
        self.central64 = bent.get("central64")
        self.local64 = bent.get("local64")
        self.offset = 0

    def local_header(self):
        csize, usize, extra = self.csize, self.usize, b""
        if self.zip64:
            extra = zip64_block([self.usize, self.csize] if self.local64 is None else self.local64)
            csize = usize = MARKER
        return struct.pack("<IHHHHHIIIHH", LOCAL_SIG, 45 if self.zip64 else 20, self.flags,
                           self.method, DOS_TIME, DOS_DATE, self.crc, csize, usize,
                           len(self.local_name), len(extra)) + self.local_name + extra

    def central_record(self):
        offset = self.offset if self.offset_override is None else self.offset_override
        csize, usize, values = self.csize, self.usize, []
        if self.zip64:
            values += [usize, csize]
            csize = usize = MARKER
        if self.zip64_offset:
            values.append(offset)
            offset = MARKER
        extra = zip64_block(values if self.central64 is None else self.central64)
        wide = self.zip64 or self.zip64_offset
        return struct.pack("<IHHHHHHIIIHHHHHII", CENTRAL_SIG, self.made_by,
                           45 if wide else 20, self.flags, self.method, DOS_TIME, DOS_DATE,
                           self.crc, csize, usize, len(self.name), len(extra), 0, 0, 0,
                           self.external, offset) + self.name + extra


def zip64_block(values):
    if not values:
        return b""
    return struct.pack("<HH", 1, 8 * len(values)) + b"".join(struct.pack("<Q", v) for v in values)


def end64_records(count, cd_size, cd_offset, at):
    """The ZIP64 end record at `at`, then its locator."""
    return (struct.pack("<IQHHIIQQQQ", END64_SIG, 44, 45, 45, 0, 0, count, count, cd_size,
                        cd_offset) + struct.pack("<IIQI", LOCATOR_SIG, 0, at, 1))


def end_record(count, cd_size, cd_offset, total=None):
    total = count if total is None else total
    return struct.pack("<IHHHHIIH", END_SIG, 0, 0, count & 0xFFFF, total & 0xFFFF, cd_size,
                       cd_offset, 0)


def build(entries, prefix=b"", count=None, adjust_offsets=False, skip_locals=(), zip64_end=None):
    """The archive bytes: optional prefix, local entries, central directory, end record.

    count overrides the entry count in the end record; adjust_offsets makes the
    offsets count from the start of the file (prefix included) rather than from
    the start of the archive proper; skip_locals names entries whose local part is
    left out (their central records then point at whatever their offset says).
    """
    body = bytearray()
    base = len(prefix) if adjust_offsets else 0
    for entry in entries:
        if entry in skip_locals:
            continue
        entry.offset = base + len(body)
        body += entry.local_header() + entry.payload
    directory = b"".join(e.central_record() for e in entries)
    n = len(entries) if count is None else count
    if zip64_end is None:
        return prefix + bytes(body) + directory + end_record(n, len(directory), base + len(body))
    records = end64_records(zip64_end.get("count", n), len(directory), base + len(body),
                            base + len(body) + len(directory))
    end = end_record(zip64_end.get("count32", 0xFFFF), zip64_end.get("size32", MARKER),
                     zip64_end.get("offset32", MARKER))
    return prefix + bytes(body) + directory + records + end


def quoted_overlap(kernel_size, count):
    """An archive whose entries quote each other's local headers inside stored
    deflate blocks, so each entry's data runs on through all the entries after it:
    every entry inflates to the whole kernel and more, while the archive holds the
    kernel once."""
    kernel = b"\0" * kernel_size
    names = [("q%03d.txt" % i).encode() for i in range(count)]
    chain = [Entry(names[-1], kernel)]
    tail = chain[0].local_header() + chain[0].payload  # from the entry's header to the end
    for name in reversed(names[:-1]):
        following = chain[0]
        quoted = following.local_header()
        block = struct.pack("<BHH", 0, len(quoted), len(quoted) ^ 0xFFFF)
        entry = Entry(name, quoted + following.data, payload=block + tail)
        entry.own_bytes = block  # what lies between its header and the next one
        chain.insert(0, entry)
        tail = entry.local_header() + block + tail
    body = bytearray()
    for entry in chain:
        entry.offset = len(body)
        body += entry.local_header() + getattr(entry, "own_bytes", entry.payload)
    directory = b"".join(e.central_record() for e in chain)
    return bytes(body) + directory + end_record(len(chain), len(directory), len(body))


def _crypt_step(key, byte):
    return ~zlib.crc32(bytes([byte]), ~key & 0xFFFFFFFF) & 0xFFFFFFFF


def zip_encrypt(password, crc, data):
    """Traditional ZIP encryption of `data` (12-byte header included)."""
    keys = [0x12345678, 0x23456789, 0x34567890]

    def update(byte):
        keys[0] = _crypt_step(keys[0], byte)
        keys[1] = (keys[1] + (keys[0] & 0xFF)) & 0xFFFFFFFF
        keys[1] = (keys[1] * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = _crypt_step(keys[2], keys[1] >> 24)

    for byte in password:
        update(byte)
    header = bytes(range(11)) + bytes([crc >> 24])
    out = bytearray()
    for byte in header + data:
        temp = (keys[2] | 2) & 0xFFFF
        out.append(byte ^ (((temp * (temp ^ 1)) >> 8) & 0xFF))
        update(byte)
    return bytes(out)
