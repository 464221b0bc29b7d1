#include "Unspool/archive/ArchiveSpaceNeed.h"

#include "naming/NamePolicy.h"

#include <QHash>

#include <algorithm>
#include <limits>
#include <sys/stat.h>

namespace
{

// Declared sizes are the archive's word, so sums of them stop at the top instead
// of wrapping round to a small need.
std::uint64_t plus(std::uint64_t a, std::uint64_t b)
{
    return b > std::numeric_limits<std::uint64_t>::max() - a
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

// What replacing the item at `path` gives back to the file system.
std::uint64_t freedByReplacing(const QByteArray &path, dev_t destinationDevice)
{
    struct stat st {
    };
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        st.st_dev != destinationDevice)
        return 0;
    const auto held = static_cast<std::uint64_t>(st.st_blocks) * 512; // a sparse file holds less
    return std::min(static_cast<std::uint64_t>(st.st_size), held);
}

} // namespace

namespace ArchiveSpaceNeed
{

std::uint64_t bytesNeeded(const QList<ArchiveIndex::Entry> &entries, const QByteArray &destination)
{
    struct stat root {
    };
    const bool destinationExists =
        ::stat(destination.constData(), &root) == 0 && S_ISDIR(root.st_mode);
    // What each name holds by the time an entry replaces it: an earlier entry of the
    // same name replaced the file found there.
    QHash<QByteArray, std::uint64_t> held;
    std::uint64_t added = 0;
    std::uint64_t freed = 0;
    std::uint64_t peak = 0;
    for (const ArchiveIndex::Entry &entry : entries) {
        const NamePolicy::EntryPath name = NamePolicy::entryPath(entry.name);
        if (name.isFolder || name.leadsOutside)
            continue;
        const QByteArray relative = name.components.join('/');
        const auto known = held.constFind(relative);
        const std::uint64_t old =
            known != held.cend()
                ? *known
                : (destinationExists ? freedByReplacing(destination + '/' + relative, root.st_dev)
                                     : 0);
        const std::uint64_t size = entry.uncompressedSize;
        // The new file is complete while the old one still stands.
        added = plus(added, size);
        peak = std::max(peak, added > freed ? added - freed : 0);
        freed = plus(freed, old);
        held.insert(relative, size);
    }
    return peak;
}

} // namespace ArchiveSpaceNeed
