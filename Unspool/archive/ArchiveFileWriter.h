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
#include <utility>

#include <sys/types.h>

// Writes one extracted file after another through a large buffer, so a file costs
// few system calls however small the pieces the archive hands out. A file larger
// than the buffer is written by a thread of the writer's own while the next buffer
// fills, so inflating and copying into the file system overlap on two cores; a
// smaller file is written at finish() by the caller's thread alone. A failure is
// sticky: once a write fails, nothing more is written and finish() says so.
//
// A file is never written into where it will stay: it is written as a new file
// beside its final name and only putInPlace() renames it over that name, once the
// caller has checked it. A damaged entry so leaves the previous copy as it was, and
// a running program's executable can be replaced (writing into it fails with
// ETXTBSY), as can a file with other hard links, whose other names keep the old
// content. Where the file system can, the new file has no name at all until it is
// complete (O_TMPFILE); elsewhere it has a hidden one, kLeftoverPrefix and a random
// part, and a file of exactly that form that an interrupted run left behind is
// removed by removeLeftovers() on the next.
class ArchiveFileWriter
{
  public:
    ArchiveFileWriter();
    ~ArchiveFileWriter();
    ArchiveFileWriter(const ArchiveFileWriter &) = delete;
    ArchiveFileWriter &operator=(const ArchiveFileWriter &) = delete;

    // Starts the new file that is to become `name` inside `folderFd`. False when
    // something other than a regular file is at `name` (a link, a FIFO, a folder) or
    // no new file can be made there. The folder descriptor must stay open until
    // the file is put in place or dropped.
    bool open(int folderFd, const QByteArray &name);

    // The free end of the buffer, at least kChunk bytes (`room` tells how many), or
    // null after a failure. commit() tells how many of them were filled.
    char *space(std::size_t &room);
    void commit(std::size_t size);

    // Bytes handed over for the current file so far.
    unsigned long long total() const { return m_total; }

    // The CRC-32 of the current file's content, once finish() has written it all.
    std::uint32_t crc() const { return m_crc; }
    // The system's error number of the current file's failed write (whichever thread
    // wrote), 0 while none failed.
    int writeError() const { return m_writeError; }

    // Writes what is left, sets the modification time and gives the file mode 0777
    // when asked. False when any write failed.
    bool finish(time_t modified, bool openToEveryone);

    // After a successful finish(): closes the new file and renames it over its name.
    // False, with nothing left behind, when the close or the rename fails.
    bool putInPlace();
    // The device and inode of the file last put in place.
    std::pair<dev_t, ino_t> placed() const { return m_placed; }
    // Drops the new file; the old one at its name stays as it was.
    void discard();

    // Removes the hidden files an interrupted run left in the folder open at `folderFd`,
    // and no other file, whatever its name begins with.
    static void removeLeftovers(int folderFd);

    // The one prefix of every name a new file has before it is put in place.
    static constexpr char kLeftoverPrefix[] = ".unspool-partial-";
    static constexpr std::size_t kChunk = 4096;

  private:
    bool writeOut(const char *bytes, std::size_t size); // also sums the CRC
    bool handOff();
    bool startBackground();
    void waitForBackground();
    void backgroundLoop();
    bool openHidden();
    bool nameUnnamed();

    std::unique_ptr<char[]> m_buffers[2];
    int m_current = 0; // the buffer being filled
    std::size_t m_fill = 0;
    unsigned long long m_total = 0;
    std::uint32_t m_crc = 0; // summed by whichever thread writes, one after the other
    int m_fd = -1;
    std::pair<dev_t, ino_t> m_placed{};
    int m_folderFd = -1;               // where the file goes; not ours to close
    QByteArray m_name;                 // its final name there
    QByteArray m_hidden;               // its hidden name there, once it has one
    std::atomic<bool> m_failed{false}; // also set by the background thread
    int m_writeError = 0;              // set before m_failed, by the thread that wrote

    // The background write: one buffer at a time, handed over under the mutex.
    std::thread m_background;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const char *m_pending = nullptr;
    std::size_t m_pendingSize = 0;
    bool m_stopping = false;
};
