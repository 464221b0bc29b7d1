#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// Lesson archives for the tests, written by a second tool (Python's zipfile) so
// that the extraction is checked against archives it did not make itself.
namespace lessonzip
{

struct Entry {
    QString name;       // a name ending in "/" is a folder entry
    QByteArray content; // files only
    QDateTime modified; // local time; DOS times have two-second steps
};

// Writes `entries`, in this order, to a new archive at `zipPath`.
bool write(const QString &zipPath, const QList<Entry> &entries);

// The launcher bundle an archive carries: Info.plist naming its executable, and a
// shell script that leaves the file "launcher-started" in the lesson folder.
QList<Entry> launcherEntries();
// Content files of a lesson, with known times.
QList<Entry> contentEntries();
// Both together: a complete lesson.
QList<Entry> lessonEntries();

// A fixed time that is exactly representable in an archive entry.
QDateTime sampleTime();

inline constexpr char kMarkerName[] = "launcher-started";

} // namespace lessonzip
