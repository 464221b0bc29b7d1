// The writing side, cross-checked by reading its archives back with Info-ZIP's
// unzip, Python's zipfile and the reading side itself.
#include "ArchiveTestSupport.h"
#include "LessonArchive.h"
#include "ScopedTimeZone.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace archivetest;

namespace
{

QStringList asciiLines(const QStringList &lines)
{
    QStringList ascii;
    for (const QString &line : lines) {
        const QString name = line.section(QStringLiteral(": "), 0, 0);
        if (std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x80; }))
            ascii.append(line);
    }
    return ascii;
}

class Writing : public ::testing::Test
{
  protected:
    QString path(const QString &relative) const { return tmp.path() + '/' + relative; }

    // A source tree with the shapes a lesson has: nested folders, an empty file,
    // incompressible bytes and a name beyond ASCII.
    void makeSource()
    {
        QByteArray noise(200000, '\0');
        QRandomGenerator generator(7);
        for (char &c : noise)
            c = static_cast<char>(generator.bounded(256));
        files = {{"docs/readme.txt", "read me"},
                 {"empty.txt", ""},
                 {"pagewright_files/img/noise.bin", noise},
                 {QString::fromUtf8("caf\xc3\xa9/men\xc3\xba.html"), "<p>menu</p>"}};
        for (const auto &[name, content] : files)
            ASSERT_TRUE(testfiles::write(path("source/" + name), content));
    }

    bool writeArchive(const QString &archive, const QString *password)
    {
        LessonArchive zip;
        const bool created =
            password ? zip.CreateZipFile2(archive, *password) : zip.CreateZipFile2(archive);
        if (!created)
            return false;
        for (const auto &[name, content] : files) {
            if (!zip.addFileToZip(path("source/" + name), name))
                return false;
        }
        return zip.CloseZipFile2();
    }

    QTemporaryDir tmp;
    QList<QPair<QString, QByteArray>> files;
};

struct PasswordCase {
    const char *what;
    const char *password; // null: CreateZipFile2 without one
    bool encrypted;
};

std::ostream &operator<<(std::ostream &os, const PasswordCase &c)
{
    return os << c.what;
}

class RoundTrip : public Writing, public ::testing::WithParamInterface<PasswordCase>
{
};

TEST_P(RoundTrip, OtherToolsReadWhatWasWritten)
{
    const PasswordCase &c = GetParam();
    makeSource();
    const QString archive = path("ours.zip");
    const QString password = QString::fromUtf8(c.password ? c.password : "");
    ASSERT_TRUE(writeArchive(archive, c.password ? &password : nullptr));

    QStringList passwordOption;
    if (c.encrypted)
        passwordOption = {"-P", password};
    const ToolRun test = runTool("unzip", passwordOption + QStringList{"-t", archive});
    EXPECT_TRUE(test.ok) << test.output.toStdString();

    ASSERT_TRUE(
        runTool("unzip", passwordOption + QStringList{"-q", archive, "-d", path("theirs")}).ok);
    // Info-ZIP's unzip turns names beyond ASCII from archives made "on MS-DOS" (as
    // minizip marks them) into its idea of the OEM code page, so only the ASCII part
    // of the tree is compared with it; Python's zipfile checks the names below.
    EXPECT_EQ(asciiLines(tree(path("theirs"))), asciiLines(tree(path("source"))));

    LessonArchive zip;
    RecordingDelegate delegate;
    zip.setDelegate(&delegate);
    ASSERT_TRUE(c.encrypted ? zip.UnzipOpenFile(archive, password) : zip.UnzipOpenFile(archive));
    ASSERT_TRUE(zip.UnzipFileTo(path("back"), true)) << delegate.errors.join('|').toStdString();
    EXPECT_EQ(tree(path("back")), tree(path("source")));

    const QJsonArray entries = inspectArchive(archive);
    ASSERT_EQ(entries.size(), files.size());
    for (const auto &entry : entries) {
        const QJsonObject e = entry.toObject();
        EXPECT_EQ((e["flag"].toInt() & 1) != 0, c.encrypted) << e["name"].toString().toStdString();
        EXPECT_EQ(e["method"].toInt(), 8);
    }
    QStringList names;
    for (const auto &entry : entries)
        names.append(entry.toObject()["name"].toString());
    EXPECT_TRUE(names.contains(QString::fromUtf8("caf\xc3\xa9/men\xc3\xba.html")));
}

const PasswordCase kPasswordCases[] = {
    {"no password", nullptr, false},
    {"a password encrypts every entry", "secret", true},
    {"an empty password stores plainly", "", false},
    {"a password beyond ASCII counts as none", "p\xc3\xa4sswort", false},
};

INSTANTIATE_TEST_SUITE_P(Passwords, RoundTrip, ::testing::ValuesIn(kPasswordCases));

TEST_F(Writing, EntryNamesAreStoredExactlyAsGiven)
{
    makeSource();
    const QString archive = path("ours.zip");
    ASSERT_TRUE(writeArchive(archive, nullptr));
    QStringList names;
    for (const auto &entry : inspectArchive(archive))
        names.append(entry.toObject()["name"].toString());
    QStringList expected;
    for (const auto &file : files)
        expected.append(file.first);
    EXPECT_EQ(names, expected);
}

