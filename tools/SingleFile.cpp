#include "tools/SingleFile.h"

#include "Unspool/archive/ArchiveIndex.h"
#include "Unspool/archive/ArchiveRecordLayout.h"
#include "foundation_ext/FileDescriptor.h"
#include "foundation_ext/FileIO.h"
#include "foundation_ext/RenameWithoutReplacing.h"
#include "tools/Progress.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>
#include <zlib.h>

namespace lessonpack
{
namespace
{

const QString kRuntimeFolder = QStringLiteral("Unspool.app/");
const QString kLauncherFolder = QStringLiteral("Wayfarer.app/");
const QString kArchive = QStringLiteral("Contents/Resources/archive.zip");
const QString kIcon = QStringLiteral("Contents/Resources/Lesson.icns");
constexpr std::size_t kPiece = 1024 * 1024;
constexpr qsizetype kIndexLimit = 0xFFFF - 128; // an end-record comment, less the last line
using ArchiveRecord::kEndRecordSize;
using ArchiveRecord::kLocatorSize;

// One file of the runtime, and where the single file carries its bytes.
struct RuntimeFile {
    QString path;   // in the runtime folder: Unspool.app/...
    QString source; // on disk
    unsigned mode = 0;
    std::uint64_t size = 0;
    QByteArray sha256; // hex
    bool inArchive = false;
    std::uint64_t offset = 0; // in the single file: its deflate data, or its entry's header
    std::uint64_t stored = 0;
};

QByteArray sha256Hex(QIODevice &device)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&device);
    return hash.result().toHex();
}

bool collectRuntime(const QString &bundle, QList<RuntimeFile> &files, QString &why)
{
    QDirIterator walk(bundle, QDir::Files | QDir::Hidden | QDir::System,
                      QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QFileInfo info(walk.next());
        const QString relative = QDir(bundle).relativeFilePath(info.filePath());
        if (relative == kArchive)
            continue;
        QFile file(info.filePath());
        if (info.isSymLink() || !info.isFile() || !file.open(QIODevice::ReadOnly)) {
            why = QStringLiteral("cannot read the runtime file %1").arg(info.filePath());
            return false;
        }
        struct stat st {
        };
        ::fstat(file.handle(), &st);
        files.append({kRuntimeFolder + relative, info.filePath(), unsigned(st.st_mode & 0755),
                      std::uint64_t(st.st_size), sha256Hex(file)});
    }
    std::sort(files.begin(), files.end(),
              [](const RuntimeFile &a, const RuntimeFile &b) { return a.path < b.path; });
    return true;
}

// Whether the entry's stored bytes inflate to exactly the runtime file.
bool entryHolds(int archive, const ArchiveIndex::Entry &entry, const RuntimeFile &file)
{
    const int method = entry.method;
    z_stream stream{};
    if (method == 8 && inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> in(kPiece), out(kPiece);
    std::uint64_t at = entry.dataOffset, left = entry.compressedSize, made = 0;
    int status = Z_OK;
    while (left > 0 && status == Z_OK) {
        const ssize_t n = preadUpTo(archive, in.data(), std::min<std::uint64_t>(left, kPiece), at);
        if (n <= 0)
            break;
        at += std::uint64_t(n);
        left -= std::uint64_t(n);
        if (method == 0) {
            hash.addData(QByteArrayView(in.data(), n));
            made += std::uint64_t(n);
            continue;
        }
        stream.next_in = reinterpret_cast<Bytef *>(in.data());
        stream.avail_in = uInt(n);
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = uInt(out.size());
            status = inflate(&stream, Z_NO_FLUSH);
            const std::size_t produced = out.size() - stream.avail_out;
            hash.addData(QByteArrayView(out.data(), qsizetype(produced)));
            made += produced;
        } while (status == Z_OK && stream.avail_out == 0);
    }
    if (method == 8)
        inflateEnd(&stream);
    return made == file.size && hash.result().toHex() == file.sha256;
}

// The runtime files that the lesson's setup launcher carries byte for byte are
// taken from its archive entries; only the rest travel on their own.
bool findInArchive(const QString &archivePath, QList<RuntimeFile> &files)
{
    const FileDescriptor archive(
        ::open(QFile::encodeName(archivePath).constData(), O_RDONLY | O_CLOEXEC));
    const ArchiveIndex index = ArchiveIndex::read(archive.get());
    const auto placed = [&index](const ArchiveIndex::Entry &e) {
        return e.dataWithin(index.fileSize);
    };
    if (index.status != ArchiveIndex::Status::Read ||
        !std::all_of(index.entries.begin(), index.entries.end(), placed))
        return false;
    QHash<QByteArray, qsizetype> byName;
    for (qsizetype i = 0; i < index.entries.size(); ++i)
        byName.insert(index.entries[i].name, i);
    for (RuntimeFile &file : files) {
        const QByteArray name = (kLauncherFolder + file.path.mid(kRuntimeFolder.size())).toUtf8();
        const qsizetype i = byName.value(name, -1);
        if (i < 0)
            continue;
        const ArchiveIndex::Entry &entry = index.entries[i];
        if ((entry.flags & ArchiveRecord::kEncrypted) || (entry.method != 0 && entry.method != 8) ||
            !entryHolds(archive.get(), entry, file))
            continue;
        file.inArchive = true;
        file.offset = entry.headerAt; // shifted by the caller
        file.stored = entry.compressedSize;
    }
    return true;
}

