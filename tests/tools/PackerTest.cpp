// The packer as authors use it: the real program run as a child process over real
// folders, with small stand-in bundles, and its output read back with Info-ZIP.
#include "PackerHarness.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace packertest;

namespace
{

const char kInstallerEntry[] = "Wayfarer.app/Contents/Resources/Corvane Glimmer Player.pkg";

class Packer : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        unspool = tmp.filePath("bundles/Unspool.app");
        wayfarer = tmp.filePath("bundles/Wayfarer.app");
        content = tmp.filePath("content");
        output = tmp.filePath("out");
        ASSERT_TRUE(writeFakeBundle(unspool, "Unspool"));
        ASSERT_TRUE(writeFakeBundle(wayfarer, "Wayfarer"));
        ASSERT_TRUE(testfiles::write(content + "/index.html", "<h1>Start</h1>"));
        ASSERT_TRUE(testfiles::write(content + "/style.css", "body {}"));
        ASSERT_TRUE(testfiles::write(content + "/images/river.svg", "<svg/>"));
        ASSERT_TRUE(testfiles::write(content + "/more/deep/page.html", "<p>deep</p>"));
    }

    QStringList arguments(const QString &name = "Lesson") const
    {
        return {"--unspool", unspool, "--wayfarer", wayfarer, content, name, output};
    }
    QString bundle(const QString &name = "Lesson") const { return output + "/" + name + ".app"; }
    QString archive(const QString &name = "Lesson") const
    {
        return bundle(name) + "/Contents/Resources/archive.zip";
    }

    QTemporaryDir tmp;
    QString unspool, wayfarer, content, output;
};

TEST_F(Packer, WritesUnspoolCarryingWayfarerAndTheContent)
{
    const PackerRun run = runPacker(arguments());
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, QFile::encodeName(bundle()) + "\n");
    EXPECT_TRUE(unzipTestPasses(archive()));
    EXPECT_EQ(
        entryNames(archive()),
        QStringList({"Wayfarer.app/Contents/Info.plist", "Wayfarer.app/Contents/MacOS/Wayfarer",
                     "pagewright_files/images/river.svg", "pagewright_files/index.html",
                     "pagewright_files/more/deep/page.html", "pagewright_files/style.css"}));
    EXPECT_EQ(entryContent(archive(), "pagewright_files/more/deep/page.html"), "<p>deep</p>");
    EXPECT_EQ(entryContent(archive(), "Wayfarer.app/Contents/MacOS/Wayfarer"),
              testfiles::read(wayfarer + "/Contents/MacOS/Wayfarer"));
    // Nothing but the bundle is left in the output folder: no staging folder.
    EXPECT_EQ(QDir(output).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"Lesson.app"}));
}

TEST_F(Packer, CopiesUnspoolWithModesAndTimes)
{
    const QString executable = "/Contents/MacOS/Unspool";
    ASSERT_TRUE(QFile::setPermissions(unspool + executable, QFile::ReadOwner | QFile::WriteOwner |
                                                                QFile::ExeOwner | QFile::ExeOther));
    const QDateTime old(QDate(2011, 4, 5), QTime(6, 7, 9));
    QFile plist(unspool + "/Contents/Info.plist");
    ASSERT_TRUE(plist.open(QIODevice::ReadWrite));
    ASSERT_TRUE(plist.setFileTime(old, QFileDevice::FileModificationTime));
    plist.close();

    ASSERT_EQ(runPacker(arguments()).exitCode, 0);
    EXPECT_EQ(testfiles::modeOf(bundle() + executable), testfiles::modeOf(unspool + executable));
    EXPECT_TRUE(QFileInfo(bundle() + executable).isExecutable());
    EXPECT_EQ(testfiles::read(bundle() + "/Contents/Info.plist"),
              testfiles::read(unspool + "/Contents/Info.plist"));
    EXPECT_EQ(QFileInfo(bundle() + "/Contents/Info.plist").lastModified(), old);
}

// A folder where the archive goes: copied along, it would leave no room for the
// lesson's archive and the packing would fail.
TEST_F(Packer, LeavesOutAnArchiveTheBuiltUnspoolCarries)
{
    ASSERT_TRUE(testfiles::write(unspool + "/Contents/Resources/archive.zip/stale.txt", "stale"));
    ASSERT_EQ(runPacker(arguments()).exitCode, 0);
    EXPECT_TRUE(unzipTestPasses(archive()));
}

struct TimeCase {
    const char *name;
    QDateTime modified;
};

