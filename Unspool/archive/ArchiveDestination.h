#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>

#include <set>
#include <sys/types.h>
#include <utility>

// The folder an extraction writes into. Every folder and file below it is reached
// through descriptors opened relative to it with O_NOFOLLOW, so neither a hostile
// entry name nor a symbolic link planted in the tree can lead a write outside.
// Each folder handed out is first cleared of the replacement files an interrupted
// earlier run may have left there.
class ArchiveDestination
{
  public:
    // `path` as file-system bytes. A relative path is taken from the working folder
    // and stays relative in every full path, so only the path given counts.
    explicit ArchiveDestination(const QByteArray &path);
    ~ArchiveDestination();
    ArchiveDestination(const ArchiveDestination &) = delete;
    ArchiveDestination &operator=(const ArchiveDestination &) = delete;

    // The destination joined with the first `count` components.
    QByteArray fullPath(const QList<QByteArray> &components, qsizetype count) const;

    // A descriptor of the folder named by the first `count` components, made with
    // its missing parents first (the destination itself too). -1 when a folder
    // cannot be made or something other than a real folder (a link, a file) is in
    // the way. The descriptor belongs to this object and stays valid until the next
    // call.
    int folder(const QList<QByteArray> &components, qsizetype count);

    // A read-only descriptor of the file named by `components`, reached from the
    // destination's held descriptor without following a link or making anything;
    // -1 when something else is there. The caller closes it.
    int openFile(const QList<QByteArray> &components);

  private:
    struct Held {
        int fd = -1;
        bool swept = false;
    };

    bool openDestination();
    Held *walk(const QList<QByteArray> &components, qsizetype count);
    void sweepOnFirstVisit(Held &folder);

    QByteArray m_path;
    Held m_destination;
    // Folders below the destination stay open once reached, keyed by their path
    // relative to it, so an entry in a folder met before costs no lookup and a new
    // folder only the steps below its nearest open parent. Past kMostHeld, further
    // folders are opened for one call only (m_passing).
    QHash<QByteArray, Held> m_held;
    Held m_passing;
    std::set<std::pair<dev_t, ino_t>> m_swept; // folders cleared of leftovers this run
};
