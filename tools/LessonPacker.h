#pragma once

#include <QString>

#include <csignal>
#include <functional>

namespace lessonpack
{

class Progress;

// What to pack and where to put it.
struct PackRequest {
    QString contentFolder;  // becomes "pagewright_files"; must hold "index.html"
    QString lessonName;     // the bundle is written as <outputFolder>/<lessonName>.app
    QString outputFolder;   // created when missing
    QString installer;      // optional plug-in installer package (file or folder)
    QString unspoolBundle;  // the built Unspool.app to copy
    QString wayfarerBundle; // the built Wayfarer.app to put into the archive
    bool replace = false;   // replace an existing <lessonName>.app
    // Set non-zero (by a signal handler) to give up: the run then fails and takes
    // its staging folder with it. Checked between pieces of work.
    const volatile std::sig_atomic_t *stop = nullptr;
    bool keepAll = false;     // pack the desktop litter of the content and installer too
    bool dereference = false; // pack what the links in them point to, instead of refusing
    // Told the path of each item of litter left out.
    std::function<void(const QString &path)> skipped;
};

// Writes the lesson bundle: a copy of Unspool.app whose Contents/Resources/archive.zip
// holds Wayfarer.app (with the installer as its resource "Corvane Glimmer Player.pkg")
// and the content folder as "pagewright_files". Everything is checked first and the
// bundle is built in a staging folder beside the output, then moved into place, so a
// failed run leaves nothing behind. On success `written` is the bundle's path; on
// failure `why` says what was wrong, in one line.
bool packLesson(const PackRequest &request, Progress &progress, QString &written, QString &why);

} // namespace lessonpack
