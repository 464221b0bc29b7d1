#include "Wayfarer/TrustFile.h"

#include "foundation_ext/FileDescriptor.h"
#include "foundation_ext/FileIO.h"
#include "foundation_ext/NSFileManagerPathCategory.h"

#include <cerrno>
#include <cstring>
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

// Looks for `entry` among the lines of a file handed over piece by piece, holding
// no more than where the current line stands against it.
class LineFinder
{
  public:
    explicit LineFinder(const QByteArray &entry) : m_entry(entry) {}

    void feed(const char *piece, std::size_t size)
    {
        if (size > 0)
            m_last = piece[size - 1];
        for (const char *end = piece + size; piece < end;) {
            if (m_at < 0) { // the line differs already: on to its end
                piece = static_cast<const char *>(std::memchr(piece, '\n', end - piece));
                if (!piece)
                    return;
            }
            take(*piece++);
        }
    }
    // An unfinished last line counts as a line.
    bool found() const { return m_found || matches(); }
    bool endsUnfinished() const { return m_last != '\n'; }

  private:
    bool matches() const { return m_at == m_entry.size() || m_at == m_entry.size() + 1; }
    void take(char c)
    {
        if (c == '\n') {
            m_found = m_found || matches();
            m_at = 0;
        } else if (m_at >= 0 && m_at < m_entry.size() && c == m_entry[m_at]) {
            ++m_at;
        } else {
            m_at = m_at == m_entry.size() && c == '\r' ? m_at + 1 : -1;
        }
    }

    QByteArrayView m_entry;
    qsizetype m_at = 0; // bytes of the entry the current line matches so far; -1: none
    bool m_found = false;
    char m_last = '\n'; // an empty file has no unfinished line
};

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
    LineFinder lines(entry);
    if (!readToEnd(file.get(),
                   [&lines](const char *piece, std::size_t size) { lines.feed(piece, size); }) ||
        lines.found())
        return Outcome::Settled;
    writeBytes(file.get(), (lines.endsUnfinished() ? "\n" : "") + entry + '\n');
    return Outcome::Settled;
}

} // namespace

QByteArray trustFolderPath(const QByteArray &homeDirectory)
{
    return homeDirectory + kTrustFolderBelowHome;
}

QByteArray trustFilePath(const QByteArray &trustFolder)
{
    return trustFolder + '/' + kTrustFileName;
}

QByteArray trustEntry(const QByteArray &lessonFolder)
{
    return lessonFolder + kContentFolderName;
}

bool addEntry(const QByteArray &trustFolder, const QByteArray &entry)
{
    // A line break in the lesson's path would split our line in two and trust
    // whatever folder the first half names.
    if (entry.contains('\n') || entry.contains('\r'))
        return true;

    if (!existsAt(trustFolder) &&
        !CreateDirectoriesWithIntermediates::createDirectoryAtPath(trustFolder, true))
        return false;

    const QByteArray filePath = trustFilePath(trustFolder);
    if (appendUnlessListed(filePath, entry) == Outcome::Settled)
        return true;
    if (createWithEntry(filePath, entry) == Outcome::Settled)
        return true;
    appendUnlessListed(filePath, entry);
    return true;
}

} // namespace wayfarer::TrustFile
