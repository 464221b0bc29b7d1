#include "Unspool/archive/ArchiveSourceFile.h"

#include "Unspool/archive/ArchiveCipher.h"
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

QByteArray ArchiveSourceFile::encryptedEntryData(const QByteArray &password,
                                                 std::uint32_t crc) const
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    const uLong bound = deflateBound(&stream, static_cast<uLong>(content.size()));
    QByteArray compressed(static_cast<qsizetype>(bound), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(content.constData()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef *>(compressed.data());
    stream.avail_out = static_cast<uInt>(bound);
    const int result = deflate(&stream, Z_FINISH);
    compressed.truncate(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        return {};

    ArchiveCipher cipher(password);
    QByteArray data = cipher.header(crc);
    cipher.encrypt(compressed.data(), static_cast<std::size_t>(compressed.size()));
    return data + compressed;
}
