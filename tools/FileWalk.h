#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace lessonpack
{

// One file to go into the lesson archive.
struct PackEntry {
    QString source;          // absolute path on disk
    QString name;            // entry name in the archive, "/"-separated
    bool lessonFile = false; // the lesson's own content, which progress counts
};

// What a walk does with symbolic links.
enum class Links {
    Refused,  // the first one stops the walk (a built bundle carries none)
    Listed,   // the walk goes on and then fails, naming each one and --dereference
    Followed, // what each one points to is packed under the link's name
};

// What a walk does with the desktop litter of an author's folder (NamePolicy):
// packs it, or leaves it out and tells `skipped` the path of each item left out;
// and with symbolic links.
struct WalkOptions {
    bool skipLitter = false;
    std::function<void(const QString &path)> skipped;
    Links links = Links::Refused;
};

// Adds every regular file below the folder `root` to `entries`, named
// <prefix>/<path below root>. Everything is checked before anything is packed, so a
// file that cannot be read stops the run here instead of turning up empty later.
// Refused, with the reason in `why`: names Unspool would refuse or change (and names
// that are not UTF-8), symbolic links unless followed (a link is packed as a copy of
// whatever it points at, possibly outside the folder, so only when asked for), links
// that lead nowhere or back into a folder above them, anything that is neither a file
// nor a folder, and files or folders that cannot be read.
// Empty folders carry no files and so do not reach the archive.
bool collectFiles(const QString &root, const QString &prefix, QList<PackEntry> &entries,
                  QString &why, const WalkOptions &options = {});

// Adds the single regular file `source` under `name`, with the same checks.
bool collectFile(const QString &source, const QString &name, QList<PackEntry> &entries,
                 QString &why);

} // namespace lessonpack
