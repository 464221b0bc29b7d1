#pragma once

#include "foundation_ext/FileDescriptor.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <sys/types.h>

// Writes a ZIP archive front to back, one deflated entry at a time, the data handed in
// pieces of any size, so memory does not grow with a file's size. Every entry says it
// was made on Unix and carries its file's mode, so other tools restore the mode and take
// names beyond ASCII, flagged as UTF-8, at their word. ZIP64 records are written when,
// and only when, the archive needs them: per entry when its size may reach 4 GiB, and
// the 64-bit end records when the entries number 65,535 or more or the directory lies
// past 4 GiB. An entry that fails is taken out again, so the archive stays sound for
// the next one. Not for use from two threads at once.
class ArchiveZipWriter
{
  public:
    struct Entry {
        QByteArray name;        // UTF-8, "/"-separated
        time_t modified = 0;    // stored as a DOS time in local time
        mode_t mode = 0;        // file type and permissions
        std::uint64_t size = 0; // of the content: whether ZIP64 sizes are needed
        QByteArray password;    // traditional encryption, when not empty
        // With a password: the content's CRC-32, which the encryption header carries
        // before any data. The entry fails when the content does not match it.
        std::uint32_t crc = 0;
    };

    ~ArchiveZipWriter();
    ArchiveZipWriter(const ArchiveZipWriter &) = delete;
    ArchiveZipWriter &operator=(const ArchiveZipWriter &) = delete;

    // A new archive at `path`, replacing any file there; null when it cannot be created.
    static std::unique_ptr<ArchiveZipWriter> create(const QByteArray &path);

    // One entry: begin, its content in any number of writes, end.
    bool begin(const Entry &entry);
    bool write(const char *data, std::size_t size);
    bool end();
    // Writes the directory and the end records.
    bool finish();

  private:
    explicit ArchiveZipWriter(FileDescriptor file);
    struct OpenEntry; // the entry being written: its deflater, cipher and counts

    bool deflateInto(int flush);
    bool append(const QByteArray &bytes);
    bool patchLocalHeader();
    void addCentralRecord();
    bool failEntry();
    bool drop();

    FileDescriptor m_file;
    std::uint64_t m_offset = 0; // where the next byte goes
    std::unique_ptr<OpenEntry> m_entry;
    QByteArray m_directory; // the central records of the entries written
    std::uint64_t m_count = 0;
};
