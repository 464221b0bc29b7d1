#pragma once

#include "tools/FileWalk.h"

#include <QList>
#include <QString>

#include <csignal>

namespace lessonpack
{

class Progress;

// Writes the lesson archive at `path` from `entries`, in their order: each file is
// read and deflated a piece at a time, so memory does not grow with file size, and
// each entry keeps its file's mode and time (ArchiveZipWriter). Gives up, false, as
// soon as `stop` (when given) turns non-zero. `progress` counts the lesson's own files
// (entries marked lessonFile), which is what the author knows the lesson by. On
// failure `why` says what went wrong and the half-written file is left for the caller
// to remove.
bool writePackArchive(const QList<PackEntry> &entries, const QString &path, Progress &progress,
                      const volatile std::sig_atomic_t *stop, QString &why);

} // namespace lessonpack
