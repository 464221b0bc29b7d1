#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringList>

// Where this platform keeps the system tools that answer process questions, and
// how each is asked. The tools' output formats are parsed by their callers.
namespace platform::tools
{

// The open-files tool: one line "p<pid>" per process that holds any file below a
// folder open (field output, warnings suppressed, the folder searched in full depth).
extern const QLatin1String klsofToolPath;
QStringList lsofArguments(const QString &folder);

// The process-status tool: the executable's name of one process, no header line;
// a non-zero exit status when there is no such process.
extern const QLatin1String kpsToolPath;
QStringList psArguments(int pid);

// The process-status tool may cut a name short (the kernel keeps 15 bytes of it).
// Given what the tool printed, trimmed, the whole name when it was cut and can
// still be read; otherwise the name unchanged.
QString completeProcessName(int pid, const QString &printedName);

} // namespace platform::tools
