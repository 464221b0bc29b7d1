#include "RootTestSupport.h"

#include "GMUExtensions.h"
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

PluginRoots::PluginRoots()
{
    // Readable by every user: some holders run as an unprivileged one.
    QFile::setPermissions(mDir.path(), QFile::permissions(mDir.path()) | QFile::ReadOther |
                                           QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    testfiles::write(systemFile(), "plist");
    testfiles::write(userFile(), "plist");
    qputenv("QUIESCE_TEST_SYSTEM_ROOT", systemRoot().toLocal8Bit());
    qputenv("QUIESCE_TEST_HOME", home().toLocal8Bit());
}

PluginRoots::~PluginRoots()
{
    qunsetenv("QUIESCE_TEST_SYSTEM_ROOT");
    qunsetenv("QUIESCE_TEST_HOME");
}

QString PluginRoots::systemBundle() const
{
    return systemRoot() + QStringLiteral("/Library/Internet Plug-Ins/Glimmer Player.plugin");
}

QString PluginRoots::userFile() const
{
    return home() +
           QStringLiteral("/Library/Internet Plug-Ins/Glimmer Player.plugin/Contents/Info.plist");
}

Child::Child(const QString &program, const QStringList &arguments)
{
    mProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mProcess.start(program, arguments);
    QByteArray output;
    while (mProcess.waitForReadyRead(60000)) {
        output += mProcess.readAll();
        const qsizetype at = output.indexOf("holding");
        if (at >= 0 && output.indexOf('\n', at) >= 0) {
            mReady = true;
            mReported = output.mid(at + 7).trimmed().toInt();
            break;
        }
    }
}

Child::~Child()
{
    if (mReported > 0)
        ::kill(mReported, SIGKILL);
    mProcess.kill();
    mProcess.waitForFinished(-1);
}

bool Child::endedByKill()
{
    // Bounded: a child that was wrongly spared would otherwise sleep on for minutes.
    mProcess.waitForFinished(30000);
    return mProcess.exitStatus() == QProcess::CrashExit && mProcess.exitCode() == SIGKILL;
}

quint64 startTimeOf(int pid)
{
    const auto identity = GMUExtensions::identify(pid);
    return identity ? identity->startTime : 0;
}

StubbornChild::StubbornChild(const QString &file)
{
    // An ignored signal stays ignored across exec, so sleep inherits it.
    mProcess.start(QStringLiteral("/bin/sh"),
                   {QStringLiteral("-c"), QStringLiteral("trap '' TERM; exec sleep 30 3<\"$0\""),
                    file.isEmpty() ? QStringLiteral("/dev/null") : file});
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
