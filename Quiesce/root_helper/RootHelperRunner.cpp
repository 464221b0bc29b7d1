#include "RootHelperRunner.h"

#include "Protocol.h"

#include <QFileInfo>
#include <QProcess>

namespace
{

// One running helper. Its standard error stays with ours, so pkexec's own
// messages reach the terminal or the session log.
class RootHelperSession : public platform::PrivilegedSession
{
  public:
    explicit RootHelperSession(std::unique_ptr<QProcess> helper) : mHelper(std::move(helper)) {}

    ~RootHelperSession() override
    {
        // Closing the pipe ends the helper once the tools it started have ended.
        mHelper->closeWriteChannel();
        mHelper->waitForFinished(-1);
    }

    bool execute(const QString &tool, const QStringList &arguments) override
    {
        roothelper::Request request{tool.toStdString()};
        for (const QString &argument : arguments)
            request.push_back(argument.toStdString());
        const std::string record = roothelper::encodeRequest(request);
        if (record.empty() || mHelper->state() != QProcess::Running)
            return false;
        mHelper->write(record.data(), qint64(record.size()));
        return readAnswer() == roothelper::kStarted;
    }

  private:
    // The answer line; empty when the helper ended first (pkexec refused, or the
    // helper rejected a malformed record). Waits as long as the authentication
    // dialog stays up.
    QByteArray readAnswer()
    {
        while (!mHelper->canReadLine()) {
            if (!mHelper->waitForReadyRead(-1))
                return {};
        }
        return mHelper->readLine();
    }

    std::unique_ptr<QProcess> mHelper;
};

} // namespace

RootHelperRunner::RootHelperRunner(QString program, QStringList arguments)
    : mProgram(std::move(program)), mArguments(std::move(arguments))
{
}

QString RootHelperRunner::helperPath(const QString &bundlePath)
{
    return bundlePath + QStringLiteral("/Contents/MacOS/quiesce-root-helper");
}

RootHelperRunner RootHelperRunner::throughPkexec(const QString &bundlePath)
{
    return RootHelperRunner(QStringLiteral("/usr/bin/pkexec"), {helperPath(bundlePath)});
}

std::unique_ptr<platform::PrivilegedSession> RootHelperRunner::open()
{
    if (!QFileInfo(mProgram).isExecutable())
        return nullptr;
    auto helper = std::make_unique<QProcess>();
    helper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper->start(mProgram, mArguments);
    if (!helper->waitForStarted(-1))
        return nullptr;
    return std::make_unique<RootHelperSession>(std::move(helper));
}
