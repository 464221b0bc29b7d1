#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The one rule book for names in a lesson, shared by the packer and Unspool: which
// archive entry names Unspool extracts and where to, which lesson names make a
// lesson folder, and which files of an author's folder are desktop litter. The
// packer refuses whatever Unspool would refuse or write elsewhere, so a packed
// lesson unpacks as it was packed.
namespace NamePolicy
{

// An entry name as Unspool reads it, taken apart into the folders and file it
// names below the destination. Names are bytes and stay bytes.
struct EntryPath {
    // Path components below the destination; empty and "." components are dropped,
    // so a leading "/" (an absolute name) stays inside the destination.
    QList<QByteArray> components;
    // The raw name ends in "/" or "\", or names no component at all.
    bool isFolder = false;
    // A ".." component: following the name could leave the destination.
    bool leadsOutside = false;
};

// How Unspool takes `raw` apart: "\" counts as "/", since archives written on
// either kind of system must give the same tree.
EntryPath entryPath(const QByteArray &raw);

// NUL or another byte below 0x20, or 0x7F: Unspool refuses the whole archive.
bool holdsControlCharacter(const QByteArray &name);

// Why the packer must not write a file entry named `name`: Unspool would refuse it,
// or write it to another path than the one it names. Also refused: names that are
// not valid UTF-8 (the archive flags its names as UTF-8). Empty when it is fine.
QString entryNameProblem(const QByteArray &name);

// Why `name` cannot name a lesson folder (Brindle_Lessons/<name>), or an empty
// string when it can. Unspool refuses such a lesson before writing anything; the
// packer refuses to write one.
QString lessonNameProblem(const QString &name);

// Files and folders that desktops leave in an author's folder and that no lesson
// needs: .DS_Store, "Icon\r", __MACOSX, ._*, .git, .svn and backups ending in "~".
// `fileName` is one path component; files and folders are judged alike.
bool isDesktopLitter(const QByteArray &fileName);

} // namespace NamePolicy
