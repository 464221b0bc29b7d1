#include "tests/support/TestFiles.h"

#include "foundation_ext/FileDescriptor.h"
#include "foundation_ext/FileIO.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

bool isExcluded(const QString &relative, const QStringList &excluded)
{
    for (const QString &prefix : excluded) {
        if (relative == prefix || relative.startsWith(prefix + u'/'))
            return true;
    }
    return false;
}

QString digest(const QByteArray &path)
{
    const FileDescriptor file(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.isOpen())
        return QStringLiteral("unreadable");
    QCryptographicHash hash(QCryptographicHash::Sha256);
    readToEnd(file.get(), [&hash](const char *piece, std::size_t size) {
        hash.addData(QByteArrayView(piece, static_cast<qsizetype>(size)));
    });
    return QString::fromLatin1(hash.result().toHex());
}

QString describe(const QByteArray &path, const struct stat &st)
{
    QString line = QStringLiteral(" mode=%1 ino=%2").arg(st.st_mode, 0, 8).arg(st.st_ino);
    // A folder's own time changes whenever an item is added or removed, which the
    // listing shows anyway; the destination's parent would always differ.
    if (S_ISDIR(st.st_mode))
        return QStringLiteral(" dir") + line;
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = ::readlink(path.constData(), target, sizeof target);
        return QStringLiteral(" link->") + QString::fromLocal8Bit(target, n > 0 ? n : 0) + line;
    }
    line += QStringLiteral(" size=%1 mtime=%2.%3")
                .arg(st.st_size)
                .arg(st.st_mtim.tv_sec)
                .arg(st.st_mtim.tv_nsec);
    if (S_ISREG(st.st_mode))
        return QStringLiteral(" file ") + digest(path) + line;
    return QStringLiteral(" special") + line;
}

} // namespace

namespace testfiles
{

bool write(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

bool writeExecutable(const QString &path, const QByteArray &content)
{
    return write(path, content) &&
           QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadOwner |
                                           QFile::WriteOwner | QFile::ExeOwner);
}

QByteArray read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray data = file.readAll();
    if (data.isNull())
        data = QByteArray("");
    return data;
}

mode_t modeOf(const QString &path)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// One line per path below `root`, hidden ones included: the relative path, then
// what `describe` says of it (left out when null); sorted.
static QStringList describeTree(const QString &root,
                                const std::function<QString(const QString &path)> &describe)
{
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString description = describe(path);
        if (!description.isNull())
            lines.append(base.relativeFilePath(path) + description);
    }
    lines.sort();
    return lines;
}

QStringList tree(const QString &root)
{
    return describeTree(root, [](const QString &path) {
        const QFileInfo info(path);
        QString line = QStringLiteral(" ");
        if (info.isSymLink())
            line += QLatin1String("link->") + info.symLinkTarget();
        else if (info.isDir())
            line += QLatin1String("dir");
        else
            line += QString::fromLatin1(
                QCryptographicHash::hash(read(path), QCryptographicHash::Sha256).toHex());
        return line + QStringLiteral(" mode=%1").arg(modeOf(path), 0, 8);
    });
}

QStringList snapshot(const QString &root, const QStringList &excluded)
{
    const QDir base(root);
    return describeTree(root, [&](const QString &path) {
        if (isExcluded(base.relativeFilePath(path), excluded))
            return QString();
        const QByteArray bytes = QFile::encodeName(path);
        struct stat st {
        };
        return ::lstat(bytes.constData(), &st) == 0 ? describe(bytes, st) : QString();
    });
}

QStringList changes(const QStringList &before, const QStringList &after)
{
    QStringList lines;
    for (const QString &line : before) {
        if (!after.contains(line))
            lines.append(u'-' + line);
    }
    for (const QString &line : after) {
        if (!before.contains(line))
            lines.append(u'+' + line);
    }
    return lines;
}

} // namespace testfiles
