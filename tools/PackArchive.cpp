#include "tools/PackArchive.h"

#include "Unspool/archive/ArchiveTime.h"
#include "foundation_ext/FileDescriptor.h"
#include "tools/Progress.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <zip.h>
#include <zlib.h>

namespace lessonpack
{

namespace
{

constexpr std::size_t kPiece = 1024 * 1024;
constexpr std::uint64_t kMarker32 = 0xFFFFFFFF;
constexpr std::uint64_t kMarkerCount = 0xFFFF;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kEnd64Size = 56;
constexpr std::size_t kLocatorSize = 20;

struct ZipCloser {
    void operator()(void *archive) const { zipClose(archive, nullptr); }
};
using ZipHandle = std::unique_ptr<void, ZipCloser>;

bool stopped(const volatile std::sig_atomic_t *stop)
{
    return stop && *stop != 0;
}

// Entries say they were made on Unix (version 4.5 of the format) and carry the file's
// mode: other tools then take the UTF-8 flag below at its word, where for an entry made on
// MS-DOS some turn every name beyond ASCII into another code page's characters.
constexpr uLong kMadeOnUnix = 3 << 8 | 45;

// Names beyond ASCII are flagged as UTF-8, so other tools read them as they were given.
uLong nameFlags(const QByteArray &name)
{
    constexpr uLong kUtf8Name = 1 << 11;
    const bool ascii = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? 0 : kUtf8Name;
}

// Deflate may grow incompressible data a little; an entry whose stored bytes could
// reach 4 GiB carries its sizes in a ZIP64 block, which minizip must reserve before
// the data is written.
int needsZip64(std::uint64_t size)
{
    return compressBound(static_cast<uLong>(size)) >= kMarker32 ? 1 : 0;
}

// Copies the open file into the open entry a piece at a time; false when reading
// or deflating fails, when the file turns out not to hold `size` bytes, or when
// told to stop.
bool copyInPieces(void *archive, int fd, std::uint64_t size, std::vector<char> &piece,
                  const volatile std::sig_atomic_t *stop, QString &why, const QString &source)
{
    std::uint64_t copied = 0;
    for (;;) {
        if (stopped(stop)) {
            why = QStringLiteral("interrupted");
            return false;
        }
        const ssize_t n = ::read(fd, piece.data(), piece.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = QStringLiteral("cannot read %1").arg(source);
            return false;
        }
        if (n == 0)
            break;
        copied += static_cast<std::uint64_t>(n);
        if (zipWriteInFileInZip(archive, piece.data(), static_cast<unsigned>(n)) != ZIP_OK) {
            why = QStringLiteral("cannot pack %1 into the archive").arg(source);
            return false;
        }
    }
    if (copied == size)
        return true;
    why = QStringLiteral("%1 changed while it was packed").arg(source);
    return false;
}

bool addEntry(void *archive, const PackEntry &entry, std::vector<char> &piece,
              const volatile std::sig_atomic_t *stop, QString &why)
{
    // A link is followed: the entry holds what it points to.
    const FileDescriptor file(
        ::open(QFile::encodeName(entry.source).constData(), O_RDONLY | O_CLOEXEC));
    struct stat st {
    };
    if (!file.isOpen() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        why = QStringLiteral("cannot read %1").arg(entry.source);
        return false;
    }
    zip_fileinfo record{};
    ArchiveTime::fillZipDate(st.st_mtim.tv_sec, record.tmz_date);
    record.external_fa = static_cast<uLong>(st.st_mode & 0xFFFF) << 16; // Unix mode, file type
    const QByteArray name = entry.name.toUtf8();
    const auto size = static_cast<std::uint64_t>(st.st_size);
    // zipOpenNewFileInZip's own settings, plus made on Unix, the name flag and ZIP64 when needed.
    if (zipOpenNewFileInZip4_64(archive, name.constData(), &record, nullptr, 0, nullptr, 0, nullptr,
                                Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8,
                                Z_DEFAULT_STRATEGY, nullptr, 0, kMadeOnUnix, nameFlags(name),
                                needsZip64(size)) != ZIP_OK) {
        why = QStringLiteral("cannot pack %1 into the archive").arg(entry.source);
        return false;
    }
    if (!copyInPieces(archive, file.get(), size, piece, stop, why, entry.source))
        return false;
    if (zipCloseFileInZip(archive) != ZIP_OK) {
        why = QStringLiteral("cannot pack %1 into the archive").arg(entry.source);
        return false;
    }
    return true;
}

template <typename T> void put(std::vector<unsigned char> &out, T value)
{
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out.push_back(static_cast<unsigned char>(static_cast<std::uint64_t>(value) >> (8 * i)));
}

std::uint64_t get(const unsigned char *bytes, std::size_t size)
{
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

// minizip writes the 64-bit end records only when the directory starts past 4 GiB;
// past 65,535 entries it leaves the marker count 0xFFFF in the ordinary end record
// and no record with the true count. Then the 64-bit end record and its locator
// are written here where the ordinary end record was, which follows them again.
bool addMissingEnd64(const QString &path, std::uint64_t count, QString &why)
{
    why = QStringLiteral("cannot finish the archive %1").arg(path);
    const FileDescriptor file(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC));
    struct stat st {
    };
    if (!file.isOpen() || ::fstat(file.get(), &st) != 0 ||
        static_cast<std::size_t>(st.st_size) < kEndRecordSize + kLocatorSize)
        return false;
    const auto endAt = static_cast<std::uint64_t>(st.st_size) - kEndRecordSize;
    std::array<unsigned char, kLocatorSize + kEndRecordSize> tail{};
    if (::pread(file.get(), tail.data(), tail.size(), static_cast<off_t>(endAt - kLocatorSize)) !=
        static_cast<ssize_t>(tail.size()))
        return false;
    const unsigned char *end = tail.data() + kLocatorSize;
    if (get(end, 4) != 0x06054b50)
        return false;
    if (get(tail.data(), 4) == 0x07064b50 || count <= kMarkerCount)
        return true; // minizip wrote them, or none are needed
    const std::uint64_t directorySize = get(end + 12, 4);
    const std::uint64_t directoryAt = get(end + 16, 4);
    if (directoryAt == kMarker32 || directorySize == kMarker32)
        return false; // past 4 GiB minizip writes the records itself

    std::vector<unsigned char> records;
    put<std::uint32_t>(records, 0x06064b50);
    put<std::uint64_t>(records, kEnd64Size - 12);
    put<std::uint16_t>(records, 45); // made by, needed: ZIP64's version
    put<std::uint16_t>(records, 45);
    put<std::uint32_t>(records, 0); // this disk, the directory's disk
    put<std::uint32_t>(records, 0);
    put<std::uint64_t>(records, count); // on this disk, in all
    put<std::uint64_t>(records, count);
    put<std::uint64_t>(records, directorySize);
    put<std::uint64_t>(records, directoryAt);
    put<std::uint32_t>(records, 0x07064b50);
    put<std::uint32_t>(records, 0);
    put<std::uint64_t>(records, endAt); // where the 64-bit end record now begins
    put<std::uint32_t>(records, 1);     // disks
    records.insert(records.end(), end, end + kEndRecordSize);
    records[records.size() - 12] = records[records.size() - 11] = 0xFF; // counts: see above
    records[records.size() - 14] = records[records.size() - 13] = 0xFF;
    if (::pwrite(file.get(), records.data(), records.size(), static_cast<off_t>(endAt)) !=
        static_cast<ssize_t>(records.size()))
        return false;
    why.clear();
    return true;
}

} // namespace

bool writePackArchive(const QList<PackEntry> &entries, const QString &path, Progress &progress,
                      const volatile std::sig_atomic_t *stop, QString &why)
{
    ZipHandle archive(zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE));
    if (!archive) {
        why = QStringLiteral("cannot create the archive %1").arg(path);
        return false;
    }
    std::vector<char> piece(kPiece);
    const qsizetype lessonFiles = std::count_if(
        entries.begin(), entries.end(), [](const PackEntry &entry) { return entry.lessonFile; });
    qsizetype packed = 0;
    for (const PackEntry &entry : entries) {
        if (!addEntry(archive.get(), entry, piece, stop, why))
            return false;
        if (entry.lessonFile)
            progress.update(++packed, lessonFiles);
    }
    if (stopped(stop)) {
        why = QStringLiteral("interrupted");
        return false;
    }
    if (zipClose(archive.release(), nullptr) != ZIP_OK) {
        why = QStringLiteral("cannot finish the archive %1").arg(path);
        return false;
    }
    return addMissingEnd64(path, static_cast<std::uint64_t>(entries.size()), why);
}

} // namespace lessonpack
