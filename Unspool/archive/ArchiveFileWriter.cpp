#include "Unspool/archive/ArchiveFileWriter.h"

#include "foundation_ext/FileIO.h"
#include "platform/MainThread.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

namespace
{

// Large enough that a big file goes out in few writes, small enough not to matter
// twice over. A file that outgrows it is written by a thread of the writer's own:
// large work, as the main thread's hand-over counts it (see platform::MainThread).
constexpr std::size_t kBufferSize = platform::MainThread::kLargeWorkBytes;

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
ArchiveFileWriter::ArchiveFileWriter() : m_buffers{std::unique_ptr<char[]>(new char[kBufferSize])}
{
}

ArchiveFileWriter::~ArchiveFileWriter()
{
    discard();
    if (m_background.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_background.join();
    }
}

bool ArchiveFileWriter::open(int folderFd, const QByteArray &name)
{
    discard();
    m_fill = 0;
    m_total = 0;
    m_crc = 0;
    m_failed = false;
    m_writeError = 0;
    if (!mayReplace(folderFd, name.constData()))
        return false;
    m_folderFd = folderFd;
    m_name = name;
    m_fd = ::openat(folderFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd < 0 && lacksUnnamedFiles(errno))
        return openHidden();
    return m_fd >= 0;
}

bool ArchiveFileWriter::openHidden()
{
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    for (int i = 0; i < kNameTries; ++i) {
        const QByteArray hidden = newHiddenName();
        m_fd = ::openat(m_folderFd, hidden.constData(), kFlags, 0666);
        if (m_fd >= 0) {
            m_hidden = hidden;
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
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
    for (int i = 0; i < kNameTries; ++i) {
        const QByteArray hidden = newHiddenName();
        if (::linkat(AT_FDCWD, self.constData(), m_folderFd, hidden.constData(),
                     AT_SYMLINK_FOLLOW) == 0 ||
            (errno != EEXIST &&
             ::linkat(m_fd, "", m_folderFd, hidden.constData(), AT_EMPTY_PATH) == 0)) {
            m_hidden = hidden;
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
    if (m_fd < 0 || m_failed)
        return nullptr;
    if (kBufferSize - m_fill < kChunk && !handOff())
        return nullptr;
    room = kBufferSize - m_fill;
    return m_buffers[m_current].get() + m_fill;
}

void ArchiveFileWriter::commit(std::size_t size)
{
    m_fill += size;
    m_total += size;
}

bool ArchiveFileWriter::writeOut(const char *bytes, std::size_t size)
{
    m_crc = static_cast<std::uint32_t>(
        crc32_z(m_crc, reinterpret_cast<const Bytef *>(bytes), static_cast<z_size_t>(size)));
    if (writeAll(m_fd, bytes, size))
        return true;
    m_writeError = errno;
    return false;
}

// Gives the full buffer to the background thread, once the one before it is
// written, and goes on filling the other.
bool ArchiveFileWriter::handOff()
{
    if (!m_background.joinable() && !startBackground()) {
        // No thread to be had: this buffer is written here and now instead.
        if (!writeOut(m_buffers[m_current].get(), m_fill))
            m_failed = true;
        m_fill = 0;
        return !m_failed;
    }
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_pending; });
        if (m_failed)
            return false;
        m_pending = m_buffers[m_current].get();
        m_pendingSize = m_fill;
    }
    m_changed.notify_all();
    m_current = 1 - m_current;
    m_fill = 0;
    return true;
}

bool ArchiveFileWriter::startBackground()
{
    try {
        m_buffers[1].reset(new char[kBufferSize]);
        m_background = std::thread(&ArchiveFileWriter::backgroundLoop, this);
        return true;
    } catch (const std::exception &) { // out of memory or of threads
        m_buffers[1].reset();
        return false;
    }
}

void ArchiveFileWriter::waitForBackground()
{
    if (!m_background.joinable())
        return;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_pending; });
}

void ArchiveFileWriter::backgroundLoop()
{
    // Started by the extracting thread, which may be held on the main thread's
    // processor while it hands progress over.
    platform::MainThread::leaveHeldProcessor();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_pending || m_stopping; });
        if (m_stopping)
            return;
        const char *bytes = m_pending;
        const std::size_t size = m_pendingSize;
        lock.unlock();
        const bool written = writeOut(bytes, size);
        lock.lock();
        if (!written)
            m_failed = true;
        m_pending = nullptr;
        m_changed.notify_all();
    }
}

bool ArchiveFileWriter::finish(time_t modified, bool openToEveryone)
{
    if (m_fd < 0)
        return false;
    waitForBackground();
    if (!m_failed && !writeOut(m_buffers[m_current].get(), m_fill))
        m_failed = true;
    m_fill = 0;
    if (openToEveryone)
        ::fchmod(m_fd, 0777);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {modified, 0}};
    ::futimens(m_fd, times);
    return !m_failed;
}

// The rename is the only step that touches the old file's name, and it comes last:
// until then a failure anywhere leaves the old file as it was.
bool ArchiveFileWriter::putInPlace()
{
    if (m_fd < 0 || m_failed || (m_hidden.isEmpty() && !nameUnnamed())) {
        discard();
        return false;
    }
    struct stat st {
    };
    ::fstat(m_fd, &st);
    m_placed = {st.st_dev, st.st_ino};
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (!closed ||
        ::renameat(m_folderFd, m_hidden.constData(), m_folderFd, m_name.constData()) != 0) {
        discard();
        return false;
    }
    m_hidden.clear();
    return true;
}

void ArchiveFileWriter::discard()
{
    waitForBackground();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_hidden.isEmpty())
        ::unlinkat(m_folderFd, m_hidden.constData(), 0);
    m_hidden.clear();
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
