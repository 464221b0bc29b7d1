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

// The launcher bundle: Info.plist naming its executable, a shell script that writes
// "started" to kMarkerName in the lesson folder.
QList<Entry> launcherEntries();
// Content files of a lesson, with known times; then both together.
QList<Entry> contentEntries();
QList<Entry> lessonEntries();

// A fixed time that is exactly representable in an archive entry.
QDateTime sampleTime();

inline constexpr char kMarkerName[] = "launcher-started";

} // namespace lessonzip
