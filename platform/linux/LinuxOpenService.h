#pragma once

#include "platform/OpenService.h"

#include <QStringList>

namespace platform
{

// Application bundles are started directly (their Contents/MacOS/<CFBundleExecutable>,
// in a session of their own so that they outlive us); everything else goes to the
// desktop's opener, xdg-open, found on PATH.
//
// The opener tells of a missing file or a missing handler by its exit status, so we
// wait for it a little: an exit status of 0 is success, any other is failure, and an
// opener still running after `openerGraceMs` has started something and counts as
// success. The wait runs the event loop (no thread of ours waits for a child), so
// the caller's window keeps being painted meanwhile.
class LinuxOpenService : public OpenService
{
  public:
    explicit LinuxOpenService(QString opener = QStringLiteral("xdg-open"),
                              int openerGraceMs = 3000);
    bool openFile(const QString &path) override;
    bool openFileAtPath(const QByteArray &path) override;
    bool startProgram(int executableFd, const QByteArray &path) override;
    bool openURL(const QUrl &url) override;

    // Starts `program` with `arguments` in a new session, not waited for.
    static bool startDetached(const QString &program, const QStringList &arguments);

  private:
    bool runOpener(const QByteArray &argument) const;

    QString m_opener;
    int m_graceMs;
};

} // namespace platform
