#pragma once

#include <QByteArray>
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
    // `path` as file-system bytes; a relative path is taken from the working folder.
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

  private:
    bool openDestination();
    int walk(const QList<QByteArray> &components, qsizetype count);
    void forgetCachedFolder();
    void sweepOnFirstVisit(int folderFd);

    QByteArray _path;
    int _destinationFd = -1;
    // The folder of the previous entry: entries of one folder usually follow each other.
    QList<QByteArray> _cachedComponents;
    int _cachedFd = -1;
    std::set<std::pair<dev_t, ino_t>> _swept; // folders cleared of leftovers this run
};
