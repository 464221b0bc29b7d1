#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <unistd.h>

// Whole transfers on a descriptor, past interrupted and partial system calls. Header
// only and free of Qt, like FileDescriptor.h, for the root helper's sake.

// Passes `size` bytes through `step(done)`, a read or a write of the bytes from
// `done` on; false when a step fails or passes nothing.
template <typename Step> bool transferAll(std::size_t size, Step step)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = step(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes all `size` bytes; false when a write fails or writes nothing.
inline bool writeAll(int fd, const char *bytes, std::size_t size)
{
    return transferAll(size,
                       [&](std::size_t done) { return ::write(fd, bytes + done, size - done); });
}

// Reads exactly `size` bytes; false at the end of the input or on an error.
inline bool readExactly(int fd, char *into, std::size_t size)
{
    return transferAll(size,
                       [&](std::size_t done) { return ::read(fd, into + done, size - done); });
}

// Reads up to `size` bytes from `offset`, fewer only at the end of the file; -1 on
// an error.
inline ssize_t preadUpTo(int fd, char *into, std::size_t size, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, into + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Reads to the end of the file, handing each piece to `append(const char *, size)`;
// false on an error.
template <typename Append> bool readToEnd(int fd, Append append)
{
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        append(chunk, static_cast<std::size_t>(n));
    }
}

// True when the input ends without a byte: how a close-on-exec status pipe tells
// that the child's exec succeeded (a failed one writes its errno there).
inline bool endsEmpty(int fd)
{
    bool empty = true;
    return readToEnd(fd, [&empty](const char *, std::size_t) { empty = false; }) && empty;
}
