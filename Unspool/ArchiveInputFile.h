#pragma once

#include <ioapi.h>

// How minizip reads the archive file: through two windows of our own instead of
// stdio. minizip seeks before every read it makes, and reads an entry's data 16 KiB
// at a time while it walks the central directory in small pieces at the archive's
// far end; through stdio each of those reads cost a seek and two system calls, more
// than the inflating of a large lesson. One window follows the entries' data, the
// other the directory, so the two walks do not evict each other.
//
// Only regular files open; a read error is sticky and reported through the
// library's own error test.
namespace ArchiveInputFile
{

zlib_filefunc64_def functions();

} // namespace ArchiveInputFile
