// The root helper: started once through pkexec by the installer helper, it acts as
// root for as long as its standard input stays open. It reads one request record
// at a time from standard input and answers on standard output whether it was
// carried out. When its input closes it waits for the tools it started and ends.
//
// It runs with administrator rights on behalf of an unprivileged program, and any
// program of that user that reaches its pipe could send it requests. So it reads
// strictly (a malformed record ends it), accepts only the request shapes in
// Protocol.h, and then checks each against the system itself (Guard.h):
//   sleep  runs /bin/sleep, the harmless run that asks for the rights;
//   kill   sends signal 9 itself, only to a process that holds the plug-in (or
//          its browser) and still has the start time it was listed with;
//   rm     runs /bin/rm -rf only on the system-wide plug-in bundle, and stays on
//          the bundle's own file system.
// Tools get an empty standard input and output and a fixed environment, never a
// shell.

#include "Quiesce/core/root_helper/Guard.h"
#include "Quiesce/core/root_helper/Protocol.h"
#include "foundation_ext/FileIO.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// The next request, or nullopt at the end of input or on a malformed record.
std::optional<roothelper::Request> readRequest()
{
    std::string digits;
    char c = 0;
    while (readExactly(STDIN_FILENO, &c, 1) && c != '\n') {
        if (digits.size() >= roothelper::kMaxLengthDigits)
            return std::nullopt;
        digits += c;
    }
    if (c != '\n')
        return std::nullopt;
    const std::optional<std::size_t> length = roothelper::parseLength(digits);
    if (!length)
        return std::nullopt;
    std::string payload(*length, '\0');
    if (!readExactly(STDIN_FILENO, payload.data(), payload.size()))
        return std::nullopt;
    return roothelper::parsePayload(payload);
}

[[noreturn]] void execTool(const roothelper::Request &request, int statusPipe)
{
    std::signal(SIGCHLD, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
    }
    std::vector<char *> argv;
    for (const std::string &field : request)
        argv.push_back(const_cast<char *>(field.c_str()));
    argv.push_back(nullptr);
    char path[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char locale[] = "LC_ALL=C";
    char *environment[] = {path, locale, nullptr};
    ::execve(request[0].c_str(), argv.data(), environment);
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(statusPipe, &error, sizeof error);
    ::_exit(127);
}

// Starts the tool without waiting for it; true once it has been executed. A
// close-on-exec pipe tells a successful exec (end of file) from a failed one.
bool startTool(const roothelper::Request &request)
{
    int status[2];
    if (::pipe2(status, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child == 0)
        execTool(request, status[1]);
    ::close(status[1]);
    const bool executed = child >= 0 && endsEmpty(status[0]);
    ::close(status[0]);
    return executed;
}

// True when the request was carried out: the tool started, or the signal delivered.
bool carryOut(const roothelper::Request &request)
{
    if (!roothelper::isPermitted(request))
        return false;
    const std::string &tool = request[0];
    if (tool == "/bin/kill")
        return roothelper::killHolder(pid_t(std::stol(request[2])),
                                      *roothelper::parseDecimal(request[3]));
    if (tool != "/bin/rm")
        return startTool(request);
    if (!roothelper::isSystemPluginBundle(request[2]))
        return false;
    // A file system mounted inside the bundle is not the bundle's to lose.
    return startTool({tool, request[1], "--one-file-system", request[2]});
}

} // namespace

int main()
{
    // Tools are never waited for one by one; ignoring SIGCHLD lets the system reap
    // them, and a final wait() then blocks until the last one has ended.
    std::signal(SIGCHLD, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    int result = 0;
    while (const std::optional<roothelper::Request> request = readRequest()) {
        const bool done = carryOut(*request);
        const char *answer = done ? roothelper::kStarted : roothelper::kNotStarted;
        if (!writeAll(STDOUT_FILENO, answer, std::strlen(answer))) {
            result = 1;
            break;
        }
    }
    while (::wait(nullptr) > 0 || errno == EINTR) {
    }
    return result;
}
