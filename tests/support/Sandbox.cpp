#include "tests/support/Sandbox.h"

#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>

namespace
{

// Only a safety net against a hang; nothing here is expected to take long.
constexpr int kPatienceMs = 60000;

} // namespace

Sandbox::Sandbox()
{
    m_valid =
        m_root.isValid() && QDir().mkpath(home()) && QDir().mkpath(bin()) &&
        QDir().mkpath(temporary()) &&
        QFile::setPermissions(temporary(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

Sandbox::~Sandbox()
{
    for (QProcess *process : m_processes) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(kPatienceMs);
        }
        delete process;
    }
}

QString Sandbox::path(const QString &relative) const
{
    return relative.isEmpty() ? m_root.path() : m_root.filePath(relative);
}

QString Sandbox::copyBundle(const QString &built, const QString &relative)
{
    const QString target = path(relative);
    QDir().mkpath(QFileInfo(target).absolutePath());
    QProcess cp;
    cp.start(QStringLiteral("cp"), {QStringLiteral("-R"), built, target});
    const bool copied = cp.waitForFinished(kPatienceMs) &&
                        cp.exitStatus() == QProcess::NormalExit && cp.exitCode() == 0;
    return copied ? target : QString();
}

bool Sandbox::writeOpener(int status)
{
    return testfiles::writeExecutable(bin() + QStringLiteral("/xdg-open"),
                                      "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" +
                                          QFile::encodeName(path(QStringLiteral("opened.txt"))) +
                                          "'\nexit " + QByteArray::number(status) + "\n");
}

QStringList Sandbox::opened() const
{
    const QByteArray record = testfiles::read(path(QStringLiteral("opened.txt")));
    QStringList lines;
    for (const QByteArray &line : record.split('\n')) {
        if (!line.isEmpty())
            lines.append(QFile::decodeName(line));
    }
    return lines;
}

QProcessEnvironment Sandbox::environment(bool onDisplay,
                                         const QList<std::pair<QString, QString>> &extra) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home());
    environment.insert(QStringLiteral("TMPDIR"), temporary());
    environment.insert(QStringLiteral("PATH"),
                       bin() + u':' + environment.value(QStringLiteral("PATH")));
    if (!onDisplay || !haveDisplay())
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const auto &[name, value] : extra)
        environment.insert(name, value);
    return environment;
}

QProcess &Sandbox::start(const QString &program, const QStringList &arguments, bool onDisplay,
                         const QList<std::pair<QString, QString>> &extra)
{
    auto *process = new QProcess;
    m_processes.append(process);
    process->setProcessEnvironment(environment(onDisplay, extra));
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(program, arguments);
    return *process;
}

QString bundleProgram(const QString &bundle, const QString &name)
{
    return bundle + QStringLiteral("/Contents/MacOS/") + name;
}

bool haveDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY");
}

std::optional<QByteArray> xdotool(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(kPatienceMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput().trimmed();
}

QByteArray waitForWindow(qint64 pid, const QString &pattern)
{
    const std::optional<QByteArray> ids =
        xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--all"),
                 QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid),
                 QStringLiteral("--name"), pattern});
    return ids.value_or(QByteArray()).split('\n').value(0);
}
