#include "Unspool/archive/ArchiveDestination.h"

#include "Unspool/archive/ArchiveFileWriter.h"
#include "foundation_ext/NSFileManagerPathCategory.h"
#include "foundation_ext/PathBytes.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Folders held open at most; the rest of the process keeps room for its own.
constexpr qsizetype kMostHeld = 256;

QByteArray relativeKey(const QList<QByteArray> &components, qsizetype count)
{
    QByteArray key;
    for (qsizetype i = 0; i < count; ++i) {
        if (i)
            key += '/';
        key += components.at(i);
    }
    return key;
}

void closeHeld(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

ArchiveDestination::ArchiveDestination(const QByteArray &path)
    : m_path(withoutTrailingSlashes(path))
{
}

ArchiveDestination::~ArchiveDestination()
{
    for (Held &folder : m_held)
        closeHeld(folder.fd);
    closeHeld(m_passing.fd);
    closeHeld(m_destination.fd);
}

QByteArray ArchiveDestination::fullPath(const QList<QByteArray> &components, qsizetype count) const
{
    QByteArray path = m_path;
    for (qsizetype i = 0; i < count; ++i) {
        if (!path.isEmpty() && !path.endsWith('/'))
            path += '/';
        path += components.at(i);
    }
    return path;
}

int ArchiveDestination::folder(const QList<QByteArray> &components, qsizetype count)
{
    closeHeld(m_passing.fd);
    if (!openDestination())
        return -1;
    Held *folder = count == 0 ? &m_destination : walk(components, count);
    if (!folder)
        return -1;
    sweepOnFirstVisit(*folder);
    return folder->fd;
}

int ArchiveDestination::openFile(const QList<QByteArray> &components)
{
    if (components.isEmpty() || !openDestination())
        return -1;
    int fd = ::dup(m_destination.fd);
    for (qsizetype i = 0; i < components.size() && fd >= 0; ++i) {
        const QByteArray &name = components.at(i);
        const bool last = i + 1 == components.size();
        const int next =
            name.isEmpty() || name == "." || name == ".."
                ? -1
                : ::openat(fd, name.constData(),
                           O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (last ? O_NONBLOCK : O_DIRECTORY));
        ::close(fd);
        fd = next;
    }
    return fd;
}

bool ArchiveDestination::openDestination()
{
    if (m_destination.fd >= 0)
        return true;
    // The destination itself is the caller's choice and may be reached through links.
    // An empty one is the working folder, as a name joined to it stands alone.
    const QByteArray path = m_path.isEmpty() ? QByteArray(".") : m_path;
    m_destination.fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_destination.fd < 0 && errno == ENOENT) {
        // The shared folder creation takes every path from the root.
        CreateDirectoriesWithIntermediates::createDirectoryAtPath(absolutePath(path), true);
        m_destination.fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    return m_destination.fd >= 0;
}

// A folder reached by several paths is swept once per extraction.
void ArchiveDestination::sweepOnFirstVisit(Held &folder)
{
    if (folder.swept)
        return;
    folder.swept = true;
    struct stat st {
    };
    if (::fstat(folder.fd, &st) != 0)
        return;
    if (m_swept.insert(std::make_pair(st.st_dev, st.st_ino)).second)
        ArchiveFileWriter::removeLeftovers(folder.fd);
}

// Opens each component below the nearest folder already open without following
// links, making a missing one inside the folder just opened: every step is
// relative to a folder held open, so a link swapped in for a folder on the way
// makes the walk fail instead of leading it (or a new folder) outside.
ArchiveDestination::Held *ArchiveDestination::walk(const QList<QByteArray> &components,
                                                   qsizetype count)
{
    qsizetype known = count;
    Held *parent = nullptr;
    for (; known > 0; --known) {
        const auto found = m_held.find(relativeKey(components, known));
        if (found != m_held.end()) {
            parent = &found.value();
            break;
        }
    }
    if (known == count)
        return parent;
    int fd = parent ? parent->fd : m_destination.fd;
    bool holding = true; // whether `fd` belongs to m_held (or is the destination)
    for (qsizetype i = known; i < count; ++i) {
        const int next =
            CreateDirectoriesWithIntermediates::openOrCreateDirectoryAt(fd, components.at(i));
        if (!holding)
            ::close(fd);
        if (next < 0)
            return nullptr;
        fd = next;
        holding = m_held.size() < kMostHeld;
        if (holding)
            parent = &m_held.insert(relativeKey(components, i + 1), Held{fd, false}).value();
    }
    if (holding)
        return parent;
    m_passing = Held{fd, false};
    return &m_passing;
}
