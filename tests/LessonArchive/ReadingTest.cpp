// Extraction of archives written by other tools, and the reading side's contract:
// progress, overwrite questions, time stamps, permissions, open and close.
#include "ArchiveTestSupport.h"
#include "LessonArchive.h"
#include "ScopedTimeZone.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <sys/stat.h>

using namespace archivetest;

namespace
{

using Entries = QList<QPair<QString, QString>>;

class Reading : public ::testing::Test
{
  protected:
    QString path(const QString &relative) const { return tmp.path() + '/' + relative; }
    QString dest() const { return path(QStringLiteral("dest")); }

    bool extract(const QString &archive, bool overWrite = true, const QString &password = {})
    {
        LessonArchive zip;
        zip.setDelegate(&delegate);
        const bool opened =
            password.isEmpty() ? zip.UnzipOpenFile(archive) : zip.UnzipOpenFile(archive, password);
        return opened && zip.UnzipFileTo(dest(), overWrite) && zip.UnzipCloseFile();
    }

    QTemporaryDir tmp;
    RecordingDelegate delegate;
};

// ---- Archives made by Info-ZIP's zip come out as the tree they were made from.

struct InfoZipCase {
    const char *what;
    QStringList options;
    QString password;
};

std::ostream &operator<<(std::ostream &os, const InfoZipCase &c)
{
    return os << c.what;
}

class InfoZipArchives : public Reading, public ::testing::WithParamInterface<InfoZipCase>
{
};

TEST_P(InfoZipArchives, ExtractToTheTreeTheyWereMadeFrom)
{
    const QString source = path("source");
    ASSERT_TRUE(testfiles::write(source + "/top.txt", "top"));
    ASSERT_TRUE(testfiles::write(source + "/docs/readme.txt", "read me"));
    ASSERT_TRUE(testfiles::write(source + "/pagewright_files/img/a.bin", QByteArray(70000, 'q')));
    ASSERT_TRUE(testfiles::write(source + "/pagewright_files/index.html", "<html></html>"));
    const QString archive = path("made.zip");
    ASSERT_TRUE(
        runTool("zip",
                GetParam().options + QStringList{archive, "top.txt", "docs", "pagewright_files"},
                source)
            .ok);

    ASSERT_TRUE(extract(archive, true, GetParam().password))
        << delegate.errors.join('|').toStdString();
    EXPECT_EQ(tree(dest()), tree(source));
    EXPECT_TRUE(delegate.errors.isEmpty());
    EXPECT_EQ(delegate.completions, 1);
}

const InfoZipCase kInfoZipCases[] = {
    {"stored with folder entries", {"-q", "-r", "-0"}, {}},
    {"deflated without folder entries", {"-q", "-r", "-9", "-D"}, {}},
    {"encrypted with a password", {"-q", "-r", "-P", "secret"}, QStringLiteral("secret")},
};

INSTANTIATE_TEST_SUITE_P(InfoZip, InfoZipArchives, ::testing::ValuesIn(kInfoZipCases));

// ---- Archives made by Python's zipfile, names as a hand-made archive may hold them.

struct PythonCase {
    const char *what;
    const char *method;
    Entries entries;
    QStringList expected; // tree() of the destination
    int progressTotal;
};

std::ostream &operator<<(std::ostream &os, const PythonCase &c)
{
    return os << c.what;
}

class PythonArchives : public Reading, public ::testing::WithParamInterface<PythonCase>
{
};

TEST_P(PythonArchives, ExtractToTheExpectedTree)
{
    const QString archive = path("made.zip");
    ASSERT_TRUE(makePythonArchive(archive, GetParam().method, GetParam().entries));
    ASSERT_TRUE(extract(archive)) << delegate.errors.join('|').toStdString();
    QStringList expected = GetParam().expected;
    expected.sort();
    EXPECT_EQ(tree(dest()), expected);
    EXPECT_EQ(delegate.progress.size(), GetParam().progressTotal);
    EXPECT_EQ(delegate.completions, 1);
}

const PythonCase kPythonCases[] = {
    {"stored with folder entries",
     "stored",
     {{"docs/", {}}, {"docs/readme.txt", "read me"}},
     {"docs: dir", "docs/readme.txt: read me"},
     2},
    {"deflated with no folder entries for nested files",
     "deflated",
     {{"a/b/c/deep.txt", "deep"}, {"a/top.txt", "top"}},
     {"a: dir", "a/b: dir", "a/b/c: dir", "a/b/c/deep.txt: deep", "a/top.txt: top"},
     2},
    {"backslash separators",
     "deflated",
     {{"docs\\readme.txt", "read me"}, {"img\\x\\", {}}},
     {"docs: dir", "docs/readme.txt: read me", "img: dir", "img/x: dir"},
     2},
    {"absolute name stays inside",
     "deflated",
     {{"/abs/file.txt", "x"}},
     {"abs: dir", "abs/file.txt: x"},
     1},
    {"empty name is the destination itself", "stored", {{"", {}}, {"a.txt", "a"}}, {"a.txt: a"}, 2},
    {"dot components are dropped", "deflated", {{"./a/./b.txt", "b"}}, {"a: dir", "a/b.txt: b"}, 1},
    {"UTF-8 names come back unchanged",
     "deflated",
     {{QString::fromUtf8("caf\xc3\xa9/\xc3\xb1.txt"), "n"}},
     {QString::fromUtf8("caf\xc3\xa9: dir"), QString::fromUtf8("caf\xc3\xa9/\xc3\xb1.txt: n")},
     1},
};

INSTANTIATE_TEST_SUITE_P(Python, PythonArchives, ::testing::ValuesIn(kPythonCases));

// ---- Progress and completion.

TEST_F(Reading, ProgressCountsEveryEntryThenCompletes)
{
    const QString archive = path("three.zip");
    ASSERT_TRUE(makePythonArchive(archive, "deflated", {{"a", "1"}, {"b/", {}}, {"b/c", "3"}}));
    ASSERT_TRUE(extract(archive));
    const QList<QPair<int, int>> expected{{1, 3}, {2, 3}, {3, 3}};
    EXPECT_EQ(delegate.progress, expected);
    EXPECT_EQ(delegate.completions, 1);
    EXPECT_TRUE(delegate.errors.isEmpty());
}

TEST_F(Reading, SecondExtractionStartsAgainAtTheFirstEntry)
{
    const QString archive = path("two.zip");
    ASSERT_TRUE(makePythonArchive(archive, "deflated", {{"a", "1"}, {"b", "2"}}));
    LessonArchive zip;
    zip.setDelegate(&delegate);
    ASSERT_TRUE(zip.UnzipOpenFile(archive));
    ASSERT_TRUE(zip.UnzipFileTo(dest(), true));
    ASSERT_TRUE(QDir(dest()).removeRecursively());
    ASSERT_TRUE(zip.UnzipFileTo(dest(), true));
    EXPECT_EQ(tree(dest()), (QStringList{"a: 1", "b: 2"}));
    EXPECT_EQ(delegate.progress.size(), 4);
    EXPECT_EQ(delegate.completions, 2);
}

TEST_F(Reading, ADelegateTakingNoMessagesIsValid)
{
    const QString archive = path("one.zip");
    ASSERT_TRUE(makePythonArchive(archive, "deflated", {{"a", "1"}}));
    delegate.taken.clear();
    ASSERT_TRUE(extract(archive));
    EXPECT_EQ(tree(dest()), QStringList{"a: 1"});
    EXPECT_TRUE(delegate.progress.isEmpty());
    EXPECT_EQ(delegate.completions, 0);
}

// ---- The overwrite decision.

struct OverwriteCase {
    const char *what;
    bool overWrite;
    bool delegateAsks;
    bool answer;
    QByteArray keptContent; // of keep.txt afterwards
    int questions;
    QList<QPair<int, int>> progress;
};

std::ostream &operator<<(std::ostream &os, const OverwriteCase &c)
{
    return os << c.what;
}

class Overwrite : public Reading, public ::testing::WithParamInterface<OverwriteCase>
{
};

TEST_P(Overwrite, ReplacesOrSkipsAsDecided)
{
    const OverwriteCase &c = GetParam();
    const QString archive = path("over.zip");
    ASSERT_TRUE(makePythonArchive(archive, "deflated", {{"keep.txt", "new"}, {"new.txt", "n"}}));
    ASSERT_TRUE(testfiles::write(dest() + "/keep.txt", "old"));
    if (!c.delegateAsks)
        delegate.taken.remove(Message::OverWriteOperation);
    delegate.answer = c.answer;

    ASSERT_TRUE(extract(archive, c.overWrite));
    EXPECT_EQ(testfiles::read(dest() + "/keep.txt"), c.keptContent);
    EXPECT_EQ(testfiles::read(dest() + "/new.txt"), "n");
    EXPECT_EQ(delegate.asked.size(), c.questions);
    if (c.questions > 0) {
        EXPECT_EQ(delegate.asked.first(), dest() + "/keep.txt");
    }
    EXPECT_EQ(delegate.progress, c.progress);
    EXPECT_EQ(delegate.completions, 1);
}

const OverwriteCase kOverwriteCases[] = {
    {"overwrite YES replaces without asking", true, true, false, "new", 0, {{1, 2}, {2, 2}}},
    {"a delegate that cannot answer means replace",
     false,
     false,
     false,
     "new",
     0,
     {{1, 2}, {2, 2}}},
    {"delegate answers YES", false, true, true, "new", 1, {{1, 2}, {2, 2}}},
    {"delegate answers NO: skipped and not counted", false, true, false, "old", 1, {{1, 2}}},
};

INSTANTIATE_TEST_SUITE_P(Decisions, Overwrite, ::testing::ValuesIn(kOverwriteCases));

TEST_F(Reading, AnExistingFolderMetByAFolderEntryRaisesNoQuestion)
{
    const QString archive = path("folder.zip");
    ASSERT_TRUE(makePythonArchive(archive, "stored", {{"docs/", {}}}));
    ASSERT_TRUE(QDir().mkpath(dest() + "/docs"));
    ASSERT_TRUE(extract(archive, false));
    EXPECT_TRUE(delegate.asked.isEmpty());
    EXPECT_EQ(delegate.progress.size(), 1);
}

// ---- Time stamps: DOS times are local wall-clock times.

class LocalZone : public Reading
{
  protected:
    // Central European time, summer time in June: local differs from UTC by two hours.
    ScopedTimeZone zone{"CET-1CEST,M3.5.0,M10.5.0/3"};
};

TEST_F(LocalZone, DosTimeIsReadAsLocalTime)
{
    const QString archive = path("dated.zip");
    // make_archive.py dates every entry 14:05:58 on 30 June 2009.
    ASSERT_TRUE(makePythonArchive(archive, "deflated", {{"dated.txt", "d"}}));
    ASSERT_TRUE(extract(archive));
    struct stat st {
    };
    ASSERT_EQ(::stat(QFile::encodeName(dest() + "/dated.txt").constData(), &st), 0);
    const QDateTime utc(QDate(2009, 6, 30), QTime(12, 5, 58), Qt::UTC);
    EXPECT_EQ(st.st_mtim.tv_sec, utc.toSecsSinceEpoch());
}

// ---- The bundle rule: anything whose whole path holds ".app" or ".pkg" gets 0777.

struct BundleCase {
    const char *what;
    const char *destinationName;
    Entries entries;
    QStringList open;   // relative paths that must end up 0777
    QStringList closed; // relative paths that must not
};

std::ostream &operator<<(std::ostream &os, const BundleCase &c)
{
    return os << c.what;
}

class BundleRule : public Reading, public ::testing::WithParamInterface<BundleCase>
{
};

TEST_P(BundleRule, OpensExactlyTheBundleItems)
{
    const BundleCase &c = GetParam();
    const QString archive = path("bundle.zip");
    ASSERT_TRUE(makePythonArchive(archive, "deflated", c.entries));
    LessonArchive zip;
    const QString target = path(c.destinationName);
    ASSERT_TRUE(zip.UnzipOpenFile(archive));
    ASSERT_TRUE(zip.UnzipFileTo(target, true));
    for (const QString &item : c.open)
        EXPECT_EQ(testfiles::modeOf(target + '/' + item) & 07777, 0777u) << item.toStdString();
    for (const QString &item : c.closed) {
        ASSERT_NE(testfiles::modeOf(target + '/' + item), 0u) << item.toStdString();
        EXPECT_NE(testfiles::modeOf(target + '/' + item) & 07777, 0777u) << item.toStdString();
    }
}

const BundleCase kBundleCases[] = {
    {"files and folder entries inside a bundle",
     "dest",
     {{"Lesson.app/", {}},
      {"Lesson.app/Contents/MacOS/Lesson", "#!"},
      {"Installer.pkg/Contents/x", "p"},
      {"notes.application.txt", "n"},
      {"Lesson.APP/file", "f"},
      {"plain.txt", "p"}},
     {"Lesson.app", "Lesson.app/Contents/MacOS/Lesson", "Installer.pkg/Contents/x",
      "notes.application.txt"},
     {"Lesson.APP/file", "plain.txt", "Lesson.app/Contents"}},
    {"a destination holding .app opens everything",
     "Sample.app.dest",
     {{"plain.txt", "p"}, {"sub/", {}}},
     {"plain.txt", "sub"},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Paths, BundleRule, ::testing::ValuesIn(kBundleCases));

// ---- Opening and closing.

TEST_F(Reading, EntryCountIsKeptAfterClosing)
{
    const QString archive = path("two.zip");
    ASSERT_TRUE(makePythonArchive(archive, "deflated", {{"a", "1"}, {"b", "2"}}));
    LessonArchive zip;
    EXPECT_EQ(zip.getNumberOfEntries(), 0);
    ASSERT_TRUE(zip.UnzipOpenFile(archive));
    EXPECT_EQ(zip.getNumberOfEntries(), 2);
    EXPECT_TRUE(zip.UnzipCloseFile());
    EXPECT_EQ(zip.getNumberOfEntries(), 2);
}

TEST_F(Reading, ClosingWithNothingOpenSucceedsEveryTime)
{
    LessonArchive zip;
    EXPECT_TRUE(zip.UnzipCloseFile());
    EXPECT_TRUE(zip.UnzipCloseFile());
}

TEST_F(Reading, WhatIsNoArchiveDoesNotOpen)
{
    const QString usual = path("empty.zip");
    ASSERT_TRUE(makePythonArchive(usual, "deflated", {}));
    ASSERT_TRUE(testfiles::write(path("text.zip"), "just text"));
    LessonArchive zip;
    EXPECT_FALSE(zip.UnzipOpenFile(path("missing.zip")));
    EXPECT_FALSE(zip.UnzipOpenFile(path("text.zip")));
    // The usual empty archive is an end record at offset 0, which the library refuses.
    EXPECT_FALSE(zip.UnzipOpenFile(usual));
    // Neither a folder nor a FIFO is read; the FIFO, with no writer, must not hang.
    EXPECT_FALSE(zip.UnzipOpenFile(tmp.path()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.zip")).constData(), 0600), 0);
    EXPECT_FALSE(zip.UnzipOpenFile(path("pipe.zip")));
    EXPECT_EQ(zip.getNumberOfEntries(), 0);
}

// The structural check and the extraction read the file that was opened, even
// when another takes its name in between.
TEST_F(Reading, TheFileCheckedIsTheFileOpened)
{
    const QString archive = path("lesson.zip");
    ASSERT_TRUE(makePythonArchive(archive, "deflated", {{"a.txt", "alpha"}}));
    LessonArchive zip;
    zip.setDelegate(&delegate);
    ASSERT_TRUE(zip.UnzipOpenFile(archive));
    ASSERT_TRUE(testfiles::write(path("other"), "not an archive at all"));
    ASSERT_EQ(::rename(QFile::encodeName(path("other")).constData(),
                       QFile::encodeName(archive).constData()),
              0);

    EXPECT_TRUE(zip.UnzipFileTo(dest(), true)) << delegate.errors.join('|').toStdString();
    EXPECT_EQ(tree(dest()), QStringList{"a.txt: alpha"});
}

// Big enough that the entries' data and the directory at the far end are read in
// many pieces, from both ends in turn, with entries stored and deflated.
TEST_F(Reading, AnArchiveOfManyWindowsComesOutWhole)
{
    const QString source = path("source");
    QRandomGenerator random(7);
    for (int i = 0; i < 400; ++i) {
        QByteArray content(static_cast<qsizetype>(random.bounded(20000)), Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(content.data()), content.size() / 4);
        if (i % 3 == 0)
            content = content.toHex(); // compresses
        ASSERT_TRUE(
            testfiles::write(source + QStringLiteral("/d%1/f%2.bin").arg(i % 17).arg(i), content));
        if (i == 200) {
            QByteArray large(3 << 20, Qt::Uninitialized);
            random.fillRange(reinterpret_cast<quint32 *>(large.data()), large.size() / 4);
            ASSERT_TRUE(testfiles::write(source + "/large.bin", large));
            ASSERT_TRUE(testfiles::write(source + "/large.txt", large.toBase64()));
        }
    }
    const QString archive = path("big.zip");
    ASSERT_TRUE(runTool("zip", {"-q", "-r", archive, "."}, source).ok);
    ASSERT_GT(QFileInfo(archive).size(), 8 << 20);

    ASSERT_TRUE(extract(archive)) << delegate.errors.join('|').toStdString();
    EXPECT_EQ(tree(dest()), tree(source));
    EXPECT_EQ(delegate.completions, 1);
}

TEST_F(Reading, AnEmptyArchiveThatOpensFailsToExtract)
{
    const QString archive = path("prefixed.zip");
    ASSERT_TRUE(makeArchive("empty-prefixed", archive));
    LessonArchive zip;
    zip.setDelegate(&delegate);
    ASSERT_TRUE(zip.UnzipOpenFile(archive));
    EXPECT_EQ(zip.getNumberOfEntries(), 0);
    EXPECT_FALSE(zip.UnzipFileTo(dest(), true));
    EXPECT_EQ(delegate.errors, (QStringList{"Failed", "Error occurs"}));
    EXPECT_TRUE(delegate.progress.isEmpty());
    EXPECT_EQ(delegate.completions, 0);
    EXPECT_FALSE(QFileInfo::exists(dest()));
}

TEST_F(Reading, ExtractingWithNothingOpenFails)
{
    LessonArchive zip;
    zip.setDelegate(&delegate);
    EXPECT_FALSE(zip.UnzipFileTo(dest(), true));
    EXPECT_EQ(delegate.errors, (QStringList{"Failed", "Error occurs"}));
    EXPECT_FALSE(QFileInfo::exists(dest()));
}

TEST_F(Reading, Date1980IsLocalMidnight)
{
    const QDateTime date = LessonArchive::Date1980();
    EXPECT_EQ(date.date(), QDate(1980, 1, 1));
    EXPECT_EQ(date.time(), QTime(0, 0));
    EXPECT_EQ(date.timeSpec(), Qt::LocalTime);
}

} // namespace
