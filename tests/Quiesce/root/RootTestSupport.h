#pragma once

// Doubles and children for the privileged-actions tests.

#include "Privileges.h"
#include "SystemLog.h"
#include "root_helper/RootHelperRunner.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

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

// A child that ignores TERM, as a stubborn holder of the plug-in would.
class StubbornChild
{
  public:
    StubbornChild();
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
