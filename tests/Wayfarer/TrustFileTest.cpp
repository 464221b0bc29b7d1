#include "TrustFile.h"
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

namespace TrustFile = wayfarer::TrustFile;

namespace
{

// What stands in the account before the lesson is launched.
enum class Setup {
    FreshAccount,        // no trust folder at all
    TrustFileWith,       // the trust file holds `before`
    FolderInPlaceOfFile, // a folder named like the trust file
    FileInPlaceOfFolder, // a plain file where the trust folder belongs
    FileInPlaceOfParent, // a plain file where ~/Library/Preferences belongs
};

struct TrustCase {
    const char *name;
    Setup setup;
    const char *lessonName; // the lesson folder below the test folder
    QByteArray before;      // "@ENTRY@" stands for this lesson's entry
    bool result;
    QByteArray after; // the trust file afterwards; null: nothing at all may change
};

std::ostream &operator<<(std::ostream &os, const TrustCase &c)
{
    return os << c.name << " (lesson \"" << c.lessonName << "\", before \""
              << c.before.toStdString() << "\")";
}

const QByteArray kOther = "/srv/other lesson/pagewright_files";

const TrustCase kCases[] = {
    {"fresh_account_creates_the_chain", Setup::FreshAccount, "Lesson", {}, true, "@ENTRY@\n"},
    {"same_lesson_again_unchanged", Setup::TrustFileWith, "Lesson", "@ENTRY@\n", true, "@ENTRY@\n"},
    {"second_lesson_appends", Setup::TrustFileWith, "Lesson", kOther + "\n", true,
     kOther + "\n@ENTRY@\n"},
    {"listed_among_others", Setup::TrustFileWith, "Lesson", "/a\n@ENTRY@\n/b\n", true,
     "/a\n@ENTRY@\n/b\n"},
    {"no_final_line_feed_gets_one_first", Setup::TrustFileWith, "Lesson", kOther, true,
     kOther + "\n@ENTRY@\n"},
    {"listed_as_unfinished_last_line", Setup::TrustFileWith, "Lesson", kOther + "\n@ENTRY@", true,
     kOther + "\n@ENTRY@"},
    {"empty_file", Setup::TrustFileWith, "Lesson", "", true, "@ENTRY@\n"},
    {"listed_with_crlf_unchanged", Setup::TrustFileWith, "Lesson", "/a\r\n@ENTRY@\r\n/b\r\n", true,
     "/a\r\n@ENTRY@\r\n/b\r\n"},
    {"crlf_file_gains_a_line_feed_line", Setup::TrustFileWith, "Lesson", kOther + "\r\n", true,
     kOther + "\r\n@ENTRY@\n"},
    {"longer_line_ending_in_entry_is_not_it", Setup::TrustFileWith, "Lesson", "/deeper@ENTRY@\n",
     true, "/deeper@ENTRY@\n@ENTRY@\n"},
    {"longer_line_starting_with_entry_is_not_it", Setup::TrustFileWith, "Lesson",
     "@ENTRY@/chapter\n", true, "@ENTRY@/chapter\n@ENTRY@\n"},
    {"non_ascii_lines_kept_and_entry_appended", Setup::TrustFileWith, "Lesson",
     "/home/j\xc3\xbcrgen/pagewright_files\n\xff\xfe\x80 not text\n", true,
     "/home/j\xc3\xbcrgen/pagewright_files\n\xff\xfe\x80 not text\n@ENTRY@\n"},
    {"non_ascii_lesson_path_as_file_system_bytes",
     Setup::FreshAccount,
     "Lekt\xc3\xb6"
     "ren \xe6\x97\xa5",
     {},
     true,
     "@ENTRY@\n"},
    {"blanks_and_percent_in_lesson_path",
     Setup::FreshAccount,
     "My Lesson 100% %@ %1",
     {},
     true,
     "@ENTRY@\n"},
    {"folder_in_place_of_file_left_alone", Setup::FolderInPlaceOfFile, "Lesson", {}, true, {}},
    {"file_in_place_of_trust_folder_left_alone",
     Setup::FileInPlaceOfFolder,
     "Lesson",
     {},
     true,
     {}},
    {"file_in_place_of_parent_folder_fails", Setup::FileInPlaceOfParent, "Lesson", {}, false, {}},
    {"line_break_in_lesson_path_writes_nothing", Setup::TrustFileWith, "Lesson\n/home",
     kOther + "\n", true, kOther + "\n"},
};

class TrustFileCases : public ::testing::TestWithParam<TrustCase>
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        home = tmp.path() + "/home";
        ASSERT_TRUE(QDir().mkpath(home));
        lesson = tmp.path() + "/lessons/" + QString::fromUtf8(GetParam().lessonName);
        folder = TrustFile::trustFolderPath(home);
        file = TrustFile::trustFilePath(folder);
        entry = TrustFile::trustEntry(lesson);
    }

    QByteArray expand(QByteArray text) const { return text.replace("@ENTRY@", entry); }

    void arrange(const TrustCase &c) const
    {
        switch (c.setup) {
        case Setup::FreshAccount:
            return;
        case Setup::TrustFileWith:
            ASSERT_TRUE(testfiles::write(file, expand(c.before)));
            return;
        case Setup::FolderInPlaceOfFile:
            ASSERT_TRUE(QDir().mkpath(file));
            return;
        case Setup::FileInPlaceOfFolder:
            ASSERT_TRUE(testfiles::write(folder, "not a folder\n"));
            return;
        case Setup::FileInPlaceOfParent:
            ASSERT_TRUE(testfiles::write(home + "/Library/Preferences", "not a folder\n"));
            return;
        }
    }

    QTemporaryDir tmp;
    QString home, lesson, folder, file;
    QByteArray entry;
};

