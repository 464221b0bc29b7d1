#include "tests/support/ChildRun.h"

#include <QProcess>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace childrun
{

Outcome run(const Spec &spec)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : spec.environment)
        environment.insert(QString::fromLocal8Bit(name), QString::fromLocal8Bit(value));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // In a group of its own, so that a hang is ended with everything it started.
    process.setChildProcessModifier([limit = spec.fileSizeLimit] {
        ::setpgid(0, 0);
        ::signal(SIGXFSZ, SIG_IGN);
        if (limit >= 0) {
            const rlimit bytes{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
            ::setrlimit(RLIMIT_FSIZE, &bytes);
        }
    });
    process.start(spec.program, spec.arguments);
    Outcome outcome;
    outcome.started = process.waitForStarted();
    if (!outcome.started)
        return outcome;
    const qint64 pid = process.processId();
    if (!process.waitForFinished(spec.timeoutMs)) {
        outcome.timedOut = true;
        ::kill(-pid, SIGKILL);
        process.waitForFinished(-1);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        outcome.exited = true;
        outcome.exitCode = process.exitCode();
    } else {
        outcome.signal = process.exitCode(); // the signal, for a crash
    }
    outcome.output = process.readAllStandardOutput();
    return outcome;
}

} // namespace childrun