std::ostream &operator<<(std::ostream &os, const TimeCase &c)
{
    return os << c.name << " (" << c.modified.toString(Qt::ISODate).toStdString() << ")";
}

class PackerTimes : public Packer, public ::testing::WithParamInterface<TimeCase>
{
};

TEST_P(PackerTimes, EntriesCarryTheFilesModificationTimes)
{
    QFile page(content + "/more/deep/page.html");
    ASSERT_TRUE(page.open(QIODevice::ReadWrite));
    ASSERT_TRUE(page.setFileTime(GetParam().modified, QFileDevice::FileModificationTime));
    page.close();

    ASSERT_EQ(runPacker(arguments()).exitCode, 0);
    const QMap<QString, QString> times = entryTimes(archive());
    EXPECT_EQ(times.value("pagewright_files/more/deep/page.html"),
              dosTimeStamp(GetParam().modified));
    // The untouched start page keeps its own, different time.
    EXPECT_EQ(times.value("pagewright_files/index.html"),
              dosTimeStamp(QFileInfo(content + "/index.html").lastModified()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, PackerTimes,
    ::testing::Values(
        TimeCase{"even_second_kept", QDateTime(QDate(2010, 3, 2), QTime(9, 30, 16))},
        TimeCase{"odd_second_rounds_down", QDateTime(QDate(2010, 3, 2), QTime(9, 30, 17))},
        TimeCase{"midsummer_evening", QDateTime(QDate(2019, 6, 21), QTime(23, 59, 59))},
        TimeCase{"first_dos_year", QDateTime(QDate(1980, 1, 1), QTime(0, 0, 2))}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Packer, PutsTheInstallerPackageIntoWayfarer)
{
    const QString package = tmp.filePath("player.pkg");
    ASSERT_TRUE(testfiles::write(package, "installer bytes"));
    ASSERT_EQ(runPacker(arguments() << "--installer" << package).exitCode, 0);
    EXPECT_TRUE(unzipTestPasses(archive()));
    EXPECT_TRUE(entryNames(archive()).contains(kInstallerEntry));
    EXPECT_EQ(entryContent(archive(), kInstallerEntry), "installer bytes");
}

TEST_F(Packer, PutsAnInstallerFolderIntoWayfarerWhole)
{
    const QString package = tmp.filePath("player.pkg");
    ASSERT_TRUE(testfiles::write(package + "/Contents/Archive.pax", "payload"));
    ASSERT_TRUE(testfiles::write(package + "/Contents/Info.plist", "<plist/>"));
    ASSERT_EQ(runPacker(arguments() << "--installer" << package).exitCode, 0);
    const QStringList names = entryNames(archive());
    EXPECT_TRUE(names.contains(QString(kInstallerEntry) + "/Contents/Archive.pax"));
    EXPECT_TRUE(names.contains(QString(kInstallerEntry) + "/Contents/Info.plist"));
}

TEST_F(Packer, TheGivenInstallerReplacesTheOneTheBundleCarries)
{
    ASSERT_TRUE(
        testfiles::write(wayfarer + "/Contents/Resources/Corvane Glimmer Player.pkg", "built-in"));
    ASSERT_EQ(runPacker(arguments()).exitCode, 0);
    EXPECT_EQ(entryContent(archive(), kInstallerEntry), "built-in");

    const QString package = tmp.filePath("player.pkg");
    ASSERT_TRUE(testfiles::write(package, "given"));
    ASSERT_EQ(runPacker(arguments() << "--replace"
                                    << "--installer" << package)
                  .exitCode,
              0);
    EXPECT_EQ(entryNames(archive()).count(kInstallerEntry), 1);
    EXPECT_EQ(entryContent(archive(), kInstallerEntry), "given");
}

TEST_F(Packer, ReplacesAnExistingLessonOnlyWhenAsked)
{
    ASSERT_EQ(runPacker(arguments()).exitCode, 0);
    ASSERT_TRUE(testfiles::write(content + "/index.html", "<h1>Second edition</h1>"));
    const QStringList before = testfiles::tree(output);

    const PackerRun refused = runPacker(arguments());
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(refused.err.contains("use --replace")) << refused.err.constData();
    EXPECT_EQ(testfiles::tree(output), before);

    const PackerRun replaced = runPacker(arguments() << "--replace");
    ASSERT_EQ(replaced.exitCode, 0) << replaced.err.constData();
    EXPECT_EQ(entryContent(archive(), "pagewright_files/index.html"), "<h1>Second edition</h1>");
    EXPECT_EQ(QDir(output).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"Lesson.app"}));
}

TEST_F(Packer, NamesWithBlanksPercentAndAccentsWork)
{
    const QString name = QString::fromUtf8("Río Lesson 100% %@");
    const PackerRun run = runPacker(arguments(name));
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_TRUE(unzipTestPasses(archive(name)));
}

TEST_F(Packer, TheLongestNameFitsExactly)
{
    const QString longest(255 - 4, 'x'); // 255 bytes with ".app"
    const PackerRun run = runPacker(arguments(longest));
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_TRUE(QFileInfo(bundle(longest)).isDir());
    EXPECT_NE(runPacker(arguments(longest + "x")).exitCode, 0);
}

TEST_F(Packer, RefusesAFileItCannotRead)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file whatever its permissions";
    ASSERT_EQ(runPacker(arguments()).exitCode, 0);
    ASSERT_TRUE(QFile::setPermissions(content + "/style.css", QFileDevice::Permissions()));
    const PackerRun run = runPacker(arguments("Second"));
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("cannot read")) << run.err.constData();
    EXPECT_FALSE(QFileInfo::exists(bundle("Second")));
}

