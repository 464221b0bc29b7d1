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

// Every path below `root` (relative, sorted) with its type, mode and content
// digest: what a tree holds, comparable between two trees.
QStringList tree(const QString &root);

// Everything below `root` as sorted lines that change when anything there is
// created, removed, written, relinked or touched: path, type, mode and inode, plus
// the content digest, size and modification time of files and the text of links.
// Paths at or below any of `excluded` (relative to root) are left out. It never
// opens anything but regular files, so a planted FIFO cannot block it.
QStringList snapshot(const QString &root, const QStringList &excluded = {});

// Lines in only one of the two lists, marked "-" (before) or "+" (after): empty
// when nothing changed.
QStringList changes(const QStringList &before, const QStringList &after);

} // namespace testfiles
