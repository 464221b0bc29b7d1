#pragma once

#include <QString>

#include <functional>

// Polls `done` until it holds or `patienceMs` have passed, letting the event loop
// run in between when there is one; false on giving up.
bool waitUntil(const std::function<bool()> &done, int patienceMs = 60000);

// Whether a file appears at `path` within `patienceMs`.
bool fileAppears(const QString &path, int patienceMs);
