#include "TestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace testfiles {

bool write(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
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
    struct stat st{};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

QStringList snapshot(const QString &root)
{
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        QString line = base.relativeFilePath(path) + QLatin1Char(' ');
        if (info.isSymLink())
            line += QLatin1String("link->") + info.symLinkTarget();
        else if (info.isDir())
            line += QLatin1String("dir");
        else
            line += QString::fromLatin1(
                QCryptographicHash::hash(read(path), QCryptographicHash::Sha256).toHex());
        line += QStringLiteral(" mode=%1").arg(modeOf(path), 0, 8);
        lines.append(line);
    }
    lines.sort();
    return lines;
}

} // namespace testfiles
