// Failures stop the extraction with NO and their own text; hostile names and
// planted links never lead a write outside the destination.
#include "ArchiveTestSupport.h"
#include "LessonArchive.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace archivetest;

namespace
{

const QString kWriteFailed = QStringLiteral("Error occurs while writing file");
const QString kOutside = QStringLiteral("Error occurs: entry name leads outside the destination");

// The destination lies inside a box of sentinel files; nothing in the box but the
// destination itself may change.
class Failures : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(testfiles::write(box() + "/outside.txt", "sentinel"));
        ASSERT_TRUE(testfiles::write(box() + "/outdir/kept.txt", "kept"));
        ASSERT_TRUE(QDir().mkpath(dest()));
    }
    QString box() const { return tmp.path() + "/box"; }
    QString dest() const { return box() + "/dest"; }
    QString archive() const { return archives.path() + "/a.zip"; }

    QStringList outsideDestination() const
    {
        QStringList lines = testfiles::tree(box());
        lines.removeIf([](const QString &line) { return line.startsWith("dest"); });
        return lines;
    }

    bool extract(const QString &into)
    {
        LessonArchive zip;
        zip.setDelegate(&delegate);
        return zip.UnzipOpenFile(archive()) && zip.UnzipFileTo(into, true);
    }

    QTemporaryDir tmp;
    QTemporaryDir archives;
    RecordingDelegate delegate;
};

// ---- Damaged entry data.

struct DamageCase {
    const char *what;
    const char *kind; // make_archive.py
    QString message;
};

std::ostream &operator<<(std::ostream &os, const DamageCase &c)
{
    return os << c.what;
}

class DamagedEntries : public Failures, public ::testing::WithParamInterface<DamageCase>
{
};

// The damaged entry meets the good copy an earlier run left: that copy stays as it
// was, byte for byte, and nothing else is left beside it.
TEST_P(DamagedEntries, StopWithTheirOwnTextAndKeepTheOldFile)
{
    ASSERT_TRUE(makeArchive(GetParam().kind, archive()));
    ASSERT_TRUE(testfiles::write(dest() + "/a.txt", "the good copy of an earlier run\n"));
    const QStringList before = testfiles::tree(dest());
    EXPECT_FALSE(extract(dest()));
    EXPECT_EQ(delegate.errors, QStringList{GetParam().message});
    EXPECT_TRUE(delegate.progress.isEmpty());
    EXPECT_EQ(delegate.completions, 0);
    EXPECT_EQ(testfiles::tree(dest()), before);
}

const DamageCase kDamageCases[] = {
    {"CRC mismatch in stored data", "crc-stored", "Error occurs: CRC check failed"},
    {"CRC mismatch in deflated data", "crc-deflated", "Error occurs: CRC check failed"},
    {"CRC mismatch early in a large stored file", "crc-large-stored",
     "Error occurs: CRC check failed"},
    {"CRC mismatch of a large deflated file", "crc-large-deflated",
     "Error occurs: CRC check failed"},
    {"deflate data that cannot be inflated", "bad-deflate", "Failed to reading zip file"},
    {"stored entry shorter than declared", "short-stored",
     "Error occurs: entry size does not match"},
    {"deflated entry shorter than declared", "short-deflated",
     "Error occurs: entry size does not match"},
    {"local header disagreeing with the directory", "name-mismatch", "Error occurs"},
};

INSTANTIATE_TEST_SUITE_P(Damage, DamagedEntries, ::testing::ValuesIn(kDamageCases));

