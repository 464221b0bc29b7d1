#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <optional>
#include <utility>

// A private root for runs of the built programs: home/, tmp/ closed to others (so
// it is used as it is), bin/ first on PATH, bundle copies; its children die with it.
class Sandbox
{
  public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    bool isValid() const { return m_valid; }
    QString path(const QString &relative = {}) const;
    QString home() const { return path(QStringLiteral("home")); }
    QString temporary() const { return path(QStringLiteral("tmp")); }
    QString bin() const { return path(QStringLiteral("bin")); }

    // cp -R of the bundle `built` to `relative`: the copy's path, empty on failure.
    QString copyBundle(const QString &built, const QString &relative);

    // An `xdg-open` in bin() that notes its argument and exits with `status`;
    // opened() gives the arguments in order.
    bool writeOpener(int status = 0);
    QStringList opened() const;

    // Ours with HOME, TMPDIR and PATH in here, offscreen unless `onDisplay`, and `extra`.
    QProcessEnvironment environment(bool onDisplay = false,
                                    const QList<std::pair<QString, QString>> &extra = {}) const;

    // Starts `program` in environment(onDisplay, extra), its output forwarded.
    QProcess &start(const QString &program, const QStringList &arguments = {},
                    bool onDisplay = false, const QList<std::pair<QString, QString>> &extra = {});

  private:
    QTemporaryDir m_root;
    bool m_valid = false;
    QList<QProcess *> m_processes;
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
