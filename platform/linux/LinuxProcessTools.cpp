#include "platform/ProcessTools.h"

#include "platform/linux/ProcessStat.h"

#include <QFile>
#include <QFileInfo>

#include <string_view>

// procps' ps has neither the BSD "-c" switch nor the one-word "-p 412" form, so the
// process and the output column are separate arguments here.
namespace platform::tools
{

const QLatin1String klsofToolPath("/usr/bin/lsof");
const QLatin1String kpsToolPath("/bin/ps");

namespace
{

// The kernel's copy of the name of process `pid`, blanks and all; empty when it
// cannot be read.
QByteArray kernelName(int pid)
{
    const auto parsed = procfs::readProcessStat(pid);
    return parsed ? QByteArray::fromStdString(parsed->name) : QByteArray();
}

} // namespace

QStringList lsofArguments(const QString &folder)
{
    return {QStringLiteral("-Fp"), QStringLiteral("-w"), QStringLiteral("+D"), folder};
}

QStringList psArguments(int pid)
{
    return {QStringLiteral("-p"), QString::number(pid), QStringLiteral("-o"),
            QStringLiteral("comm=")};
}

// A cut name is exactly as long as the kernel keeps it; the executable's file name
// (or the first word of its command line, for a process that renamed itself) that
// begins with it is the whole name. The printed name has lost the blanks at its
// ends, so a name cut right after a blank ("Glimmer Helper " of "Glimmer Helper X")
// no longer looks cut: the kernel's own copy decides.
QString completeProcessName(int pid, const QString &printedName)
{
    constexpr int kKernelNameLength = 15;
    const QByteArray kept = kernelName(pid);
    const QString cut = QString::fromLatin1(kept);
    if (kept.size() != kKernelNameLength || cut.trimmed() != printedName)
        return printedName;
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    QStringList candidates{QFileInfo(QFileInfo(proc + "exe").symLinkTarget()).fileName()};
    QFile cmdline(proc + "cmdline");
    if (cmdline.open(QIODevice::ReadOnly))
        candidates.append(
            QFileInfo(QFile::decodeName(cmdline.readLine().split('\0').value(0))).fileName());
    for (const QString &candidate : candidates) {
        if (candidate.size() > kKernelNameLength && candidate.startsWith(cut))
            return candidate;
    }
    return printedName;
}

} // namespace platform::tools

namespace platform::procfs
{

std::optional<ProcessStat> readProcessStat(int pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = stat.readAll();
    return parseProcessStat(std::string_view(text.constData(), text.size()));
}

} // namespace platform::procfs
