#pragma once

#include <QByteArray>

#include <cstddef>
#include <ctime>
#include <memory>

// Writes one extracted file after another through a large buffer, so a file costs
// few system calls however small the pieces the archive hands out. A failure is
// sticky: once a write fails, nothing more is written and finish() says so.
class ArchiveFileWriter
{
  public:
    ArchiveFileWriter();
    ~ArchiveFileWriter();
    ArchiveFileWriter(const ArchiveFileWriter &) = delete;
    ArchiveFileWriter &operator=(const ArchiveFileWriter &) = delete;

    // Creates `name` inside `folderFd`, or empties the file there, without following
    // a link and without writing into anything but a regular file of its own (a file
    // with other hard links is replaced by a new one, not written through).
    bool open(int folderFd, const QByteArray &name);

    // Room for `size` bytes (at most kChunk) at the end of the buffer, or null after
    // a failure. commit() tells how many of them were filled.
    char *space(std::size_t size);
    void commit(std::size_t size);

    // Bytes handed over for the current file so far.
    unsigned long long total() const { return _total; }

    // Writes what is left, sets the modification time, gives the file mode 0777
    // when asked, and closes it. False when any write or the close failed.
    bool finish(time_t modified, bool openToEveryone);

    static constexpr std::size_t kChunk = 4096;

  private:
    bool flush();
    void closeQuietly();

    std::unique_ptr<char[]> _buffer;
    std::size_t _fill = 0;
    unsigned long long _total = 0;
    int _fd = -1;
    bool _failed = false;
};
