#include "foundation_ext/NSFileManagerPathCategory.h"

#include "foundation_ext/NSStringReplaceAllCategory.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

mode_t folderMode(const QVariantMap *attributes)
{
    using CreateDirectoriesWithIntermediates::kPosixPermissionsKey;
    if (attributes && attributes->contains(kPosixPermissionsKey))
        return static_cast<mode_t>(attributes->value(kPosixPermissionsKey).toUInt());
    return 0777; // narrowed by the umask, as any new folder
}

bool hasExplicitMode(const QVariantMap *attributes)
{
    return attributes &&
           attributes->contains(CreateDirectoriesWithIntermediates::kPosixPermissionsKey);
}

bool createSingleFolder(const QByteArray &path, const QVariantMap *attributes)
{
    const mode_t mode = folderMode(attributes);
    if (::mkdir(path.constData(), mode) != 0)
        return false;
    // An explicit mode is meant as given, not as narrowed by the umask.
    if (hasExplicitMode(attributes))
        ::chmod(path.constData(), mode);
    return true;
}

bool existsAt(const QByteArray &path)
{
    struct stat st {
    };
    return ::stat(path.constData(), &st) == 0;
}

} // namespace

namespace CreateDirectoriesWithIntermediates
{

bool createDirectoryAtPath(const QByteArray &path, bool withIntermediateDirectories,
                           const QVariantMap *attributes, QString * /*error: never written*/)
{
    if (path.isNull())
        return false;
    if (!withIntermediateDirectories)
        return createSingleFolder(path, attributes);

    const QByteArray slashed = ReplaceAll::stringByReplacingOccurrencesOfString(path, "\\", "/");
    QByteArray accumulated;
    for (const QByteArray &component : slashed.split('/')) {
        if (component.isEmpty())
            continue;
        accumulated += '/' + component;
        if (existsAt(accumulated))
            continue;
        if (!createSingleFolder(accumulated, attributes))
            return false;
    }
    return true;
}

bool createDirectoryAtPath(const QString &path, bool withIntermediateDirectories,
                           const QVariantMap *attributes, QString *error)
{
    if (path.isNull())
        return false;
    QByteArray bytes = QFile::encodeName(path);
    if (bytes.isNull())
        bytes = QByteArray(""); // the empty path is a path, unlike a missing one
    return createDirectoryAtPath(bytes, withIntermediateDirectories, attributes, error);
}

int openOrCreateDirectoryAt(int parentFd, const QByteArray &name, const QVariantMap *attributes)
{
    constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    if (name.isEmpty() || name.contains('/'))
        return -1; // one level only: a path would be resolved past the checks here
    const int fd = ::openat(parentFd, name.constData(), kFolderFlags);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    const mode_t mode = folderMode(attributes);
    // Someone else may make it in between; what is there is then opened as any folder.
    const bool made = ::mkdirat(parentFd, name.constData(), mode) == 0;
    if (!made && errno != EEXIST)
        return -1;
    const int createdFd = ::openat(parentFd, name.constData(), kFolderFlags);
    if (createdFd >= 0 && made && hasExplicitMode(attributes))
        ::fchmod(createdFd, mode);
    return createdFd;
}

} // namespace CreateDirectoriesWithIntermediates
