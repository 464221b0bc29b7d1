#pragma once

#include "platform/Privileges.h"

#include <QString>
#include <QStringList>

#include <optional>

// Starts the root helper program ("quiesce-root-helper") and talks to it over its
// standard input and output. The helper acts only on the requests its own checks
// allow (root_helper/Guard.h) and ends when its input closes.
//
// Which helper: the installed one (under libexec, named by the polkit action) when
// it exists and it and every folder above it belong to root and are writable by
// no one else; the one in the bundle's Contents/MacOS only when none is
// installed. The bundle's copy lies in a folder the user can write, so a program
// of the user could swap it before the password is typed: it is for machines where
// an administrator has not installed the helper.
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

    // pkexec with the helper chosen by helperToRun; a runner that cannot open when
    // an installed helper exists but is not safe.
    static RootHelperRunner throughPkexec(const QString &bundlePath);
    // The helper's path inside a bundle.
    static QString helperPath(const QString &bundlePath);
    // Where cmake --install puts the helper.
    static QString installedHelperPath();
    // `installedPath` when it is a safe system file, `bundledPath` when nothing is
    // at `installedPath`, nullopt when something is there but not safe.
    static std::optional<QString> helperToRun(const QString &installedPath,
                                              const QString &bundledPath);
    // A regular file that, with every folder above it (also along the links it
    // passes), is owned by root and writable neither by its group nor by others.
    static bool isSafeSystemFile(const QString &path);

    // nullptr when `program` does not exist or cannot be started.
    std::unique_ptr<platform::PrivilegedSession> open() override;

  private:
    QString m_program;
    QStringList m_arguments;
};
