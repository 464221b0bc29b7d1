#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

#include <sys/types.h>

// Small helpers over real files for the tests.
namespace testfiles
{

// Writes `content` to `path`, creating parent folders; returns success.
bool write(const QString &path, const QByteArray &content);
// The same, then makes the file runnable by its owner (a script, a stand-in tool).
bool writeExecutable(const QString &path, const QByteArray &content);
// The whole content, or a null array when unreadable.
QByteArray read(const QString &path);
// lstat's mode, or 0 when nothing is there.
mode_t modeOf(const QString &path);
// One line per path below `root`, hidden ones included: the relative path
// followed by what `describe` says of the full path; sorted. A path described by
// a null string is left out.
QStringList describeTree(const QString &root,
                         const std::function<QString(const QString &path)> &describe);

// Every path below `root` (relative, sorted) with its type and content digest:
// equal snapshots mean nothing was created, removed or changed there.
QStringList snapshot(const QString &root);

} // namespace testfiles
