#pragma once

#include "platform/TemporaryDirectory.h"

namespace platform
{

// Where lessons are unpacked and their programs run from:
// - $TMPDIR as it is, when it is a real folder of ours that nobody else may enter;
// - a folder user-<uid> below a $TMPDIR that others can reach, created mode 0700
//   and verified on every call (a real folder, ours, open to nobody else), where
//   nobody else can rename or remove it: $TMPDIR is ours or root's and either
//   closed to others' writes or sticky, and where that name is not taken by
//   something that is not ours (another user could make it first);
// - otherwise the user's download folder (XDG_DOWNLOAD_DIR of user-dirs.dirs), or the
//   home folder when there is none. Browsers confined to their own /tmp (snap,
//   flatpak) can still read the lesson's pages there.
// A $TMPDIR on a file system that allows no programs (noexec) is passed over, since
// the lesson's setup launcher runs from the lesson folder.
// Folders made below it (makePrivateFolders) are mode 0700 and checked on every run.
class LinuxTemporaryDirectory : public TemporaryDirectory
{
  public:
    QByteArray path() const override;
    bool makePrivateFolders(const QByteArray &relative) const override;

    // The private-folder rule alone, below `root`; empty when no such folder can be had.
    static QByteArray privateFolderBelow(const QByteArray &root);
    // The download folder that user-dirs.dirs names below `home` (read from
    // `configHome`, or from ~/.config when that is empty); `home` itself when the
    // file names none, names a folder that does not exist, is not ours, allows no
    // programs, or one that other users may write to. No trailing "/".
    static QByteArray downloadFolder(const QByteArray &home, const QByteArray &configHome);
};

} // namespace platform