// A file-size limit makes writing the archive fail part-way, after the bundle copy
// and several entries were written: the run must fail and take its traces with it.
TEST_F(Packer, AFailedWriteLeavesNothingBehind)
{
    QByteArray noise(3 * 1024 * 1024, '\0');
    quint32 state = 12345;
    for (char &byte : noise) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 24);
    }
    ASSERT_TRUE(testfiles::write(content + "/video.bin", noise));
    ASSERT_EQ(runPacker(arguments("Control")).exitCode, 0); // fits without the limit

    const QStringList before = testfiles::tree(output);
    const auto limitFileSize = [] {
        ::signal(SIGXFSZ, SIG_IGN); // fail the write with EFBIG instead of ending the packer
        const rlimit limit{1024 * 1024, 1024 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    const PackerRun run = runPacker(arguments(), limitFileSize);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.startsWith("lesson-pack: ")) << run.err.constData();
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.constData();
    EXPECT_EQ(testfiles::tree(output).join('\n').toStdString(),
              before.join('\n').toStdString());

    // Output folders the failed run had to make are gone again.
    const QString fresh = tmp.filePath("new/deeper");
    QStringList intoFresh = arguments();
    intoFresh.last() = fresh;
    EXPECT_EQ(runPacker(intoFresh, limitFileSize).exitCode, 1);
    EXPECT_FALSE(QFileInfo::exists(tmp.filePath("new")));
}

TEST_F(Packer, ReportsOneFinalLineWhenNotOnATerminal)
{
    const PackerRun run = runPacker(arguments());
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "lesson-pack: packed " + QFile::encodeName(bundle()) + "\n");
}

// Reads whatever the pseudo-terminal holds.
QByteArray drain(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    QByteArray all;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        all.append(buffer, n);
    return all;
}

TEST_F(Packer, CountsEntriesOnATerminal)
{
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const PackerRun run = runPacker(arguments(), [slave] { ::dup2(slave, STDERR_FILENO); });
    const QByteArray screen = drain(master);
    ::close(slave);
    ::close(master);
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_TRUE(screen.contains("\rpacking 1/6 files") || screen.contains("packing 1/6 files"))
        << screen.constData();
    EXPECT_TRUE(screen.contains("packing 6/6 files")) << screen.constData();
    EXPECT_TRUE(screen.contains("\r\033[K")) << "the count is rewritten in place";
    EXPECT_TRUE(screen.contains("lesson-pack: packed ")) << screen.constData();
}

// The defaults find the bundles this build laid out.
TEST_F(Packer, PacksTheSampleLessonWithTheBuiltBundles)
{
    const PackerRun run = runPacker({SAMPLE_LESSON, "Sample", output});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_TRUE(unzipTestPasses(archive("Sample")));
    const QStringList names = entryNames(archive("Sample"));
    EXPECT_TRUE(names.contains("Wayfarer.app/Contents/MacOS/Wayfarer"));
    EXPECT_TRUE(names.contains("pagewright_files/index.html"));
    EXPECT_TRUE(names.contains("pagewright_files/quiz.js"));
    EXPECT_TRUE(QFileInfo(bundle("Sample") + "/Contents/MacOS/Unspool").isExecutable());
}

} // namespace
