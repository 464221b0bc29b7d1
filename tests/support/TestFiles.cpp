#include "TestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

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

QStringList describeTree(const QString &root,
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

QStringList snapshot(const QString &root)
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

} // namespace testfiles
