#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <optional>

// The central directory of a ZIP file as minizip finds it, read on our own so the
// archive can be judged before minizip is let loose on it. Sizes and offsets are
// the ones minizip uses: the 64-bit values of ZIP64 records where the 32-bit
// fields say so.
struct ArchiveCentralEntry {
    QByteArray name; // raw bytes, NULs included
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t localHeaderOffset = 0; // as recorded, before the shift below
    bool offsetIn64BitRecord = false;    // the 32-bit offset field holds the marker
    // Seconds since the epoch (UTC) from an extended-timestamp block, where there is one.
    std::optional<std::int64_t> modified{};
};

struct ArchiveCentralDirectory {
    // Inconsistent64: ZIP64 records missing where the 32-bit fields point to them,
    // too short for what they must hold, or disagreeing with the 32-bit records.
    enum class Status { Read, Damaged, Inconsistent64 };

    Status status = Status::Damaged;
    std::uint64_t fileSize = 0;
    // Bytes in front of the archive proper (a self-extractor's program, say); every
    // recorded offset is shifted by them, as minizip does.
    std::uint64_t shift = 0;
    std::uint64_t directoryStart = 0;   // in the file, shift included
    std::uint64_t declaredCount = 0;    // the end records' entry count
    QList<ArchiveCentralEntry> entries; // every record actually present

    // Reads the directory of the archive open at `fd`.
    static ArchiveCentralDirectory read(int fd);
};

namespace ArchiveBytes
{

// A record signature as the bytes that stand in the file.
QByteArray signature(std::uint32_t value);
// pread to the end of the requested range; false on a short read.
bool readAt(int fd, std::uint64_t offset, std::size_t size, QByteArray &out);
std::uint16_t u16(const QByteArray &bytes, qsizetype at);
std::uint32_t u32(const QByteArray &bytes, qsizetype at);
std::uint64_t u64(const QByteArray &bytes, qsizetype at);

} // namespace ArchiveBytes
