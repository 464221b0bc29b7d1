#include "Quiesce/core/root_helper/RootHelperRunner.h"

#include "Quiesce/core/root_helper/Protocol.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <sys/stat.h>

namespace
{

// One running helper. Its standard error stays with ours, so pkexec's own
// messages reach the terminal or the session log.
class RootHelperSession : public platform::PrivilegedSession
{
  public:
    explicit RootHelperSession(std::unique_ptr<QProcess> helper) : m_helper(std::move(helper)) {}

    ~RootHelperSession() override
    {
        // Closing the pipe ends the helper once the tools it started have ended.
        m_helper->closeWriteChannel();
        m_helper->waitForFinished(-1);
    }

    bool execute(const QString &tool, const QStringList &arguments) override
    {
        roothelper::Request request{tool.toStdString()};
        for (const QString &argument : arguments)
            request.push_back(argument.toStdString());
        const std::string record = roothelper::encodeRequest(request);
        if (record.empty() || m_helper->state() != QProcess::Running)
            return false;
        m_helper->write(record.data(), qint64(record.size()));
        return readAnswer() == roothelper::kStarted;
    }

  private:
    // The answer line; empty when the helper ended first (pkexec refused, or the
    // helper rejected a malformed record). Waits as long as the authentication
    // dialog stays up.
    QByteArray readAnswer()
    {
        while (!m_helper->canReadLine()) {
            if (!m_helper->waitForReadyRead(-1))
                return {};
        }
        return m_helper->readLine();
    }

    std::unique_ptr<QProcess> m_helper;
};

} // namespace

RootHelperRunner::RootHelperRunner(QString program, QStringList arguments)
    : m_program(std::move(program)), m_arguments(std::move(arguments))
{
}

QString RootHelperRunner::helperPath(const QString &bundlePath)
{
    return bundlePath + QStringLiteral("/Contents/MacOS/quiesce-root-helper");
}

QString RootHelperRunner::installedHelperPath()
{
    return QStringLiteral(QUIESCE_INSTALLED_ROOT_HELPER);
}

namespace
{

// `path` and every folder above it, "/" last.
QStringList pathAndFoldersAbove(const QString &path)
{
    QStringList chain;
    for (QString p = QDir::cleanPath(path); !chain.contains(p); p = QFileInfo(p).path())
        chain.append(p);
    return chain;
}

// Owned by root and writable by no one else. A symbolic link's own mode means
// nothing; who may change it is decided by the folder that holds it.
bool isRootOwnedAndClosed(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || info.st_uid != 0)
        return false;
    return S_ISLNK(info.st_mode) || (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

bool RootHelperRunner::isSafeSystemFile(const QString &path)
{
    // The path as given and, when links lead elsewhere, the path they lead to.
    const QString resolved = QFileInfo(path).canonicalFilePath();
    if (resolved.isEmpty() || !QFileInfo(resolved).isFile())
        return false;
    for (const QString &walked : {path, resolved}) {
        for (const QString &item : pathAndFoldersAbove(walked)) {
            if (!isRootOwnedAndClosed(item))
                return false;
        }
    }
    return true;
}

std::optional<QString> RootHelperRunner::helperToRun(const QString &installedPath,
                                                     const QString &bundledPath)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(installedPath).constData(), &info) != 0)
        return bundledPath;
    if (isSafeSystemFile(installedPath))
        return installedPath;
    return std::nullopt;
}

RootHelperRunner RootHelperRunner::throughPkexec(const QString &bundlePath)
{
    const std::optional<QString> helper =
        helperToRun(installedHelperPath(), helperPath(bundlePath));
    // An installed helper that someone besides root could have changed is never
    // run, and does not make way for the bundle's either: no rights then.
    if (!helper)
        return RootHelperRunner(QString(), {});
    return RootHelperRunner(QStringLiteral("/usr/bin/pkexec"), {*helper});
}

std::unique_ptr<platform::PrivilegedSession> RootHelperRunner::open()
{
    if (m_program.isEmpty() || !QFileInfo(m_program).isExecutable())
        return nullptr;
    auto helper = std::make_unique<QProcess>();
    helper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper->start(m_program, m_arguments);
    if (!helper->waitForStarted(-1))
        return nullptr;
    return std::make_unique<RootHelperSession>(std::move(helper));
}
