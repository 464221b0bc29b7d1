// The trust file's byte rules: our entry is a whole line of its own, found also
// where the line ends in CRLF, never written twice, only ever appended to, and
// nothing is written where that cannot be done cleanly.
#include "TrustFile.h"

#include "QtPrinters.h"
#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace
{

// What stands at the trust file's place beforehand: "file:<content>" ("E" is our
// entry), a "folder" or "pipe" at the file, "file-at-folder", "file-at-parent", or
// "full-disk:<content>" (no write may take the file past 8 bytes).
struct TrustRow {
    const char *name, *before, *after; // after: the file's content; nullptr: nothing changes
    bool result = true;
    const char *lesson = "/l";
};

std::ostream &operator<<(std::ostream &out, const TrustRow &row)
{
    return out << row.name;
}

const TrustRow kRows[] = {
    {"freshAccountGetsTheChain", "", "E\n"},
    {"sameLessonAgainNoDuplicate", "file:E\n", nullptr},
    {"secondLessonAppended", "file:/o\n", "/o\nE\n"},
    {"emptyFile", "file:", "E\n"},
    {"unfinishedLastLineEndedFirst", "file:/o", "/o\nE\n"},
    {"listedAsUnfinishedLastLine", "file:/o\nE", nullptr},
    {"listedWithCrlf", "file:/a\r\nE\r\n/b\r\n", nullptr},
    {"listedWithCrAtTheEnd", "file:/a\r\nE\r", nullptr},
    {"crlfFileGainsALine", "file:/o\r\n", "/o\r\nE\n"},
    {"prefixOfALongerLine", "file:E/chapter\n", "E/chapter\nE\n"},
    {"endOfALongerLine", "file:/deeperE\n", "/deeperE\nE\n"},
    {"twoCarriageReturns", "file:E\r\r\n", "E\r\r\nE\n"},
    {"carriageReturnInside", "file:E\r/x\n", "E\r/x\nE\n"},
    {"otherBytesKept", "file:/j\xc3\xbc\n\xff\x80\n", "/j\xc3\xbc\n\xff\x80\nE\n"},
    {"lineBreakInTheLessonPath", "", nullptr, true, "/l\n/home"},
    {"folderAtTheFile", "folder", nullptr},
    {"pipeAtTheFile", "pipe", nullptr},
    {"fileAtTheTrustFolder", "file-at-folder", nullptr},
    {"fileAtAParentFolder", "file-at-parent", nullptr, false},
    {"writeCutShort", "full-disk:/a/pagewright_files\n", nullptr},
};

class TrustFileRules : public ::testing::TestWithParam<TrustRow>
{
};

TEST_P(TrustFileRules, LeaveTheFileAsExpected)
{
    const TrustRow &row = GetParam();
    QTemporaryDir home;
    const QString folder = wayfarer::TrustFile::trustFolderPath(home.path());
    const QString file = wayfarer::TrustFile::trustFilePath(folder);
    const QByteArray entry = wayfarer::TrustFile::trustEntry(QString::fromUtf8(row.lesson));
    const QByteArray before = QByteArray(row.before).replace("E", entry);
    const QByteArray content = before.mid(before.indexOf(':') + 1);
    if (before.startsWith("file:") || before.startsWith("full-disk:")) {
        ASSERT_TRUE(testfiles::write(file, content));
    } else if (before == "folder" || before == "pipe") {
        ASSERT_TRUE(before == "folder" ? QDir().mkpath(file)
                                       : QDir().mkpath(folder) && ::mkfifo(qPrintable(file), 0644) == 0);
    } else if (!before.isEmpty()) {
        ASSERT_TRUE(testfiles::write(before == "file-at-folder" ? folder : home.filePath("Library/Preferences"), "x"));
    }
    const QStringList state = testfiles::snapshot(home.path());
    struct stat was {}, is {};
    const bool existed = ::lstat(qPrintable(file), &was) == 0;
    rlimit limit{}, full{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    full = {8, limit.rlim_max};
    ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of killing us
    if (before.startsWith("full-disk:"))
        ::setrlimit(RLIMIT_FSIZE, &full);
    EXPECT_EQ(wayfarer::TrustFile::addEntry(folder, entry), row.result);
    ::setrlimit(RLIMIT_FSIZE, &limit);

    if (row.after) {
        EXPECT_EQ(testfiles::read(file), QByteArray(row.after).replace("E", entry));
    } else {
        EXPECT_EQ(testfiles::changes(state, testfiles::snapshot(home.path())), QStringList());
    }
    // Appended to, never written anew: a write cut short loses no line of others.
    if (existed && ::lstat(qPrintable(file), &is) == 0) {
        EXPECT_EQ(is.st_ino, was.st_ino);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, TrustFileRules, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
