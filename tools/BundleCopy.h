#pragma once

#include <QString>

namespace lessonpack
{

// Copies the folder tree `source` to `destination` (which must not exist yet), keeping
// every file's and folder's permission bits and modification time, so the copy's
// executable still runs. The path `skip`, relative to `source`, is left out. Symbolic
// links and special files are refused with the reason in `why`.
bool copyTree(const QString &source, const QString &destination, const QString &skip, QString &why);

} // namespace lessonpack
