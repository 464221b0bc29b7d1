#pragma once

// What the root helper checks before it acts. Whoever holds its input pipe can send
// it requests, so it decides from the system alone: the plug-in's locations are
// derived here, never taken from the request, and a process is judged by what
// /proc shows of it.

#include <optional>
#include <string>

#include <sys/types.h>

namespace roothelper
{

constexpr char kPluginRelativeLocation[] = "Library/Internet Plug-Ins/Glimmer Player.plugin";

// The folder below which the system-wide copy of the plug-in lives ("/"), and the
// home folder of the user on whose behalf the helper runs. Defined by the program
// the guard is built into: the installed helper fixes the first and derives the
// second from the invoking user; only a separate test build may choose them.
std::string systemRoot();
std::string userHome();

// The user who asked for the helper: PKEXEC_UID when pkexec started it as root
// (pkexec sets that variable and lets no caller choose it), otherwise the real
// user of the parent process. Nullopt when it cannot be found.
std::optional<uid_t> invokingUser();
// That user's home folder; empty when it cannot be found.
std::string homeOfInvokingUser();

// The plug-in bundle below `folder` as the kernel names paths, or empty when that
// path does not exist or passes through a symbolic link (a link could make any
// folder of the system count as the plug-in).
std::string pluginLocationBelow(const std::string &folder);

// Signal 9 to `pid`, but only while it is the process that started at `startTime`
// and it holds the plug-in (an open file, a memory mapping, its working folder or
// its executable at or below one of the plug-in's locations) or is an ancestor,
// running as the same user (not root), of such a process. The copy below the
// invoking user's home counts only for processes that run as that user, the
// ancestor too: a user may put that folder in others' way, but must not reach
// them with root's rights through it. Never pid 1, this helper or its parent.
// True when the signal was delivered.
bool killHolder(pid_t pid, unsigned long long startTime);

// True for exactly the system-wide plug-in bundle, a real folder reached without
// any symbolic link, whose folders from the system root down are owned by root
// and writable by no one else (so that nobody can swap one of them before the
// removal runs).
bool isSystemPluginBundle(const std::string &path);

} // namespace roothelper
