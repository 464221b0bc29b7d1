#include "platform/ProcessTools.h"

#include <QFile>
#include <QFileInfo>

// procps' ps has neither the BSD "-c" switch nor the one-word "-p 412" form, so the
// process and the output column are separate arguments here.
namespace platform::tools
{

QString lsofToolPath()
{
    return QStringLiteral("/usr/bin/lsof");
}

QStringList lsofArguments(const QString &folder)
{
    return {QStringLiteral("-Fp"), QStringLiteral("-w"), QStringLiteral("+D"), folder};
}

QString psToolPath()
{
    return QStringLiteral("/bin/ps");
}

QStringList psArguments(int pid)
{
    return {QStringLiteral("-p"), QString::number(pid), QStringLiteral("-o"),
            QStringLiteral("comm=")};
}

// A cut name is exactly as long as the kernel keeps it; the executable's file name
// (or, for a script or a renamed process, the first word of its command line)
// that begins with it is the whole name.
QString completeProcessName(int pid, const QString &printedName)
{
    constexpr int kKernelNameLength = 15;
    if (printedName.size() != kKernelNameLength)
        return printedName;
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    QStringList candidates{QFileInfo(QFileInfo(proc + "exe").symLinkTarget()).fileName()};
    QFile cmdline(proc + "cmdline");
    if (cmdline.open(QIODevice::ReadOnly))
        candidates.append(
            QFileInfo(QFile::decodeName(cmdline.readLine().split('\0').value(0))).fileName());
    for (const QString &candidate : candidates) {
        if (candidate.size() > kKernelNameLength && candidate.startsWith(printedName))
            return candidate;
    }
    return printedName;
}

} // namespace platform::tools
