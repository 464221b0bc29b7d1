#include "ArchiveFileWriter.h"

#include "FileIO.h"

#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

namespace
{

// Large enough that a big file goes out in few writes, small enough not to matter
// twice over.
constexpr std::size_t kBufferSize = std::size_t{1} << 20;

// O_NONBLOCK keeps a planted FIFO from blocking the open; it means nothing for the
// regular files that are accepted.
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

int openRegularFile(int folderFd, const char *name, int extraFlags)
{
    const int fd = ::openat(folderFd, name, kCreateFlags | extraFlags, 0666);
    if (fd < 0)
        return -1;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    if (st.st_nlink > 1) {
        // Writing would change the other names' content too, maybe outside the lesson.
        ::close(fd);
        if (::unlinkat(folderFd, name, 0) != 0)
            return -1;
        return openRegularFile(folderFd, name, O_EXCL);
    }
    if (st.st_size > 0 && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

// The second buffer comes with the first hand-off, so a lesson of small files
// never pays for it.
ArchiveFileWriter::ArchiveFileWriter() : _buffers{std::unique_ptr<char[]>(new char[kBufferSize])} {}

ArchiveFileWriter::~ArchiveFileWriter()
{
    closeQuietly();
    if (_background.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(_mutex);
            _stopping = true;
        }
        _changed.notify_all();
        _background.join();
    }
}

bool ArchiveFileWriter::open(int folderFd, const QByteArray &name)
{
    closeQuietly();
    _fill = 0;
    _total = 0;
    _crc = 0;
    _failed = false;
    _fd = openRegularFile(folderFd, name.constData(), 0);
    return _fd >= 0;
}

char *ArchiveFileWriter::space(std::size_t &room)
{
    room = 0;
    if (_fd < 0 || _failed)
        return nullptr;
    if (kBufferSize - _fill < kChunk && !handOff())
        return nullptr;
    room = kBufferSize - _fill;
    return _buffers[_current].get() + _fill;
}

void ArchiveFileWriter::commit(std::size_t size)
{
    _fill += size;
    _total += size;
}

bool ArchiveFileWriter::writeOut(const char *bytes, std::size_t size)
{
    _crc = static_cast<std::uint32_t>(
        crc32_z(_crc, reinterpret_cast<const Bytef *>(bytes), static_cast<z_size_t>(size)));
    return writeAll(_fd, bytes, size);
}

// Gives the full buffer to the background thread, once the one before it is
// written, and goes on filling the other.
bool ArchiveFileWriter::handOff()
{
    if (!_background.joinable() && !startBackground()) {
        // No thread to be had: this buffer is written here and now instead.
        if (!writeOut(_buffers[_current].get(), _fill))
            _failed = true;
        _fill = 0;
        return !_failed;
    }
    {
        std::unique_lock<std::mutex> lock(_mutex);
        _changed.wait(lock, [this] { return !_pending; });
        if (_failed)
            return false;
        _pending = _buffers[_current].get();
        _pendingSize = _fill;
    }
    _changed.notify_all();
    _current = 1 - _current;
    _fill = 0;
    return true;
}

bool ArchiveFileWriter::startBackground()
{
    try {
        _buffers[1].reset(new char[kBufferSize]);
        _background = std::thread(&ArchiveFileWriter::backgroundLoop, this);
        return true;
    } catch (const std::exception &) { // out of memory or of threads
        _buffers[1].reset();
        return false;
    }
}

void ArchiveFileWriter::waitForBackground()
{
    if (!_background.joinable())
        return;
    std::unique_lock<std::mutex> lock(_mutex);
    _changed.wait(lock, [this] { return !_pending; });
}

void ArchiveFileWriter::backgroundLoop()
{
    std::unique_lock<std::mutex> lock(_mutex);
    for (;;) {
        _changed.wait(lock, [this] { return _pending || _stopping; });
        if (_stopping)
            return;
        const char *bytes = _pending;
        const std::size_t size = _pendingSize;
        lock.unlock();
        const bool written = writeOut(bytes, size);
        lock.lock();
        if (!written)
            _failed = true;
        _pending = nullptr;
        _changed.notify_all();
    }
}

bool ArchiveFileWriter::finish(time_t modified, bool openToEveryone)
{
    if (_fd < 0)
        return false;
    waitForBackground();
    if (!_failed && !writeOut(_buffers[_current].get(), _fill))
        _failed = true;
    _fill = 0;
    if (openToEveryone)
        ::fchmod(_fd, 0777);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {modified, 0}};
    ::futimens(_fd, times);
    const bool closed = ::close(_fd) == 0;
    _fd = -1;
    return closed && !_failed;
}

void ArchiveFileWriter::closeQuietly()
{
    waitForBackground();
    if (_fd >= 0)
        ::close(_fd);
    _fd = -1;
}
