#pragma once

#include "ProcessRunner.h"
#include "TestFiles.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>

// Running the packer as a child process and reading what it wrote with Info-ZIP,
// which knows nothing of our archive code and so cross-checks it. The packer's
// tests and the end-to-end test share these; link packer_test_harness, which names
// the packer (LESSON_PACK_EXECUTABLE) and builds it first.
namespace packertest
{

struct PackerRun {
    bool started = false;
    int exitCode = -1; // -1 when the packer did not exit normally
    QByteArray out, err;
};

inline QString packerExecutable()
{
    return QStringLiteral(LESSON_PACK_EXECUTABLE);
}

inline PackerRun runPacker(const QStringList &arguments)
{
    QProcess process;
    process.start(packerExecutable(), arguments);
    PackerRun run;
    run.started = process.waitForStarted();
    if (!run.started || !process.waitForFinished(600000))
        return run;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

// A minimal bundle: Info.plist naming the executable, a shell script that exits 0.
inline bool writeFakeBundle(const QString &bundle, const QString &executable)
{
    return testfiles::write(bundle + "/Contents/Info.plist",
                            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                            "<dict><key>CFBundleExecutable</key><string>" +
                                executable.toUtf8() + "</string></dict></plist>\n") &&
           testfiles::writeExecutable(bundle + "/Contents/MacOS/" + executable,
                                      "#!/bin/sh\nexit 0\n");
}

inline QByteArray unzip(const QStringList &arguments)
{
    return platform::runProcess("unzip", arguments).output;
}
inline bool unzipTestPasses(const QString &archive)
{
    return platform::runProcess("unzip", {"-tqq", archive}).exitCode == 0;
}
// In archive order.
inline QStringList entryNames(const QString &archive)
{
    return QString::fromUtf8(unzip({"-Z1", archive})).split('\n', Qt::SkipEmptyParts);
}
inline QByteArray entryContent(const QString &archive, const QString &name)
{
    return unzip({"-p", archive, name});
}
// "yyyyMMdd.hhmmss", from "-rw----  0.0 fat  136 t- defN 20100302.093016 name".
inline QString entryTime(const QString &archive, const QString &name)
{
    const QString line = QString::fromUtf8(unzip({"-Z", "-T", archive, name}));
    return QRegularExpression(QStringLiteral(R"(\d{8}\.\d{6})")).match(line).captured();
}

// A modification time as a DOS time stamp reads in local time: even seconds.
inline QString dosTimeStamp(const QDateTime &modified)
{
    const QDateTime local = modified.toLocalTime();
    const QTime time = local.time();
    const QTime even(time.hour(), time.minute(), time.second() - time.second() % 2);
    return local.date().toString("yyyyMMdd") + "." + even.toString("hhmmss");
}

} // namespace packertest
