#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QtGlobal>

#include <optional>

namespace platform
{
class Workspace;
}

// Questions about running processes and mounted volumes that the installer helper
// asks: who holds a file open, what a process is called, which application it is.
// The queries keep no state and block their caller until any tool they run has ended.
namespace GMUExtensions
{

// Process identifiers of every process that holds a file at or below `path` open,
// in the open-files tool's order, duplicates kept. nullopt when `path` does not
// exist (no tool is started then); an empty list when nobody holds it or the tool
// fails. The path is used as given: "~" is not expanded.
std::optional<QList<int>> processIDsWithOpenFile(const QString &path);

// The executable's name of process `pid` as the process-status tool prints it,
// trimmed; nullopt when the tool fails (no such process) or prints non-ASCII text.
std::optional<QString> processNameForPID(int pid);

// The first record of `workspace.launchedApplications()` whose
// "NSApplicationProcessIdentifier" equals `pid`; nullopt when there is none
// (a background process is never listed).
std::optional<QVariantMap> infoDictionaryForPID(const platform::Workspace &workspace, int pid);

// The same among records already listed, so that several look-ups share one
// listing (each listing reads every process of the system).
std::optional<QVariantMap> infoDictionaryForPID(const QList<QVariantMap> &launched, int pid);

// The mount points that are writable and cannot be unmounted, in the workspace's
// order; volumes whose information cannot be read are left out.
QStringList localWritableNonUnmountableVolumePaths(const platform::Workspace &workspace);

// Open-files tool output ("p412\np977\n") to process identifiers, in order. Every
// piece between the letters "p" is read for its leading number (white space and a
// sign allowed); pieces that do not give a positive number are skipped, as kill
// would read 0 and negative numbers as process groups. Output that is not pure
// ASCII gives an empty list.
QList<int> parseOpenFileProcessIDs(const QByteArray &lsofOutput);

// Process-status tool output to a name: trimmed of white space at both ends, inner
// spaces kept, possibly empty. Output that is not pure ASCII gives nullopt.
std::optional<QString> parseProcessName(const QByteArray &psOutput);

// A process identifier pinned to the one process it named when it was taken, so
// that a later signal cannot hit an unrelated process that reused the number.
struct ProcessIdentity {
    int pid = 0;
    quint64 startTime = 0; // clock ticks after boot at which the process started
    bool operator==(const ProcessIdentity &) const = default;
};

// The identity of the running process `pid`; nullopt when there is none.
std::optional<ProcessIdentity> identify(int pid);

// True when `identity.pid` still names the process it named when identified
// (same start time). False once it has ended, even if its number was reused.
bool stillSameProcess(const ProcessIdentity &identity);

// True once the process the identity was taken from has ended: gone, its number
// taken by another process, or a zombie waiting for its parent (which holds no
// file any more).
bool hasEnded(const ProcessIdentity &identity);

} // namespace GMUExtensions
