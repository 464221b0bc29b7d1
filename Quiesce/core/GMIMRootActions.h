#pragma once

#include "Quiesce/core/GMUExtensions.h"

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
    // The shared instance, created and authorised on first use with the services
    // the program gave setSharedServices. nullptr when the authorization failed
    // (the next call then asks again) or no services were given. Once created, it
    // lives until the process ends.
    static GMIMRootActions *sharedInstance();

    // The runner and log that sharedInstance uses from now on (the program's own:
    // its bundle's root helper through pkexec, and the system log); drops the
    // current shared instance so that the next sharedInstance asks again.
    static void setSharedServices(std::shared_ptr<platform::PrivilegedRunner> runner,
                                  std::shared_ptr<platform::SystemLog> log);

    // A new authorised instance, or nullptr when authorization failed (logged).
    static std::unique_ptr<GMIMRootActions> create(platform::PrivilegedRunner &runner,
                                                   platform::SystemLog &log);

    // Ends the channel; waits until the tools it started have ended.
    ~GMIMRootActions();
    GMIMRootActions(const GMIMRootActions &) = delete;
    GMIMRootActions &operator=(const GMIMRootActions &) = delete;

    // Sends signal 9 as root to the process `pid` names now. Does nothing for
    // pid <= 0, which kill would read as process groups or "every process".
    void forceQuitPID(int pid);

    // Signal 9 as root to the process the identity was taken from
    // ("/bin/kill" "-9" pid start-time). The root helper sends it only while that
    // process still runs and holds the plug-in (or is the browser of a holder);
    // true when the signal was delivered.
    bool forceQuitProcess(const GMUExtensions::ProcessIdentity &identity);

    // Removes `path` recursively as root ("/bin/rm" "-rf" path). The root helper
    // removes only the system-wide plug-in bundle and refuses anything else.
    // Does nothing for the empty path or "/".
    void removeFile(const QString &path);

    // Kept for the interface's sake: starts nothing, changes nothing.
    void installPackageFile(const QString &, const QString &) {}

  private:
    GMIMRootActions(platform::PrivilegedRunner &runner, platform::SystemLog &log);
    bool _executePrivilegedTask(const QString &tool, const QStringList &arguments);

    platform::PrivilegedRunner &m_runner;
    platform::SystemLog &m_log;
    // The authorised channel, opened by the first privileged run.
    std::unique_ptr<platform::PrivilegedSession> mSharedAuthorizationToken;
};
