#include "tools/BundleCopy.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace lessonpack
{

namespace
{

bool keepModeAndTimes(const QString &path, const struct stat &st)
{
    const QByteArray bytes = QFile::encodeName(path);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    return ::chmod(bytes.constData(), st.st_mode & 07777) == 0 &&
           ::utimensat(AT_FDCWD, bytes.constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool copyFile(const QString &source, const QString &destination, const struct stat &st,
              QString &why)
{
    if (!QFile::copy(source, destination)) {
        why = QStringLiteral("cannot copy %1 to %2").arg(source, destination);
        return false;
    }
    if (!keepModeAndTimes(destination, st)) {
        why = QStringLiteral("cannot set the permissions or time of %1").arg(destination);
        return false;
    }
    return true;
}

bool copyFolder(const QString &source, const QString &destination, const QString &relative,
                const QString &skip, QString &why);

bool copyItem(const QString &source, const QString &destination, const QString &relative,
              const QString &skip, QString &why)
{
    struct stat st {
    };
    if (::lstat(QFile::encodeName(source).constData(), &st) != 0) {
        why = QStringLiteral("cannot read %1").arg(source);
        return false;
    }
    if (S_ISDIR(st.st_mode))
        return copyFolder(source, destination, relative, skip, why);
    if (S_ISREG(st.st_mode))
        return copyFile(source, destination, st, why);
    why = QStringLiteral("%1 is a symbolic link or special file; bundles are copied as plain files")
              .arg(source);
    return false;
}

bool copyFolder(const QString &source, const QString &destination, const QString &relative,
                const QString &skip, QString &why)
{
    struct stat st {
    };
    if (::stat(QFile::encodeName(source).constData(), &st) != 0 ||
        ::mkdir(QFile::encodeName(destination).constData(), 0700) != 0) {
        why = QStringLiteral("cannot create %1").arg(destination);
        return false;
    }
    const QDir dir(source);
    const QStringList names = dir.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString childRelative =
            relative.isEmpty() ? name : relative + QLatin1Char('/') + name;
        if (childRelative == skip)
            continue;
        if (!copyItem(dir.filePath(name), destination + QLatin1Char('/') + name, childRelative,
                      skip, why))
            return false;
    }
    // Last, since adding the children touched the folder's own time.
    if (!keepModeAndTimes(destination, st)) {
        why = QStringLiteral("cannot set the permissions or time of %1").arg(destination);
        return false;
    }
    return true;
}

} // namespace

bool copyTree(const QString &source, const QString &destination, const QString &skip, QString &why)
{
    return copyFolder(source, destination, QString(), skip, why);
}

} // namespace lessonpack
