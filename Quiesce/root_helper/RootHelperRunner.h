#pragma once

#include "Privileges.h"

#include <QString>
#include <QStringList>

// Starts the root helper program ("quiesce-root-helper", beside the main executable
// in the bundle's Contents/MacOS) and talks to it over its standard input and
// output. The helper runs only /bin/kill, /bin/rm and /bin/sleep with the arguments
// it is sent and ends when its input closes.
//
// The launch command is the helper path behind `program` and `arguments`:
//   through pkexec:  RootHelperRunner("/usr/bin/pkexec", {helperPath})
//   directly (tests): RootHelperRunner(helperPath, {})
// pkexec's exit status 126 (dialog dismissed) and 127 (not authorised, no
// authentication agent) end the helper before it answers; that is a refusal.
class RootHelperRunner : public platform::PrivilegedRunner
{
  public:
    RootHelperRunner(QString program, QStringList arguments);

    // pkexec with the helper in `bundlePath`/Contents/MacOS.
    static RootHelperRunner throughPkexec(const QString &bundlePath);
    // The helper's path inside a bundle.
    static QString helperPath(const QString &bundlePath);

    // nullptr when `program` does not exist or cannot be started.
    std::unique_ptr<platform::PrivilegedSession> open() override;

  private:
    QString mProgram;
    QStringList mArguments;
};
