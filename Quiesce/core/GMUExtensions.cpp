#include "Quiesce/core/GMUExtensions.h"

#include "platform/ProcessRunner.h"
#include "platform/ProcessTools.h"
#include "platform/Workspace.h"
#include "platform/linux/ProcessStat.h"

#include <QFileInfo>

#include <algorithm>
#include <climits>

namespace GMUExtensions
{

namespace
{

bool isAscii(const QByteArray &bytes)
{
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The leading number of a piece of text the way a string's intValue reads it:
// white space skipped, an optional sign, decimal digits, clamped to int's range;
// 0 when there are no digits.
int leadingInt(QByteArrayView text)
{
    qsizetype i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<long long>(value * 10 + (text[i] - '0'), 1LL + INT_MAX);
    value = negative ? -value : value;
    return int(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::optional<platform::procfs::ProcessStat> readStat(int pid)
{
    if (pid <= 0)
        return std::nullopt;
    return platform::procfs::readProcessStat(pid);
}

} // namespace

QList<int> parseOpenFileProcessIDs(const QByteArray &lsofOutput)
{
    QList<int> pids;
    if (!isAscii(lsofOutput))
        return pids;
    for (const QByteArray &piece : lsofOutput.split('p')) {
        // Only positive numbers name a single process; kill reads the others as groups.
        const int pid = leadingInt(piece);
        if (pid > 0)
            pids.append(pid);
    }
    return pids;
}

std::optional<QString> parseProcessName(const QByteArray &psOutput)
{
    if (!isAscii(psOutput))
        return std::nullopt;
    return QString::fromLatin1(psOutput).trimmed();
}

std::optional<QList<int>> processIDsWithOpenFile(const QString &path)
{
    if (!QFileInfo::exists(path))
        return std::nullopt;
    // lsof exits non-zero when nobody holds the folder; the empty output says so.
    const platform::ProcessResult run =
        platform::runProcess(platform::tools::klsofToolPath, platform::tools::lsofArguments(path));
    return parseOpenFileProcessIDs(run.output);
}

std::optional<QString> processNameForPID(int pid)
{
    const platform::ProcessResult run =
        platform::runProcess(platform::tools::kpsToolPath, platform::tools::psArguments(pid));
    if (!run.started || run.exitCode != 0)
        return std::nullopt;
    std::optional<QString> printed = parseProcessName(run.output);
    if (!printed)
        return printed;
    return platform::tools::completeProcessName(pid, *printed);
}

std::optional<QVariantMap> infoDictionaryForPID(const platform::Workspace &workspace, int pid)
{
    return infoDictionaryForPID(workspace.launchedApplications(), pid);
}

std::optional<QVariantMap> infoDictionaryForPID(const QList<QVariantMap> &launched, int pid)
{
    for (const QVariantMap &record : launched) {
        if (record.value(QStringLiteral("NSApplicationProcessIdentifier")).toInt() == pid)
            return record;
    }
    return std::nullopt;
}

QStringList localWritableNonUnmountableVolumePaths(const platform::Workspace &workspace)
{
    QStringList kept;
    for (const QString &volume : workspace.mountedLocalVolumePaths()) {
        bool writable = false;
        bool unmountable = false;
        if (workspace.fileSystemInfo(volume, &writable, &unmountable) && writable && !unmountable)
            kept.append(volume);
    }
    return kept;
}

std::optional<ProcessIdentity> identify(int pid)
{
    const std::optional<platform::procfs::ProcessStat> stat = readStat(pid);
    if (!stat)
        return std::nullopt;
    return ProcessIdentity{pid, stat->startTime};
}

bool stillSameProcess(const ProcessIdentity &identity)
{
    const std::optional<ProcessIdentity> now = identify(identity.pid);
    return now && now->startTime == identity.startTime;
}

bool hasEnded(const ProcessIdentity &identity)
{
    const std::optional<platform::procfs::ProcessStat> stat = readStat(identity.pid);
    return !stat || stat->startTime != identity.startTime || stat->state == 'Z' ||
           stat->state == 'X';
}

} // namespace GMUExtensions
