#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <optional>
#include <utility>

// A private test root for runs of the built programs: a home folder, a temporary
// folder closed to others (so the programs use it as it is), a folder put first on
// PATH for stand-in tools, and copies of built bundles. Started programs are
// killed when it goes away.
class Sandbox
{
  public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    bool isValid() const { return mValid; }
    QString path(const QString &relative = {}) const;
    QString home() const { return path(QStringLiteral("home")); }
    QString temporary() const { return path(QStringLiteral("tmp")); }
    QString bin() const { return path(QStringLiteral("bin")); }

    // Copies the built bundle at `built` to `relative` (cp -R); its new path, or an
    // empty string when the copy failed.
    QString copyBundle(const QString &built, const QString &relative);

    // Puts an `xdg-open` into bin() that appends its argument as a line to
    // openerRecord() and exits with `status`.
    bool writeOpener(int status = 0);
    QString openerRecord() const { return path(QStringLiteral("opened.txt")); }
    // The lines the opener was handed, in order.
    QStringList opened() const;

    // Ours, with HOME, TMPDIR and PATH pointed into the sandbox, Qt offscreen unless
    // `onDisplay` and a display exists, then `extra` on top.
    QProcessEnvironment environment(bool onDisplay = false,
                                     const QList<std::pair<QString, QString>> &extra = {}) const;

    // Starts `program` with environment(onDisplay, extra); its output goes to ours.
    // The process lives as long as the sandbox.
    QProcess &start(const QString &program, const QStringList &arguments = {},
                    bool onDisplay = false,
                    const QList<std::pair<QString, QString>> &extra = {});

  private:
    QTemporaryDir mRoot;
    bool mValid = false;
    QList<QProcess *> mProcesses;
};

// The program inside a bundle: <bundle>/Contents/MacOS/<name>.
QString bundleProgram(const QString &bundle, const QString &name);

// Whether an X display is there to drive windows on.
bool haveDisplay();

// One xdotool run: its trimmed output, or nothing when it failed or hung.
std::optional<QByteArray> xdotool(const QStringList &arguments);

// Waits until a visible window of `pid` whose title matches `pattern` is mapped;
// its X window id, or an empty array on giving up.
QByteArray waitForWindow(qint64 pid, const QString &pattern);
