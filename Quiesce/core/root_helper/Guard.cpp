#include "Quiesce/core/root_helper/Guard.h"

#include "Quiesce/core/root_helper/Protocol.h"
#include "foundation_ext/FileDescriptor.h"
#include "foundation_ext/FileIO.h"
#include "platform/linux/ProcessStat.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
// This C library's header leaves out the C++ linkage block.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/stat.h>
#include <unistd.h>

namespace roothelper
{

namespace
{

// A process's /proc folder, held open: every read through it fails once that
// process has ended, even if its number has been given to another one since.
FileDescriptor openProcess(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid);
    return FileDescriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

std::string readAt(int folder, const char *name)
{
    const FileDescriptor file(::openat(folder, name, O_RDONLY | O_CLOEXEC));
    std::string text;
    if (file.isOpen())
        readToEnd(file.get(),
                  [&text](const char *piece, std::size_t size) { text.append(piece, size); });
    return text;
}

std::string linkAt(int folder, const char *name)
{
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(folder, name, target, sizeof target);
    return n > 0 ? std::string(target, std::size_t(n)) : std::string();
}

std::string canonical(const std::string &path)
{
    char *resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

// The kernel's status line of the process whose /proc folder is `process`.
std::optional<platform::procfs::ProcessStat> statOf(int process)
{
    return platform::procfs::parseProcessStat(readAt(process, "stat"));
}

// The real, effective, saved and file-system users from the text of
// /proc/<pid>/status ("Uid:\t1000\t1000\t1000\t1000").
std::optional<std::vector<uid_t>> parseUsers(const std::string &status)
{
    const std::size_t line = status.find("\nUid:");
    if (line == std::string::npos)
        return std::nullopt;
    std::vector<uid_t> users;
    std::size_t start = status.find_first_not_of(" \t", line + 5);
    while (users.size() < 4 && start != std::string::npos) {
        const std::size_t end = status.find_first_of(" \t\n", start);
        const auto uid = parseDecimal(std::string_view(status).substr(start, end - start));
        if (!uid || *uid >= UINT_MAX || end == std::string::npos)
            return std::nullopt;
        users.push_back(uid_t(*uid));
        start = status.find_first_not_of(" \t", end);
    }
    return users.size() == 4 ? std::optional(users) : std::nullopt;
}

std::optional<uid_t> parseRealUser(const std::string &status)
{
    const auto users = parseUsers(status);
    return users ? std::optional(users->front()) : std::nullopt;
}

// Whether every identity of the process is `user`: one that has gained any other
// (a set-user-id program) is not theirs alone.
bool runsAs(int process, std::optional<uid_t> user)
{
    const auto users = parseUsers(readAt(process, "status"));
    return user && users &&
           std::all_of(users->begin(), users->end(), [&](uid_t id) { return id == *user; });
}

bool isAtOrBelow(const std::string &path, const std::string &location)
{
    return !location.empty() && path.compare(0, location.size(), location) == 0 &&
           (path.size() == location.size() || path[location.size()] == '/');
}

// The two places where the plug-in can live, as the kernel names them.
struct Locations {
    std::string system = pluginLocationBelow(systemRoot());
    std::string user = pluginLocationBelow(userHome());
    std::optional<uid_t> owner = invokingUser();

    bool cover(const std::string &path) const
    {
        return isAtOrBelow(path, system) || isAtOrBelow(path, user);
    }

    // The places that count for one process: the user's copy only for theirs.
    Locations seenBy(int process) const
    {
        Locations seen = *this;
        if (!runsAs(process, owner))
            seen.user.clear();
        return seen;
    }
};

// A mapping's line ends with its file's path, the only field that begins with '/'.
bool mapsCover(const std::string &maps, const Locations &at)
{
    std::size_t start = 0;
    while (start < maps.size()) {
        std::size_t end = maps.find('\n', start);
        if (end == std::string::npos)
            end = maps.size();
        const std::string_view line(maps.data() + start, end - start);
        const std::size_t path = line.find('/');
        if (path != std::string_view::npos && at.cover(std::string(line.substr(path))))
            return true;
        start = end + 1;
    }
    return false;
}

bool descriptorsCover(int process, const Locations &at)
{
    FileDescriptor folder(::openat(process, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen())
        return false;
    DIR *entries = ::fdopendir(folder.get());
    if (!entries)
        return false;
    folder.release();
    bool covered = false;
    while (const dirent *entry = ::readdir(entries)) {
        if (entry->d_name[0] != '.' && at.cover(linkAt(::dirfd(entries), entry->d_name))) {
            covered = true;
            break;
        }
    }
    ::closedir(entries);
    return covered;
}

// Holding as the open-files tool counts it, read from the process's own /proc folder.
bool holdsPlugin(int process, const Locations &at)
{
    return at.cover(linkAt(process, "exe")) || at.cover(linkAt(process, "cwd")) ||
           mapsCover(readAt(process, "maps"), at) || descriptorsCover(process, at);
}

struct ProcessEntry {
    pid_t parent;
    uid_t user;
};

std::map<pid_t, ProcessEntry> processTable()
{
    std::map<pid_t, ProcessEntry> table;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return table;
    while (const dirent *entry = ::readdir(proc)) {
        const auto pid = parseDecimal(entry->d_name);
        if (!pid || *pid == 0 || *pid > INT_MAX)
            continue;
        const FileDescriptor process = openProcess(pid_t(*pid));
        const auto stat = statOf(process.get());
        const auto user = parseRealUser(readAt(process.get(), "status"));
        if (stat && user)
            table.emplace(pid_t(*pid), ProcessEntry{stat->parent, *user});
    }
    ::closedir(proc);
    return table;
}

bool descendsFrom(pid_t pid, pid_t ancestor, const std::map<pid_t, ProcessEntry> &table)
{
    // The depth bound only guards against a table read while processes came and went.
    for (std::size_t depth = 0; depth < table.size() && pid > 1; ++depth) {
        const auto entry = table.find(pid);
        if (entry == table.end())
            return false;
        pid = entry->second.parent;
        if (pid == ancestor)
            return true;
    }
    return false;
}

// A browser whose plug-in host holds the plug-in is closed through the browser.
// Only ancestors of the holder's own user count, and never root's: a holder must
// not open the way to its session, its login or the system's services.
bool isAncestorOfHolder(pid_t pid, uid_t user, const Locations &at)
{
    if (user == 0)
        return false;
    const std::map<pid_t, ProcessEntry> table = processTable();
    for (const auto &[descendant, entry] : table) {
        if (entry.user != user || !descendsFrom(descendant, pid, table))
            continue;
        const FileDescriptor process = openProcess(descendant);
        if (process.isOpen() && holdsPlugin(process.get(), at.seenBy(process.get())))
            return true;
    }
    return false;
}

bool isClosedRootFolder(const struct stat &info)
{
    return S_ISDIR(info.st_mode) && info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

std::optional<uid_t> invokingUser()
{
    const char *pkexecUser = ::getuid() == 0 ? std::getenv("PKEXEC_UID") : nullptr;
    if (pkexecUser) {
        const auto uid = parseDecimal(pkexecUser);
        return uid && *uid < UINT_MAX ? std::optional(uid_t(*uid)) : std::nullopt;
    }
    const FileDescriptor parent = openProcess(::getppid());
    return parseRealUser(readAt(parent.get(), "status"));
}

std::string homeOfInvokingUser()
{
    const std::optional<uid_t> user = invokingUser();
    const passwd *entry = user ? ::getpwuid(*user) : nullptr;
    return entry && entry->pw_dir ? std::string(entry->pw_dir) : std::string();
}

std::string pluginLocationBelow(const std::string &folder)
{
    if (folder.empty())
        return {};
    const std::string base = canonical(folder);
    if (base.empty())
        return {};
    const std::string location = (base == "/" ? base : base + '/') + kPluginRelativeLocation;
    return canonical(location) == location ? location : std::string();
}

bool killHolder(pid_t pid, unsigned long long startTime)
{
    if (pid <= 1 || pid == ::getpid() || pid == ::getppid())
        return false;
    const FileDescriptor process = openProcess(pid);
    if (!process.isOpen())
        return false;
    const auto stat = statOf(process.get());
    if (!stat || stat->startTime != startTime)
        return false;
    const Locations at = Locations().seenBy(process.get());
    const auto user = parseRealUser(readAt(process.get(), "status"));
    if (!holdsPlugin(process.get(), at) && !(user && isAncestorOfHolder(pid, *user, at)))
        return false;
    // Through the held folder: a process that has ended meanwhile gets nothing,
    // whoever has its number now.
    return ::pidfd_send_signal(process.get(), SIGKILL, nullptr, 0) == 0;
}

bool isSystemPluginBundle(const std::string &path)
{
    const std::string root = systemRoot();
    if (root.empty() || root[0] != '/')
        return false;
    std::string walked = root.back() == '/' ? root.substr(0, root.size() - 1) : root;
    if (path != walked + '/' + kPluginRelativeLocation)
        return false;
    struct stat info = {};
    if (::lstat(walked.empty() ? "/" : walked.c_str(), &info) != 0 || !isClosedRootFolder(info))
        return false;
    const std::string_view relative(kPluginRelativeLocation);
    for (std::size_t start = 0; start <= relative.size();) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos)
            end = relative.size();
        walked += '/';
        walked += relative.substr(start, end - start);
        const bool isBundle = end == relative.size();
        if (::lstat(walked.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            (!isBundle && !isClosedRootFolder(info)))
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace roothelper
