#pragma once

#include <QByteArray>

#include <ioapi.h>

#include <cstddef>
#include <cstdint>
#include <memory>

// How the archive file is read, by minizip and by the extraction: through two
// windows of our own instead of stdio. minizip seeks before every read it makes
// and walks the central directory in small pieces at the archive's far end; through
// stdio each of those reads cost a seek and two system calls. One window follows
// the entries' data, the other the directory, so the two walks do not evict each
// other.
//
// The file is opened here, with open(); minizip reaches it through functions(), the
// extraction reads entry data from it with view(), without a copy, and its index is
// read through descriptor(), so all three read the one file opened. Only regular
// files open. A read error is sticky: every later read comes back short, which
// minizip takes as a read error.
class ArchiveInputFile
{
  public:
    ArchiveInputFile();
    ~ArchiveInputFile();
    ArchiveInputFile(const ArchiveInputFile &) = delete;
    ArchiveInputFile &operator=(const ArchiveInputFile &) = delete;

    // Opens the regular file at `path`, once; false when it is something else or
    // cannot be opened.
    bool open(const QByteArray &path);

    // For unzOpen2_64, which is given the file opened here whatever name it passes;
    // this object must outlive the unzFile opened with them. Closing the unzFile
    // leaves the file open until this object goes.
    zlib_filefunc64_def functions();

    // Up to `want` bytes of the file, from `offset`, inside one of the windows and
    // valid until the next read of any kind. `got` is 0 at the end of the file. Null
    // after a read error or when no file is open.
    const char *view(std::uint64_t offset, std::size_t want, std::size_t &got);

    // The descriptor of the open file, or -1.
    int descriptor() const;

    struct File; // one open file and its windows

  private:
    std::unique_ptr<File> m_file;
};
