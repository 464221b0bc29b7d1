#pragma once

#include <QString>

namespace lessonpack
{

// The single file a learner opens with `sh "<Lesson>.run"`, beside `bundle`
// (<folder>/<Lesson>.app becomes <folder>/<Lesson>.run).
QString singleFilePath(const QString &bundle);

// Writes the single file for the lesson bundle `bundle`: a self-extracting shell
// archive (makeself) carrying a copy of the bundle. Opened, it verifies its checksums
// first, refusing a damaged file, unpacks into a temporary folder and starts the
// bundle's Unspool there, as opening the bundle would; Unspool stays in the
// foreground until it has handed over to the lesson's setup launcher, since the
// temporary folder goes when it returns. The file is written under a temporary name
// and renamed into place; an existing one is replaced only when `replace` is set.
bool writeSingleFile(const QString &bundle, bool replace, QString &why);

} // namespace lessonpack
