#include "PackerHarness.h"

#include "ProcessRunner.h"
#include "TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <sys/stat.h>

namespace packertest
{

namespace
{

// Only a safety net against a hang; a packer run takes a moment.
constexpr int kPatienceMs = 120000;

QByteArray unzipOutput(const QStringList &arguments)
{
    const platform::ProcessResult result = platform::runProcess("unzip", arguments);
    return result.exitCode == 0 ? result.output : QByteArray();
}

} // namespace

QString packerExecutable()
{
    return QStringLiteral(LESSON_PACK_EXECUTABLE);
}

PackerRun runPacker(const QStringList &arguments, const std::function<void()> &beforeExec)
{
    QProcess process;
    if (beforeExec)
        process.setChildProcessModifier(beforeExec);
    process.start(QStringLiteral(LESSON_PACK_EXECUTABLE), arguments);
    PackerRun run;
    run.started = process.waitForStarted(kPatienceMs);
    if (!run.started || !process.waitForFinished(kPatienceMs))
        return run;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    return run;
}

bool writeFakeBundle(const QString &bundlePath, const QString &executableName)
{
    const QByteArray plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<plist version=\"1.0\"><dict>\n"
                             "<key>CFBundleExecutable</key><string>" +
                             executableName.toUtf8() + "</string>\n</dict></plist>\n";
    const QString executable = bundlePath + "/Contents/MacOS/" + executableName;
    return testfiles::write(bundlePath + "/Contents/Info.plist", plist) &&
           testfiles::write(executable, "#!/bin/sh\nexit 0\n") &&
           QFile::setPermissions(executable, QFile::permissions(executable) | QFile::ExeOwner |
                                                 QFile::ExeGroup | QFile::ExeOther);
}

bool unzipTestPasses(const QString &archive)
{
    return platform::runProcess("unzip", {"-tqq", archive}).exitCode == 0;
}

QStringList entryNames(const QString &archive)
{
    return QString::fromUtf8(unzipOutput({"-Z1", archive})).split('\n', Qt::SkipEmptyParts);
}

QMap<QString, QString> entryTimes(const QString &archive)
{
    // -rw----  0.0 fat  136 t- defN 20100302.093016 name with blanks
    static const QRegularExpression line(
        QStringLiteral(R"(^\S+\s+\S+\s+\S+\s+\d+\s+\S+\s+\S+\s+(\d{8}\.\d{6})\s(.*)$)"));
    QMap<QString, QString> times;
    const QStringList lines = QString::fromUtf8(unzipOutput({"-Z", "-T", archive})).split('\n');
    for (const QString &text : lines) {
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch())
            times.insert(match.captured(2), match.captured(1));
    }
    return times;
}

QByteArray entryContent(const QString &archive, const QString &name)
{
    return platform::runProcess("unzip", {"-p", archive, name}).output;
}

QStringList listing(const QString &root)
{
    return testfiles::describeTree(root, [](const QString &path) {
        struct stat st {
        };
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return QStringLiteral(" gone");
        return QStringLiteral(" mode=%1 size=%2 mtime=%3.%4")
            .arg(st.st_mode, 0, 8)
            .arg(st.st_size)
            .arg(st.st_mtim.tv_sec)
            .arg(st.st_mtim.tv_nsec);
    });
}

QString dosTimeStamp(const QDateTime &modified)
{
    const QDateTime local = modified.toLocalTime();
    const QTime time = local.time();
    const QTime even(time.hour(), time.minute(), time.second() - time.second() % 2);
    return local.date().toString("yyyyMMdd") + "." + even.toString("hhmmss");
}

} // namespace packertest
