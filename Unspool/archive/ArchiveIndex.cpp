#include "Unspool/archive/ArchiveIndex.h"

#include "Unspool/archive/ArchiveRecordLayout.h"
#include "foundation_ext/FileIO.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

using namespace ArchiveBytes;
using namespace ArchiveRecord;

namespace
{

using Status = ArchiveIndex::Status;
using Entry = ArchiveIndex::Entry;
using Local = ArchiveIndex::Local;

constexpr qsizetype kLocatorSearch = 0xFFFF; // minizip's search, back from the end
const QByteArray kEndBytes = signature(kEndSignature);
const QByteArray kLocatorBytes = signature(kLocatorSignature);
const QByteArray kEnd64Bytes = signature(kEnd64Signature);
const QByteArray kCentralBytes = signature(kCentralSignature);
const QByteArray kLocalBytes = signature(kLocalSignature);

// What the end records say: the directory's entry count, size and offset, and
// where it must end (where the record after it begins, shift included).
struct EndValues {
    std::uint64_t directoryEnd;
    std::uint64_t count;
    std::uint64_t size;
    std::uint64_t offset;
};

// minizip trusts the last 64-bit locator in the last 64 KiB when it checks out
// (disk 0, one disk, a 64-bit end record where it points, which is not the file's
// first byte) and then reads that record instead of the ordinary one. The
// locator's place in the file, or 0 when minizip would use none.
std::uint64_t zip64Locator(int fd, const QByteArray &tail, std::uint64_t tailStart,
                           std::uint64_t &end64At)
{
    const qsizetype at = tail.lastIndexOf(kLocatorBytes);
    if (at < 0 || at < tail.size() - kLocatorSearch || at + qsizetype(kLocatorSize) > tail.size())
        return 0;
    if (u32(tail, at + 4) != 0 || u32(tail, at + 16) != 1 || tailStart + at == 0)
        return 0;
    end64At = u64(tail, at + 8);
    QByteArray signature;
    if (end64At == 0 || !readAt(fd, end64At, 4, signature) || signature != kEnd64Bytes)
        return 0;
    return tailStart + static_cast<std::uint64_t>(at);
}

// The 64-bit end record's values replace the ordinary record's. They must sit in
// their places (64-bit end record, locator, ordinary end record, back to back),
// speak of one disk, and agree with every ordinary field that holds a value
// rather than the marker.
Status readEnd64(int fd, std::uint64_t at, std::uint64_t locatorAt, EndValues &values)
{
    QByteArray record;
    if (!readAt(fd, at, kEnd64Size, record))
        return Status::Damaged;
    const std::uint64_t recordSize = u64(record, 4);
    const EndValues wide{at, u64(record, 32), u64(record, 40), u64(record, 48)};
    const bool placed = recordSize >= kEnd64SizeCounted && recordSize <= locatorAt &&
                        at + (kEnd64Size - kEnd64SizeCounted) + recordSize == locatorAt &&
                        locatorAt + kLocatorSize == values.directoryEnd;
    const bool oneDisk =
        u32(record, 16) == 0 && u32(record, 20) == 0 && u64(record, 24) == wide.count;
    const bool agrees = (values.count == kCountIn64BitRecord || values.count == wide.count) &&
                        (values.size == kIn64BitRecord || values.size == wide.size) &&
                        (values.offset == kIn64BitRecord || values.offset == wide.offset);
    if (!placed || !oneDisk || !agrees)
        return Status::Inconsistent64;
    values = wide;
    return Status::Read;
}

// minizip takes a record's 64-bit values by walking the blocks of its extra field:
// at each ZIP64 block it reads, in place and in this order, the 64-bit value of
// every field still holding the marker. The same walk here, refused where minizip
// would read past the extra field, where a block is shorter than the values taken
// from it, or where a marked field finds no value.
bool readZip64Values(const QByteArray &bytes, qsizetype extraAt, qsizetype extraSize, Entry &entry)
{
    std::uint64_t *const fields[] = {&entry.uncompressedSize, &entry.compressedSize,
                                     &entry.localHeaderOffset};
    bool found[3] = {};
    int marked = 0;
    for (std::uint64_t *field : fields)
        marked += *field == kIn64BitRecord ? 1 : 0;
    if (marked == 0)
        return true;
    const qsizetype end = extraAt + extraSize;
    qsizetype pos = extraAt;
    for (qsizetype walked = 0; walked < extraSize;) {
        if (end - pos < 4)
            return false;
        const qsizetype size = u16(bytes, pos + 2);
        const bool zip64 = u16(bytes, pos) == kZip64ExtraId;
        pos += 4;
        for (qsizetype i = 0, taken = 0; zip64 && i < 3; ++i) {
            if (*fields[i] != kIn64BitRecord)
                continue;
            taken += 8;
            if (end - pos < 8 || taken > size)
                return false;
            *fields[i] = u64(bytes, pos);
            found[i] = true;
            pos += 8;
        }
        if (!zip64)
            pos += size;
        walked += 4 + size;
    }
    for (int i = 0; i < 3; ++i) {
        if (!found[i] && *fields[i] == kIn64BitRecord)
            return false;
    }
    return true;
}

// The modification time of an extended-timestamp block: a flags byte (bit 0: the
// time is there), then the time as signed 32-bit seconds since the epoch, UTC.
std::optional<std::int64_t> extendedModified(const QByteArray &bytes, qsizetype at,
                                             qsizetype extraSize)
{
    for (const qsizetype end = at + extraSize; end - at >= 4; at += 4 + u16(bytes, at + 2)) {
        const qsizetype size = u16(bytes, at + 2);
        if (u16(bytes, at) == kTimestampExtraId && size >= 5 && size <= end - at - 4 &&
            (bytes[at + 4] & 1))
            return static_cast<std::int32_t>(u32(bytes, at + 5));
    }
    return std::nullopt;
}

// `recordedStart` is where the directory begins as the end record gives it, so an
// entry's central offset is the one minizip reports.
Status walkDirectory(const QByteArray &directory, std::uint64_t recordedStart,
                     QList<Entry> &entries)
{
    qsizetype pos = 0;
    while (directory.size() - pos >= 4 && directory.mid(pos, 4) == kCentralBytes) {
        if (directory.size() - pos < static_cast<qsizetype>(kCentralHeaderSize))
            return Status::Damaged;
        const qsizetype nameLength = u16(directory, pos + 28);
        const qsizetype extraSize = u16(directory, pos + 30);
        const qsizetype recordSize = static_cast<qsizetype>(kCentralHeaderSize) + nameLength +
                                     extraSize + u16(directory, pos + 32);
        if (directory.size() - pos < recordSize)
            return Status::Damaged;
        Entry entry;
        entry.flags = u16(directory, pos + 8);
        entry.method = u16(directory, pos + 10);
        entry.dosDate = u32(directory, pos + 12);
        entry.crc = u32(directory, pos + 16);
        entry.compressedSize = u32(directory, pos + 20);
        entry.uncompressedSize = u32(directory, pos + 24);
        entry.externalAttributes = u32(directory, pos + 38);
        entry.localHeaderOffset = u32(directory, pos + 42);
        entry.offsetIn64BitRecord = entry.localHeaderOffset == kIn64BitRecord;
        entry.centralOffset = recordedStart + static_cast<std::uint64_t>(pos);
        entry.name = directory.mid(pos + static_cast<qsizetype>(kCentralHeaderSize), nameLength);
        const qsizetype extraAt = pos + static_cast<qsizetype>(kCentralHeaderSize) + nameLength;
        if (!readZip64Values(directory, extraAt, extraSize, entry))
            return Status::Inconsistent64;
        entry.modified = extendedModified(directory, extraAt, extraSize);
        entries.append(entry);
        pos += recordSize;
    }
    return pos == directory.size() ? Status::Read : Status::Damaged; // anything else is damage
}

// minizip checks a local header's sizes against the directory's unless they hold
// the marker; the 64-bit sizes of its ZIP64 block must then agree instead. That
// block holds both sizes, uncompressed first; a lone marked size may stand alone.
bool localSizesAgree(const QByteArray &header, const QByteArray &extra, const Entry &entry)
{
    const bool marked[] = {u32(header, 22) == kIn64BitRecord, u32(header, 18) == kIn64BitRecord};
    if ((u16(header, 6) & kSizesInDataDescriptor) || (!marked[0] && !marked[1]))
        return true;
    for (qsizetype pos = 0; extra.size() - pos >= 4; pos += 4 + u16(extra, pos + 2)) {
        const qsizetype size = std::min<qsizetype>(u16(extra, pos + 2), extra.size() - pos - 4);
        if (u16(extra, pos) != kZip64ExtraId)
            continue;
        if (size >= 16)
            return (!marked[0] || u64(extra, pos + 4) == entry.uncompressedSize) &&
                   (!marked[1] || u64(extra, pos + 12) == entry.compressedSize);
        if (size < 8 || marked[0] == marked[1])
            return false;
        return u64(extra, pos + 4) == (marked[0] ? entry.uncompressedSize : entry.compressedSize);
    }
    return false;
}

// The entry's local header. minizip compares a method only for the entries it
// opens itself.
Local readLocal(int fd, std::uint64_t fileSize, Entry &entry)
{
    QByteArray header, rest; // the name and extra field
    if (entry.headerAt + kLocalHeaderSize > fileSize)
        return Local::Outside;
    if (!readAt(fd, entry.headerAt, kLocalHeaderSize, header) || !header.startsWith(kLocalBytes))
        return Local::Damaged;
    const qsizetype nameSize = u16(header, 26);
    const std::size_t restSize = static_cast<std::size_t>(nameSize) + u16(header, 28);
    entry.dataOffset = entry.headerAt + kLocalHeaderSize + restSize;
    const bool whole = readAt(fd, entry.headerAt + kLocalHeaderSize, restSize, rest);
    if (!localSizesAgree(header, whole ? rest.mid(nameSize) : QByteArray(), entry))
        return Local::Inconsistent64;
    if (nameSize != entry.name.size() ||
        (entry.offsetIn64BitRecord && u16(header, 8) != entry.method))
        return Local::Damaged;
    if (!whole)
        return Local::Outside;
    entry.localNameDiffers = rest.left(nameSize) != entry.name;
    return Local::Read;
}

// The end records' values; Damaged or Inconsistent64 in `status` when they cannot be
// taken.
bool readEndRecords(int fd, std::uint64_t fileSize, EndValues &values, Status &status)
{
    const std::uint64_t tailSize = std::min(fileSize, kEndRecordSize + kLongestComment);
    const std::uint64_t tailStart = fileSize - tailSize;
    QByteArray tail;
    if (!readAt(fd, tailStart, tailSize, tail))
        return false;
    const qsizetype end = tail.lastIndexOf(kEndBytes, tail.size() - qsizetype(kEndRecordSize));
    if (end < 0)
        return false;
    values = {tailStart + static_cast<std::uint64_t>(end), u16(tail, end + 10), u32(tail, end + 12),
              u32(tail, end + 16)};
    std::uint64_t end64At = 0;
    if (const std::uint64_t locatorAt = zip64Locator(fd, tail, tailStart, end64At)) {
        status = readEnd64(fd, end64At, locatorAt, values);
        if (status != Status::Read)
            return false;
        status = Status::Damaged;
    }
    return values.size <= values.directoryEnd && values.offset <= values.directoryEnd - values.size;
}

} // namespace

