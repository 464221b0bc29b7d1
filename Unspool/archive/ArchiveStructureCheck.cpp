#include "Unspool/archive/ArchiveStructureCheck.h"

#include "Unspool/archive/ArchiveCentralDirectory.h"
#include "Unspool/archive/ArchiveRecordLayout.h"
#include "Unspool/archive/ArchiveSpaceNeed.h"
#include "naming/NamePolicy.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace ArchiveBytes;

namespace
{

// The reasons, each its own so a refused lesson says what was wrong with it.
const char kDamaged[] = "Error occurs: archive structure is damaged";
const char kInconsistent64[] = "Error occurs: 64-bit records are inconsistent";
const char kCount[] = "Error occurs: entry count does not match the central directory";
const char kControl[] = "Error occurs: entry name holds a control character";
const char kMethod[] = "Error occurs: entry uses an unsupported compression method";
const char kEncrypted[] = "Error occurs: entry is encrypted and no password is set";
const char kRatio[] = "Error occurs: entry declares an impossible compression ratio";
const char kOutside[] = "Error occurs: entry data lies outside the archive";
const char kOverlapEntry[] = "Error occurs: entry data overlaps another entry";
const char kOverlapDirectory[] = "Error occurs: entry data overlaps the central directory";
const char kNoSpace[] = "Error occurs: not enough free space at the destination";

// Deflate's longest match (258 bytes) costs at least two bits, so a stream grows
// at most about 1032-fold; the slack covers a tiny stream's block header.
constexpr std::uint64_t kDeflateLimit = 1032;
constexpr std::uint64_t kDeflateSlack = 1031;
const QByteArray kLocalBytes = signature(ArchiveRecord::kLocalSignature);

struct Span {
    std::uint64_t begin;
    std::uint64_t end;
};

const char *entryFault(const ArchiveCentralEntry &entry, std::uint64_t fileSize, bool havePassword)
{
    // 64-bit values can point anywhere; none of the sums below may wrap.
    if (entry.compressedSize > fileSize || entry.localHeaderOffset > fileSize)
        return kOutside;
    if (NamePolicy::holdsControlCharacter(entry.name))
        return kControl;
    if (entry.method != 0 && entry.method != 8)
        return kMethod;
    if ((entry.flags & 1) && !havePassword)
        return kEncrypted;
    if (entry.method == 8 &&
        entry.uncompressedSize > entry.compressedSize * kDeflateLimit + kDeflateSlack)
        return kRatio;
    return nullptr;
}

// minizip checks a local header's sizes against the directory's unless they hold
// the marker; the 64-bit sizes of its ZIP64 block must then agree instead. That
// block holds both sizes, uncompressed first; a lone marked size may stand alone.
bool localSizesAgree(int fd, std::uint64_t headerAt, const QByteArray &header,
                     const ArchiveCentralEntry &entry)
{
    const bool marked[] = {u32(header, 22) == ArchiveRecord::kIn64BitRecord,
                           u32(header, 18) == ArchiveRecord::kIn64BitRecord};
    if ((u16(header, 6) & ArchiveRecord::kSizesInDataDescriptor) || (!marked[0] && !marked[1]))
        return true;
    QByteArray extra;
    if (!readAt(fd, headerAt + ArchiveRecord::kLocalHeaderSize + u16(header, 26), u16(header, 28),
                extra))
        return false;
    for (qsizetype pos = 0; extra.size() - pos >= 4; pos += 4 + u16(extra, pos + 2)) {
        const qsizetype size = std::min<qsizetype>(u16(extra, pos + 2), extra.size() - pos - 4);
        if (u16(extra, pos) != ArchiveRecord::kZip64ExtraId)
            continue;
        if (size >= 16)
            return (!marked[0] || u64(extra, pos + 4) == entry.uncompressedSize) &&
                   (!marked[1] || u64(extra, pos + 12) == entry.compressedSize);
        if (size < 8 || marked[0] == marked[1])
            return false;
        return u64(extra, pos + 4) == (marked[0] ? entry.uncompressedSize : entry.compressedSize);
    }
    return false;
}

// Where an entry's local header and data lie, read from its local header.
const char *entrySpan(int fd, const ArchiveCentralDirectory &directory,
                      const ArchiveCentralEntry &entry, Span &span)
{
    span.begin = entry.localHeaderOffset + directory.shift;
    if (span.begin + ArchiveRecord::kLocalHeaderSize > directory.fileSize)
        return kOutside;
    QByteArray header;
    if (!readAt(fd, span.begin, ArchiveRecord::kLocalHeaderSize, header) ||
        !header.startsWith(kLocalBytes))
        return kDamaged;
    if (!localSizesAgree(fd, span.begin, header, entry))
        return kInconsistent64;
    // minizip compares these for the entries it opens; the others are compared here.
    if (entry.offsetIn64BitRecord &&
        (u16(header, 8) != entry.method || u16(header, 26) != entry.name.size()))
        return kDamaged;
    span.end = span.begin + ArchiveRecord::kLocalHeaderSize + u16(header, 26) + u16(header, 28) +
               entry.compressedSize;
    if (span.end > directory.fileSize)
        return kOutside;
    if (span.end > directory.directoryStart)
        return kOverlapDirectory;
    return nullptr;
}

const char *layoutFault(int fd, const ArchiveCentralDirectory &directory)
{
    std::vector<Span> spans(static_cast<std::size_t>(directory.entries.size()));
    for (qsizetype i = 0; i < directory.entries.size(); ++i) {
        if (const char *fault = entrySpan(fd, directory, directory.entries.at(i), spans[i]))
            return fault;
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span &a, const Span &b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].begin < spans[i - 1].end)
            return kOverlapEntry;
    }
    return nullptr;
}

