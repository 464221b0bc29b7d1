#include "RootTestSupport.h"

#include "TestFiles.h"

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

namespace roottest
{

namespace
{

class RecordingSession : public platform::PrivilegedSession
{
  public:
    RecordingSession(std::unique_ptr<platform::PrivilegedSession> inner, QList<QStringList> &log)
        : mInner(std::move(inner)), mLog(log)
    {
    }
    bool execute(const QString &tool, const QStringList &arguments) override
    {
        mLog.append(QStringList{tool} + arguments);
        return mInner->execute(tool, arguments);
    }

  private:
    std::unique_ptr<platform::PrivilegedSession> mInner;
    QList<QStringList> &mLog;
};

QByteArray statusField(int pid, const QByteArray &name)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name + ":"))
            return line.mid(name.size() + 1).trimmed();
    }
    return {};
}

} // namespace

std::unique_ptr<platform::PrivilegedSession> RecordingRunner::open()
{
    ++opens;
    std::unique_ptr<platform::PrivilegedSession> session = mInner->open();
    if (!session)
        return nullptr;
    return std::make_unique<RecordingSession>(std::move(session), requests);
}

StubbornChild::StubbornChild()
{
    // An ignored signal stays ignored across exec, so sleep inherits it.
    mProcess.start(QStringLiteral("/bin/sh"),
                   {QStringLiteral("-c"), QStringLiteral("trap '' TERM; exec sleep 30")});
    mProcess.waitForStarted();
    while (mProcess.state() == QProcess::Running && statusField(pid(), "Name") != "sleep")
        ::usleep(10000);
}

StubbornChild::~StubbornChild()
{
    mProcess.kill();
    mProcess.waitForFinished(-1);
}

bool StubbornChild::ignoresTerm() const
{
    bool ok = false;
    const qulonglong ignored = statusField(pid(), "SigIgn").toULongLong(&ok, 16);
    return ok && (ignored & (1ULL << (SIGTERM - 1)));
}

bool StubbornChild::endedByKill()
{
    mProcess.waitForFinished(-1);
    return mProcess.exitStatus() == QProcess::CrashExit && mProcess.exitCode() == SIGKILL;
}

bool writeScript(const QString &path, const QByteArray &body)
{
    return testfiles::writeExecutable(path, "#!/bin/sh\n" + body + "\n");
}

} // namespace roottest
