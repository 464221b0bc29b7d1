#pragma once

#include <QByteArray>

namespace platform
{

// The user's temporary folder. Programs are run from what is unpacked there, so it
// must be private to the user. Paths are file-system bytes: the folder may be named
// by bytes that are not UTF-8 (from $TMPDIR or $HOME), and a QString would turn
// such a name into another one.
class TemporaryDirectory
{
  public:
    virtual ~TemporaryDirectory() = default;
    // The folder path ending in "/", or empty when no safe folder can be had.
    virtual QByteArray path() const = 0;
    // Makes the folders of `relative` ("/"-separated, below path()) that are missing,
    // mode 0700, and checks every one of them: true only when each is a real folder
    // (not a link), ours and closed to everyone else.
    virtual bool makePrivateFolders(const QByteArray &relative) const = 0;
};

} // namespace platform
