#pragma once

#include <QList>
#include <QString>
#include <QVariantMap>

namespace platform
{

// The running applications of the user's session and the mounted volumes, as a
// desktop workspace reports them.
//
// An application record is a map with the keys
//   "NSApplicationProcessIdentifier" (int), "NSApplicationName" (QString),
//   "NSApplicationPath" (QString, the .app folder, or where the platform keeps its
//   application records elsewhere, that record's file),
//   "NSApplicationBundleIdentifier" (QString, the bundle's or the record's identifier);
// a key whose value is unknown is left out.
class Workspace
{
  public:
    virtual ~Workspace() = default;
    // One record per running application of this user, in a stable order
    // (ascending process identifier on Linux).
    virtual QList<QVariantMap> launchedApplications() const = 0;
    // The record of the application whose window is in front; an empty map when the
    // window system cannot tell or the frontmost window belongs to no application.
    // May be called from any thread.
    virtual QVariantMap activeApplication() const = 0;
    // Brings this program's own window to the front and makes it active, even when
    // another application is active. May be called from any thread; the window work
    // is handed to the main thread.
    virtual void activateIgnoringOtherApps() = 0;
    // Asks the application of process `pid` to close its windows the way their
    // close buttons do, so it can offer to save its work; does not wait for it.
    // False when the process has no window that can be asked.
    virtual bool requestClose(int pid) = 0;
    // Mount points of the local file systems, in the order the system lists them.
    virtual QList<QString> mountedLocalVolumePaths() const = 0;
    // Writability and unmountability of the volume mounted at `path`; false when
    // its information cannot be read (the flags are then left alone).
    virtual bool fileSystemInfo(const QString &path, bool *writable, bool *unmountable) const = 0;
};

} // namespace platform
