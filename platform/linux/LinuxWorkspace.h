#pragma once

#include "platform/Workspace.h"
#include "platform/linux/DesktopApplications.h"

#include <memory>
#include <mutex>

namespace platform
{

class X11Session;

// The workspace of a Linux desktop session.
// - Running applications: this user's processes that belong to a desktop entry
//   (see DesktopApplicationFinder), described by the entry: its Name, its file as
//   the path, its desktop id as the identifier; else those whose executable
//   (/proc/<pid>/exe) lies inside an application bundle (X.app/Contents/MacOS/...),
//   described by the bundle's Info.plist (name: CFBundleName, else the bundle's
//   display name).
// - Active application: the process behind the X11 window manager's
//   _NET_ACTIVE_WINDOW (its _NET_WM_PID); an empty record without an X display.
// - Activation: raises and activates this program's visible top-level window, and
//   asks the X11 window manager to activate it where there is one.
// - Closing: the process's top-level X11 windows are asked to close.
// - Volumes: /proc/self/mountinfo; writable unless mounted read-only, unmountable
//   when it sits on a removable block device.
class LinuxWorkspace : public Workspace
{
  public:
    LinuxWorkspace();
    ~LinuxWorkspace() override;
    QList<QVariantMap> launchedApplications() const override;
    QVariantMap activeApplication() const override;
    void activateIgnoringOtherApps() override;
    bool requestClose(int pid) override;
    QList<QString> mountedLocalVolumePaths() const override;
    bool fileSystemInfo(const QString &path, bool *writable, bool *unmountable) const override;

  private:
    // The record of process `pid` from its desktop entry, else from the application
    // bundle its executable lies in; an empty map when it has neither.
    QVariantMap applicationRecord(int pid, desktop::DesktopApplicationFinder &finder) const;
    desktop::DesktopApplicationFinder finder() const;
    // The installed entries, read once for the workspace's life: the watcher asks
    // five times a second, and reading them all takes a while.
    QList<desktop::DesktopEntry> installedEntries() const;

    // Shared with the activation calls queued to the main thread.
    std::shared_ptr<X11Session> m_x11;
    mutable std::mutex m_entriesMutex;
    mutable std::optional<QList<desktop::DesktopEntry>> m_installedEntries;
};

} // namespace platform