TEST_F(Failures, AWrongPasswordIsNoSuccess)
{
    ASSERT_TRUE(testfiles::write(archives.path() + "/src/a.txt", QByteArray(5000, 'a')));
    ASSERT_TRUE(
        runTool("zip", {"-q", "-P", "right", archive(), "a.txt"}, archives.path() + "/src").ok);
    LessonArchive zip;
    zip.setDelegate(&delegate);
    ASSERT_TRUE(zip.UnzipOpenFile(archive(), "right")); // positive control
    ASSERT_TRUE(zip.UnzipFileTo(tmp.path() + "/control", true));
    ASSERT_TRUE(zip.UnzipCloseFile());
    ASSERT_TRUE(zip.UnzipOpenFile(archive(), "wrong"));
    EXPECT_FALSE(zip.UnzipFileTo(dest(), true));
    ASSERT_EQ(delegate.errors.size(), 1);
    // Garbage after decryption fails as damaged data, as a stream ending early, or
    // as one that ends on time with the wrong CRC, whichever the bytes give.
    EXPECT_TRUE(delegate.errors[0] == "Error occurs: CRC check failed" ||
                delegate.errors[0] == "Failed to reading zip file" ||
                delegate.errors[0] == "Error occurs: entry size does not match")
        << delegate.errors[0].toStdString();
    EXPECT_EQ(delegate.completions, 1); // the control run only
}

// An encrypted entry whose stored bytes end inside its 12-byte encryption header
// has no content to give: it is short, not a success and not a crash.
TEST_F(Failures, AnEncryptedEntryShorterThanItsHeaderIsShort)
{
    ASSERT_TRUE(testfiles::write(archives.path() + "/src/a.txt", QByteArray(5000, 'a')));
    ASSERT_TRUE(
        runTool("zip", {"-q", "-P", "right", archive(), "a.txt"}, archives.path() + "/src").ok);
    {
        LessonArchive control; // positive control: whole, it extracts
        ASSERT_TRUE(control.UnzipOpenFile(archive(), "right"));
        ASSERT_TRUE(control.UnzipFileTo(tmp.path() + "/control", true));
    }
    QFile file(archive());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const qsizetype local = bytes.indexOf("PK\x03\x04");
    const qsizetype central = bytes.indexOf("PK\x01\x02");
    ASSERT_TRUE(local >= 0 && central > local);
    const char storedSize[4] = {5, 0, 0, 0};
    bytes.replace(local + 18, 4, storedSize, 4);
    bytes.replace(central + 20, 4, storedSize, 4);
    ASSERT_TRUE(file.seek(0) && file.write(bytes) == bytes.size());
    file.close();

    LessonArchive zip;
    zip.setDelegate(&delegate);
    ASSERT_TRUE(zip.UnzipOpenFile(archive(), "right"));
    EXPECT_FALSE(zip.UnzipFileTo(dest(), true));
    EXPECT_EQ(delegate.errors, QStringList{"Error occurs: entry size does not match"});
    EXPECT_EQ(delegate.completions, 0);
}

// ---- Names that lead outside.

struct NameCase {
    const char *what;
    const char *name;
};

std::ostream &operator<<(std::ostream &os, const NameCase &c)
{
    return os << c.what;
}

class OutsideNames : public Failures, public ::testing::WithParamInterface<NameCase>
{
};

TEST_P(OutsideNames, StopBeforeWritingAnything)
{
    const QString name = QString::fromLatin1(GetParam().name);
    ASSERT_TRUE(makePythonArchive(archive(), "deflated",
                                  {{"ok.txt", "ok"}, {name, "evil"}, {"after.txt", "after"}}));
    const QStringList before = outsideDestination();
    EXPECT_FALSE(extract(dest()));
    EXPECT_EQ(delegate.errors, QStringList{kOutside});
    EXPECT_EQ(testfiles::read(dest() + "/ok.txt"), "ok"); // entries before it were written
    EXPECT_FALSE(QFileInfo::exists(dest() + "/after.txt"));
    EXPECT_EQ(delegate.progress, (QList<QPair<int, int>>{{1, 3}}));
    EXPECT_EQ(delegate.completions, 0);
    EXPECT_EQ(outsideDestination(), before);
}

