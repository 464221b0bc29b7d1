#include "NSFileManagerPathCategory.h"

#include "NSStringReplaceAllCategory.h"

#include <QFile>

#include <sys/stat.h>

namespace {

mode_t folderMode(const QVariantMap *attributes)
{
    using CreateDirectoriesWithIntermediates::kPosixPermissionsKey;
    if (attributes && attributes->contains(kPosixPermissionsKey))
        return static_cast<mode_t>(attributes->value(kPosixPermissionsKey).toUInt());
    return 0777; // narrowed by the umask, as any new folder
}

bool createSingleFolder(const QByteArray &path, const QVariantMap *attributes)
{
    const mode_t mode = folderMode(attributes);
    if (::mkdir(path.constData(), mode) != 0)
        return false;
    // An explicit mode is meant as given, not as narrowed by the umask.
    if (attributes && attributes->contains(CreateDirectoriesWithIntermediates::kPosixPermissionsKey))
        ::chmod(path.constData(), mode);
    return true;
}

bool existsAt(const QByteArray &path)
{
    struct stat st{};
    return ::stat(path.constData(), &st) == 0;
}

} // namespace

namespace CreateDirectoriesWithIntermediates {

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

} // namespace CreateDirectoriesWithIntermediates
