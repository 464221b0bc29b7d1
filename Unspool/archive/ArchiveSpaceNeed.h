#pragma once

#include "Unspool/archive/ArchiveIndex.h"

#include <QByteArray>
#include <QList>

#include <cstdint>

// How much more of the disk an extraction takes at its worst moment. Each file is
// written beside the one it replaces and renamed over it only when complete, so
// for that while both stand on the disk: the largest entry needs room of its own
// even when everything is replaced.
namespace ArchiveSpaceNeed
{

// The most the used space below `destination` grows while `entries` are extracted
// in their order. A file an entry replaces counts as freed, after that entry's
// rename, only when it is a regular file with a single link on the destination's
// file system (a file with other links frees nothing, a link frees nothing of its
// target), and then for no more than the blocks it holds.
std::uint64_t bytesNeeded(const QList<ArchiveIndex::Entry> &entries, const QByteArray &destination);

} // namespace ArchiveSpaceNeed
