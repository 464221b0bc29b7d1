#pragma once

#include <ioapi.h>

#include <cstddef>
#include <cstdint>

// How the archive file is read, by minizip and by the extraction: through two
// windows of our own instead of stdio. minizip seeks before every read it makes
// and walks the central directory in small pieces at the archive's far end; through
// stdio each of those reads cost a seek and two system calls. One window follows
// the entries' data, the other the directory, so the two walks do not evict each
// other.
//
// minizip opens the file through functions(); the extraction then reads entry data
// from the same open file with view(), without a copy, and the structural check
// reads it through descriptor(). Only regular files open. A read error is sticky:
// every later read comes back short, which minizip takes as a read error.
class ArchiveInputFile
{
  public:
    ArchiveInputFile() = default;
    ~ArchiveInputFile();
    ArchiveInputFile(const ArchiveInputFile &) = delete;
    ArchiveInputFile &operator=(const ArchiveInputFile &) = delete;

    // For unzOpen2_64; the functions refer to this object, which must outlive the
    // unzFile opened with them.
    zlib_filefunc64_def functions();

    // Up to `want` bytes of the file minizip has open, from `offset`, inside one of
    // the windows and valid until the next read of any kind. `got` is 0 at the end
    // of the file. Null after a read error or when no file is open.
    const char *view(std::uint64_t offset, std::size_t want, std::size_t &got);

    // The descriptor of the file minizip has open, or -1.
    int descriptor() const;

    struct File; // one open file and its windows

  private:
    static voidpf ZCALLBACK openFile(voidpf opaque, const void *filename, int mode);
    static int ZCALLBACK closeFile(voidpf opaque, voidpf stream);

    File *m_open = nullptr;
};
