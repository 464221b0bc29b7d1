#include "Quiesce/core/GMIMRootActions.h"

#include "platform/Privileges.h"
#include "platform/SystemLog.h"

namespace
{

std::shared_ptr<platform::PrivilegedRunner> sRunner;
std::shared_ptr<platform::SystemLog> sLog;
// Deliberately never freed while the process runs: the controller exits right after
// its force-quits, and the helper ends by itself when our end of its pipe closes.
GMIMRootActions *sGMIMRASharedInstance = nullptr;

} // namespace

GMIMRootActions *GMIMRootActions::sharedInstance()
{
    if (!sGMIMRASharedInstance && sRunner && sLog)
        sGMIMRASharedInstance = create(*sRunner, *sLog).release();
    return sGMIMRASharedInstance;
}

void GMIMRootActions::setSharedServices(std::shared_ptr<platform::PrivilegedRunner> runner,
                                        std::shared_ptr<platform::SystemLog> log)
{
    delete sGMIMRASharedInstance;
    sGMIMRASharedInstance = nullptr;
    sRunner = std::move(runner);
    sLog = std::move(log);
}

std::unique_ptr<GMIMRootActions> GMIMRootActions::create(platform::PrivilegedRunner &runner,
                                                         platform::SystemLog &log)
{
    std::unique_ptr<GMIMRootActions> actions(new GMIMRootActions(runner, log));
    // A run that does nothing: this is where the user is asked, once.
    if (!actions->_executePrivilegedTask(QStringLiteral("/bin/sleep"), {QStringLiteral("0")}))
        return nullptr;
    return actions;
}

GMIMRootActions::GMIMRootActions(platform::PrivilegedRunner &runner, platform::SystemLog &log)
    : m_runner(runner), m_log(log)
{
}

GMIMRootActions::~GMIMRootActions() = default;

bool GMIMRootActions::_executePrivilegedTask(const QString &tool, const QStringList &arguments)
{
    if (!mSharedAuthorizationToken) {
        mSharedAuthorizationToken = m_runner.open();
        if (!mSharedAuthorizationToken) {
            m_log.error("Unable to create authorization object.");
            return false;
        }
    }
    if (!mSharedAuthorizationToken->execute(tool, arguments)) {
        m_log.error("Unable to execute privileged task.");
        return false;
    }
    return true;
}

void GMIMRootActions::forceQuitPID(int pid)
{
    // The process the number names now; the helper checks that it still is.
    if (const auto identity = GMUExtensions::identify(pid))
        forceQuitProcess(*identity);
}

bool GMIMRootActions::forceQuitProcess(const GMUExtensions::ProcessIdentity &identity)
{
    // kill reads 0 and negative numbers as process groups; -1 as root is every process.
    // A process already gone (listed twice, or ended by itself) needs no request.
    if (identity.pid <= 0 || GMUExtensions::hasEnded(identity))
        return false;
    return _executePrivilegedTask(
        QStringLiteral("/bin/kill"),
        {QStringLiteral("-9"), QString::number(identity.pid), QString::number(identity.startTime)});
}

void GMIMRootActions::removeFile(const QString &path)
{
    if (path.isEmpty() || path == QStringLiteral("/"))
        return;
    _executePrivilegedTask(QStringLiteral("/bin/rm"), {QStringLiteral("-rf"), path});
}
