#include "tools/PlaceIntoOutput.h"

#include "foundation_ext/RenameWithoutReplacing.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace lessonpack
{

namespace
{

bool exists(const QByteArray &path)
{
    struct stat st {
    };
    return ::lstat(path.constData(), &st) == 0;
}

int swapInto(const QByteArray &from, const QByteArray &to, const QByteArray &displaced)
{
    // After the exchange the old lesson sits at `from`, inside the caller's staging folder.
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    if (::rename(to.constData(), displaced.constData()) != 0)
        return -1;
    return ::rename(from.constData(), to.constData());
}

} // namespace

bool placeIntoOutput(const QString &staged, const QString &target, bool replace,
                     const QString &displaced, QString &why)
{
    const QByteArray from = QFile::encodeName(staged);
    const QByteArray to = QFile::encodeName(target);
    int status = 0;
    if (replace && exists(to))
        status = swapInto(from, to, QFile::encodeName(displaced));
    else
        status = renameWithoutReplacing(from.constData(), to.constData());
    if (status == 0)
        return true;
    if (errno == EEXIST)
        why = QStringLiteral("%1 already exists (use --replace to replace it)").arg(target);
    else
        why = QStringLiteral("cannot move the lesson to %1: %2")
                  .arg(target, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

} // namespace lessonpack
