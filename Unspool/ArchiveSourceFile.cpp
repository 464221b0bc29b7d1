#include "ArchiveSourceFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

struct Descriptor {
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int fd;
};

bool readAll(int fd, QByteArray &content, qint64 expected)
{
    content.clear();
    content.reserve(expected);
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        content.append(chunk, n);
    }
}

} // namespace

bool ArchiveSourceFile::read(const QByteArray &path)
{
    // A link is followed: the entry holds what it points to.
    const Descriptor file(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (file.fd < 0)
        return false;
    struct stat st {
    };
    if (::fstat(file.fd, &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    modified = st.st_mtim.tv_sec;
    return readAll(file.fd, content, st.st_size);
}
