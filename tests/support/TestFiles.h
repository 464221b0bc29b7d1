#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Small helpers over real files for the tests.
namespace testfiles {

// Writes `content` to `path`, creating parent folders; returns success.
bool write(const QString &path, const QByteArray &content);
// The whole content, or a null array when unreadable.
QByteArray read(const QString &path);
// lstat's mode, or 0 when nothing is there.
mode_t modeOf(const QString &path);
// Every path below `root` (relative, sorted) with its type and content digest:
// equal snapshots mean nothing was created, removed or changed there.
QStringList snapshot(const QString &root);

} // namespace testfiles
