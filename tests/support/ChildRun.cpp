#include "ChildRun.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace childrun
{

namespace
{

long long nowMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// Everything the child needs is prepared before fork: the child only calls
// async-signal-safe functions.
struct Prepared {
    std::vector<QByteArray> storage;
    std::vector<char *> argv;
    std::vector<char *> envp;
};

Prepared prepare(const Spec &spec)
{
    Prepared p;
    p.storage.push_back(QFile::encodeName(spec.program));
    for (const QString &argument : spec.arguments)
        p.storage.push_back(QFile::encodeName(argument));
    const std::size_t argumentCount = p.storage.size();
    for (char **e = environ; *e; ++e) {
        const QByteArray entry(*e);
        bool replaced = false;
        for (const auto &[name, value] : spec.environment)
            replaced = replaced || entry.startsWith(name + '=');
        if (!replaced)
            p.storage.push_back(entry);
    }
    for (const auto &[name, value] : spec.environment)
        p.storage.push_back(name + '=' + value);
    for (std::size_t i = 0; i < p.storage.size(); ++i)
        (i < argumentCount ? p.argv : p.envp).push_back(p.storage[i].data());
    p.argv.push_back(nullptr);
    p.envp.push_back(nullptr);
    return p;
}

[[noreturn]] void becomeChild(const Spec &spec, Prepared &p, int outputFd)
{
    ::setpgid(0, 0);
    ::dup2(outputFd, STDOUT_FILENO);
    ::signal(SIGXFSZ, SIG_IGN);
    if (spec.fileSizeLimit >= 0) {
        const rlimit limit{static_cast<rlim_t>(spec.fileSizeLimit),
                           static_cast<rlim_t>(spec.fileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::execve(p.argv[0], p.argv.data(), p.envp.data());
    ::_exit(127);
}

void finish(Outcome &outcome, int status)
{
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
}

void drain(int fd, QByteArray &output)
{
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0)
        output.append(chunk, n);
}

} // namespace

Outcome run(const Spec &spec)
{
    Outcome outcome;
    Prepared prepared = prepare(spec);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return outcome;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return outcome;
    }
    if (pid == 0)
        becomeChild(spec, prepared, fds[1]);
    ::close(fds[1]);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    outcome.started = true;

    // Read until the child ends; programs it starts may keep the pipe open.
    const long long deadline = nowMs() + spec.timeoutMs;
    int status = 0;
    for (;;) {
        pollfd waiting{fds[0], POLLIN, 0};
        ::poll(&waiting, 1, 50);
        drain(fds[0], outcome.output);
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            drain(fds[0], outcome.output);
            finish(outcome, status);
            break;
        }
        if (nowMs() > deadline) {
            outcome.timedOut = true;
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
    }
    ::close(fds[0]);
    return outcome;
}

} // namespace childrun
