#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A test `xdg-open`: a shell script that appends its argument as a line to a record
// file and exits with a chosen status. Put its folder first on PATH.
namespace wayfarer_test
{

inline bool writeFakeOpener(const QString &binFolder, const QString &recordFile, int exitStatus)
{
    QFile script(binFolder + "/xdg-open");
    if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray text = "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" +
                            QFile::encodeName(recordFile) + "'\nexit " +
                            QByteArray::number(exitStatus) + "\n";
    return script.write(text) == text.size() &&
           script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                 QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                 QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                 QFileDevice::ExeOther);
}

} // namespace wayfarer_test
