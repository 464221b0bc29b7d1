/* Preloaded to make the disk misbehave, on regular files only (pipes still report):
 *   FAULT_WRITE_AFTER=N  writes fail with ENOSPC once N bytes went out (a full disk)
 *   FAULT_EIO_AT=N       the one write covering offset N fails with EIO (a passing error)
 *   FAULT_READ_EIO_AT=N  a positioned read of a read-only file covering N fails with EIO
 *   FAULT_NO_THREADS=1   no thread can be started (a process limit)
 *   FAULT_NO_TMPFILE=1   no unnamed file (O_TMPFILE) can be opened, as on some file systems
 *   FAULT_NO_RENAME_FLAGS=1  a rename with flags fails with EINVAL, as on some file systems */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#define REAL(name)                                                                                 \
    static __typeof__(name) *real;                                                                 \
    if (!real)                                                                                     \
    *(void **)&real = dlsym(RTLD_NEXT, #name)

static long long setting(const char *name)
{
    const char *value = getenv(name);
    return value && *value ? atoll(value) : -1;
}

/* 1: a regular file open for writing, 0: one open for reading only, -1: anything else */
static int writable(int fd)
{
    struct stat st;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0)
        return -1;
    return (flags & O_ACCMODE) != O_RDONLY;
}

static int covers(long long at, long long from, size_t size)
{
    return at >= 0 && from <= at && at < from + (long long)size;
}

static int fail(int error)
{
    errno = error;
    return -1;
}

ssize_t write(int fd, const void *buffer, size_t size)
{
    static long long written;
    static int eioDone;
    REAL(write);
    const long long budget = setting("FAULT_WRITE_AFTER");
    if (writable(fd) != 1)
        return real(fd, buffer, size);
    if (covers(setting("FAULT_EIO_AT"), lseek(fd, 0, SEEK_CUR), size) &&
        !__atomic_exchange_n(&eioDone, 1, __ATOMIC_SEQ_CST))
        return fail(EIO);
    if (budget >= 0 && written >= budget)
        return fail(ENOSPC);
    if (budget >= 0 && (long long)size > budget - written)
        size = (size_t)(budget - written);
    written += (long long)size;
    return real(fd, buffer, size);
}

ssize_t pread(int fd, void *buffer, size_t size, off_t offset)
{
    REAL(pread);
    if (covers(setting("FAULT_READ_EIO_AT"), offset, size) && writable(fd) == 0)
        return fail(EIO);
    return real(fd, buffer, size, offset);
}
ssize_t pread64(int, void *, size_t, off_t) __attribute__((alias("pread")));

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*start)(void *),
                   void *argument)
{
    REAL(pthread_create);
    return setting("FAULT_NO_THREADS") == 1 ? EAGAIN : real(thread, attributes, start, argument);
}

int openat(int folder, const char *path, int flags, ...)
{
    REAL(openat);
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = flags & (O_CREAT | __O_TMPFILE) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    if (setting("FAULT_NO_TMPFILE") == 1 && (flags & O_TMPFILE) == O_TMPFILE)
        return fail(EOPNOTSUPP);
    return real(folder, path, flags, mode);
}
int openat64(int, const char *, int, ...) __attribute__((alias("openat")));

int renameat2(int fromFolder, const char *from, int toFolder, const char *to, unsigned flags)
{
    REAL(renameat2);
    if (setting("FAULT_NO_RENAME_FLAGS") == 1 && flags != 0)
        return fail(EINVAL);
    return real(fromFolder, from, toFolder, to, flags);
}
