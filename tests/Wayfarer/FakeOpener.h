#pragma once

#include "TestFiles.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// A test `xdg-open`: a shell script that appends its argument as a line to a record
// file and exits with a chosen status. Put its folder first on PATH.
namespace wayfarer_test
{

inline bool writeFakeOpener(const QString &binFolder, const QString &recordFile, int exitStatus)
{
    return testfiles::writeExecutable(binFolder + "/xdg-open",
                                      "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" +
                                          QFile::encodeName(recordFile) + "'\nexit " +
                                          QByteArray::number(exitStatus) + "\n");
}

} // namespace wayfarer_test