class WritingLocalZone : public Writing
{
  protected:
    // Central European time: one hour east of UTC in March.
    ScopedTimeZone zone{"CET-1CEST,M3.5.0,M10.5.0/3"};
};

TEST_F(WritingLocalZone, DosTimeIsTheLocalModificationTimeLessTheOddSecond)
{
    const QString source = path("dated.txt");
    ASSERT_TRUE(testfiles::write(source, "d"));
    // 09:30:17 on 2 March 2010 in CET is 08:30:17 UTC.
    const QDateTime utc(QDate(2010, 3, 2), QTime(8, 30, 17), Qt::UTC);
    const struct timespec times[2] = {{utc.toSecsSinceEpoch(), 0}, {utc.toSecsSinceEpoch(), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(source).constData(), times, 0), 0);

    LessonArchive zip;
    ASSERT_TRUE(zip.CreateZipFile2(path("dated.zip")));
    ASSERT_TRUE(zip.addFileToZip(source, "dated.txt"));
    ASSERT_TRUE(zip.CloseZipFile2());
    const QJsonArray entries = inspectArchive(path("dated.zip"));
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].toObject()["date_time"].toArray(), (QJsonArray{2010, 3, 2, 9, 30, 16}));
}

TEST_F(Writing, ClosingTwiceAnswersYesThenNo)
{
    LessonArchive zip;
    ASSERT_TRUE(zip.CreateZipFile2(path("a.zip")));
    EXPECT_TRUE(zip.CloseZipFile2());
    EXPECT_FALSE(zip.CloseZipFile2());
}

TEST_F(Writing, AddingWithNoArchiveOpenCreatesNothing)
{
    ASSERT_TRUE(testfiles::write(path("file.txt"), "x"));
    const QStringList before = testfiles::tree(tmp.path());
    LessonArchive zip;
    EXPECT_FALSE(zip.addFileToZip(path("file.txt"), "file.txt"));
    EXPECT_EQ(testfiles::tree(tmp.path()), before);
}

TEST_F(Writing, CreatingReplacesAnExistingFile)
{
    ASSERT_TRUE(testfiles::write(path("a.zip"), "old content that is no archive"));
    ASSERT_TRUE(testfiles::write(path("file.txt"), "x"));
    LessonArchive zip;
    ASSERT_TRUE(zip.CreateZipFile2(path("a.zip")));
    ASSERT_TRUE(zip.addFileToZip(path("file.txt"), "file.txt"));
    ASSERT_TRUE(zip.CloseZipFile2());
    EXPECT_TRUE(runTool("unzip", {"-t", path("a.zip")}).ok);
}

TEST_F(Writing, DestructionFinishesAnOpenArchive)
{
    ASSERT_TRUE(testfiles::write(path("file.txt"), "x"));
    {
        LessonArchive zip;
        ASSERT_TRUE(zip.CreateZipFile2(path("a.zip")));
        ASSERT_TRUE(zip.addFileToZip(path("file.txt"), "file.txt"));
    }
    EXPECT_TRUE(runTool("unzip", {"-t", path("a.zip")}).ok);
}

struct SourceCase {
    const char *what;
    void (*prepare)(const QString &source);
};

std::ostream &operator<<(std::ostream &os, const SourceCase &c)
{
    return os << c.what;
}

class UnreadableSource : public Writing, public ::testing::WithParamInterface<SourceCase>
{
};

// A lesson must never ship a silently emptied file.
TEST_P(UnreadableSource, IsRefusedAndAddsNothing)
{
    ASSERT_TRUE(testfiles::write(path("good.txt"), "good"));
    const QString source = path("bad");
    GetParam().prepare(source);
    LessonArchive zip;
    ASSERT_TRUE(zip.CreateZipFile2(path("a.zip")));
    ASSERT_TRUE(zip.addFileToZip(path("good.txt"), "good.txt")); // positive control
    EXPECT_FALSE(zip.addFileToZip(source, "bad"));
    ASSERT_TRUE(zip.CloseZipFile2());
    const QJsonArray entries = inspectArchive(path("a.zip"));
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].toObject()["name"].toString(), "good.txt");
}

const SourceCase kSourceCases[] = {
    {"a missing file", [](const QString &) {}},
    {"a folder", [](const QString &source) { QDir().mkpath(source); }},
    {"a dangling link", [](const QString &source) { QFile::link(source + ".nowhere", source); }},
};

INSTANTIATE_TEST_SUITE_P(Sources, UnreadableSource, ::testing::ValuesIn(kSourceCases));

TEST_F(Writing, AFileWithoutReadPermissionIsRefused)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    ASSERT_TRUE(testfiles::write(path("secret.txt"), "s"));
    ASSERT_TRUE(QFile::setPermissions(path("secret.txt"), QFileDevice::WriteOwner));
    LessonArchive zip;
    ASSERT_TRUE(zip.CreateZipFile2(path("a.zip")));
    EXPECT_FALSE(zip.addFileToZip(path("secret.txt"), "secret.txt"));
}

} // namespace
