#pragma once

#include "Workspace.h"

#include <memory>

namespace platform
{

class X11Session;

// The workspace of a Linux desktop session.
// - Running applications: this user's processes whose executable (/proc/<pid>/exe)
//   lies inside an application bundle (X.app/Contents/MacOS/...), described by the
//   bundle's Info.plist; the name is CFBundleName, else the bundle's display name.
// - Active application: the process behind the X11 window manager's
//   _NET_ACTIVE_WINDOW (its _NET_WM_PID); an empty record without an X display.
// - Activation: raises and activates this program's visible top-level window, and
//   asks the X11 window manager to activate it where there is one.
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
    QList<QString> mountedLocalVolumePaths() const override;
    bool fileSystemInfo(const QString &path, bool *writable, bool *unmountable) const override;

    // The record of process `pid` when its executable lies inside an application
    // bundle, whoever runs it; an empty map otherwise.
    static QVariantMap applicationRecord(int pid);

  private:
    // Shared with the activation calls queued to the main thread.
    std::shared_ptr<X11Session> mX11;
};

} // namespace platform
