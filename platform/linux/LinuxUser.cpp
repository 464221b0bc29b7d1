#include "platform/linux/LinuxUser.h"

#include <QFile>

#include <pwd.h>
#include <unistd.h>

namespace platform
{

QString LinuxUser::loginName() const
{
    const passwd *entry = ::getpwuid(::getuid());
    return entry ? QFile::decodeName(entry->pw_name) : QString();
}

QString LinuxUser::homeDirectory() const
{
    return QFile::decodeName(homeDirectoryBytes());
}

QByteArray LinuxUser::homeDirectoryBytes() const
{
    QByteArray home = qgetenv("HOME");
    if (!home.isEmpty())
        return home;
    const passwd *entry = ::getpwuid(::getuid());
    return entry ? QByteArray(entry->pw_dir) : QByteArray();
}

} // namespace platform
