#include "RunningProcesses.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace e2etest
{

namespace
{

// An ended process whose parent has not reaped it yet still has a /proc entry; its
// state letter in /proc/<pid>/stat (after the parenthesised name) is Z.
bool hasEnded(const QString &pidFolder)
{
    QFile stat(pidFolder + "/stat");
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) == "Z";
}

} // namespace

QList<pid_t> processesRunning(const QString &executable)
{
    QList<pid_t> pids;
    const QString wanted = QFileInfo(executable).canonicalFilePath();
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (!isPid)
            continue;
        const QString folder = "/proc/" + entry;
        if (QFileInfo(folder + "/exe").symLinkTarget() == wanted && !hasEnded(folder))
            pids.append(pid);
    }
    return pids;
}

} // namespace e2etest
