#pragma once

#include <QString>

namespace lessonpack
{

class Progress;

// The single file a learner opens, beside `bundle`
// (<folder>/<Lesson>.app becomes <folder>/<Lesson>.run).
QString singleFilePath(const QString &bundle);

struct SingleFileRequest {
    QString lessonBundle;  // the packed lesson: its archive, name and icon
    QString runtimeBundle; // the self-contained Unspool.app the lesson runs on
    QString starter;       // the starter program the file begins with
    bool replace = false;  // replace an existing single file
};

// Writes the single file for a packed lesson: the starter program, the runtime's
// files that the lesson's own setup launcher does not carry (deflated), the lesson's
// icon, then the lesson archive, whose end-record comment holds the index the
// starter reads (see starter/index.h). Opened, the file unpacks the runtime into
// the user's cache once and starts Unspool there on its own archive. The file is
// written under an unpredictable temporary name beside the target and renamed into
// place; an existing one is replaced only when asked. Progress in bytes.
bool writeSingleFile(const SingleFileRequest &request, Progress &progress, QString &why);

} // namespace lessonpack