// The output, written front to back, counting its bytes for the progress line.
class Output
{
  public:
    Output(int fd, Progress &progress, std::uint64_t total)
        : m_fd(fd), m_progress(progress), m_total(total)
    {
    }
    std::uint64_t position() const { return m_position; }

    bool write(const char *bytes, std::size_t size)
    {
        if (!writeAll(m_fd, bytes, size))
            return false;
        m_position += size;
        m_progress.updateBytes(m_position, std::max(m_total, m_position));
        return true;
    }

    bool copy(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        std::vector<char> piece(kPiece);
        for (qint64 n; (n = file.read(piece.data(), qint64(piece.size()))) != 0;) {
            if (n < 0 || !write(piece.data(), std::size_t(n)))
                return false;
        }
        return true;
    }

    // Raw deflate, as the starter inflates it; the stored size in `stored`.
    bool deflate(const QString &path, std::uint64_t &stored)
    {
        QFile file(path);
        z_stream stream{};
        if (!file.open(QIODevice::ReadOnly) ||
            deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                         Z_DEFAULT_STRATEGY) != Z_OK)
            return false;
        const std::uint64_t start = m_position;
        std::vector<char> in(kPiece), out(kPiece);
        bool ok = true;
        for (int flush = Z_NO_FLUSH; ok && flush != Z_FINISH;) {
            const qint64 n = file.read(in.data(), qint64(in.size()));
            ok = n >= 0;
            flush = n <= 0 ? Z_FINISH : Z_NO_FLUSH;
            stream.next_in = reinterpret_cast<Bytef *>(in.data());
            stream.avail_in = uInt(std::max<qint64>(n, 0));
            do {
                stream.next_out = reinterpret_cast<Bytef *>(out.data());
                stream.avail_out = uInt(out.size());
                ::deflate(&stream, flush);
                ok = ok && write(out.data(), out.size() - stream.avail_out);
            } while (ok && stream.avail_out == 0);
        }
        deflateEnd(&stream);
        stored = m_position - start;
        return ok;
    }

  private:
    int m_fd;
    Progress &m_progress;
    std::uint64_t m_total;
    std::uint64_t m_position = 0;
};

QByteArray indexText(const QString &lessonName, const QList<RuntimeFile> &files,
                     const QByteArray &iconLine)
{
    QByteArray lines;
    QCryptographicHash runtime(QCryptographicHash::Sha256);
    for (const RuntimeFile &file : files) {
        const QByteArray described = QByteArray::number(file.mode, 8) + ' ' +
                                     QByteArray::number(file.size) + ' ' + file.sha256 + ' ';
        runtime.addData(described + file.path.toUtf8() + '\n');
        lines += "file " + described + (file.inArchive ? "entry " : "inline ") +
                 QByteArray::number(file.offset) + ' ' + QByteArray::number(file.stored) + ' ' +
                 file.path.toUtf8() + '\n';
    }
    return "lesson-file 1\nname " + lessonName.toUtf8() + "\nruntime " + runtime.result().toHex() +
           '\n' + iconLine + lines;
}

// The archive as copied into the single file lies `shift` bytes in; its entries'
// offsets stay as they are (readers find the shift from the end record), but the
// ZIP64 locator names its record absolutely. The index becomes the end record's
// comment. `archiveEnd` is where the copy ends.
bool closeArchive(int fd, std::uint64_t shift, std::uint64_t archiveEnd, const QByteArray &index,
                  Output &output)
{
    char tail[kLocatorSize + kEndRecordSize];
    if (archiveEnd < sizeof tail + shift ||
        preadUpTo(fd, tail, sizeof tail, archiveEnd - sizeof tail) != ssize_t(sizeof tail))
        return false;
    char *end = tail + kLocatorSize;
    if (QByteArray(end, 4) != ArchiveBytes::signature(ArchiveRecord::kEndSignature) ||
        end[20] != 0 || end[21] != 0)
        return false; // an end record with a comment of its own: not one we wrote
    if (QByteArray(tail, 4) == ArchiveBytes::signature(ArchiveRecord::kLocatorSignature)) {
        const std::uint64_t at =
            ArchiveBytes::u64(QByteArray::fromRawData(tail, sizeof tail), 8) + shift;
        for (int i = 0; i < 8; ++i)
            tail[8 + i] = char(at >> (8 * i));
    }
    const QByteArray last = "lesson-index " + QByteArray::number(index.size()) + ' ' +
                            QCryptographicHash::hash(index, QCryptographicHash::Sha256).toHex() +
                            '\n';
    const qsizetype comment = index.size() + last.size();
    end[20] = char(comment & 0xFF);
    end[21] = char(comment >> 8);
    return ::pwrite(fd, tail, sizeof tail, off_t(archiveEnd - sizeof tail)) ==
               ssize_t(sizeof tail) &&
           output.write(index.constData(), std::size_t(index.size())) &&
           output.write(last.constData(), std::size_t(last.size()));
}

