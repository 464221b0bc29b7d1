#pragma once

#include "Unspool/archive/ArchiveIndex.h"

#include <QByteArray>
#include <QString>

// A look at an archive's index before anything is extracted, for the shapes that
// minizip would follow into harm: overlapping-entry bombs, sizes the disk cannot
// hold, counts that hide entries, names and methods no lesson uses.
namespace ArchiveStructureCheck
{

// The error text ("Error occurs: <reason>") that refuses the archive of `index` for
// extraction into `destination`, or an empty string when it may be extracted.
// `havePassword` tells whether encrypted entries can be read.
QString refusalReason(const ArchiveIndex &index, const QByteArray &destination, bool havePassword);

// The text that also refuses an archive whose reading by minizip disagrees with its index.
constexpr char kDamaged[] = "Error occurs: archive structure is damaged";

} // namespace ArchiveStructureCheck
