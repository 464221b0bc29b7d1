#pragma once

#include <QString>

// A lesson archive for the fault sweep, written by Python's zipfile: the setup
// launcher, a page, and a 300 KB file that does not deflate, so every file-size
// limit and write budget of the sweep is crossed inside it.
bool writeFaultLesson(const QString &zipPath);
