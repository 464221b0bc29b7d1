#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// Helpers shared by the packer's tests and the end-to-end test: running the packer
// as a child process and reading what it wrote with Info-ZIP's tools, which know
// nothing of our archive code and so cross-check it.
namespace packertest
{

struct PackerRun {
    bool started = false;
    int exitCode = -1; // -1 when the packer did not exit normally
    QByteArray out;
    QByteArray err;
};

// The packer built beside the tests.
QString packerExecutable();

// Runs the packer with `arguments`; `beforeExec` runs in the child before it starts
// the packer (limits, signal dispositions).
PackerRun runPacker(const QStringList &arguments, const std::function<void()> &beforeExec = {});

// A minimal application bundle: Info.plist naming the executable, and a small
// executable shell script as Contents/MacOS/<name>.
bool writeFakeBundle(const QString &bundlePath, const QString &executableName);

// `unzip -t` passes.
bool unzipTestPasses(const QString &archive);
// Entry names in archive order (`unzip -Z1`).
QStringList entryNames(const QString &archive);
// Entry name -> DOS time stamp as "yyyyMMdd.hhmmss" (`zipinfo -T`).
QMap<QString, QString> entryTimes(const QString &archive);
// One entry's content (`unzip -p`).
QByteArray entryContent(const QString &archive, const QString &name);

// Every path below `root` (relative, sorted) with its type, size, mode and time:
// equal listings mean nothing was created, removed or changed there. Unlike a
// content digest it never opens anything, so named pipes are safe to list.
QStringList listing(const QString &root);

// How a modification time reads as a DOS time stamp in local time: seconds rounded
// down to an even number.
QString dosTimeStamp(const QDateTime &modified);

} // namespace packertest
