#include "XClient.h"

#include "Holders.h"

namespace quiesce_test
{

XClient::XClient(const QString &file, const QString &mode, const QStringList &windowClass)
{
    mProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mProcess.start(QStringLiteral("/bin/sh"),
                   QStringList{QStringLiteral("-c"),
                               QStringLiteral("exec 3<\"$1\"; shift; exec \"$0\" \"$@\""),
                               QStringLiteral(QUIESCE_X11_CLIENT), file, mode} +
                       windowClass);
    mPid = int(mProcess.processId());
    mReady = saw("ready");
}

XClient::~XClient()
{
    if (isRunning()) {
        mProcess.kill();
        mProcess.waitForFinished(kPatienceMs);
    }
}

bool XClient::saw(const QByteArray &line)
{
    for (;;) {
        const qsizetype at = mOutput.indexOf(line + '\n');
        if (at >= 0) {
            mOutput.remove(0, at + line.size() + 1);
            return true;
        }
        const bool more = mProcess.waitForReadyRead(kPatienceMs);
        const QByteArray read = mProcess.readAllStandardOutput();
        if (!more && read.isEmpty())
            return false;
        mOutput += read;
    }
}

bool XClient::endedByItself()
{
    if (isRunning() && !mProcess.waitForFinished(kPatienceMs))
        return false;
    return mProcess.exitStatus() == QProcess::NormalExit && mProcess.exitCode() == 0;
}

bool XClient::endedBySignal()
{
    if (isRunning() && !mProcess.waitForFinished(kPatienceMs))
        return false;
    return mProcess.exitStatus() == QProcess::CrashExit;
}

} // namespace quiesce_test
