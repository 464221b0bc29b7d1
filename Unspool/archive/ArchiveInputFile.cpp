#include "Unspool/archive/ArchiveInputFile.h"

#include "foundation_ext/FileIO.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr std::size_t kWindowSize = 256 * 1024;

struct Window {
    std::unique_ptr<char[]> bytes; // made when first filled
    std::uint64_t start = 0;
    std::size_t fill = 0;
    std::uint64_t lastUse = 0;

    bool holds(std::uint64_t position) const
    {
        return position >= start && position - start < fill;
    }
};

} // namespace

struct ArchiveInputFile::File {
    int fd = -1;
    std::size_t windowSize = kWindowSize; // less for a small archive
    std::uint64_t position = 0;
    Window windows[2];
    std::uint64_t uses = 0;
    bool failed = false;

    ~File()
    {
        if (fd >= 0)
            ::close(fd);
    }

    // Up to `size` bytes at `offset`, straight from the file; -1 on an error.
    ssize_t readAt(char *into, std::size_t size, std::uint64_t offset)
    {
        const ssize_t n = preadUpTo(fd, into, size, offset);
        failed = failed || n < 0;
        return n;
    }

    // The window holding `position`, refilled from there if neither does, or null
    // at the end of the file or after an error.
    Window *windowAt(std::uint64_t at)
    {
        for (Window &w : windows) {
            if (w.holds(at)) {
                w.lastUse = ++uses;
                return &w;
            }
        }
        Window &w = windows[0].lastUse <= windows[1].lastUse ? windows[0] : windows[1];
        w.fill = 0;
        if (!w.bytes)
            w.bytes.reset(new char[windowSize]);
        const ssize_t n = readAt(w.bytes.get(), windowSize, at);
        if (n <= 0)
            return nullptr;
        w.start = at;
        w.fill = static_cast<std::size_t>(n);
        w.lastUse = ++uses;
        return &w;
    }

    const char *view(std::uint64_t at, std::size_t want, std::size_t &got)
    {
        got = 0;
        if (failed)
            return nullptr;
        Window *w = windowAt(at);
        if (!w) // the end of the file, or an error
            return failed ? nullptr : "";
        const std::size_t offset = static_cast<std::size_t>(at - w->start);
        got = std::min<std::size_t>(w->fill - offset, want);
        return w->bytes.get() + offset;
    }

    // minizip's reads: its records, a few bytes each, through the windows.
    uLong read(char *into, uLong size)
    {
        uLong done = 0;
        std::size_t got = 0;
        while (done < size) {
            const char *piece = view(position, size - done, got);
            if (!piece || got == 0)
                break;
            std::memcpy(into + done, piece, got);
            done += static_cast<uLong>(got);
            position += got;
        }
        return done;
    }
};

namespace
{

ArchiveInputFile::File *inputFile(voidpf stream)
{
    return static_cast<ArchiveInputFile::File *>(stream);
}

} // namespace

bool ArchiveInputFile::open(const QByteArray &path)
{
    // O_NONBLOCK: a FIFO at the path must not hang the open; it is refused below.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
    m_file = std::make_unique<File>();
    m_file->fd = fd;
    m_file->windowSize = static_cast<std::size_t>(
        std::clamp<off_t>(st.st_size, 4096, static_cast<off_t>(kWindowSize)));
    return true;
}

namespace
{

voidpf ZCALLBACK openFile(voidpf file, const void *, int mode)
{
    const bool reading = (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ;
    return reading ? file : nullptr;
}

uLong ZCALLBACK readFile(voidpf, voidpf stream, void *buf, uLong size)
{
    return inputFile(stream)->read(static_cast<char *>(buf), size);
}

uLong ZCALLBACK writeFile(voidpf, voidpf, const void *, uLong)
{
    return 0; // opened for reading only
}

ZPOS64_T ZCALLBACK tellFile(voidpf, voidpf stream)
{
    return inputFile(stream)->position;
}

long ZCALLBACK seekFile(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    ArchiveInputFile::File *file = inputFile(stream);
    std::uint64_t base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        break;
    case ZLIB_FILEFUNC_SEEK_CUR:
        base = file->position;
        break;
    case ZLIB_FILEFUNC_SEEK_END: {
        struct stat st {
        };
        if (::fstat(file->fd, &st) != 0)
            return -1;
        base = static_cast<std::uint64_t>(st.st_size);
        break;
    }
    default:
        return -1;
    }
    if (offset > INT64_MAX - base)
        return -1;
    file->position = base + offset;
    return 0;
}

int ZCALLBACK testError(voidpf, voidpf stream)
{
    return inputFile(stream)->failed ? 1 : 0;
}

int ZCALLBACK closeFile(voidpf, voidpf)
{
    return 0; // the file stays open for its owner
}

} // namespace

ArchiveInputFile::ArchiveInputFile() = default;
ArchiveInputFile::~ArchiveInputFile() = default;

const char *ArchiveInputFile::view(std::uint64_t offset, std::size_t want, std::size_t &got)
{
    got = 0;
    return m_file ? m_file->view(offset, want, got) : nullptr;
}

int ArchiveInputFile::descriptor() const
{
    return m_file ? m_file->fd : -1;
}

zlib_filefunc64_def ArchiveInputFile::functions()
{
    zlib_filefunc64_def functions{};
    functions.zopen64_file = openFile;
    functions.zread_file = readFile;
    functions.zwrite_file = writeFile;
    functions.ztell64_file = tellFile;
    functions.zseek64_file = seekFile;
    functions.zclose_file = closeFile;
    functions.zerror_file = testError;
    functions.opaque = m_file.get();
    return functions;
}
