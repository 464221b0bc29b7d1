/* Preloaded into extract_probe by the fault sweep: makes writes to regular files
 * fail once FAULT_WRITE_AFTER bytes have gone out (ENOSPC, as a full disk does);
 * with FAULT_EIO_AT, makes the one write that covers that offset of a file fail
 * with EIO while every other write goes through (a passing device error); and,
 * with FAULT_CLOSE set, makes closing a regular file opened for writing
 * report EIO after it really closed it (as a network file system may). With
 * FAULT_READ_EIO_AT, a positioned read of a file opened for reading only fails with
 * EIO when it covers that offset (a bad sector in the archive); with
 * FAULT_NO_THREADS set, no thread can be started (as under a process limit); with
 * FAULT_NO_TMPFILE set, opening an unnamed file (O_TMPFILE) fails with EOPNOTSUPP,
 * as on a file system that has none.
 * Pipes and terminals are left alone, so the probe can still report. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

static long long sBudget = -1;
static long long sWritten;
static int sFailClose;
static long long sEioAt = -1;
static int sEioDone;
static long long sReadEioAt = -1;
static int sNoThreads;
static int sNoTmpfile;

__attribute__((constructor)) static void readSettings(void)
{
    const char *after = getenv("FAULT_WRITE_AFTER");
    const char *close = getenv("FAULT_CLOSE");
    const char *eioAt = getenv("FAULT_EIO_AT");
    const char *readEioAt = getenv("FAULT_READ_EIO_AT");
    const char *noThreads = getenv("FAULT_NO_THREADS");
    const char *noTmpfile = getenv("FAULT_NO_TMPFILE");
    if (after)
        sBudget = atoll(after);
    sFailClose = close && *close == '1';
    if (eioAt)
        sEioAt = atoll(eioAt);
    if (readEioAt)
        sReadEioAt = atoll(readEioAt);
    sNoThreads = noThreads && *noThreads == '1';
    sNoTmpfile = noTmpfile && *noTmpfile == '1';
}

static int isWritableFile(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

ssize_t write(int fd, const void *buffer, size_t size)
{
    static ssize_t (*real)(int, const void *, size_t);
    if (!real)
        *(void **)&real = dlsym(RTLD_NEXT, "write"); /* the POSIX way past -Wpedantic */
    if (sEioAt >= 0 && !__atomic_load_n(&sEioDone, __ATOMIC_SEQ_CST) && isWritableFile(fd)) {
        const off_t at = lseek(fd, 0, SEEK_CUR);
        if (at <= sEioAt && sEioAt < at + (off_t)size) {
            __atomic_store_n(&sEioDone, 1, __ATOMIC_SEQ_CST);
            errno = EIO;
            return -1;
        }
    }
    if (sBudget >= 0 && isWritableFile(fd)) {
        if (sWritten >= sBudget) {
            errno = ENOSPC;
            return -1;
        }
        if ((long long)size > sBudget - sWritten)
            size = (size_t)(sBudget - sWritten);
        sWritten += (long long)size;
    }
    return real(fd, buffer, size);
}

int close(int fd)
{
    static int (*real)(int);
    if (!real)
        *(void **)&real = dlsym(RTLD_NEXT, "close");
    if (sFailClose && isWritableFile(fd)) {
        real(fd);
        errno = EIO;
        return -1;
    }
    return real(fd);
}

static int isReadOnlyFile(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) == O_RDONLY;
}

static int readFails(int fd, size_t size, off_t offset)
{
    return sReadEioAt >= 0 && offset <= sReadEioAt && sReadEioAt < offset + (off_t)size &&
           isReadOnlyFile(fd);
}

ssize_t pread(int fd, void *buffer, size_t size, off_t offset)
{
    static ssize_t (*real)(int, void *, size_t, off_t);
    if (!real)
        *(void **)&real = dlsym(RTLD_NEXT, "pread");
    if (readFails(fd, size, offset)) {
        errno = EIO;
        return -1;
    }
    return real(fd, buffer, size, offset);
}

/* Where off_t is 64 bits wide, pread64 is pread under another name. */
ssize_t pread64(int fd, void *buffer, size_t size, off_t offset)
{
    return pread(fd, buffer, size, offset);
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*start)(void *),
                   void *argument)
{
    static int (*real)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    if (!real)
        *(void **)&real = dlsym(RTLD_NEXT, "pthread_create");
    if (sNoThreads)
        return EAGAIN;
    return real(thread, attributes, start, argument);
}

int openat(int folder, const char *path, int flags, ...)
{
    static int (*real)(int, const char *, int, ...);
    if (!real)
        *(void **)&real = dlsym(RTLD_NEXT, "openat");
    mode_t mode = 0;
    if (flags & (O_CREAT | __O_TMPFILE)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    if (sNoTmpfile && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return real(folder, path, flags, mode);
}

/* Where off_t is 64 bits wide, openat64 is openat under another name. */
int openat64(int folder, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | __O_TMPFILE)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    return openat(folder, path, flags, mode);
}
