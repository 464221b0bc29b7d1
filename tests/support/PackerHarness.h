#pragma once

#include <QProcess>

// The packer run as a child process; link packer_test_harness, which names the packer
// (LESSON_PACK_EXECUTABLE) and builds it first.
namespace packertest
{

struct PackerRun {
    int exitCode = -1; // -1 when the packer did not exit normally
    QByteArray out, err;
};

inline PackerRun runPacker(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(LESSON_PACK_EXECUTABLE), arguments);
    if (!process.waitForFinished(3600000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace packertest
