#pragma once

// Doubles and children for the privileged-actions tests.

#include "Privileges.h"
#include "SystemLog.h"
#include "root_helper/RootHelperRunner.h"

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace roottest
{

// The root helper as built, started directly as the current user.
inline QString helperPath()
{
    return QStringLiteral(QUIESCE_ROOT_HELPER);
}

inline std::shared_ptr<platform::PrivilegedRunner> directHelper()
{
    return std::make_shared<RootHelperRunner>(helperPath(), QStringList{});
}

// Passes everything to a real runner and notes what went through it.
class RecordingRunner : public platform::PrivilegedRunner
{
  public:
    explicit RecordingRunner(std::shared_ptr<platform::PrivilegedRunner> inner)
        : mInner(std::move(inner))
    {
    }
    std::unique_ptr<platform::PrivilegedSession> open() override;

    int opens = 0;
    QList<QStringList> requests; // tool path, then its arguments

  private:
    std::shared_ptr<platform::PrivilegedRunner> mInner;
};

class FakeLog : public platform::SystemLog
{
  public:
    void error(const char *message) override { lines.append(QString::fromUtf8(message)); }
    QStringList lines;
};

// A test system root and a test home, each with a plug-in bundle holding one file,
// given to the test build of the helper through its environment while this lives.
class PluginRoots
{
  public:
    PluginRoots();
    ~PluginRoots();
    QString systemRoot() const { return mDir.filePath(QStringLiteral("root")); }
    QString home() const { return mDir.filePath(QStringLiteral("home")); }
    QString systemBundle() const;
    QString systemFile() const { return systemBundle() + QStringLiteral("/Contents/Info.plist"); }
    QString userFile() const;
    QString path(const QString &name) const { return mDir.filePath(name); }

  private:
    QTemporaryDir mDir;
};

// A child started with `program` and `arguments` that prints "holding" (and
// optionally a number after it) once it is set up, then waits.
class Child
{
  public:
    Child(const QString &program, const QStringList &arguments);
    ~Child();
    int pid() const { return int(mProcess.processId()); }
    bool isReady() const { return mReady; }
    // The number printed after "holding", 0 when none.
    int reported() const { return mReported; }
    bool isRunning() const { return mProcess.state() != QProcess::NotRunning; }
    // Waits for the child's end; true when signal 9 ended it.
    bool endedByKill();

  private:
    QProcess mProcess;
    bool mReady = false;
    int mReported = 0;
};

// The start time of a running process, 0 when it cannot be read.
quint64 startTimeOf(int pid);

// A child that ignores TERM, as a stubborn holder of the plug-in would; it keeps
// `file` open when one is given.
class StubbornChild
{
  public:
    explicit StubbornChild(const QString &file = QString());
    ~StubbornChild();
    int pid() const { return int(mProcess.processId()); }
    bool ignoresTerm() const;
    // Waits for the child's end; true when signal 9 ended it.
    bool endedByKill();

  private:
    QProcess mProcess;
};

// Writes an executable shell script standing in for pkexec.
bool writeScript(const QString &path, const QByteArray &body);

} // namespace roottest
