// Archives refused whole before anything is created, each with its own reason.
#include "ArchiveTestSupport.h"
#include "LessonArchive.h"
#include "TestFiles.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/statvfs.h>

using namespace archivetest;

namespace
{

struct RefusalCase {
    const char *what;
    const char *kind; // make_archive.py, or "zip-encrypted" for Info-ZIP's zip -P
    const char *password;
    QString reason;
};

std::ostream &operator<<(std::ostream &os, const RefusalCase &c)
{
    return os << c.what;
}

class Refusals : public ::testing::TestWithParam<RefusalCase>
{
  protected:
    QString archive() const { return tmp.path() + "/a.zip"; }
    QString dest() const { return tmp.path() + "/lessons/dest"; }

    bool make(const RefusalCase &c)
    {
        if (QByteArray(c.kind) == "zip-encrypted") {
            return testfiles::write(tmp.path() + "/src/a.txt", "secret text") &&
                   runTool("zip", {"-q", "-P", "pw", archive(), "a.txt"}, tmp.path() + "/src").ok;
        }
        if (QByteArray(c.kind) == "free-space")
            return makeArchive(c.kind, archive(), QString::number(entriesBeyondFreeSpace()));
        return makeArchive(c.kind, archive());
    }

    // Entries of 4 GiB each, enough to outgrow the free space where the tests run.
    qulonglong entriesBeyondFreeSpace() const
    {
        struct statvfs fs {
        };
        if (::statvfs(QFile::encodeName(tmp.path()).constData(), &fs) != 0)
            return 0;
        return static_cast<qulonglong>(fs.f_bavail) * fs.f_frsize / 0xFFFFFF00ull + 2;
    }

    QTemporaryDir tmp;
};

TEST_P(Refusals, CreateNothingAndSayWhy)
{
    const RefusalCase &c = GetParam();
    if (QByteArray(c.kind) == "free-space" && entriesBeyondFreeSpace() > 60000)
        GTEST_SKIP() << "too much free space to outgrow with one archive";

    // Positive control: a sound archive extracts into the same destination.
    QTemporaryDir control;
    ASSERT_TRUE(makePythonArchive(control.path() + "/ok.zip", "deflated", {{"ok.txt", "ok"}}));
    {
        LessonArchive zip;
        ASSERT_TRUE(zip.UnzipOpenFile(control.path() + "/ok.zip"));
        ASSERT_TRUE(zip.UnzipFileTo(control.path() + "/lessons/dest", true));
    }

    ASSERT_TRUE(make(c));
    RecordingDelegate delegate;
    LessonArchive zip;
    zip.setDelegate(&delegate);
    ASSERT_TRUE(c.password ? zip.UnzipOpenFile(archive(), QString::fromUtf8(c.password))
                           : zip.UnzipOpenFile(archive()));
    EXPECT_FALSE(zip.UnzipFileTo(dest(), true));
    EXPECT_EQ(delegate.errors, QStringList{c.reason});
    EXPECT_TRUE(delegate.progress.isEmpty());
    EXPECT_EQ(delegate.completions, 0);
    EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/lessons"));
}

const RefusalCase kRefusalCases[] = {
    {"two entries sharing one entry's data", "overlap", nullptr,
     "Error occurs: entry data overlaps another entry"},
    {"entry data running into the central directory", "overlap-cd", nullptr,
     "Error occurs: entry data overlaps the central directory"},
    {"entry beyond the end of the file", "outside", nullptr,
     "Error occurs: entry data lies outside the archive"},
    {"declared sizes beyond the free space", "free-space", nullptr,
     "Error occurs: not enough free space at the destination"},
    {"expansion beyond what deflate can produce", "ratio", nullptr,
     "Error occurs: entry declares an impossible compression ratio"},
    {"end record counting fewer entries", "count", nullptr,
     "Error occurs: entry count does not match the central directory"},
    {"entry count wrapped past 65535", "wrapped-count", nullptr,
     "Error occurs: entry count does not match the central directory"},
    {"NUL in a name", "control-nul", nullptr, "Error occurs: entry name holds a control character"},
    {"escape character in a name", "control-char", nullptr,
     "Error occurs: entry name holds a control character"},
    {"bzip2 entry", "method", nullptr,
     "Error occurs: entry uses an unsupported compression method"},
    {"encrypted entry without a password", "zip-encrypted", nullptr,
     "Error occurs: entry is encrypted and no password is set"},
    {"encrypted entry with a password beyond ASCII", "zip-encrypted", "p\xc3\xa4ss",
     "Error occurs: entry is encrypted and no password is set"},
    {"size marked as kept in a missing 64-bit record", "zip64-size", nullptr,
     "Error occurs: 64-bit records are inconsistent"},
    {"damaged central directory", "damaged", nullptr, "Error occurs: archive structure is damaged"},
};

INSTANTIATE_TEST_SUITE_P(Shapes, Refusals, ::testing::ValuesIn(kRefusalCases));

} // namespace