const NameCase kNameCases[] = {
    {"parent at the start", "../evil.txt"},
    {"parent in the middle", "a/../../evil.txt"},
    {"parent at the end", "a/b/.."},
    {"parent alone", ".."},
    {"parent as a folder entry", "../evil/"},
    {"parent with backslashes", "..\\evil.txt"},
    {"parent with mixed separators", "a\\..\\../evil.txt"},
    {"absolute with a parent", "/../evil.txt"},
};

INSTANTIATE_TEST_SUITE_P(Names, OutsideNames, ::testing::ValuesIn(kNameCases));

// ---- Links and other things in the way.

struct InTheWayCase {
    const char *what;
    void (*plant)(const QString &dest, const QString &box);
    const char *name;
    const char *content; // null: a folder entry
};

std::ostream &operator<<(std::ostream &os, const InTheWayCase &c)
{
    return os << c.what;
}

class InTheWay : public Failures, public ::testing::WithParamInterface<InTheWayCase>
{
};

TEST_P(InTheWay, IsAWriteFailureAndStaysUntouched)
{
    const InTheWayCase &c = GetParam();
    const QString text = c.content ? QString::fromLatin1(c.content) : QString();
    ASSERT_TRUE(makePythonArchive(archive(), "deflated", {{QString::fromLatin1(c.name), text}}));
    // Positive control: into a clean folder the same archive extracts.
    ASSERT_TRUE(extract(tmp.path() + "/clean")) << delegate.errors.join('|').toStdString();
    delegate = RecordingDelegate();

    c.plant(dest(), box());
    const QStringList before = outsideDestination();
    const QStringList plantedBefore = testfiles::tree(dest());
    EXPECT_FALSE(extract(dest()));
    EXPECT_EQ(delegate.errors, QStringList{kWriteFailed});
    EXPECT_EQ(delegate.completions, 0);
    EXPECT_EQ(outsideDestination(), before);
    EXPECT_EQ(testfiles::tree(dest()), plantedBefore);
}

void linkTo(const QString &target, const QString &link)
{
    QDir().mkpath(QFileInfo(link).path());
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()),
              0);
}

const InTheWayCase kInTheWayCases[] = {
    {"link at the entry path",
     [](const QString &d, const QString &b) { linkTo(b + "/outside.txt", d + "/target.txt"); },
     "target.txt", "evil"},
    {"dangling link at the entry path",
     [](const QString &d, const QString &b) { linkTo(b + "/created.txt", d + "/target.txt"); },
     "target.txt", "evil"},
    {"link at the parent folder",
     [](const QString &d, const QString &b) { linkTo(b + "/outdir", d + "/lnk"); }, "lnk/x.txt",
     "evil"},
    {"link at a folder higher up",
     [](const QString &d, const QString &b) { linkTo(b + "/outdir", d + "/a/lnk"); },
     "a/lnk/b/c/x.txt", "evil"},
    {"link at a parent named with backslashes",
     [](const QString &d, const QString &b) { linkTo(b + "/outdir", d + "/lnk"); }, "lnk\\x.txt",
     "evil"},
    {"folder entry below a link",
     [](const QString &d, const QString &b) { linkTo(b + "/outdir", d + "/lnk"); }, "lnk/sub/",
     nullptr},
    {"folder entry at a link",
     [](const QString &d, const QString &b) { linkTo(b + "/outdir", d + "/lnk"); }, "lnk/",
     nullptr},
    {"relative link leading up",
     [](const QString &d, const QString &) { linkTo("../outdir", d + "/lnk"); }, "lnk/x.txt",
     "evil"},
    {"a file where a folder must go",
     [](const QString &d, const QString &) { testfiles::write(d + "/a", "file"); }, "a/b.txt",
     "evil"},
    {"a file where a folder entry's folder must go",
     [](const QString &d, const QString &) { testfiles::write(d + "/a", "file"); }, "a/", nullptr},
    {"a folder where the file must go",
     [](const QString &d, const QString &) { QDir().mkpath(d + "/a.txt"); }, "a.txt", "evil"},
};

