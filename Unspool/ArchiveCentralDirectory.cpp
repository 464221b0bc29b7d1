#include "ArchiveCentralDirectory.h"

#include "FileIO.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace ArchiveBytes;

namespace
{

constexpr std::uint64_t kEndRecordSize = 22;
constexpr std::uint64_t kLongestComment = 0xFFFF;
constexpr std::uint64_t kCentralHeaderSize = 46;
const QByteArray kEndSignature("PK\x05\x06", 4);
const QByteArray kLocatorSignature("PK\x06\x07", 4);
const QByteArray kEnd64Signature("PK\x06\x06", 4);
const QByteArray kCentralSignature("PK\x01\x02", 4);

// minizip trusts the last 64-bit locator in the tail when it checks out (disk 0,
// one disk, a 64-bit end record where it points) and then uses that record instead
// of the ordinary one. Such an archive is refused whole, so the directory judged
// here is always the one minizip reads.
bool hasZip64Records(int fd, const QByteArray &tail)
{
    const qsizetype at = tail.lastIndexOf(kLocatorSignature);
    if (at < 0 || at + 20 > tail.size())
        return false;
    if (u32(tail, at + 4) != 0 || u32(tail, at + 16) != 1)
        return false;
    QByteArray record;
    return readAt(fd, u64(tail, at + 8), 4, record) && record == kEnd64Signature;
}

bool walkDirectory(const QByteArray &directory, QList<ArchiveCentralEntry> &entries)
{
    qsizetype pos = 0;
    while (directory.size() - pos >= 4 && directory.mid(pos, 4) == kCentralSignature) {
        if (directory.size() - pos < static_cast<qsizetype>(kCentralHeaderSize))
            return false;
        const qsizetype nameLength = u16(directory, pos + 28);
        const qsizetype recordSize = static_cast<qsizetype>(kCentralHeaderSize) + nameLength +
                                     u16(directory, pos + 30) + u16(directory, pos + 32);
        if (directory.size() - pos < recordSize)
            return false;
        ArchiveCentralEntry entry;
        entry.flags = u16(directory, pos + 8);
        entry.method = u16(directory, pos + 10);
        entry.compressedSize = u32(directory, pos + 20);
        entry.uncompressedSize = u32(directory, pos + 24);
        entry.localHeaderOffset = u32(directory, pos + 42);
        entry.name = directory.mid(pos + static_cast<qsizetype>(kCentralHeaderSize), nameLength);
        entries.append(entry);
        pos += recordSize;
    }
    return pos == directory.size(); // anything else in it is damage
}

} // namespace

namespace ArchiveBytes
{

bool readAt(int fd, std::uint64_t offset, std::size_t size, QByteArray &out)
{
    out.resize(static_cast<qsizetype>(size));
    return preadUpTo(fd, out.data(), size, offset) == static_cast<ssize_t>(size);
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

ArchiveCentralDirectory ArchiveCentralDirectory::read(int fd)
{
    ArchiveCentralDirectory result;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) < kEndRecordSize)
        return result;
    result.fileSize = static_cast<std::uint64_t>(st.st_size);

    const std::uint64_t tailSize = std::min(result.fileSize, kEndRecordSize + kLongestComment);
    const std::uint64_t tailStart = result.fileSize - tailSize;
    QByteArray tail;
    if (!readAt(fd, tailStart, tailSize, tail))
        return result;
    const qsizetype end = tail.lastIndexOf(kEndSignature, tail.size() - qsizetype(kEndRecordSize));
    if (end < 0)
        return result;
    if (hasZip64Records(fd, tail)) {
        result.status = Status::Zip64;
        return result;
    }

    const std::uint64_t endPos = tailStart + static_cast<std::uint64_t>(end);
    const std::uint64_t size = u32(tail, end + 12);
    const std::uint64_t offset = u32(tail, end + 16);
    result.declaredCount = u16(tail, end + 10);
    if (endPos < offset + size)
        return result;
    result.shift = endPos - (offset + size);
    result.directoryStart = offset + result.shift;

    QByteArray directory;
    if (!readAt(fd, result.directoryStart, size, directory) ||
        !walkDirectory(directory, result.entries))
        return result;
    result.status = Status::Read;
    return result;
}
