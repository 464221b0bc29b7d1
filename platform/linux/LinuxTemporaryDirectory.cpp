#include "LinuxTemporaryDirectory.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString withTrailingSlash(QString path)
{
    if (!path.endsWith('/'))
        path += '/';
    return path;
}

bool isPrivateFolder(const QByteArray &path)
{
    struct stat st{};
    if (::lstat(path.constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

} // namespace

QString LinuxTemporaryDirectory::privateFolderBelow(const QString &root)
{
    const QString folder = withTrailingSlash(root) + QStringLiteral("user-%1").arg(::getuid());
    const QByteArray bytes = QFile::encodeName(folder);
    if (::mkdir(bytes.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    return isPrivateFolder(bytes) ? withTrailingSlash(folder) : QString();
}

QString LinuxTemporaryDirectory::path() const
{
    const QString tmpdir = qEnvironmentVariable("TMPDIR");
    if (!tmpdir.isEmpty())
        return withTrailingSlash(tmpdir);
    return privateFolderBelow(QStringLiteral("/tmp"));
}

} // namespace platform
