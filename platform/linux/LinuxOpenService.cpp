#include "LinuxOpenService.h"

#include "Bundle.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace platform
{

namespace
{

bool isApplicationBundle(const QFileInfo &info)
{
    return info.isDir() && info.fileName().endsWith(QLatin1String(".app"));
}

// posix_spawnp in a new session; returns the child's pid or -1.
pid_t spawnInNewSession(const QString &program, const QStringList &arguments)
{
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString &argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &bytes : storage)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
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

// Whoever outlives our wait still has to be reaped, or it stays a zombie.
void reapLater(pid_t pid)
{
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
}

} // namespace

LinuxOpenService::LinuxOpenService(QString opener, int openerGraceMs)
    : m_opener(std::move(opener)), m_graceMs(openerGraceMs)
{
}

bool LinuxOpenService::startDetached(const QString &program, const QStringList &arguments)
{
    const pid_t pid = spawnInNewSession(program, arguments);
    if (pid < 0)
        return false;
    reapLater(pid);
    return true;
}

bool LinuxOpenService::openFile(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return false;
    if (isApplicationBundle(info)) {
        const QString executable = bundle::executablePath(info.absoluteFilePath());
        if (executable.isEmpty() || !QFileInfo(executable).isExecutable())
            return false;
        return startDetached(executable, {});
    }
    return runOpener(info.absoluteFilePath());
}

bool LinuxOpenService::openURL(const QUrl &url)
{
    if (!url.isValid())
        return false;
    return runOpener(url.toString(QUrl::FullyEncoded));
}

bool LinuxOpenService::runOpener(const QString &argument) const
{
    const pid_t pid = spawnInNewSession(m_opener, {argument});
    if (pid < 0)
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < m_graceMs) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0 && errno != EINTR)
            return false;
        QThread::msleep(20);
    }
    reapLater(pid);
    return true;
}

} // namespace platform
