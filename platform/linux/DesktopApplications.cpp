#include "platform/linux/DesktopApplications.h"

#include "platform/linux/X11Session.h"

#include <QFile>

namespace platform::desktop
{

namespace
{

const QByteArray kLaunchedFile = "GIO_LAUNCHED_DESKTOP_FILE=";
const QByteArray kLaunchedPid = "GIO_LAUNCHED_DESKTOP_FILE_PID=";

QByteArray readProcFile(int pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// systemd writes bytes that may not stand in a unit name as "\xNN".
QString unescapeUnitName(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    QByteArray plain;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\\' && i + 3 < bytes.size() && bytes[i + 1] == 'x' &&
            hexValue(bytes[i + 2]) >= 0 && hexValue(bytes[i + 3]) >= 0) {
            plain.append(char(hexValue(bytes[i + 2]) * 16 + hexValue(bytes[i + 3])));
            i += 3;
        } else {
            plain.append(bytes[i]);
        }
    }
    return QString::fromUtf8(plain);
}

// A scope carries a random part after the id and may carry a launcher before it;
// a service may carry a launcher, and its random part follows an "@".
QString desktopIdOfUnit(const QString &unit)
{
    if (!unit.startsWith(QLatin1String("app-")))
        return {};
    QString body = unit.mid(4);
    QStringList parts;
    if (body.endsWith(QLatin1String(".scope"))) {
        body.chop(6);
        parts = body.split(u'-');
        if (parts.size() < 2 || parts.size() > 3 || parts.constLast().isEmpty())
            return {};
        parts.removeLast();
    } else if (body.endsWith(QLatin1String(".service"))) {
        body.chop(8);
        parts = body.section(u'@', 0, 0).split(u'-');
        if (parts.size() > 2)
            return {};
    } else {
        return {};
    }
    if (parts.size() == 2 && parts.constFirst().isEmpty())
        return {};
    return unescapeUnitName(parts.constLast());
}

} // namespace

QString scopeDesktopId(const QByteArray &cgroupText)
{
    // Each line is "<hierarchy>:<controllers>:<path>"; the unit may sit above
    // control groups of the application's own.
    for (const QByteArray &line : cgroupText.split('\n')) {
        const QStringList units = QString::fromUtf8(line).section(u':', 2).split(u'/');
        for (qsizetype i = units.size() - 1; i >= 0; --i) {
            QString id = desktopIdOfUnit(units[i]);
            if (!id.isEmpty())
                return id;
        }
    }
    return {};
}

QString launchedDesktopFile(const QByteArray &environText, int pid)
{
    QString file;
    for (const QByteArray &variable : environText.split('\0')) {
        if (variable.startsWith(kLaunchedFile))
            file = QFile::decodeName(variable.mid(kLaunchedFile.size()));
        else if (variable.startsWith(kLaunchedPid) &&
                 variable.mid(kLaunchedPid.size()).toInt() != pid)
            return {};
    }
    return file;
}

bool commandRuns(const DesktopEntry &entry, const QString &program, const QStringList &arguments)
{
    if (entry.program.isEmpty() || entry.program != program)
        return false;
    const QStringList fixed = entry.command.mid(1);
    return arguments.mid(0, fixed.size()) == fixed;
}

DesktopApplicationFinder::DesktopApplicationFinder(const X11Session &x11,
                                                   std::function<QList<DesktopEntry>()> installed)
    : m_x11(x11), m_loadInstalled(std::move(installed))
{
}

std::optional<DesktopEntry> DesktopApplicationFinder::entryForProcess(int pid)
{
    if (QString id = scopeDesktopId(readProcFile(pid, "cgroup")); !id.isEmpty()) {
        if (auto entry = entryWithId(id))
            return entry;
    }
    if (const QString file = launchedDesktopFile(readProcFile(pid, "environ"), pid);
        !file.isEmpty()) {
        if (auto entry = entryAtPath(file))
            return entry;
    }
    if (auto entry = entryForWindows(pid))
        return entry;
    return entryForExecutable(pid);
}

const QList<DesktopEntry> &DesktopApplicationFinder::installed()
{
    if (!m_installed)
        m_installed = m_loadInstalled();
    return *m_installed;
}

// The window's class name first, then its instance name, as desktops match them.
std::optional<DesktopEntry> DesktopApplicationFinder::entryForWindows(int pid)
{
    if (!m_windows)
        m_windows = m_x11.windowsByProcess();
    for (quint32 window : m_windows->values(pid)) {
        const QStringList names = m_x11.windowClass(window);
        for (qsizetype i = names.size() - 1; i >= 0; --i) {
            for (const DesktopEntry &entry : installed()) {
                if (!names[i].isEmpty() && entry.startupWMClass == names[i])
                    return entry;
            }
        }
    }
    return std::nullopt;
}

std::optional<DesktopEntry> DesktopApplicationFinder::entryForExecutable(int pid)
{
    const QString program = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    if (program.isEmpty())
        return std::nullopt;
    QList<QByteArray> words = readProcFile(pid, "cmdline").split('\0');
    if (!words.isEmpty() && words.constLast().isEmpty())
        words.removeLast();
    QStringList arguments;
    for (qsizetype i = 1; i < words.size(); ++i)
        arguments.append(QFile::decodeName(words.at(i)));
    std::optional<DesktopEntry> found;
    for (const DesktopEntry &entry : installed()) {
        if (!commandRuns(entry, program, arguments))
            continue;
        if (found)
            return std::nullopt; // several entries run it: none can be told apart
        found = entry;
    }
    return found;
}

} // namespace platform::desktop
