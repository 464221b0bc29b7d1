#include "tools/PackArchive.h"

#include "Unspool/archive/ArchiveZipWriter.h"
#include "foundation_ext/FileDescriptor.h"
#include "tools/Progress.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lessonpack
{

namespace
{

constexpr std::size_t kPiece = 1024 * 1024;

bool stopped(const volatile std::sig_atomic_t *stop)
{
    return stop && *stop != 0;
}

// Copies the open file into the open entry a piece at a time; false when reading
// or deflating fails, when the file turns out not to hold `size` bytes, or when
// told to stop.
bool copyInPieces(ArchiveZipWriter &archive, int fd, std::uint64_t size, std::vector<char> &piece,
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
        if (!archive.write(piece.data(), static_cast<std::size_t>(n))) {
            why = QStringLiteral("cannot pack %1 into the archive").arg(source);
            return false;
        }
    }
    if (copied == size)
        return true;
    why = QStringLiteral("%1 changed while it was packed").arg(source);
    return false;
}

bool addEntry(ArchiveZipWriter &archive, const PackEntry &entry, std::vector<char> &piece,
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
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (!archive.begin({entry.name.toUtf8(), st.st_mtim.tv_sec, st.st_mode, size, {}, 0})) {
        why = QStringLiteral("cannot pack %1 into the archive").arg(entry.source);
        return false;
    }
    if (!copyInPieces(archive, file.get(), size, piece, stop, why, entry.source))
        return false;
    if (!archive.end()) {
        why = QStringLiteral("cannot pack %1 into the archive").arg(entry.source);
        return false;
    }
    return true;
}

} // namespace

bool writePackArchive(const QList<PackEntry> &entries, const QString &path, Progress &progress,
                      const volatile std::sig_atomic_t *stop, QString &why)
{
    const std::unique_ptr<ArchiveZipWriter> archive =
        ArchiveZipWriter::create(QFile::encodeName(path));
    if (!archive) {
        why = QStringLiteral("cannot create the archive %1").arg(path);
        return false;
    }
    std::vector<char> piece(kPiece);
    const qsizetype lessonFiles = std::count_if(
        entries.begin(), entries.end(), [](const PackEntry &entry) { return entry.lessonFile; });
    qsizetype packed = 0;
    for (const PackEntry &entry : entries) {
        if (!addEntry(*archive, entry, piece, stop, why))
            return false;
        if (entry.lessonFile)
            progress.update(++packed, lessonFiles);
    }
    if (stopped(stop)) {
        why = QStringLiteral("interrupted");
        return false;
    }
    if (!archive->finish()) {
        why = QStringLiteral("cannot finish the archive %1").arg(path);
        return false;
    }
    return true;
}

} // namespace lessonpack
