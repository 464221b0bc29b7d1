#include "foundation_ext/RenameWithoutReplacing.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

int renameWithoutReplacing(const char *from, const char *to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    struct stat st {
    };
    if (::lstat(to, &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return std::rename(from, to);
}
