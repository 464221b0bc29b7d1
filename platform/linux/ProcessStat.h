#pragma once

// What the kernel's one-line status file /proc/<pid>/stat says of a process, read
// from its bytes. Plain C++: the root helper, which links nothing but the C++
// runtime, reads the same lines as the installer helper does.

#include <optional>
#include <string>
#include <string_view>

namespace platform::procfs
{

struct ProcessStat {
    int pid = 0;
    std::string name; // the kernel's copy of the name, at most 15 bytes, blanks kept
    char state = 0;   // R running, S sleeping, Z zombie, X dead, ...
    int parent = 0;
    unsigned long long startTime = 0; // clock ticks after boot
};

// "412 (Glimmer Helper ) S 1 412 ... 123456 ...": the name is whatever lies between
// the first '(' and the last ')', since it may hold blanks and parentheses itself;
// the fields after it are counted from there (the parent is field 4, the start
// time field 22). Nullopt for text of any other shape.
std::optional<ProcessStat> parseProcessStat(std::string_view text);

// Process `pid`'s line read from /proc and parsed; nullopt when it cannot be read. Made
// with the process tools (platform library); the root helper reads through descriptors
// of its own and does not link it.
std::optional<ProcessStat> readProcessStat(int pid);

} // namespace platform::procfs
