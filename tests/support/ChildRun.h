#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// Runs a program in a child process the way the hostile and fault tests need it:
// with a deadline (a hang is caught and the child killed), an optional file-size
// limit (SIGXFSZ ignored, so writes fail with EFBIG instead of killing it) and
// extra environment variables (a preloaded fault library).
namespace childrun
{

struct Spec {
    QString program;
    QStringList arguments;
    QList<std::pair<QByteArray, QByteArray>> environment; // added to ours
    long long fileSizeLimit = -1;                         // bytes; -1: none
    int timeoutMs = 120000;
};

struct Outcome {
    bool started = false;
    bool timedOut = false; // killed at the deadline
    bool exited = false;   // ended by itself, with exitCode
    int exitCode = -1;
    int signal = 0; // the signal that ended it, when it did not exit
    QByteArray output;
};

Outcome run(const Spec &spec);

} // namespace childrun
