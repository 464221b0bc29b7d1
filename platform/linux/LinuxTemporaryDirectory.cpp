#include "LinuxTemporaryDirectory.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

namespace
{

QString withTrailingSlash(QString path)
{
    if (!path.endsWith('/'))
        path += '/';
    return path;
}

// Our own folder, reached without following a link. One we own that others may
// enter is closed again (a folder of ours left too open by someone's umask);
// anything else is refused.
bool makePrivate(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {
    };
    const bool ours = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
    const bool closed = ours && ((st.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    return closed;
}

// A folder other users may write to: anything they plant there could be run.
bool othersMayWrite(const QString &folder)
{
    struct stat st {
    };
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return false; // a missing folder fails later, where it is used
    return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

} // namespace

QString LinuxTemporaryDirectory::privateFolderBelow(const QString &root)
{
    const QString folder = withTrailingSlash(root) + QStringLiteral("user-%1").arg(::getuid());
    const QByteArray bytes = QFile::encodeName(folder);
    if (::mkdir(bytes.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    return makePrivate(bytes) ? withTrailingSlash(folder) : QString();
}

QString LinuxTemporaryDirectory::path() const
{
    const QString tmpdir = qEnvironmentVariable("TMPDIR");
    if (tmpdir.isEmpty())
        return privateFolderBelow(QStringLiteral("/tmp"));
    if (othersMayWrite(tmpdir))
        return privateFolderBelow(tmpdir);
    return withTrailingSlash(tmpdir);
}

} // namespace platform
