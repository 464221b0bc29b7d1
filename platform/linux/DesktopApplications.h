#pragma once

#include "platform/linux/DesktopEntries.h"

#include <QByteArray>
#include <QList>
#include <QMultiHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace platform
{
class X11Session;
}

// Which desktop entry a running process belongs to, asked the ways a desktop
// itself knows its applications, most certain first.
namespace platform::desktop
{

// The desktop id in the application unit of a process's control groups (the text
// of /proc/<pid>/cgroup): desktops start each application in a unit
// "app[-<launcher>]-<desktop id>-<random>.scope" or
// "app[-<launcher>]-<desktop id>[@<random>].service", with "-" inside the id
// written as "\x2d". Empty when the process runs in no such unit.
QString scopeDesktopId(const QByteArray &cgroupText);

// GIO_LAUNCHED_DESKTOP_FILE from a process's environment (the text of
// /proc/<pid>/environ). A launcher also names the process it started, and children
// inherit both, so the file counts only for that process (or when none is named).
QString launchedDesktopFile(const QByteArray &environText, int pid);

// Whether `command` (an entry's Exec) runs `program` (a process's executable) with
// `arguments` (its command line after the program): the same file, and any fixed
// arguments of the entry at the start of the process's own.
bool commandRuns(const DesktopEntry &entry, const QString &program, const QStringList &arguments);

// Finds the entries of processes; one finder serves one listing, so the installed
// entries and the windows are read once for all processes asked.
class DesktopApplicationFinder
{
  public:
    // `installed` is called at most once, when a process needs the installed
    // entries; `x11` may have no display.
    DesktopApplicationFinder(const X11Session &x11, std::function<QList<DesktopEntry>()> installed);

    // In this order: the application unit, the launcher's environment variable,
    // a window's class matched to StartupWMClass, and the one entry whose Exec
    // runs the process's executable (none when several do).
    std::optional<DesktopEntry> entryForProcess(int pid);

  private:
    const QList<DesktopEntry> &installed();
    std::optional<DesktopEntry> entryForWindows(int pid);
    std::optional<DesktopEntry> entryForExecutable(int pid);

    const X11Session &m_x11;
    std::function<QList<DesktopEntry>()> m_loadInstalled;
    std::optional<QList<DesktopEntry>> m_installed;
    std::optional<QMultiHash<int, quint32>> m_windows;
};

} // namespace platform::desktop
