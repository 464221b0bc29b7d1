#pragma once

#include <QByteArray>
#include <QString>

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

} // namespace ArchiveStructureCheck
