#pragma once

#include <QString>

// A lesson archive for the fault sweep, written by Python's zipfile: the setup
// launcher, a page, and a file of a little over 3 MiB that does not deflate, so
// every file-size limit and write budget of the sweep is crossed inside it, some
// while the writer's own thread is writing it.
bool writeFaultLesson(const QString &zipPath);
