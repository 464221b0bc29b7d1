#pragma once

#include <QList>
#include <QString>

#include <functional>

#include <sys/types.h>

// The end-to-end test sees Wayfarer only as a process that Unspool started in a
// session of its own, so it finds it by executable path.
namespace e2etest
{

// Live (not yet ended) processes whose executable is `executable`.
QList<pid_t> processesRunning(const QString &executable);

} // namespace e2etest
