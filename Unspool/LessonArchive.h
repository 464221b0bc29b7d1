#pragma once

#include "Unspool/LessonArchiveDelegate.h"
#include "Unspool/archive/ArchiveIndex.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <memory>

class ArchiveInputFile;
class ArchiveZipWriter;

// A lesson's ZIP archive: open one and extract all of it into a folder, or create
// one from files on disk. One archive open for reading and one for writing at a
// time; both share the password. Not for use from two threads at once.
class LessonArchive
{
  public:
    LessonArchive();
    virtual ~LessonArchive();
    LessonArchive(const LessonArchive &) = delete;
    LessonArchive &operator=(const LessonArchive &) = delete;

    void setDelegate(LessonArchiveDelegate *delegate) { _delegate = delegate; }
    LessonArchiveDelegate *getDelegate() const { return _delegate; }

    // Reading.
    bool UnzipOpenFile(const QString &path);
    bool UnzipOpenFile(const QString &path, const QString &password);
    int getNumberOfEntries() const { return _numberOfEntries; }
    bool UnzipFileTo(const QString &destination, bool overWrite);
    // The same for a destination given as file-system bytes, which need not be UTF-8.
    bool UnzipFileTo(const QByteArray &destination, bool overWrite);
    bool UnzipCloseFile();
    // While the delegate hears ExtractionComplete: a read-only descriptor of the file
    // at `relativePath` ("/"-separated, below the destination), reached from the
    // folder the extraction holds open without following a link, and only when it
    // is the very file this extraction wrote there (the same device and inode). So
    // no swap of a folder or file after the writing can change what the caller
    // gets. -1 otherwise; the caller closes it.
    int openWrittenFile(const QByteArray &relativePath) const;
    // Why the last extraction failed, for a diagnostic line: the entry, the error text
    // and, for a failed read or write, the system's reason. Empty after a success.
    QString failureReason() const { return m_failureReason; }

    // Writing.
    bool CreateZipFile2(const QString &path);
    bool CreateZipFile2(const QString &path, const QString &password);
    bool addFileToZip(const QString &file, const QString &newname);
    bool CloseZipFile2();

    // Local midnight at the start of 1 January 1980.
    static QDateTime Date1980();

  protected:
    // Sent by the extraction to the object itself, so a subclass can take over error
    // reporting and the overwrite decision without a delegate.
    virtual void OutputErrorMessage(const QString &message);
    virtual bool OverWrite(const QString &path);

  private:
    struct Extraction; // the per-call state of UnzipFileTo, defined beside it
    enum class EntryOutcome { Extracted, Skipped, Failed };
    EntryOutcome extractCurrentEntry(Extraction &run);
    EntryOutcome extractIndexedEntry(Extraction &run);
    bool readCurrentName(QByteArray &name);
    bool agreesWithIndex(const ArchiveIndex::Entry &entry, const QByteArray &name,
                         bool opened) const;
    EntryOutcome extractFolderEntry(Extraction &run);
    EntryOutcome extractFileEntry(Extraction &run);
    EntryOutcome copyCurrentEntry(Extraction &run, int folderFd);
    EntryOutcome failWriting();
    bool refusedByStructure(const QByteArray &destination);
    void reportProgress(int done, int total);
    void reportCompletion();
    QByteArray passwordBytes() const;
    void noteFailure(const QString &message, int systemError);

    // Lets go of an archive being written, finished or not; beside the writing side.
    struct ZipWriterRelease {
        void operator()(ArchiveZipWriter *writer) const;
    };

    // The archive open for reading, as minizip and the extraction read it, or null;
    // and its index, read once when it opened.
    std::unique_ptr<ArchiveInputFile> m_input;
    ArchiveIndex m_index;
    std::unique_ptr<ArchiveZipWriter, ZipWriterRelease> _zipFile;
    void *_unzFile = nullptr;
    QString _password;
    LessonArchiveDelegate *_delegate = nullptr;
    int _numberOfEntries = 0;
    Extraction *m_run = nullptr; // during UnzipFileTo
    QString m_failureReason;
};
