#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// Real processes that hold files open, for the close-applications tests.
namespace quiesce_test
{

// Only a safety net against a hang; nothing here is expected to take long.
constexpr int kPatienceMs = 60000;

inline const QString kPluginBelowFolder =
    QStringLiteral("Library/Internet Plug-Ins/Glimmer Player.plugin");

// Lays out a plug-in bundle below `folder` and returns the path of a file in it.
QString makePlugin(const QString &folder);

// A child that keeps `files` open until it is signalled (a shell that opens them,
// then becomes `sleep`). Started and holding when the constructor returns.
class Holder
{
  public:
    enum class Term { Ends, Ignored };
    explicit Holder(const QStringList &files, Term term = Term::Ends,
                    const QString &program = QStringLiteral("sleep"));
    ~Holder();
    // Also after the child has ended.
    int pid() const { return mPid; }
    bool isHolding() const { return mHolding; }
    bool isRunning() const { return mProcess.state() != QProcess::NotRunning; }
    // Waits until the child has ended; true when a signal ended it.
    bool endedBySignal();

  private:
    QProcess mProcess;
    bool mHolding = false;
    int mPid = 0;
};

// Lays out an application bundle at `bundlePath` whose executable is a copy of
// sleep, with CFBundleName `name` and an .icns icon of colour `rgb` named by
// CFBundleIconFile `iconFile` (no key when empty; no icon when `rgb` is 0).
// Returns the executable's path, or an empty string on failure.
QString makeApplicationBundle(const QString &bundlePath, const QString &name,
                              const QString &iconFile, unsigned rgb);

} // namespace quiesce_test
