#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

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
// Each path below `root` (relative, sorted) with type, mode and content digest.
QStringList tree(const QString &root);

// Sorted lines that change when anything below `root` (but `excluded`) is made,
// removed, written, relinked or touched; opens only regular files (FIFOs are safe).
QStringList snapshot(const QString &root, const QStringList &excluded = {});

// Lines in only one list, marked "-" (before) or "+" (after).
QStringList changes(const QStringList &before, const QStringList &after);

} // namespace testfiles