bool writeParts(const SingleFileRequest &request, QList<RuntimeFile> &files, int fd,
                Progress &progress, QString &why)
{
    const QString archive = QDir(request.lessonBundle).filePath(kArchive);
    const QString icon = QDir(request.lessonBundle).filePath(kIcon);
    std::uint64_t total =
        std::uint64_t(QFileInfo(request.starter).size() + QFileInfo(archive).size());
    for (const RuntimeFile &file : files)
        total += file.inArchive ? 0 : file.size / 2; // about what deflate leaves
    Output output(fd, progress, total);
    why = QStringLiteral("cannot write the single file");
    if (!output.copy(request.starter))
        return false;
    for (RuntimeFile &file : files) {
        if (!file.inArchive) {
            file.offset = output.position();
            if (!output.deflate(file.source, file.stored))
                return false;
        }
    }
    QByteArray iconLine;
    if (QFile iconFile(icon); iconFile.open(QIODevice::ReadOnly)) {
        iconLine = "icon " + QByteArray::number(output.position()) + ' ' +
                   QByteArray::number(iconFile.size()) + ' ' + sha256Hex(iconFile) + '\n';
        if (!output.copy(icon))
            return false;
    }
    const std::uint64_t shift = output.position();
    for (RuntimeFile &file : files)
        file.offset += file.inArchive ? shift : 0;
    if (!output.copy(archive))
        return false;
    const QByteArray index =
        indexText(QFileInfo(request.lessonBundle).completeBaseName(), files, iconLine);
    if (index.size() > kIndexLimit) {
        why = QStringLiteral("the runtime has too many files for the single file's index");
        return false;
    }
    return closeArchive(fd, shift, output.position(), index, output);
}

bool placeFile(QTemporaryFile &partial, const QString &target, bool replace, QString &why)
{
    const QByteArray from = QFile::encodeName(partial.fileName());
    const QByteArray to = QFile::encodeName(target);
    if (::fchmod(partial.handle(), 0755) != 0 || ::fsync(partial.handle()) != 0 ||
        (replace ? std::rename(from.constData(), to.constData())
                 : renameWithoutReplacing(from.constData(), to.constData())) != 0) {
        const int error = errno;
        why = error == EEXIST ? QStringLiteral("%1 already exists (use --replace)").arg(target)
                              : QStringLiteral("cannot write %1: %2")
                                    .arg(target, QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
    partial.setAutoRemove(false);
    return true;
}

} // namespace

QString singleFilePath(const QString &bundle)
{
    QString path = QDir::cleanPath(bundle);
    if (path.endsWith(QStringLiteral(".app")))
        path.chop(4);
    return path + QStringLiteral(".run");
}

bool writeSingleFile(const SingleFileRequest &request, Progress &progress, QString &why)
{
    QList<RuntimeFile> files;
    if (!QFileInfo(request.starter).isFile()) {
        why = QStringLiteral("the lesson file starter %1 is missing").arg(request.starter);
        return false;
    }
    if (!collectRuntime(request.runtimeBundle, files, why))
        return false;
    if (!findInArchive(QDir(request.lessonBundle).filePath(kArchive), files)) {
        why = QStringLiteral("cannot read the archive of %1").arg(request.lessonBundle);
        return false;
    }
    const QString target = singleFilePath(request.lessonBundle);
    // Beside the target, so that the rename into place cannot cross file systems;
    // created with a name nobody can foresee, readable by its owner only until done.
    QTemporaryFile partial(QFileInfo(target).absolutePath() +
                           QStringLiteral("/.lesson-pack-XXXXXX"));
    if (!partial.open()) {
        why = QStringLiteral("cannot write in %1: %2")
                  .arg(QFileInfo(target).absolutePath(), partial.errorString());
        return false;
    }
    return writeParts(request, files, partial.handle(), progress, why) &&
           placeFile(partial, target, request.replace, why);
}

} // namespace lessonpack
