#include "Unspool/LessonArchive.h"

#include "Unspool/archive/ArchiveCentralDirectory.h"
#include "Unspool/archive/ArchiveDestination.h"
#include "Unspool/archive/ArchiveEntryName.h"
#include "Unspool/archive/ArchiveEntryStream.h"
#include "Unspool/archive/ArchiveFileWriter.h"
#include "Unspool/archive/ArchiveInputFile.h"
#include "Unspool/archive/ArchiveStructureCheck.h"
#include "Unspool/archive/ArchiveTime.h"
#include "foundation_ext/FileDescriptor.h"

#include <QDate>
#include <QFile>
#include <QScopeGuard>
#include <QTime>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include <unzip.h>
#include <zlib.h>

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

// An archive of its end record alone, which the library refuses to open.
bool holdsNoEntries(const QString &path)
{
    const FileDescriptor file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    const ArchiveCentralDirectory directory =
        file.isOpen() ? ArchiveCentralDirectory::read(file.get()) : ArchiveCentralDirectory{};
    return directory.status == ArchiveCentralDirectory::Status::Read &&
           directory.entries.isEmpty() && directory.declaredCount == 0;
}

bool holdsSomething(int folderFd, const QByteArray &name)
{
    struct stat st {
    };
    return ::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// The entry open in the library, raw: the library checks its local record and
// finds its data, which the extraction then reads itself. Closed on every way out.
class OpenEntry
{
  public:
    explicit OpenEntry(unzFile file) : m_file(file) {}
    ~OpenEntry() { unzCloseCurrentFile(m_file); }
    OpenEntry(const OpenEntry &) = delete;
    OpenEntry &operator=(const OpenEntry &) = delete;

  private:
    unzFile m_file;
};

// The name of the entry the library stands at, control characters shown as "?", so
// that a line in a log stays one line and shows no terminal codes.
QByteArray currentEntryName(unzFile file)
{
    unz_file_info info{};
    if (unzGetCurrentFileInfo(file, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return {};
    QByteArray name(static_cast<qsizetype>(info.size_filename) + 1, '\0');
    unzGetCurrentFileInfo(file, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0,
                          nullptr, 0);
    name.truncate(name.indexOf('\0'));
    for (char &c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return name;
}

} // namespace

struct LessonArchive::Extraction {
    Extraction(const QByteArray &destinationPath, bool overWrite, ArchiveInputFile &input)
        : destination(destinationPath), stream(input), overWrite(overWrite),
          places(ArchiveStructureCheck::entryPlaces(input.descriptor()))
    {
    }
    ArchiveDestination destination;
    ArchiveFileWriter file;
    ArchiveEntryStream stream;
    ArchiveTime::LocalTimeConverter clock;
    unz_file_info info{};
    ArchiveEntryName name;
    bool overWrite;
    QList<ArchiveStructureCheck::EntryPlace> places; // the entries' data, in order
    qsizetype index = 0;
    std::optional<std::int64_t> modified;      // the current entry's UTC time, if it has one
    std::set<std::pair<dev_t, ino_t>> written; // every file put in place
};

LessonArchive::LessonArchive() : m_input(std::make_unique<ArchiveInputFile>()) {}

LessonArchive::~LessonArchive()
{
    CloseZipFile2();
    if (_unzFile)
        unzClose(_unzFile);
}

// Reading.

bool LessonArchive::UnzipOpenFile(const QString &path)
{
    // An archive opened before is let go first, not leaked; its password stays.
    if (_unzFile) {
        unzClose(_unzFile);
        _unzFile = nullptr;
        _numberOfEntries = 0;
    }
    zlib_filefunc64_def input = m_input->functions();
    _unzFile = unzOpen2_64(QFile::encodeName(path).constData(), &input);
    m_emptyArchive = !_unzFile && holdsNoEntries(path);
    if (m_emptyArchive)
        _numberOfEntries = 0;
    if (_unzFile) {
        unz_global_info info{};
        if (unzGetGlobalInfo(_unzFile, &info) == UNZ_OK)
            _numberOfEntries = static_cast<int>(info.number_entry);
    }
    return _unzFile != nullptr || m_emptyArchive;
}

bool LessonArchive::UnzipOpenFile(const QString &path, const QString &password)
{
    _password = password;
    return UnzipOpenFile(path);
}

bool LessonArchive::UnzipCloseFile()
{
    _password.clear();
    m_emptyArchive = false;
    if (!_unzFile)
        return true;
    const int closed = unzClose(_unzFile);
    _unzFile = nullptr;
    return closed == UNZ_OK;
}

bool LessonArchive::UnzipFileTo(const QString &destination, bool overWrite)
{
    return UnzipFileTo(QFile::encodeName(destination), overWrite);
}

bool LessonArchive::UnzipFileTo(const QByteArray &destination, bool overWrite)
{
    m_failureReason.clear();
    if (refusedByStructure(destination))
        return false;
    Extraction run(destination, overWrite, *m_input);
    // An archive without entries, checked sound, is extracted by doing nothing.
    if (m_emptyArchive || (_unzFile && run.places.isEmpty())) {
        reportCompletion();
        return true;
    }
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
    reportCompletion();
    return true;
}

LessonArchive::EntryOutcome LessonArchive::extractCurrentEntry(Extraction &run)
{
    // Sizes and offsets from the structure check's reading, which knows ZIP64 blocks.
    const ArchiveStructureCheck::EntryPlace place = run.places.value(run.index++);
    if (run.index > run.places.size() ||
        (place.libraryOpens && unzOpenCurrentFile2(_unzFile, nullptr, nullptr, 1) != UNZ_OK)) {
        OutputErrorMessage(QStringLiteral("Error occurs"));
        return EntryOutcome::Failed;
    }
    OpenEntry entry(_unzFile);
    if (!readCurrentInfo(run)) {
        OutputErrorMessage(QStringLiteral("Error occurs while getting file info"));
        return EntryOutcome::Failed;
    }

    // The data is read past the library: it inflates at most the 4096 bytes it is
    // asked for per call, and copies raw data a byte at a time. The minizip this
    // system links has no decryption of its own either.
    ArchiveEntryStream::Entry data;
    data.offset = place.dataOffset;
    data.storedSize = run.info.compressed_size = place.storedSize;
    data.declaredSize = run.info.uncompressed_size = place.declaredSize;
    data.method = run.info.compression_method;
    run.modified = place.modified;
    if (run.info.flag & 1)
        data.password = passwordBytes();
    if ((run.info.flag & 1 && data.password.isEmpty()) || !run.stream.start(data)) {
        OutputErrorMessage(QStringLiteral("Error occurs"));
        return EntryOutcome::Failed;
    }
    if (run.name.leadsOutside) {
        OutputErrorMessage(QString::fromLatin1(kEntryOutside));
        return EntryOutcome::Failed;
    }
    if (run.name.isFolder)
        return extractFolderEntry(run);

    return extractFileEntry(run);
}

// The entry's record, then its name into a buffer sized for it exactly.
bool LessonArchive::readCurrentInfo(Extraction &run)
{
    run.info = unz_file_info{};
    if (unzGetCurrentFileInfo(_unzFile, &run.info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    QByteArray raw(static_cast<qsizetype>(run.info.size_filename) + 1, '\0');
    unz_file_info again{}; // this minizip writes the record whether asked for or not
    unzGetCurrentFileInfo(_unzFile, &again, raw.data(), static_cast<uLong>(raw.size()), nullptr, 0,
                          nullptr, 0);
    run.name = ArchiveEntryName::parse(QByteArray(raw.constData())); // up to the first NUL
    return true;
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
    const time_t modified = run.modified ? static_cast<time_t>(*run.modified)
                                         : run.clock.toEpoch(run.info.dosDate, run.info.tmu_date);
    const bool written = run.file.finish(
        modified, opensToEveryone(run.destination.fullPath(components, components.size())));

    const char *fault = nullptr;
    if (readFailed)
        fault = kReadFailed;
    else if (!written)
        fault = kWriteFailed;
    // The library stops quietly at the declared size of a damaged entry.
    else if (run.file.total() != run.info.uncompressed_size || !run.stream.endedExactly())
        fault = kSizeMismatch;
    else if (run.file.crc() != run.info.crc)
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
    if (!_unzFile)
        return false;
    const QString reason = ArchiveStructureCheck::refusalReason(m_input->descriptor(), destination,
                                                                !passwordBytes().isEmpty());
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
    if (m_run)
        m_failureReason = QStringLiteral("entry %1: %2")
                              .arg(QString::fromUtf8(currentEntryName(_unzFile)), m_failureReason);
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
