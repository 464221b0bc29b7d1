#pragma once

// Header only and free of Qt: the root helper, which links nothing but the C++
// runtime, holds its descriptors in this too.

#include <unistd.h>

#include <utility>

// An open file descriptor, closed on every way out of its scope. Moving one into
// another closes the descriptor the other held.
class FileDescriptor
{
  public:
    explicit FileDescriptor(int fd = -1) noexcept : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(FileDescriptor &&other) noexcept : m_fd(other.release()) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    // Hands the descriptor to a new owner (fdopendir, a QFile) and holds none.
    int release() { return std::exchange(m_fd, -1); }

  private:
    int m_fd;
};