TEST_P(TrustFileCases, LeaveTheFileAsExpected)
{
    const TrustCase &c = GetParam();
    arrange(c);
    const QStringList before = testfiles::tree(home);

    EXPECT_EQ(TrustFile::addEntry(folder, entry), c.result);

    if (c.after.isNull()) {
        EXPECT_EQ(testfiles::tree(home), before);
        return;
    }
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(testfiles::read(file), expand(c.after));
}

INSTANTIATE_TEST_SUITE_P(Rows, TrustFileCases, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

class TrustFileTest : public ::testing::Test
{
  protected:
    QTemporaryDir tmp;
};

TEST_F(TrustFileTest, FolderLiesUnderTheRealHomeFolder)
{
    EXPECT_EQ(TrustFile::trustFolderPath("/var/lib/learner"),
              "/var/lib/learner/Library/Preferences/Tamarind/Glimmer Player/#Security/"
              "GlimmerPlayerTrust");
    EXPECT_EQ(TrustFile::trustFilePath("/t"), "/t/brindle_local.cfg");
}

TEST_F(TrustFileTest, EntryIsTheContentFolderInFileSystemBytes)
{
    EXPECT_EQ(TrustFile::trustEntry("/x/My 100% Lesson"), "/x/My 100% Lesson/pagewright_files");
    EXPECT_EQ(TrustFile::trustEntry(QString::fromUtf8("/x/\xc3\xbc")),
              "/x/\xc3\xbc/pagewright_files");
}

// A pipe at the file's path must neither hang the launcher nor be written to.
TEST_F(TrustFileTest, PipeInPlaceOfTheFileIsLeftAlone)
{
    const QString folder = TrustFile::trustFolderPath(tmp.path());
    const QString file = TrustFile::trustFilePath(folder);
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::mkfifo(QFile::encodeName(file).constData(), 0644), 0);

    EXPECT_TRUE(TrustFile::addEntry(folder, TrustFile::trustEntry("/lessons/One")));
    EXPECT_TRUE(S_ISFIFO(testfiles::modeOf(file)));
}

TEST_F(TrustFileTest, FreshAccountGetsTheWholeChainAndExactContent)
{
    const QString home = tmp.path() + "/home";
    const QString folder = TrustFile::trustFolderPath(home);
    ASSERT_FALSE(QFileInfo::exists(home));

    ASSERT_TRUE(TrustFile::addEntry(folder, "/l/pagewright_files"));

    const QStringList tree = testfiles::tree(home);
    ASSERT_EQ(tree.size(), 7) << tree.join('\n').toStdString();
    for (const char *dir : {"Library", "Library/Preferences", "Library/Preferences/Tamarind",
                            "Library/Preferences/Tamarind/Glimmer Player",
                            "Library/Preferences/Tamarind/Glimmer Player/#Security",
                            "Library/Preferences/Tamarind/Glimmer Player/#Security/"
                            "GlimmerPlayerTrust"})
        EXPECT_TRUE(QFileInfo(home + "/" + dir).isDir()) << dir;
    EXPECT_EQ(testfiles::read(folder + "/brindle_local.cfg"), "/l/pagewright_files\n");
}

TEST_F(TrustFileTest, SecondLaunchLeavesTheFileByteForByteUnchanged)
{
    const QString folder = TrustFile::trustFolderPath(tmp.path());
    ASSERT_TRUE(TrustFile::addEntry(folder, "/l/pagewright_files"));
    const QStringList first = testfiles::tree(tmp.path());
    ASSERT_TRUE(TrustFile::addEntry(folder, "/l/pagewright_files"));
    EXPECT_EQ(testfiles::tree(tmp.path()), first);
}

