#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <optional>

// An archive's entries as one reading of its central directory, and of the local
// header each record points to, finds them. It is read once, before minizip is let
// loose on the archive: every structural check is made on it, the extraction takes
// each entry's sizes, place and time from it, and every entry minizip walks to must
// be one of its entries. Sizes and offsets are the ones minizip uses: the 64-bit
// values of ZIP64 records where the 32-bit fields say so.
struct ArchiveIndex {
    // What an entry's local header says: read and agreeing with the central record,
    // out of the file, not a local header, or a ZIP64 block missing or disagreeing
    // with the central record's sizes.
    enum class Local { Read, Outside, Damaged, Inconsistent64 };

    struct Entry {
        QByteArray name; // raw bytes, NULs included
        std::uint16_t flags = 0;
        std::uint16_t method = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t uncompressedSize = 0;
        std::uint32_t crc = 0;
        std::uint32_t dosDate = 0; // the DOS date in the high half, the time in the low
        std::uint32_t externalAttributes = 0;
        std::uint64_t localHeaderOffset = 0; // as recorded, before the shift below
        bool offsetIn64BitRecord = false;    // the 32-bit offset field holds the marker
        std::uint64_t centralOffset = 0;     // of its own record, as recorded (minizip's)
        // Seconds since the epoch (UTC) from an extended-timestamp block, where there is one.
        std::optional<std::int64_t> modified{};
        Local local = Local::Outside;
        std::uint64_t headerAt = 0;   // of the local header in the file, shift included
        std::uint64_t dataOffset = 0; // of the stored bytes in the file, when Read
        // Read, but the local header names another file: a reader going by local
        // headers would write another file than this one.
        bool localNameDiffers = false;

        // The local header is sound and the stored bytes lie within `fileSize` bytes.
        bool dataWithin(std::uint64_t fileSize) const;
    };

    // Inconsistent64: ZIP64 records missing where the 32-bit fields point to them,
    // too short for what they must hold, or disagreeing with the 32-bit records.
    enum class Status { Read, Damaged, Inconsistent64 };

    Status status = Status::Damaged;
    std::uint64_t fileSize = 0;
    // Bytes in front of the archive proper (a self-extractor's program, say); every
    // recorded offset is shifted by them, as minizip does.
    std::uint64_t shift = 0;
    std::uint64_t directoryStart = 0; // in the file, shift included
    std::uint64_t declaredCount = 0;  // the end records' entry count
    QList<Entry> entries;             // every record actually present, in order

    // Reads the index of the archive open at `fd`.
    static ArchiveIndex read(int fd);
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
