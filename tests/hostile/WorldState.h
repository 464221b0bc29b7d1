#pragma once

#include <QString>
#include <QStringList>

// Everything below `root` as sorted lines that change when anything there is
// created, removed, written, relinked or touched: path, type, mode and inode, plus
// the content digest, size and modification time of files and the text of links.
// Paths at or below any of `excluded` (relative to root) are left out. Unlike
// testfiles::snapshot it never opens anything but regular files, so a planted
// FIFO cannot block it.
QStringList worldState(const QString &root, const QStringList &excluded = {});

// Lines in only one of the two states, marked "-" (before) or "+" (after): empty
// when nothing changed.
QStringList changes(const QStringList &before, const QStringList &after);
