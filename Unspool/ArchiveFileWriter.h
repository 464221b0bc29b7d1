#pragma once

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

// Writes one extracted file after another through a large buffer, so a file costs
// few system calls however small the pieces the archive hands out. A file larger
// than the buffer is written by a thread of the writer's own while the next buffer
// fills, so inflating and copying into the file system overlap on two cores; a
// smaller file is written at finish() by the caller's thread alone. A failure is
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

    // The free end of the buffer, at least kChunk bytes (`room` tells how many), or
    // null after a failure. commit() tells how many of them were filled.
    char *space(std::size_t &room);
    void commit(std::size_t size);

    // Bytes handed over for the current file so far.
    unsigned long long total() const { return _total; }

    // The CRC-32 of the current file's content, once finish() has written it all.
    std::uint32_t crc() const { return _crc; }

    // Writes what is left, sets the modification time, gives the file mode 0777
    // when asked, and closes it. False when any write or the close failed.
    bool finish(time_t modified, bool openToEveryone);

    static constexpr std::size_t kChunk = 4096;

  private:
    bool writeOut(const char *bytes, std::size_t size); // also sums the CRC
    bool handOff();
    bool startBackground();
    void waitForBackground();
    void backgroundLoop();
    void closeQuietly();

    std::unique_ptr<char[]> _buffers[2];
    int _current = 0; // the buffer being filled
    std::size_t _fill = 0;
    unsigned long long _total = 0;
    std::uint32_t _crc = 0; // summed by whichever thread writes, one after the other
    int _fd = -1;
    std::atomic<bool> _failed{false}; // also set by the background thread

    // The background write: one buffer at a time, handed over under the mutex.
    std::thread _background;
    std::mutex _mutex;
    std::condition_variable _changed;
    const char *_pending = nullptr;
    std::size_t _pendingSize = 0;
    bool _stopping = false;
};
