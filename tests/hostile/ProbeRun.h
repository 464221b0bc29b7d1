#pragma once

#include "ChildRun.h"

#include <QString>
#include <QStringList>

// One extraction by extract_probe in a child process, and what it printed.
struct ProbeResult {
    childrun::Outcome child;
    bool opened = false;
    bool finished = false; // printed a result
    bool result = false;
    bool complete = false;
    QStringList messages;
    int done = 0;
    int total = 0;

    // Ended by itself with status 0: no crash, no hang.
    bool ranCleanly() const { return child.exited && child.exitCode == 0 && !child.timedOut; }
};

struct ProbeSpec {
    QString archive;
    QString destination;
    QList<std::pair<QByteArray, QByteArray>> environment;
    long long fileSizeLimit = -1;
    QString password; // none when empty
};

ProbeResult runProbe(const ProbeSpec &spec);

// The probe built beside the tests.
QString probePath();
