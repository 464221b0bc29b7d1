#include "platform/linux/LinuxTemporaryDirectory.h"

#include "foundation_ext/FileDescriptor.h"
#include "foundation_ext/PathBytes.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform
{

namespace
{

const char kUserDirsFile[] = "/user-dirs.dirs";
const char kDownloadKey[] = "XDG_DOWNLOAD_DIR=";

// A folder we hold open: ours and closed to others. One of ours that others may
// enter (left too open by someone's umask) is closed again; anything else is refused.
bool closedToOthers(int fd)
{
    struct stat st {
    };
    const bool ours = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
    return ours && ((st.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0);
}

// `name` below the folder `parentFd`, made mode 0700 when missing and reached
// without following a link; -1 unless it is a private folder of ours.
int privateFolderAt(int parentFd, const QByteArray &name)
{
    if (::mkdirat(parentFd, name.constData(), 0700) != 0 && errno != EEXIST)
        return -1;
    const int fd =
        ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && !closedToOthers(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

enum class Access { Private, Shared, Unsafe, Unusable };

// A real folder of ours that nobody else may enter is private. Any other folder (a
// link to one, someone else's, one open to others) is shared, so long as nobody but
// us and root can rename or remove what we put in it: it is ours or root's, and
// either others may not write to it or it is sticky. In a shared folder that lacks
// that, another user could move our folder away and put their own in its place
// between our checks and our use of it.
Access accessOf(const QByteArray &folder)
{
    struct stat st {
    };
    if (::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
        (st.st_mode & 077) == 0)
        return Access::Private;
    if (::stat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return Access::Unusable;
    const bool ownersOnly = st.st_uid == ::getuid() || st.st_uid == 0;
    const bool othersCannotRename = (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || st.st_mode & S_ISVTX;
    return ownersOnly && othersCannotRename ? Access::Shared : Access::Unsafe;
}

// The lesson's setup launcher runs from the lesson folder, so a file system that
// allows no programs (mounted noexec, as hardened desktops do with /tmp) is no place
// for it.
bool allowsPrograms(const QByteArray &folder)
{
    struct statvfs fs {
    };
    return ::statvfs(folder.constData(), &fs) == 0 && (fs.f_flag & ST_NOEXEC) == 0;
}

// Ours (a folder we could not write into would stop every lesson), closed to
// writers other than us, and a place programs may run from.
bool isOwnFolderOthersCannotWrite(const QByteArray &folder)
{
    struct stat st {
    };
    return ::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 && allowsPrograms(folder);
}

QByteArray homeFolder()
{
    QByteArray home = qgetenv("HOME");
    if (!home.isEmpty())
        return home;
    const passwd *entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? QByteArray(entry->pw_dir) : QByteArray();
}

// The value of one user-dirs.dirs line, XDG_DOWNLOAD_DIR="$HOME/Downloads" or an
// absolute path in double quotes, with the file's backslash escapes undone; empty
// when the line is not of that form.
QByteArray downloadValue(const QByteArray &line, const QByteArray &home)
{
    QByteArray value = line.trimmed().mid(qsizetype(sizeof(kDownloadKey)) - 1);
    if (value.size() < 2 || !value.startsWith('"') || !value.endsWith('"'))
        return {};
    value = value.mid(1, value.size() - 2);
    QByteArray plain;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size())
            ++i;
        plain += value[i];
    }
    if (plain == "$HOME" || plain.startsWith("$HOME/"))
        return home + plain.mid(5);
    return plain.startsWith('/') ? plain : QByteArray();
}

} // namespace

QByteArray LinuxTemporaryDirectory::privateFolderBelow(const QByteArray &root)
{
    const FileDescriptor parent(
        ::open(withTrailingSlash(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const QByteArray name = "user-" + QByteArray::number(::getuid());
    if (!parent.isOpen())
        return {};
    const FileDescriptor folder(privateFolderAt(parent.get(), name));
    return folder.isOpen() ? withTrailingSlash(withTrailingSlash(root) + name) : QByteArray();
}

QByteArray LinuxTemporaryDirectory::downloadFolder(const QByteArray &home,
                                                   const QByteArray &configHome)
{
    // A relative XDG_CONFIG_HOME is to be ignored, as the base directory rules say.
    const QByteArray config = configHome.startsWith('/') ? configHome : home + "/.config";
    QFile file; // opened on the descriptor: its name need not be UTF-8
    const FileDescriptor fd(::open((config + kUserDirsFile).constData(), O_RDONLY | O_CLOEXEC));
    QByteArray download;
    if (fd.isOpen() && file.open(fd.get(), QIODevice::ReadOnly)) {
        // Like the shell that reads the file, the last assignment counts.
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.trimmed().startsWith(kDownloadKey))
                download = downloadValue(line, home);
        }
    }
    download = withoutTrailingSlashes(download);
    // A folder others may write to would let them swap Brindle_Lessons for their own.
    return !download.isEmpty() && isOwnFolderOthersCannotWrite(download) ? download : home;
}

QByteArray LinuxTemporaryDirectory::path() const
{
    const QByteArray tmpdir = withoutTrailingSlashes(qgetenv("TMPDIR"));
    if (!tmpdir.isEmpty() && allowsPrograms(tmpdir)) {
        const Access access = accessOf(tmpdir);
        if (access == Access::Private)
            return withTrailingSlash(tmpdir);
        if (access == Access::Shared) {
            QByteArray below = privateFolderBelow(tmpdir);
            if (!below.isEmpty())
                return below;
        }
        // A TMPDIR that is no folder at all, one that allows no programs, one where
        // others can rename our entries, or one where another user took our name
        // first (a folder, file or link of theirs): as if it were not set, so that
        // nobody can stop our lessons by guessing the name.
    }
    QByteArray home = withoutTrailingSlashes(homeFolder());
    if (home.isEmpty())
        return {};
    return withTrailingSlash(
        downloadFolder(home, withoutTrailingSlashes(qgetenv("XDG_CONFIG_HOME"))));
}

bool LinuxTemporaryDirectory::makePrivateFolders(const QByteArray &relative) const
{
    const QByteArray base = path();
    if (base.isEmpty())
        return false;
    // The temporary folder itself may be reached through a link (a download folder
    // on another disk); everything below it may not.
    FileDescriptor folder(::open(base.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const QByteArray &name : relative.split('/')) {
        if (!folder.isOpen())
            return false;
        if (!name.isEmpty())
            folder = FileDescriptor(privateFolderAt(folder.get(), name));
    }
    return folder.isOpen();
}

} // namespace platform
