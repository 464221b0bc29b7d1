#include "SingleFile.h"

#include "BundleCopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

namespace lessonpack
{
namespace
{

// The file's label and startup command are pasted into its shell header as they
// are, so both are fixed: the lesson's name never reaches them. The startup script
// finds the one bundle beside it and replaces itself with its Unspool.
const char kLabel[] = "Brindle lesson";
const char kStartup[] = "./open-lesson";
const char kStartupScript[] =
    "#!/bin/sh\n"
    "# Opens the lesson this file carries, as opening its bundle would. Unspool keeps\n"
    "# this folder in use until it has started the lesson's setup launcher.\n"
    "for bundle in ./*.app; do\n"
    "  [ -x \"$bundle/Contents/MacOS/Unspool\" ] && exec \"$bundle/Contents/MacOS/Unspool\"\n"
    "done\n"
    "echo \"This lesson file carries no lesson.\" >&2\n"
    "exit 1\n";

} // namespace

QString singleFilePath(const QString &bundle)
{
    QString path = QDir::cleanPath(bundle);
    if (path.endsWith(QStringLiteral(".app")))
        path.chop(4);
    return path + QStringLiteral(".run");
}

bool writeSingleFile(const QString &bundle, bool replace, QString &why)
{
    const QString makeself = QStandardPaths::findExecutable(QStringLiteral("makeself"));
    if (makeself.isEmpty()) {
        why = QStringLiteral("makeself is not installed; it writes the single file");
        return false;
    }
    const QString target = singleFilePath(bundle);
    QTemporaryDir stage;
    if (!stage.isValid()) {
        why = QStringLiteral("cannot make a temporary folder: %1").arg(stage.errorString());
        return false;
    }
    const QString lesson = stage.filePath(QStringLiteral("lesson"));
    if (!QDir().mkpath(lesson) ||
        !copyTree(bundle, lesson + QLatin1Char('/') + QFileInfo(bundle).fileName(), QString(), why))
        return why.isEmpty() ? (why = QStringLiteral("cannot stage the lesson"), false) : false;
    QFile startup(lesson + QStringLiteral("/open-lesson"));
    if (!startup.open(QIODevice::WriteOnly) || startup.write(kStartupScript) < 0 ||
        !startup.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                QFileDevice::ExeOther)) {
        why = QStringLiteral("cannot write the startup script: %1").arg(startup.errorString());
        return false;
    }
    startup.close();

    // Written beside the target, so the rename into place cannot cross file systems.
    const QString partial = QFileInfo(target).absolutePath() + QStringLiteral("/.lesson-pack-") +
                            QString::number(QCoreApplication::applicationPid()) +
                            QStringLiteral(".run");
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(makeself, {QStringLiteral("--nox11"), QStringLiteral("--sha256"),
                             QStringLiteral("--quiet"), lesson, partial,
                             QLatin1String(kLabel), QLatin1String(kStartup)});
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        QFile::remove(partial);
        const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
        why = QStringLiteral("makeself failed: %1")
                  .arg(output.isEmpty() ? process.errorString() : output.section('\n', -1));
        return false;
    }
    const QByteArray from = QFile::encodeName(partial);
    const QByteArray to = QFile::encodeName(target);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(),
                    replace ? 0 : RENAME_NOREPLACE) != 0) {
        const int error = errno;
        QFile::remove(partial);
        why = error == EEXIST ? QStringLiteral("%1 already exists (use --replace)").arg(target)
                              : QStringLiteral("cannot write %1: %2")
                                    .arg(target, QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
    return true;
}

} // namespace lessonpack
