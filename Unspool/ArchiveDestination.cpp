#include "ArchiveDestination.h"

#include "ArchiveFileWriter.h"
#include "NSFileManagerPathCategory.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QByteArray absoluteBytes(const QByteArray &path)
{
    if (path.startsWith('/'))
        return path;
    return QFile::encodeName(QDir::currentPath()) + '/' + path;
}

QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

bool sameStart(const QList<QByteArray> &cached, const QList<QByteArray> &components,
               qsizetype count)
{
    if (cached.size() != count)
        return false;
    for (qsizetype i = 0; i < count; ++i) {
        if (cached.at(i) != components.at(i))
            return false;
    }
    return true;
}

} // namespace

ArchiveDestination::ArchiveDestination(const QByteArray &path)
    : _path(withoutTrailingSlashes(absoluteBytes(path)))
{
}

ArchiveDestination::~ArchiveDestination()
{
    forgetCachedFolder();
    if (_destinationFd >= 0)
        ::close(_destinationFd);
}

QByteArray ArchiveDestination::fullPath(const QList<QByteArray> &components, qsizetype count) const
{
    QByteArray path = _path == "/" ? QByteArray() : _path;
    for (qsizetype i = 0; i < count; ++i)
        path += '/' + components.at(i);
    return path.isEmpty() ? QByteArray("/") : path;
}

int ArchiveDestination::folder(const QList<QByteArray> &components, qsizetype count)
{
    if (!openDestination())
        return -1;
    if (count == 0)
        return _destinationFd;
    if (_cachedFd >= 0 && sameStart(_cachedComponents, components, count))
        return _cachedFd;
    forgetCachedFolder();
    const int fd = walk(components, count);
    if (fd < 0)
        return -1;
    sweepOnFirstVisit(fd);
    _cachedFd = fd;
    _cachedComponents = components.first(count);
    return fd;
}

bool ArchiveDestination::openDestination()
{
    if (_destinationFd >= 0)
        return true;
    // The destination itself is the caller's choice and may be reached through links.
    _destinationFd = ::open(_path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (_destinationFd < 0 && errno == ENOENT) {
        CreateDirectoriesWithIntermediates::createDirectoryAtPath(_path, true);
        _destinationFd = ::open(_path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (_destinationFd < 0)
        return false;
    sweepOnFirstVisit(_destinationFd);
    return true;
}

// A folder reached by several paths (or met again after the cache moved on) is
// swept once per extraction.
void ArchiveDestination::sweepOnFirstVisit(int folderFd)
{
    struct stat st {
    };
    if (::fstat(folderFd, &st) != 0)
        return;
    const auto folderId = std::make_pair(st.st_dev, st.st_ino);
    if (!_swept.insert(folderId).second)
        return;
    ArchiveFileWriter::removeLeftovers(folderFd);
}

// Opens each component below the destination without following links, making a
// missing one inside the folder just opened: every step is relative to a folder
// held open, so a link swapped in for a folder on the way makes the walk fail
// instead of leading it (or a new folder) outside.
int ArchiveDestination::walk(const QList<QByteArray> &components, qsizetype count)
{
    int fd = _destinationFd;
    for (qsizetype i = 0; i < count; ++i) {
        const int next =
            CreateDirectoriesWithIntermediates::openOrCreateDirectoryAt(fd, components.at(i));
        if (fd != _destinationFd)
            ::close(fd);
        if (next < 0)
            return -1;
        fd = next;
    }
    return fd;
}

void ArchiveDestination::forgetCachedFolder()
{
    if (_cachedFd >= 0)
        ::close(_cachedFd);
    _cachedFd = -1;
    _cachedComponents.clear();
}