INSTANTIATE_TEST_SUITE_P(Planted, InTheWay, ::testing::ValuesIn(kInTheWayCases));

// A FIFO would block an open for writing; reading it for a snapshot would as well,
// so only its type is compared here.
TEST_F(Failures, AFifoWhereTheFileMustGoIsAWriteFailure)
{
    ASSERT_TRUE(makePythonArchive(archive(), "deflated", {{"pipe", "evil"}}));
    ASSERT_TRUE(extract(tmp.path() + "/clean")); // positive control
    delegate = RecordingDelegate();
    ASSERT_EQ(::mkfifo(QFile::encodeName(dest() + "/pipe").constData(), 0644), 0);
    EXPECT_FALSE(extract(dest()));
    EXPECT_EQ(delegate.errors, QStringList{kWriteFailed});
    EXPECT_TRUE(S_ISFIFO(testfiles::modeOf(dest() + "/pipe")));
}

TEST_F(Failures, AHardLinkedFileIsReplacedNotWrittenThrough)
{
    ASSERT_TRUE(makePythonArchive(archive(), "deflated", {{"h.txt", "new"}}));
    ASSERT_EQ(::link(QFile::encodeName(box() + "/outside.txt").constData(),
                     QFile::encodeName(dest() + "/h.txt").constData()),
              0);
    ASSERT_TRUE(extract(dest()));
    EXPECT_EQ(testfiles::read(dest() + "/h.txt"), "new");
    EXPECT_EQ(testfiles::read(box() + "/outside.txt"), "sentinel");
}

TEST_F(Failures, AnUnwritableDestinationIsAWriteFailure)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into any folder";
    ASSERT_TRUE(makePythonArchive(archive(), "deflated", {{"a.txt", "a"}}));
    ASSERT_TRUE(QFile::setPermissions(dest(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    EXPECT_FALSE(extract(dest()));
    EXPECT_EQ(delegate.errors, QStringList{kWriteFailed});
}

// ---- A full disk, played by a file-size limit in a child process.

struct LimitCase {
    const char *what;
    rlim_t limit; // RLIM_INFINITY: no limit
    int exitCode; // 0 YES, 1 NO with the write failure text, 2 anything else
};

std::ostream &operator<<(std::ostream &os, const LimitCase &c)
{
    return os << c.what;
}

class FullDisk : public Failures, public ::testing::WithParamInterface<LimitCase>
{
};

int extractUnderLimit(const QString &archive, const QString &dest, rlim_t limit)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const struct rlimit size {
            limit, limit
        };
        ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of killing
        if (::setrlimit(RLIMIT_FSIZE, &size) != 0)
            ::_exit(3);
        RecordingDelegate delegate;
        LessonArchive zip;
        zip.setDelegate(&delegate);
        const bool done = zip.UnzipOpenFile(archive) && zip.UnzipFileTo(dest, true);
        ::_exit(done ? 0 : delegate.errors == QStringList{kWriteFailed} ? 1 : 2);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST_P(FullDisk, EndsWithNo)
{
    QByteArray big(300000, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((static_cast<unsigned>(i) * 7919u) % 251u);
    ASSERT_TRUE(testfiles::write(archives.path() + "/src/big.bin", big));
    ASSERT_TRUE(runTool("zip", {"-q", archive(), "big.bin"}, archives.path() + "/src").ok);
    EXPECT_EQ(extractUnderLimit(archive(), dest(), GetParam().limit), GetParam().exitCode);
}

const LimitCase kLimitCases[] = {
    {"no limit (control)", RLIM_INFINITY, 0},
    {"nothing may be written", 0, 1},
    {"less than one buffer", 4096, 1},
    {"64 KiB", 65536, 1},
};

INSTANTIATE_TEST_SUITE_P(Limits, FullDisk, ::testing::ValuesIn(kLimitCases));

} // namespace
