#pragma once

#include "GMUExtensions.h"

#include <QString>

#include <memory>

namespace platform
{
class PrivilegedRunner;
class PrivilegedSession;
class SystemLog;
} // namespace platform

// Runs the few system tools the installer helper needs with administrator rights.
// The user is asked once, when an instance is created (a harmless "/bin/sleep 0"
// run); every later run reuses that authorization for the instance's life.
// Failures are written to the system log at error priority:
//   "Unable to create authorization object."  the privileged channel cannot be set up
//   "Unable to execute privileged task."      the user refused, or a run was not started
// The tools are started and not waited for.
class GMIMRootActions
{
  public:
    // The shared instance, created and authorised on first use with the shared
    // services (see setSharedServices). nullptr when the authorization failed; the
    // next call then asks again. Once created, it lives until the process ends.
    static GMIMRootActions *sharedInstance();

    // The runner and log that sharedInstance uses from now on; drops the current
    // shared instance so that the next sharedInstance asks again. Without this,
    // sharedInstance uses the root helper of this program's own bundle started
    // through pkexec, and syslog.
    static void setSharedServices(std::shared_ptr<platform::PrivilegedRunner> runner,
                                  std::shared_ptr<platform::SystemLog> log);

    // A new authorised instance, or nullptr when authorization failed (logged).
    static std::unique_ptr<GMIMRootActions> create(platform::PrivilegedRunner &runner,
                                                   platform::SystemLog &log);

    // Ends the channel; waits until the tools it started have ended.
    ~GMIMRootActions();
    GMIMRootActions(const GMIMRootActions &) = delete;
    GMIMRootActions &operator=(const GMIMRootActions &) = delete;

    // Sends signal 9 to `pid` as root ("/bin/kill" "-9" pid). Does nothing for
    // pid <= 0, which the tool would read as process groups or "every process".
    void forceQuitPID(int pid);

    // As forceQuitPID, but only while the identity still names the process it was
    // taken from; true when the kill was started.
    bool forceQuitProcess(const GMUExtensions::ProcessIdentity &identity);

    // Removes `path` recursively as root ("/bin/rm" "-rf" path). Does nothing for
    // the empty path or "/".
    void removeFile(const QString &path);

    // Kept for the interface's sake: starts nothing, changes nothing.
    void installPackageFile(const QString &, const QString &) {}

  private:
    GMIMRootActions(platform::PrivilegedRunner &runner, platform::SystemLog &log);
    bool _executePrivilegedTask(const QString &tool, const QStringList &arguments);
    bool _killWithRootRights(int pid);

    platform::PrivilegedRunner &mRunner;
    platform::SystemLog &mLog;
    // The authorised channel, opened by the first privileged run.
    std::unique_ptr<platform::PrivilegedSession> mSharedAuthorizationToken;
};
