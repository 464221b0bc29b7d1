#include "platform/linux/LinuxOpenService.h"

#include "foundation_ext/FileIO.h"
#include "foundation_ext/PathBytes.h"
#include "platform/Bundle.h"
#include "platform/linux/ChildExit.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace platform
{

namespace
{

// Contents/MacOS/<CFBundleExecutable> of the bundle `bundlePath`, all in bytes; empty
// when its Info.plist names none.
QByteArray bundleExecutable(const QByteArray &bundlePath)
{
    const QString name =
        bundle::infoDictionaryFromDescriptor(
            ::open((bundlePath + "/Contents/Info.plist").constData(), O_RDONLY | O_CLOEXEC))
            .value("CFBundleExecutable")
            .toString();
    return name.isEmpty() ? QByteArray()
                          : bundlePath + "/Contents/MacOS/" + QFile::encodeName(name);
}

// posix_spawnp in a new session; returns the child's pid or -1.
pid_t spawnInNewSession(std::vector<QByteArray> storage)
{
    std::vector<char *> argv;
    argv.reserve(storage.size() + 1);
    for (QByteArray &bytes : storage)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF);
    sigset_t ours;
    sigemptyset(&ours);
    sigaddset(&ours, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attributes, &ours);
    // Whatever we hold open (the lesson archive among it) is none of the started
    // program's business, and would stay open for as long as it runs.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    pid_t pid = -1;
    const int status = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return status == 0 ? pid : -1;
}

// The child's half of startProgram: whatever we hold open is marked close-on-exec
// (the program gets none of it), the signal we ignore gets its default back. A
// script can only be read by its interpreter through a descriptor that stays
// open, so it gets that one. On failure the error goes to `statusFd`.
[[noreturn]] void execFromDescriptor(int fd, char *const argv[], int statusFd)
{
    ::setsid();
    std::signal(SIGXFSZ, SIG_DFL);
    ::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    ::fexecve(fd, argv, environ);
    if (errno == ENOENT && ::fcntl(fd, F_SETFD, 0) == 0)
        ::fexecve(fd, argv, environ);
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(statusFd, &error, sizeof error);
    ::_exit(127);
}

// Whoever outlives our wait still has to be reaped, or it stays a zombie.
void reapLater(pid_t pid)
{
    new ChildExit(pid);
}

} // namespace

LinuxOpenService::LinuxOpenService(QString opener, int openerGraceMs)
    : m_opener(std::move(opener)), m_graceMs(openerGraceMs)
{
}

bool LinuxOpenService::startDetached(const QString &program, const QStringList &arguments)
{
    std::vector<QByteArray> argv{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        argv.push_back(QFile::encodeName(argument));
    const pid_t pid = spawnInNewSession(std::move(argv));
    if (pid < 0)
        return false;
    reapLater(pid);
    return true;
}

bool LinuxOpenService::openFile(const QString &path)
{
    return openFileAtPath(QFile::encodeName(path));
}

bool LinuxOpenService::openFileAtPath(const QByteArray &path)
{
    struct stat st {
    };
    if (path.isEmpty() || ::stat(path.constData(), &st) != 0)
        return false;
    const QByteArray file = absolutePath(path);
    if (S_ISDIR(st.st_mode) && file.endsWith(".app")) {
        const QByteArray executable = bundleExecutable(file);
        if (executable.isEmpty() || ::access(executable.constData(), X_OK) != 0)
            return false;
        const pid_t pid = spawnInNewSession({executable});
        if (pid < 0)
            return false;
        reapLater(pid);
        return true;
    }
    return runOpener(file);
}

bool LinuxOpenService::startProgram(int executableFd, const QByteArray &path)
{
    QByteArray name = path;
    char *const argv[] = {name.data(), nullptr};
    int status[2];
    if (::pipe2(status, O_CLOEXEC) != 0)
        return false;
    const pid_t pid = ::fork();
    if (pid == 0)
        execFromDescriptor(executableFd, argv, status[1]);
    ::close(status[1]);
    const bool executed = endsEmpty(status[0]); // the exec closed it, with nothing written
    ::close(status[0]);
    if (pid < 0)
        return false;
    reapLater(pid);
    return executed;
}

bool LinuxOpenService::openURL(const QUrl &url)
{
    if (!url.isValid())
        return false;
    return runOpener(url.toString(QUrl::FullyEncoded).toUtf8());
}

// The window stays painted while we wait; input waits with the answer, as it would
// for any other action, so no click starts a second open meanwhile.
bool LinuxOpenService::runOpener(const QByteArray &argument) const
{
    const pid_t pid = spawnInNewSession({QFile::encodeName(m_opener), argument});
    if (pid < 0)
        return false;
    auto *opener = new ChildExit(pid);
    std::optional<int> status;
    QEventLoop wait;
    QObject::connect(opener, &ChildExit::ended, &wait, [&](int waitStatus) {
        status = waitStatus;
        wait.quit();
    });
    QTimer::singleShot(m_graceMs, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    // Still running: it has started something, and is reaped once it ends.
    if (!status)
        return true;
    return WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

} // namespace platform
