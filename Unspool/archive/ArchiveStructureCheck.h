#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// A look at an archive's central directory before anything is extracted, for the
// shapes that minizip would follow into harm: overlapping-entry bombs, sizes the
// disk cannot hold, counts that hide entries, names and methods no lesson uses.
namespace ArchiveStructureCheck
{

// The error text ("Error occurs: <reason>") that refuses the archive open at
// `archiveFd` for extraction into `destination`, or an empty string when it may
// be extracted. `havePassword` tells whether encrypted entries can be read. The
// descriptor is the one the extraction reads, so the file checked is the file
// extracted, even if its name is given to another in between.
QString refusalReason(int archiveFd, const QByteArray &destination, bool havePassword);

// An entry's stored bytes as this reading of the archive finds them. The minizip
// this system links reads no ZIP64 block of a central record on a 64-bit system:
// it gives such sizes as 0xFFFFFFFF and cannot open an entry whose local header
// lies past 4 GiB. The extraction takes these values instead, and opens through
// minizip only the entries it can open.
struct EntryPlace {
    std::uint64_t dataOffset = 0; // in the file: past the local header
    std::uint64_t storedSize = 0;
    std::uint64_t declaredSize = 0;
    bool libraryOpens = true;
    std::optional<std::int64_t> modified{}; // UTC, where the entry carries it
};

// One place per central record, in the directory's order; empty when the archive
// cannot be read (refusalReason refuses it then).
QList<EntryPlace> entryPlaces(int archiveFd);

} // namespace ArchiveStructureCheck
