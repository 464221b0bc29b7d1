#include "ArchiveFileWriter.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Large enough that a big file goes out in few writes, small enough not to matter.
constexpr std::size_t kBufferSize = 1 << 20;

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

ArchiveFileWriter::ArchiveFileWriter() : _buffer(new char[kBufferSize]) {}

ArchiveFileWriter::~ArchiveFileWriter()
{
    closeQuietly();
}

bool ArchiveFileWriter::open(int folderFd, const QByteArray &name)
{
    closeQuietly();
    _fill = 0;
    _total = 0;
    _failed = false;
    _fd = openRegularFile(folderFd, name.constData(), 0);
    return _fd >= 0;
}

char *ArchiveFileWriter::space(std::size_t size)
{
    if (_failed || _fd < 0)
        return nullptr;
    if (kBufferSize - _fill < size && !flush())
        return nullptr;
    return _buffer.get() + _fill;
}

void ArchiveFileWriter::commit(std::size_t size)
{
    _fill += size;
    _total += size;
}

bool ArchiveFileWriter::flush()
{
    std::size_t done = 0;
    while (done < _fill) {
        const ssize_t n = ::write(_fd, _buffer.get() + done, _fill - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            _failed = true;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    _fill = 0;
    return true;
}

bool ArchiveFileWriter::finish(time_t modified, bool openToEveryone)
{
    if (_fd < 0)
        return false;
    if (!_failed)
        flush();
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
    if (_fd >= 0)
        ::close(_fd);
    _fd = -1;
}
