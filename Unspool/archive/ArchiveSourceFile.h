#pragma once

#include <QByteArray>

#include <cstdint>
#include <ctime>

// A file on disk about to become an archive entry: all of its content and its
// modification time, read through one descriptor so both belong to the same file.
struct ArchiveSourceFile {
    QByteArray content;
    time_t modified = 0;

    // False when the file is missing, a folder, or cannot be read to its end: an
    // entry must never stand for a file it could not read.
    bool read(const QByteArray &path);

    std::uint32_t crc() const;

    // The content as an encrypted entry stores it: the encryption header, then the
    // raw deflate stream (default level, 32 KiB window, memory level 8), encrypted.
    // Null when deflate fails.
    QByteArray encryptedEntryData(const QByteArray &password, std::uint32_t crc) const;
};
