#include "LessonZip.h"

#include "ProcessRunner.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace lessonzip
{

namespace
{

// Adds the staged items in the order given; zipfile takes each item's time from
// the file system and stores it as local DOS time, as archivers do.
const char kZipScript[] = R"(import os, sys, zipfile
out, root = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
    for name in sys.argv[3:]:
        archive.write(os.path.join(root, name), name)
)";

const char kInfoPlist[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>CFBundleExecutable</key>
	<string>Wayfarer</string>
	<key>CFBundleName</key>
	<string>Wayfarer</string>
</dict>
</plist>
)";

// Started from the lesson folder's Wayfarer.app/Contents/MacOS.
const char kLauncherScript[] = "#!/bin/sh\n"
                               "echo started > \"$(dirname \"$0\")/../../../launcher-started\"\n";

bool stage(const QString &root, const Entry &entry)
{
    const QString path = root + u'/' + entry.name;
    // Folder times are not kept by the extraction, so only files get theirs.
    if (entry.name.endsWith(u'/'))
        return QDir().mkpath(path);
    if (!testfiles::write(path, entry.content))
        return false;
    QFile item(path);
    if (!item.open(QIODevice::ReadOnly))
        return false;
    return item.setFileTime(entry.modified, QFileDevice::FileModificationTime);
}

} // namespace

QDateTime sampleTime()
{
    return QDateTime(QDate(2009, 6, 30), QTime(14, 5, 58));
}

bool write(const QString &zipPath, const QList<Entry> &entries)
{
    QTemporaryDir staging;
    if (!staging.isValid())
        return false;
    QStringList arguments{QStringLiteral("-c"), QString::fromLatin1(kZipScript), zipPath,
                          staging.path()};
    for (const Entry &entry : entries) {
        if (!stage(staging.path(), entry))
            return false;
        arguments << entry.name;
    }
    const platform::ProcessResult result =
        platform::runProcess(QStringLiteral("python3"), arguments);
    return result.started && result.exitCode == 0;
}

QList<Entry> launcherEntries()
{
    const QDateTime time = sampleTime();
    return {
        {QStringLiteral("Wayfarer.app/"), {}, time},
        {QStringLiteral("Wayfarer.app/Contents/Info.plist"), kInfoPlist, time},
        {QStringLiteral("Wayfarer.app/Contents/MacOS/Wayfarer"), kLauncherScript, time},
    };
}

QList<Entry> contentEntries()
{
    return {
        {QStringLiteral("pagewright_files/index.html"), "<html><body>Lesson</body></html>\n",
         sampleTime()},
        {QStringLiteral("pagewright_files/media/clip.bin"), QByteArray(100000, '\x5a'),
         QDateTime(QDate(2021, 12, 24), QTime(8, 30, 2))},
    };
}

QList<Entry> lessonEntries()
{
    return launcherEntries() + contentEntries();
}

} // namespace lessonzip