// Appending, not rewriting: the same inode keeps the others' bytes in place, so a
// write cut short could only lose our own line.
TEST_F(TrustFileTest, NewEntryIsAppendedToTheSameFile)
{
    const QString folder = TrustFile::trustFolderPath(tmp.path());
    const QString file = TrustFile::trustFilePath(folder);
    ASSERT_TRUE(testfiles::write(file, "/a/pagewright_files\n"));
    struct stat before {
    };
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &before), 0);

    ASSERT_TRUE(TrustFile::addEntry(folder, "/b/pagewright_files"));

    struct stat after {
    };
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(testfiles::read(file), "/a/pagewright_files\n/b/pagewright_files\n");
}

// Runs addEntry in a child process whose files may not grow past `limit` bytes,
// the way a full disk or quota cuts a write short; returns the child's exit status.
int addEntryUnderFileSizeLimit(const QString &folder, const QByteArray &entry, rlim_t limit)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN); // a refused write then fails with EFBIG instead
        const rlimit cap{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &cap);
        ::_exit(TrustFile::addEntry(folder, entry) ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Whatever cuts our write short, the lines already there stay whole: we only ever
// add at the end, never write the file anew.
TEST_F(TrustFileTest, WriteCutShortLosesNoExistingLine)
{
    const QString folder = TrustFile::trustFolderPath(tmp.path());
    const QString file = TrustFile::trustFilePath(folder);
    const QByteArray others = "/a/pagewright_files\n/b/pagewright_files\n";
    ASSERT_TRUE(testfiles::write(file, others));
    // Positive control: with room to spare the child does add the entry.
    ASSERT_EQ(addEntryUnderFileSizeLimit(folder, "/c/pagewright_files", 1 << 20), 0);
    ASSERT_EQ(testfiles::read(file), others + "/c/pagewright_files\n");

    ASSERT_TRUE(testfiles::write(file, others));
    EXPECT_EQ(addEntryUnderFileSizeLimit(folder, "/c/pagewright_files", 8), 0);
    EXPECT_EQ(testfiles::read(file), others);
}

TEST_F(TrustFileTest, ReadOnlyFileKeepsItsLinesAndSucceeds)
{
    const QString folder = TrustFile::trustFolderPath(tmp.path());
    const QString file = TrustFile::trustFilePath(folder);
    ASSERT_TRUE(testfiles::write(file, "/a/pagewright_files\n"));
    // Positive control: writable, the entry goes in.
    ASSERT_TRUE(TrustFile::addEntry(folder, "/b/pagewright_files"));
    ASSERT_EQ(testfiles::read(file), "/a/pagewright_files\n/b/pagewright_files\n");

    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0444), 0);
    if (::access(QFile::encodeName(file).constData(), W_OK) == 0)
        GTEST_SKIP() << "this user may write to a file of mode 0444 (root), so the "
                        "read-only case cannot be set up";

    EXPECT_TRUE(TrustFile::addEntry(folder, "/c/pagewright_files"));
    EXPECT_EQ(testfiles::read(file), "/a/pagewright_files\n/b/pagewright_files\n");
    EXPECT_EQ(testfiles::modeOf(file) & 0777, 0444u);
}

struct LineCase {
    const char *name;
    QByteArray content;
    bool listed;
};

std::ostream &operator<<(std::ostream &os, const LineCase &c)
{
    return os << c.name << " (\"" << c.content.toStdString() << "\")";
}

const LineCase kLineCases[] = {
    {"only_line", "/e\n", true},
    {"first_of_two", "/e\n/f\n", true},
    {"last_without_line_feed", "/f\n/e", true},
    {"empty_file", "", false},
    {"inside_a_longer_line", "/x/e\n", false},
    {"prefix_of_a_longer_line", "/e/x\n", false},
    {"crlf_line_end", "/e\r\n", true},
    {"crlf_among_others", "/a\r\n/e\r\n/b\r\n", true},
    {"carriage_return_on_unfinished_last_line", "/a\r\n/e\r", true},
    {"two_carriage_returns", "/e\r\r\n", false},
    {"carriage_return_inside", "/e\r/x\n", false},
    {"crlf_after_a_longer_line", "/x/e\r\n", false},
    {"after_an_empty_line", "\n/e\n", true},
};

class ContainsLine : public ::testing::TestWithParam<LineCase>
{
};

TEST_P(ContainsLine, MatchesWholeLinesOnly)
{
    EXPECT_EQ(TrustFile::containsLine(GetParam().content, "/e"), GetParam().listed);
}

INSTANTIATE_TEST_SUITE_P(Rows, ContainsLine, ::testing::ValuesIn(kLineCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TrustFileAppendix, StartsANewLineOnlyWhenTheLastIsUnfinished)
{
    EXPECT_EQ(TrustFile::appendixFor("", "/e"), "/e\n");
    EXPECT_EQ(TrustFile::appendixFor("/a\n", "/e"), "/e\n");
    EXPECT_EQ(TrustFile::appendixFor("/a", "/e"), "\n/e\n");
}

} // namespace
