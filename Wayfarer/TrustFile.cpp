#include "TrustFile.h"

#include "FileDescriptor.h"
#include "FileIO.h"
#include "NSFileManagerPathCategory.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wayfarer::TrustFile
{

namespace
{

const char kTrustFolderBelowHome[] =
    "/Library/Preferences/Tamarind/Glimmer Player/#Security/GlimmerPlayerTrust";
const char kTrustFileName[] = "brindle_local.cfg";
const char kContentFolderName[] = "/pagewright_files";

bool existsAt(const QByteArray &path)
{
    struct stat st {
    };
    return ::stat(path.constData(), &st) == 0; // a file there counts as well
}

// The bytes go out in one write where the system allows, so that an appender in
// another program cannot land in the middle of our line.
bool writeBytes(int fd, const QByteArray &bytes)
{
    return writeAll(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Whether the file is settled, or the other way of writing it has to be tried
// (the file vanished or appeared between our looks at it).
enum class Outcome { Settled, TryOtherWay };

// A new file made by us holds just our line. Someone else may make it between our
// two opens; then their file is appended to like any other.
Outcome createWithEntry(const QByteArray &filePath, const QByteArray &entry)
{
    const FileDescriptor file(
        ::open(filePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!file.isOpen())
        return errno == EEXIST ? Outcome::TryOtherWay : Outcome::Settled;
    writeBytes(file.get(), entry + '\n');
    return Outcome::Settled;
}

// Never rewrites the file: what others wrote stays put even if we are cut short.
Outcome appendUnlessListed(const QByteArray &filePath, const QByteArray &entry)
{
    // Non-blocking, so that a pipe planted at the path cannot hang us; only a
    // regular file is ever read or appended to.
    const FileDescriptor file(
        ::open(filePath.constData(), O_RDWR | O_APPEND | O_NONBLOCK | O_CLOEXEC));
    if (!file.isOpen())
        return errno == ENOENT ? Outcome::TryOtherWay : Outcome::Settled;
    struct stat st {
    };
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Outcome::Settled;
    QByteArray content;
    if (!readToEnd(file.get(),
                   [&content](const char *piece, std::size_t size) {
                       content.append(piece, static_cast<qsizetype>(size));
                   }) ||
        containsLine(content, entry))
        return Outcome::Settled;
    writeBytes(file.get(), appendixFor(content, entry));
    return Outcome::Settled;
}

} // namespace

QString trustFolderPath(const QString &homeDirectory)
{
    return homeDirectory + QLatin1String(kTrustFolderBelowHome);
}

QString trustFilePath(const QString &trustFolder)
{
    return trustFolder + u'/' + QLatin1String(kTrustFileName);
}

QByteArray trustEntry(const QString &lessonFolder)
{
    return QFile::encodeName(lessonFolder) + kContentFolderName;
}

bool containsLine(const QByteArray &content, const QByteArray &entry)
{
    qsizetype lineStart = 0;
    while (lineStart < content.size()) {
        qsizetype lineEnd = content.indexOf('\n', lineStart);
        if (lineEnd < 0)
            lineEnd = content.size();
        QByteArrayView line = QByteArrayView(content).sliced(lineStart, lineEnd - lineStart);
        // A file another tool wrote with CRLF line ends lists the entry all the same.
        if (line.endsWith('\r'))
            line.chop(1);
        if (line == entry)
            return true;
        lineStart = lineEnd + 1;
    }
    return false;
}

QByteArray appendixFor(const QByteArray &content, const QByteArray &entry)
{
    const bool unfinished = !content.isEmpty() && !content.endsWith('\n');
    return (unfinished ? QByteArray("\n") : QByteArray()) + entry + '\n';
}

bool addEntry(const QString &trustFolder, const QByteArray &entry)
{
    // A line break in the lesson's path would split our line in two and trust
    // whatever folder the first half names.
    if (entry.contains('\n') || entry.contains('\r'))
        return true;

    const QByteArray folder = QFile::encodeName(trustFolder);
    if (!existsAt(folder) &&
        !CreateDirectoriesWithIntermediates::createDirectoryAtPath(folder, true))
        return false;

    const QByteArray filePath = QFile::encodeName(trustFilePath(trustFolder));
    if (appendUnlessListed(filePath, entry) == Outcome::Settled)
        return true;
    if (createWithEntry(filePath, entry) == Outcome::Settled)
        return true;
    appendUnlessListed(filePath, entry);
    return true;
}

} // namespace wayfarer::TrustFile
