#include "Unspool/LessonArchive.h"

#include "Unspool/archive/ArchiveDestination.h"
#include "Unspool/archive/ArchiveEntryStream.h"
#include "Unspool/archive/ArchiveFileWriter.h"
#include "Unspool/archive/ArchiveIndex.h"
#include "Unspool/archive/ArchiveInputFile.h"
#include "Unspool/archive/ArchiveRecordLayout.h"
#include "Unspool/archive/ArchiveStructureCheck.h"
#include "Unspool/archive/ArchiveTime.h"
#include "naming/NamePolicy.h"

#include <QDate>
#include <QFile>
#include <QScopeGuard>
#include <QTime>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include <unzip.h>

namespace
{

const char kEntryOutside[] = "Error occurs: entry name leads outside the destination";
const char kWriteFailed[] = "Error occurs while writing file";
const char kReadFailed[] = "Failed to reading zip file";
const char kCrcFailed[] = "Error occurs: CRC check failed";
const char kSizeMismatch[] = "Error occurs: entry size does not match";

// Items of application and installer bundles must stay runnable, and the archive
// carries no permissions; the test is on the whole path, destination included.
bool opensToEveryone(const QByteArray &fullPath)
{
    return fullPath.contains(".app") || fullPath.contains(".pkg");
}

bool holdsSomething(int folderFd, const QByteArray &name)
{
    struct stat st {
    };
    return ::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// An entry's name for a log line: control characters shown as "?", so that the line
// stays one line and shows no terminal codes.
QByteArray shownName(QByteArray name)
{
    for (char &c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return name;
}

} // namespace

struct LessonArchive::Extraction {
    Extraction(const QByteArray &destinationPath, bool overWrite, ArchiveInputFile &input)
        : destination(destinationPath), stream(input), overWrite(overWrite)
    {
    }
    ArchiveDestination destination;
    ArchiveFileWriter file;
    ArchiveEntryStream stream;
    ArchiveTime::LocalTimeConverter clock;
    const ArchiveIndex::Entry *entry = nullptr; // the current one
    NamePolicy::EntryPath name;
    bool overWrite;
    qsizetype visited = 0;                     // entries minizip has walked to
    std::set<std::pair<dev_t, ino_t>> written; // every file put in place
};

LessonArchive::LessonArchive() = default;

LessonArchive::~LessonArchive()
{
    CloseZipFile2();
    if (_unzFile)
        unzClose(_unzFile);
}

// Reading.

// The new archive is opened beside the one open now, which is let go only once the
// new one has opened: a failed open leaves the earlier archive open and readable,
// with its count.
bool LessonArchive::UnzipOpenFile(const QString &path)
{
    auto input = std::make_unique<ArchiveInputFile>();
    const QByteArray name = QFile::encodeName(path);
    if (!input->open(name))
        return false;
    ArchiveIndex index = ArchiveIndex::read(input->descriptor());
    zlib_filefunc64_def functions = input->functions();
    const unzFile file = unzOpen2_64(name.constData(), &functions);
    // An archive of its end record alone, which the library refuses, holds nothing.
    const bool empty = index.status == ArchiveIndex::Status::Read && index.entries.isEmpty() &&
                       index.declaredCount == 0;
    if (!file && !empty)
        return false;
    if (_unzFile)
        unzClose(_unzFile);
    _unzFile = file;
    m_input = std::move(input);
    m_index = std::move(index);
    unz_global_info info{};
    if (!file)
        _numberOfEntries = 0;
    else if (unzGetGlobalInfo(file, &info) == UNZ_OK)
        _numberOfEntries = static_cast<int>(info.number_entry);
    return true;
}

bool LessonArchive::UnzipOpenFile(const QString &path, const QString &password)
{
    const QString before = _password;
    _password = password;
    if (UnzipOpenFile(path))
        return true;
    _password = before; // the archive still open keeps its own
    return false;
}

bool LessonArchive::UnzipCloseFile()
{
    _password.clear();
    m_index = {};
    const unzFile file = std::exchange(_unzFile, nullptr);
    const bool closed = !file || unzClose(file) == UNZ_OK;
    m_input.reset(); // minizip's close has let go of it
    return closed;
}

bool LessonArchive::UnzipFileTo(const QString &destination, bool overWrite)
{
    return UnzipFileTo(QFile::encodeName(destination), overWrite);
}

bool LessonArchive::UnzipFileTo(const QByteArray &destination, bool overWrite)
{
    m_failureReason.clear();
    if (!m_input) { // nothing open: no first entry, and none to open
        OutputErrorMessage(QStringLiteral("Failed"));
        OutputErrorMessage(QStringLiteral("Error occurs"));
        return false;
    }
    if (refusedByStructure(destination))
        return false;
    // An archive without entries, checked sound, is extracted by doing nothing.
    if (m_index.entries.isEmpty()) {
        reportCompletion();
        return true;
    }
    Extraction run(destination, overWrite, *m_input);
    if (unzGoToFirstFile(_unzFile) != UNZ_OK)
        OutputErrorMessage(QStringLiteral("Failed"));

    m_run = &run;
    const auto forget = qScopeGuard([this] { m_run = nullptr; });
    const int total = _numberOfEntries;
    int done = 0;
    do {
        const EntryOutcome outcome = extractCurrentEntry(run);
        if (outcome == EntryOutcome::Failed)
            return false;
        if (outcome == EntryOutcome::Extracted)
            reportProgress(++done, total);
    } while (unzGoToNextFile(_unzFile) == UNZ_OK);
    // minizip stopped short of the index's last entry: the rest would be lost unsaid.
    if (run.visited != m_index.entries.size()) {
        OutputErrorMessage(QString::fromLatin1(ArchiveStructureCheck::kDamaged));
        return false;
    }
    reportCompletion();
    return true;
}

// The entry minizip stands on, which must be the index's next one; its data is
// then read past the library as the index has it.
LessonArchive::EntryOutcome LessonArchive::extractCurrentEntry(Extraction &run)
{
    const qsizetype at = run.visited++;
    run.entry = at < m_index.entries.size() ? &m_index.entries[at] : nullptr;
    // The minizip this system links reads no ZIP64 block of a central record on a
    // 64-bit system: an entry whose local header offset is in one it cannot open.
    const bool libraryOpens = run.entry && !run.entry->offsetIn64BitRecord;
    if (libraryOpens && unzOpenCurrentFile2(_unzFile, nullptr, nullptr, 1) != UNZ_OK) {
        OutputErrorMessage(QStringLiteral("Error occurs"));
        return EntryOutcome::Failed;
    }
    // Open raw: the library checks the local record and finds the data. Closed on
    // every way out.
    const auto close = qScopeGuard([this] { unzCloseCurrentFile(_unzFile); });
    QByteArray name;
    if (!readCurrentName(name)) {
        OutputErrorMessage(QStringLiteral("Error occurs while getting file info"));
        return EntryOutcome::Failed;
    }
    if (!run.entry || !agreesWithIndex(*run.entry, name, libraryOpens)) {
        OutputErrorMessage(QString::fromLatin1(ArchiveStructureCheck::kDamaged));
        return EntryOutcome::Failed;
    }
    run.name = NamePolicy::entryPath(name);
    return extractIndexedEntry(run);
}

// The data is read past the library: it inflates at most the 4096 bytes it is asked
// for per call, and copies raw data a byte at a time. The minizip this system links
// has no decryption of its own either.
LessonArchive::EntryOutcome LessonArchive::extractIndexedEntry(Extraction &run)
{
    const ArchiveIndex::Entry &entry = *run.entry;
    const bool encrypted = entry.flags & ArchiveRecord::kEncrypted;
    const QByteArray password = encrypted ? passwordBytes() : QByteArray();
    if ((encrypted && password.isEmpty()) || !run.stream.start(entry, password)) {
        OutputErrorMessage(QStringLiteral("Error occurs"));
        return EntryOutcome::Failed;
    }
    if (run.name.leadsOutside) {
        OutputErrorMessage(QString::fromLatin1(kEntryOutside));
        return EntryOutcome::Failed;
    }
    return run.name.isFolder ? extractFolderEntry(run) : extractFileEntry(run);
}

// The entry's record, then its name into a buffer sized for it exactly.
bool LessonArchive::readCurrentName(QByteArray &name)
{
    unz_file_info info{};
    if (unzGetCurrentFileInfo(_unzFile, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    name = QByteArray(static_cast<qsizetype>(info.size_filename) + 1, '\0');
    unzGetCurrentFileInfo(_unzFile, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0,
                          nullptr, 0);
    name.chop(1);
    return true;
}

// minizip walks the directory on its own. The entry it stands on must be the index's:
// its record where the index read it, under the same name, and, once opened, its data
// where the index found it. A file changed in place since the index was read, or a
// directory the two read differently, so stops the extraction.
bool LessonArchive::agreesWithIndex(const ArchiveIndex::Entry &entry, const QByteArray &name,
                                    bool opened) const
{
    return unzGetOffset64(_unzFile) == entry.centralOffset && name == entry.name &&
           (!opened || unzGetCurrentFileZStreamPos64(_unzFile) == entry.dataOffset);
}

LessonArchive::EntryOutcome LessonArchive::extractFolderEntry(Extraction &run)
{
    const QList<QByteArray> &components = run.name.components;
    const int fd = run.destination.folder(components, components.size());
    if (fd < 0)
        return failWriting();
    if (opensToEveryone(run.destination.fullPath(components, components.size())))
        ::fchmod(fd, 0777);
    return EntryOutcome::Extracted;
}

LessonArchive::EntryOutcome LessonArchive::extractFileEntry(Extraction &run)
{
    const QList<QByteArray> &components = run.name.components;
    const int folderFd = run.destination.folder(components, components.size() - 1);
    if (folderFd < 0)
        return failWriting();

    const QByteArray &leaf = components.last();
    if (!run.overWrite && holdsSomething(folderFd, leaf) &&
        !OverWrite(QFile::decodeName(run.destination.fullPath(components, components.size()))))
        return EntryOutcome::Skipped;
    return copyCurrentEntry(run, folderFd);
}

// Streams the entry into a new file beside its name. The stored bytes are read 4096
// at a time and inflate straight into the writer's buffer, which reaches the disk
// in big writes. Only a file whose size and CRC came out as declared replaces
// what was at its name; any other is dropped, leaving that as it was.
LessonArchive::EntryOutcome LessonArchive::copyCurrentEntry(Extraction &run, int folderFd)
{
    const QList<QByteArray> &components = run.name.components;
    if (!run.file.open(folderFd, components.last()))
        return failWriting();

    bool readFailed = false;
    std::size_t room = 0;
    while (char *space = run.file.space(room)) {
        const long n = run.stream.read(space, room);
        if (n <= 0) {
            readFailed = n < 0;
            break;
        }
        run.file.commit(static_cast<std::size_t>(n));
    }
    // The UTC time of an extended timestamp is exact; a DOS time is local time.
    const ArchiveIndex::Entry &entry = *run.entry;
    const time_t modified =
        entry.modified ? static_cast<time_t>(*entry.modified) : run.clock.toEpoch(entry.dosDate);
    const bool written = run.file.finish(
        modified, opensToEveryone(run.destination.fullPath(components, components.size())));

    const char *fault = nullptr;
    if (readFailed)
        fault = kReadFailed;
    else if (!written)
        fault = kWriteFailed; // NOLINT(bugprone-branch-clone): as a failed placing below
    // The library stops quietly at the declared size of a damaged entry.
    else if (run.file.total() != entry.uncompressedSize || !run.stream.endedExactly())
        fault = kSizeMismatch;
    else if (run.file.crc() != entry.crc)
        fault = kCrcFailed;
    else if (!run.file.putInPlace())
        fault = kWriteFailed;
    if (!fault) {
        run.written.insert(run.file.placed());
        return EntryOutcome::Extracted;
    }
    run.file.discard();
    OutputErrorMessage(QString::fromLatin1(fault));
    return EntryOutcome::Failed;
}

int LessonArchive::openWrittenFile(const QByteArray &relativePath) const
{
    if (!m_run)
        return -1;
    const int fd = m_run->destination.openFile(relativePath.split('/'));
    struct stat st {
    };
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        m_run->written.count({st.st_dev, st.st_ino}))
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

LessonArchive::EntryOutcome LessonArchive::failWriting()
{
    OutputErrorMessage(QString::fromLatin1(kWriteFailed));
    return EntryOutcome::Failed;
}

bool LessonArchive::refusedByStructure(const QByteArray &destination)
{
    const QString reason =
        ArchiveStructureCheck::refusalReason(m_index, destination, !passwordBytes().isEmpty());
    if (reason.isEmpty())
        return false;
    OutputErrorMessage(reason);
    return true;
}

void LessonArchive::reportCompletion()
{
    if (_delegate && _delegate->respondsTo(LessonArchiveDelegate::Message::ExtractionComplete))
        _delegate->ExtractionComplete();
}

void LessonArchive::reportProgress(int done, int total)
{
    if (_delegate && _delegate->respondsTo(LessonArchiveDelegate::Message::ExtractionProgress))
        _delegate->ExtractionProgress(done, total);
}

// A password beyond ASCII has no byte form the archive could hold, so it counts as
// none at all, on both sides.
QByteArray LessonArchive::passwordBytes() const
{
    for (const QChar c : _password) {
        if (c.unicode() > 127)
            return {};
    }
    return _password.toLatin1();
}

void LessonArchive::OutputErrorMessage(const QString &message)
{
    noteFailure(message, errno);
    if (_delegate && _delegate->respondsTo(LessonArchiveDelegate::Message::ErrorMessage))
        _delegate->ErrorMessage(message);
}

// What failed, and where: the entry the library stands at, the text, and the system's
// reason where the text is of a failed read or write (other calls may fail on the way
// without harm, so the error number is no reason of their texts).
void LessonArchive::noteFailure(const QString &message, int systemError)
{
    m_failureReason = message;
    if (m_run && m_run->file.writeError())
        systemError = m_run->file.writeError();
    if (systemError &&
        (message == QLatin1String(kWriteFailed) || message == QLatin1String(kReadFailed)))
        m_failureReason += QStringLiteral(" (%1)").arg(qt_error_string(systemError));
    if (m_run && m_run->entry)
        m_failureReason =
            QStringLiteral("entry %1: %2")
                .arg(QString::fromUtf8(shownName(m_run->entry->name)), m_failureReason);
}

bool LessonArchive::OverWrite(const QString &path)
{
    if (_delegate && _delegate->respondsTo(LessonArchiveDelegate::Message::OverWriteOperation))
        return _delegate->OverWriteOperation(path);
    return true;
}

QDateTime LessonArchive::Date1980()
{
    return QDateTime(QDate(1980, 1, 1), QTime(0, 0), Qt::LocalTime);
}
