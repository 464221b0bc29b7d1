#include "FileWalk.h"

#include "NamePolicy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <dirent.h>
#include <memory>
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

// The names in a folder as the file system holds them: a QString would hide a
// name that is not UTF-8 behind replacement characters.
bool listFolder(const QString &folder, QList<QByteArray> &names)
{
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(QFile::encodeName(folder).constData()),
                                                   &::closedir);
    if (!dir)
        return false;
    while (const dirent *item = ::readdir(dir.get())) {
        const QByteArray name(item->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    std::sort(names.begin(), names.end());
    return true;
}

// A path for a message of one line: control characters, and every byte beyond
// ASCII of a name that is not UTF-8, written as \xNN.
QString printable(const QByteArray &path)
{
    const bool utf8 = path.isValidUtf8();
    QByteArray shown;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8))
            shown += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            shown += c;
    }
    return QString::fromUtf8(shown);
}

bool checkName(const QString &folder, const QByteArray &name, QString &why)
{
    const QString problem = NamePolicy::entryNameProblem(name);
    if (problem.isEmpty())
        return true;
    why = QStringLiteral("%1: %2; rename it")
              .arg(printable(QFile::encodeName(folder) + '/' + name), problem);
    return false;
}

bool walk(const QString &folder, const QString &prefix, QList<PackEntry> &entries, QString &why,
          const WalkOptions &options)
{
    QList<QByteArray> names;
    if (!canListFolder(folder) || !listFolder(folder, names)) {
        why = QStringLiteral("cannot read the folder %1").arg(folder);
        return false;
    }
    const QDir dir(folder);
    for (const QByteArray &rawName : names) {
        if (options.skipLitter && NamePolicy::isDesktopLitter(rawName)) {
            if (options.skipped)
                options.skipped(printable(QFile::encodeName(folder) + '/' + rawName));
            continue;
        }
        if (!checkName(folder, rawName, why))
            return false;
        const QString name = QString::fromUtf8(rawName);
        const QString path = dir.filePath(name);
        const QString entryName = prefix + QLatin1Char('/') + name;
        struct stat st {
        };
        if (!statNoFollow(path, st)) {
            why = QStringLiteral("cannot read %1").arg(path);
            return false;
        }
        const bool ok = S_ISDIR(st.st_mode) ? walk(path, entryName, entries, why, options)
                                            : checkFile(path, st, why);
        if (!ok)
            return false;
        if (!S_ISDIR(st.st_mode))
            entries.append({path, entryName});
    }
    return true;
}

} // namespace

bool collectFiles(const QString &root, const QString &prefix, QList<PackEntry> &entries,
                  QString &why, const WalkOptions &options)
{
    // The folder itself may be reached through a link; only what lies inside is checked.
    struct stat st {
    };
    if (::stat(QFile::encodeName(root).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        why = QStringLiteral("%1 is not a folder").arg(root);
        return false;
    }
    return walk(QDir(root).absolutePath(), prefix, entries, why, options);
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
