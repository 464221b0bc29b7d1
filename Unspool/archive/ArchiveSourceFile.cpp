#include "Unspool/archive/ArchiveSourceFile.h"

#include "foundation_ext/FileDescriptor.h"
#include "foundation_ext/FileIO.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool ArchiveSourceFile::read(const QByteArray &path)
{
    // A link is followed: the entry holds what it points to.
    const FileDescriptor file(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return false;
    struct stat st {
    };
    if (::fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    modified = st.st_mtim.tv_sec;
    mode = st.st_mode;
    content.clear();
    content.reserve(st.st_size);
    return readToEnd(file.get(), [this](const char *piece, std::size_t size) {
        content.append(piece, static_cast<qsizetype>(size));
    });
}

std::uint32_t ArchiveSourceFile::crc() const
{
    const auto *bytes = reinterpret_cast<const Bytef *>(content.constData());
    return static_cast<std::uint32_t>(
        crc32_z(crc32(0, nullptr, 0), bytes, static_cast<z_size_t>(content.size())));
}
