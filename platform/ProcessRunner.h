#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform
{

struct ProcessResult {
    bool started = false;
    int exitCode = -1; // -1 when the process did not exit normally
    QByteArray output; // everything written to standard output
};

// Runs a program with an argument list (never through a shell) and waits for it.
// Standard input and standard error stay with the caller.
ProcessResult runProcess(const QString &program, const QStringList &arguments);

} // namespace platform