namespace ArchiveBytes
{

bool readAt(int fd, std::uint64_t offset, std::size_t size, QByteArray &out)
{
    out.resize(static_cast<qsizetype>(size));
    return preadUpTo(fd, out.data(), size, offset) == static_cast<ssize_t>(size);
}

QByteArray signature(std::uint32_t value)
{
    const char bytes[] = {char(value & 0xFF), char(value >> 8 & 0xFF), char(value >> 16 & 0xFF),
                          char(value >> 24)};
    return QByteArray(bytes, sizeof bytes);
}

std::uint16_t u16(const QByteArray &bytes, qsizetype at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData() + at);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t u32(const QByteArray &bytes, qsizetype at)
{
    return u16(bytes, at) | static_cast<std::uint32_t>(u16(bytes, at + 2)) << 16;
}

std::uint64_t u64(const QByteArray &bytes, qsizetype at)
{
    return u32(bytes, at) | static_cast<std::uint64_t>(u32(bytes, at + 4)) << 32;
}

} // namespace ArchiveBytes

bool ArchiveIndex::Entry::dataWithin(std::uint64_t fileSize) const
{
    return local == Local::Read && compressedSize <= fileSize &&
           dataOffset + compressedSize <= fileSize;
}

ArchiveIndex ArchiveIndex::read(int fd)
{
    ArchiveIndex result;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) < kEndRecordSize)
        return result;
    result.fileSize = static_cast<std::uint64_t>(st.st_size);
    EndValues values{};
    if (!readEndRecords(fd, result.fileSize, values, result.status))
        return result;
    result.declaredCount = values.count;
    result.shift = values.directoryEnd - (values.offset + values.size);
    result.directoryStart = values.offset + result.shift;
    QByteArray directory;
    if (!readAt(fd, result.directoryStart, values.size, directory))
        return result;
    result.status = walkDirectory(directory, values.offset, result.entries);
    for (Entry &entry : result.entries) {
        // 64-bit values can point anywhere: such an entry is refused without its local
        // header, and no sum below may wrap.
        if (result.status != Status::Read || entry.localHeaderOffset > result.fileSize ||
            entry.compressedSize > result.fileSize)
            continue;
        entry.headerAt = entry.localHeaderOffset + result.shift;
        entry.local = readLocal(fd, result.fileSize, entry);
    }
    return result;
}
