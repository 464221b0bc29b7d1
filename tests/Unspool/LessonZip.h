#pragma once

#include "tests/support/ChildRun.h"
#include "tests/support/TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

// Lesson archives for the tests, written by a second tool (Python's zipfile).
namespace lessonzip
{

struct Entry {
    QString name;       // a name ending in "/" is a folder entry
    QByteArray content; // files only
    QDateTime modified; // local time; DOS times have two-second steps
};

inline constexpr char kMarkerName[] = "launcher-started";
// A fixed time that is exactly representable in an archive entry.
inline QDateTime sampleTime()
{
    return QDateTime(QDate(2009, 6, 30), QTime(14, 5, 58));
}

// Writes `entries` in order to a new archive; zipfile stores the staged times as local DOS times.
inline bool write(const QString &zipPath, const QList<Entry> &entries)
{
    QTemporaryDir staging;
    const char *const script =
        "import os, sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    for name in sys.argv[3:]:\n"
        "        z.write(os.path.join(sys.argv[2], name), name)\n";
    QStringList arguments{"python3", "-c", script, zipPath, staging.path()};
    for (const Entry &entry : entries) {
        const QString path = staging.filePath(entry.name);
        QFile item(path);
        if (entry.name.endsWith(u'/')
                ? !QDir().mkpath(path)
                : !testfiles::write(path, entry.content) || !item.open(QIODevice::ReadOnly) ||
                      !item.setFileTime(entry.modified, QFileDevice::FileModificationTime))
            return false;
        arguments << entry.name;
    }
    const childrun::Outcome zip = childrun::run({"/usr/bin/env", arguments, {}});
    return zip.exited && zip.exitCode == 0;
}

// The launcher bundle, whose script writes "started" to kMarkerName in the lesson folder.
inline QList<Entry> launcherEntries()
{
    const QDateTime t = sampleTime();
    return {{"Wayfarer.app/", {}, t},
            {"Wayfarer.app/Contents/Info.plist",
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
             "<key>CFBundleExecutable</key><string>Wayfarer</string></dict></plist>\n",
             t},
            {"Wayfarer.app/Contents/MacOS/Wayfarer",
             "#!/bin/sh\necho started > \"$(dirname \"$0\")/../../../launcher-started\"\n", t}};
}

inline QList<Entry> contentEntries()
{
    return {{"pagewright_files/index.html", "<html><body>Lesson</body></html>\n", sampleTime()},
            {"pagewright_files/media/clip.bin", QByteArray(100000, '\x5a'),
             QDateTime(QDate(2021, 12, 24), QTime(8, 30, 2))}};
}
inline QList<Entry> lessonEntries()
{
    return launcherEntries() + contentEntries();
}

} // namespace lessonzip
