#include "Unspool/archive/ArchiveEntryName.h"

#include "naming/NamePolicy.h"

// The rule itself lives with the packer's, so both read names alike.
ArchiveEntryName ArchiveEntryName::parse(const QByteArray &raw)
{
    NamePolicy::EntryPath path = NamePolicy::entryPath(raw);
    return {std::move(path.components), path.isFolder, path.leadsOutside};
}
