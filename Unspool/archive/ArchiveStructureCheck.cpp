#include "Unspool/archive/ArchiveStructureCheck.h"

#include "Unspool/archive/ArchiveRecordLayout.h"
#include "Unspool/archive/ArchiveSpaceNeed.h"
#include "foundation_ext/PathBytes.h"
#include "naming/NamePolicy.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <sys/statvfs.h>

namespace
{

using ArchiveStructureCheck::kDamaged;

// The reasons, each its own so a refused lesson says what was wrong with it.
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

struct Span {
    std::uint64_t begin;
    std::uint64_t end;
};

const char *entryFault(const ArchiveIndex::Entry &entry, std::uint64_t fileSize, bool havePassword)
{
    // 64-bit values can point anywhere; none of the sums below may wrap.
    if (entry.compressedSize > fileSize || entry.localHeaderOffset > fileSize)
        return kOutside;
    if (NamePolicy::holdsControlCharacter(entry.name))
        return kControl;
    if (entry.method != 0 && entry.method != 8)
        return kMethod;
    if ((entry.flags & ArchiveRecord::kEncrypted) && !havePassword)
        return kEncrypted;
    if (entry.method == 8 &&
        entry.uncompressedSize > entry.compressedSize * kDeflateLimit + kDeflateSlack)
        return kRatio;
    return nullptr;
}

// Where an entry's local header and data lie, as its local header gives them.
const char *entrySpan(const ArchiveIndex &index, const ArchiveIndex::Entry &entry, Span &span)
{
    // By ArchiveIndex::Local: Read, Outside, Damaged, Inconsistent64.
    const char *const localFaults[] = {nullptr, kOutside, kDamaged, kInconsistent64};
    if (const char *fault = localFaults[static_cast<int>(entry.local)])
        return fault;
    if (!entry.dataWithin(index.fileSize))
        return kOutside;
    span = {entry.headerAt, entry.dataOffset + entry.compressedSize};
    return span.end > index.directoryStart ? kOverlapDirectory : nullptr;
}

const char *layoutFault(const ArchiveIndex &index)
{
    std::vector<Span> spans(static_cast<std::size_t>(index.entries.size()));
    for (qsizetype i = 0; i < index.entries.size(); ++i) {
        if (const char *fault = entrySpan(index, index.entries.at(i), spans[i]))
            return fault;
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span &a, const Span &b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].begin < spans[i - 1].end)
            return kOverlapEntry;
    }
    const auto namedOther = [](const ArchiveIndex::Entry &e) { return e.localNameDiffers; };
    return std::any_of(index.entries.begin(), index.entries.end(), namedOther) ? kDamaged : nullptr;
}

// Free bytes where the destination is or will be: its nearest existing folder.
bool freeSpace(const QByteArray &destination, std::uint64_t &bytes)
{
    QByteArray path = absolutePath(destination); // as bytes: the name need not be UTF-8
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

const char *spaceFault(const ArchiveIndex &index, const QByteArray &destination)
{
    const std::uint64_t needed = ArchiveSpaceNeed::bytesNeeded(index.entries, destination);
    std::uint64_t available = 0;
    if (!freeSpace(destination, available))
        return nullptr; // cannot tell: the writes themselves will report a full disk
    return needed > available ? kNoSpace : nullptr;
}

const char *fault(const ArchiveIndex &index, const QByteArray &destination, bool havePassword)
{
    if (index.status == ArchiveIndex::Status::Inconsistent64)
        return kInconsistent64;
    if (index.status != ArchiveIndex::Status::Read)
        return kDamaged;
    // A count wrapped past 65,535 would let minizip extract a fraction and call it done.
    if (index.declaredCount != static_cast<std::uint64_t>(index.entries.size()))
        return kCount;
    for (const ArchiveIndex::Entry &entry : index.entries) {
        if (const char *reason = entryFault(entry, index.fileSize, havePassword))
            return reason;
    }
    if (const char *reason = layoutFault(index))
        return reason;
    return spaceFault(index, destination);
}

} // namespace

namespace ArchiveStructureCheck
{

QString refusalReason(const ArchiveIndex &index, const QByteArray &destination, bool havePassword)
{
    const char *reason = fault(index, destination, havePassword);
    return reason ? QString::fromLatin1(reason) : QString();
}

} // namespace ArchiveStructureCheck
