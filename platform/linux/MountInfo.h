#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace platform::mountinfo
{

// One line of /proc/<pid>/mountinfo.
struct Mount {
    QString mountPoint; // octal escapes (\040 for a space) decoded
    QString device;     // "major:minor"
    QString fileSystem; // e.g. "ext4"
    QString source;     // e.g. "/dev/sda1"
    bool readOnly = false;
};

// Every well-formed line, in the file's order; malformed lines are skipped.
QList<Mount> parse(const QByteArray &mountinfo);

// Mounts of local storage: those whose source is a device node under /dev.
bool isLocal(const Mount &mount);

} // namespace platform::mountinfo