// Free bytes where the destination is or will be: its nearest existing folder.
bool freeSpace(const QByteArray &destination, std::uint64_t &bytes)
{
    QByteArray path = QFile::encodeName(
        QDir::cleanPath(QDir::current().absoluteFilePath(QFile::decodeName(destination))));
    struct statvfs fs {
    };
    while (::statvfs(path.constData(), &fs) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            return false;
        const qsizetype slash = path.lastIndexOf('/');
        if (slash <= 0 && path == "/")
            return false;
        path = slash <= 0 ? QByteArray("/") : path.left(slash);
    }
    bytes = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
    return true;
}

const char *spaceFault(const ArchiveCentralDirectory &directory, const QByteArray &destination)
{
    const std::uint64_t needed = ArchiveSpaceNeed::bytesNeeded(directory.entries, destination);
    std::uint64_t available = 0;
    if (!freeSpace(destination, available))
        return nullptr; // cannot tell: the writes themselves will report a full disk
    return needed > available ? kNoSpace : nullptr;
}

const char *fault(int fd, const QByteArray &destination, bool havePassword)
{
    const ArchiveCentralDirectory directory = ArchiveCentralDirectory::read(fd);
    if (directory.status == ArchiveCentralDirectory::Status::Inconsistent64)
        return kInconsistent64;
    if (directory.status != ArchiveCentralDirectory::Status::Read)
        return kDamaged;
    // A count wrapped past 65,535 would let minizip extract a fraction and call it done.
    if (directory.declaredCount != static_cast<std::uint64_t>(directory.entries.size()))
        return kCount;
    for (const ArchiveCentralEntry &entry : directory.entries) {
        if (const char *reason = entryFault(entry, directory.fileSize, havePassword))
            return reason;
    }
    if (const char *reason = layoutFault(fd, directory))
        return reason;
    return spaceFault(directory, destination);
}

} // namespace

namespace ArchiveStructureCheck
{

QString refusalReason(int archiveFd, const QByteArray &destination, bool havePassword)
{
    if (archiveFd < 0)
        return QString::fromLatin1(kDamaged);
    const char *reason = fault(archiveFd, destination, havePassword);
    return reason ? QString::fromLatin1(reason) : QString();
}

QList<EntryPlace> entryPlaces(int archiveFd)
{
    QList<EntryPlace> places;
    const ArchiveCentralDirectory directory = ArchiveCentralDirectory::read(archiveFd);
    if (archiveFd < 0 || directory.status != ArchiveCentralDirectory::Status::Read)
        return places;
    for (const ArchiveCentralEntry &entry : directory.entries) {
        Span span{};
        if (entryFault(entry, directory.fileSize, true) == kOutside ||
            entrySpan(archiveFd, directory, entry, span))
            return {};
        places.append({span.end - entry.compressedSize, entry.compressedSize,
                       entry.uncompressedSize, !entry.offsetIn64BitRecord, entry.modified});
    }
    return places;
}

} // namespace ArchiveStructureCheck
