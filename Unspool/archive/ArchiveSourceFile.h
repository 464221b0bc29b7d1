#pragma once

#include <QByteArray>

#include <cstdint>
#include <ctime>
#include <sys/types.h>

// A file on disk about to become an archive entry: all of its content, its mode and
// its modification time, read through one descriptor so all belong to the same file.
struct ArchiveSourceFile {
    QByteArray content;
    time_t modified = 0;
    mode_t mode = 0;

    // False when the file is missing, a folder, or cannot be read to its end: an
    // entry must never stand for a file it could not read.
    bool read(const QByteArray &path);

    std::uint32_t crc() const;
};
