#include "FileWalk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace lessonpack
{

namespace
{

bool statNoFollow(const QString &path, struct stat &st)
{
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// Opening is the only honest test: permission bits, ACLs and the like all have a say.
bool canReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

bool canListFolder(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), R_OK | X_OK) == 0;
}

bool checkFile(const QString &path, const struct stat &st, QString &why)
{
    if (S_ISLNK(st.st_mode)) {
        why = QStringLiteral("%1 is a symbolic link; put the file itself there").arg(path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = QStringLiteral("%1 is not a regular file or folder").arg(path);
        return false;
    }
    if (!canReadFile(path)) {
        why = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    return true;
}

bool walk(const QString &folder, const QString &prefix, QList<PackEntry> &entries, QString &why)
{
    if (!canListFolder(folder)) {
        why = QStringLiteral("cannot read the folder %1").arg(folder);
        return false;
    }
    const QDir dir(folder);
    const QStringList names = dir.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        const QString entryName = prefix + QLatin1Char('/') + name;
        struct stat st {
        };
        if (!statNoFollow(path, st)) {
            why = QStringLiteral("cannot read %1").arg(path);
            return false;
        }
        const bool ok =
            S_ISDIR(st.st_mode) ? walk(path, entryName, entries, why) : checkFile(path, st, why);
        if (!ok)
            return false;
        if (!S_ISDIR(st.st_mode))
            entries.append({path, entryName});
    }
    return true;
}

} // namespace

bool collectFiles(const QString &root, const QString &prefix, QList<PackEntry> &entries,
                  QString &why)
{
    // The folder itself may be reached through a link; only what lies inside is checked.
    struct stat st {
    };
    if (::stat(QFile::encodeName(root).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        why = QStringLiteral("%1 is not a folder").arg(root);
        return false;
    }
    return walk(QDir(root).absolutePath(), prefix, entries, why);
}

bool collectFile(const QString &source, const QString &name, QList<PackEntry> &entries,
                 QString &why)
{
    struct stat st {
    };
    if (!statNoFollow(source, st)) {
        why = QStringLiteral("%1 does not exist").arg(source);
        return false;
    }
    if (!checkFile(source, st, why))
        return false;
    entries.append({QFileInfo(source).absoluteFilePath(), name});
    return true;
}

} // namespace lessonpack
