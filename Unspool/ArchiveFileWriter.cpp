#include "ArchiveFileWriter.h"

#include "FileIO.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

namespace
{

// Large enough that a big file goes out in few writes, small enough not to matter
// twice over.
constexpr std::size_t kBufferSize = std::size_t{1} << 20;

// Only a regular file is replaced: a link or a FIFO at the name is refused, as is
// a folder, which the rename could not replace anyway.
bool mayReplace(int folderFd, const char *name)
{
    struct stat st {
    };
    if (::fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
        return S_ISREG(st.st_mode);
    return errno == ENOENT;
}

// The processors the program was given when it started, read before anything in
// it could hold a thread on one processor.
struct StartMask {
    StartMask() { known = ::sched_getaffinity(0, sizeof mask, &mask) == 0; }
    cpu_set_t mask;
    bool known = false;
};
const StartMask startMask;

// The writing thread is started by the extracting thread, which may be held on the
// processor of the main thread while it hands progress over; the writer takes the
// program's own processors instead, so that a big file is written beside the
// work of those two and not between them.
void leaveHeldProcessor()
{
    cpu_set_t current;
    if (startMask.known && ::sched_getaffinity(0, sizeof current, &current) == 0 &&
        !CPU_EQUAL(&current, &startMask.mask))
        ::sched_setaffinity(0, sizeof startMask.mask, &startMask.mask);
}

// What open(2) says when the file system (or the kernel) has no unnamed files.
bool lacksUnnamedFiles(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// A hidden name is the prefix and a random 64-bit number in base 36, always 13
// digits long: a user's file that merely starts with the prefix never has this form.
constexpr qsizetype kRandomDigits = 13;

QByteArray newHiddenName()
{
    return QByteArray(ArchiveFileWriter::kLeftoverPrefix) +
           QByteArray::number(QRandomGenerator::global()->generate64(), 36)
               .rightJustified(kRandomDigits, '0');
}

bool isHiddenName(const char *name)
{
    const QByteArray prefix(ArchiveFileWriter::kLeftoverPrefix);
    const QByteArray whole(name);
    const QByteArray digits = whole.mid(prefix.size());
    return whole.startsWith(prefix) && digits.size() == kRandomDigits &&
           std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); });
}

// A hidden name is random, so a clash with another run's is rare; a few tries
// get past it.
constexpr int kNameTries = 8;

} // namespace

// The second buffer comes with the first hand-off, so a lesson of small files
// never pays for it.
ArchiveFileWriter::ArchiveFileWriter() : _buffers{std::unique_ptr<char[]>(new char[kBufferSize])} {}

ArchiveFileWriter::~ArchiveFileWriter()
{
    discard();
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
    discard();
    _fill = 0;
    _total = 0;
    _crc = 0;
    _failed = false;
    if (!mayReplace(folderFd, name.constData()))
        return false;
    _folderFd = folderFd;
    _name = name;
    _fd = ::openat(folderFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (_fd < 0 && lacksUnnamedFiles(errno))
        return openHidden();
    return _fd >= 0;
}

bool ArchiveFileWriter::openHidden()
{
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    for (int i = 0; i < kNameTries; ++i) {
        const QByteArray hidden = newHiddenName();
        _fd = ::openat(_folderFd, hidden.constData(), kFlags, 0666);
        if (_fd >= 0) {
            _hidden = hidden;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Gives the unnamed file its hidden name, through /proc, which any user may do,
// or else by its descriptor, which takes a capability.
bool ArchiveFileWriter::nameUnnamed()
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(_fd);
    for (int i = 0; i < kNameTries; ++i) {
        const QByteArray hidden = newHiddenName();
        if (::linkat(AT_FDCWD, self.constData(), _folderFd, hidden.constData(),
                     AT_SYMLINK_FOLLOW) == 0 ||
            (errno != EEXIST &&
             ::linkat(_fd, "", _folderFd, hidden.constData(), AT_EMPTY_PATH) == 0)) {
            _hidden = hidden;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
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
    leaveHeldProcessor();
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
    return !_failed;
}

// The rename is the only step that touches the old file's name, and it comes last:
// until then a failure anywhere leaves the old file as it was.
bool ArchiveFileWriter::putInPlace()
{
    if (_fd < 0 || _failed || (_hidden.isEmpty() && !nameUnnamed())) {
        discard();
        return false;
    }
    struct stat st {
    };
    ::fstat(_fd, &st);
    _placed = {st.st_dev, st.st_ino};
    const bool closed = ::close(_fd) == 0;
    _fd = -1;
    if (!closed || ::renameat(_folderFd, _hidden.constData(), _folderFd, _name.constData()) != 0) {
        discard();
        return false;
    }
    _hidden.clear();
    return true;
}

void ArchiveFileWriter::discard()
{
    waitForBackground();
    if (_fd >= 0)
        ::close(_fd);
    _fd = -1;
    if (!_hidden.isEmpty())
        ::unlinkat(_folderFd, _hidden.constData(), 0);
    _hidden.clear();
}

void ArchiveFileWriter::removeLeftovers(int folderFd)
{
    const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return;
    DIR *folder = ::fdopendir(listFd);
    if (!folder) {
        ::close(listFd);
        return;
    }
    while (const dirent *item = ::readdir(folder)) {
        if (isHiddenName(item->d_name))
            ::unlinkat(folderFd, item->d_name, 0);
    }
    ::closedir(folder);
}
