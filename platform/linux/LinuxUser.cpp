#include "LinuxUser.h"

#include <QFile>

#include <pwd.h>
#include <unistd.h>

namespace platform {

QString LinuxUser::loginName() const
{
    const passwd *entry = ::getpwuid(::getuid());
    return entry ? QFile::decodeName(entry->pw_name) : QString();
}

QString LinuxUser::homeDirectory() const
{
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty())
        return home;
    const passwd *entry = ::getpwuid(::getuid());
    return entry ? QFile::decodeName(entry->pw_dir) : QString();
}

} // namespace platform
