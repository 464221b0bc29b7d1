// Real runs of the built Unspool bundle, offscreen, with TMPDIR pointed at a test
// folder: what lands in the lesson folder, that the launcher was started, and that
// Unspool itself ends.
#include "LessonBundleTest.h"
#include "LessonZip.h"

#include "ProcessRunner.h"
#include "QtPrinters.h"
#include "TestFiles.h"
#include "Waiting.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Waits for a file that a detached process writes; the limit only guards against
// a hang.
int fileCount(const QString &folder)
{
    int count = 0;
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();
         it.next())
        ++count;
    return count;
}

// Names below `folder` that an unfinished file carries until it is put in place.
QStringList leftovers(const QString &folder)
{
    QStringList found;
    for (QDirIterator it(folder, {QStringLiteral(".unspool-partial-*")},
                         QDir::AllEntries | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        found.append(it.next());
    return found;
}

int lineCount(const QString &path)
{
    return static_cast<int>(testfiles::read(path).count('\n'));
}

class UnspoolBundle : public LessonBundleTest
{
  protected:
    QString lessonFolder() const
    {
        return temporary() + QStringLiteral("/Brindle_Lessons/Sample Lesson");
    }
    QString archive() const
    {
        return lessonBundle + QStringLiteral("/Contents/Resources/archive.zip");
    }

    // Runs `program` with `arguments` offscreen with our TMPDIR; true when it ended.
    bool run(const QString &program, const QStringList &arguments = {},
             const QList<std::pair<QString, QString>> &extra = {})
    {
        start(QStringLiteral("offscreen"), program, arguments, extra);
        return process.waitForStarted() && process.waitForFinished(120000);
    }

    bool runBundle() { return run(bundleProgram()); }
};

TEST_F(UnspoolBundle, UnpacksTheLessonStartsTheLauncherAndEnds)
{
    ASSERT_TRUE(lessonzip::write(archive(), lessonzip::lessonEntries()));

    ASSERT_TRUE(runBundle()) << "Unspool did not end";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << "handed over to the launcher";

    const QString folder = lessonFolder();
    EXPECT_TRUE(fileAppears(folder + u'/' + QLatin1String(lessonzip::kMarkerName), 15000))
        << "the launcher was not started";
    EXPECT_EQ(testfiles::read(folder + u'/' + QLatin1String(lessonzip::kMarkerName)), "started\n");
    for (const lessonzip::Entry &entry : lessonzip::lessonEntries()) {
        if (entry.name.endsWith(u'/'))
            continue;
        const QString path = folder + u'/' + entry.name;
        EXPECT_EQ(testfiles::read(path), entry.content) << entry.name.toStdString();
        EXPECT_EQ(QFileInfo(path).lastModified(), entry.modified) << entry.name.toStdString();
    }
}

TEST_F(UnspoolBundle, ItemsOfTheLauncherBundleAreOpenToAll)
{
    ASSERT_TRUE(lessonzip::write(archive(), lessonzip::lessonEntries()));
    ASSERT_TRUE(runBundle());

    const QString folder = lessonFolder();
    // The launcher writes into the lesson folder; let it finish before the folder goes.
    EXPECT_TRUE(fileAppears(folder + u'/' + QLatin1String(lessonzip::kMarkerName), 15000));
    // The bundle's own entries; folders made on the way (Contents) keep the usual mode.
    for (const char *item : {"Wayfarer.app", "Wayfarer.app/Contents/Info.plist",
                             "Wayfarer.app/Contents/MacOS/Wayfarer"})
        EXPECT_EQ(testfiles::modeOf(folder + u'/' + QLatin1String(item)) & 07777, 0777u) << item;
    // Content outside the bundle keeps its ordinary mode.
    const mode_t page = testfiles::modeOf(folder + QStringLiteral("/pagewright_files/index.html"));
    EXPECT_NE(page, 0u);
    EXPECT_NE(page & 07777, 0777u);
}

TEST_F(UnspoolBundle, ClosingTheWindowMidExtractionEndsAtOnce)
{
    QList<lessonzip::Entry> entries = lessonzip::launcherEntries();
    const int pages = 300;
    for (int page = 0; page < pages; ++page) {
        QByteArray data(64 * 1024, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()),
                                              data.size() / 4);
        entries.append({QStringLiteral("pagewright_files/media/%1.bin").arg(page), data,
                        lessonzip::sampleTime()});
    }
    ASSERT_TRUE(lessonzip::write(archive(), entries));

    // On a file system without unnamed files, where each file has a hidden name
    // until it is complete, as the next run must cope with.
    // The shim goes first; a sanitizer build's runtime would otherwise refuse to
    // start behind it.
    QString asan = QString::fromLocal8Bit(qgetenv("ASAN_OPTIONS"));
    asan += asan.isEmpty() ? "verify_asan_link_order=0" : ":verify_asan_link_order=0";
    const QList<std::pair<QString, QString>> noUnnamedFiles{
        {QStringLiteral("LD_PRELOAD"), QStringLiteral(FAULT_SHIM)},
        {QStringLiteral("ASAN_OPTIONS"), asan},
        {QStringLiteral("FAULT_NO_TMPFILE"), QStringLiteral("1")}};
    ASSERT_TRUE(run(QStringLiteral(UNSPOOL_CLOSE_DRIVER), {lessonBundle}, noUnnamedFiles))
        << "the program did not end after its window was closed";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1) << "closed before the hand-over is a failure";

    // Closed while the bar was moving: some of the lesson is there, not all of it,
    // and the launcher was never started.
    const int written = fileCount(lessonFolder());
    EXPECT_GT(written, 0);
    EXPECT_LT(written, entries.size() - 1);
    EXPECT_FALSE(QFileInfo::exists(lessonFolder() + u'/' + QLatin1String(lessonzip::kMarkerName)));

    // The next run finishes the lesson and leaves no unfinished file behind, also
    // none that the closed run may have left (one is planted, as the closing moment
    // is chance).
    ASSERT_TRUE(testfiles::write(lessonFolder() + QStringLiteral("/pagewright_files/media/"
                                                                 ".unspool-partial-planted"),
                                 "unfinished"));
    ASSERT_TRUE(run(bundleProgram(), {}, noUnnamedFiles));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(fileAppears(lessonFolder() + u'/' + QLatin1String(lessonzip::kMarkerName), 15000));
    EXPECT_EQ(fileCount(lessonFolder()), entries.size() - 1 + 1); // less a folder, plus the marker
    EXPECT_EQ(leftovers(lessonFolder()), QStringList());
}

// A learner opens the lesson again while its setup launcher is still open: the
// running launcher's executable cannot be written into, only replaced, and the
// run ends, as the first, with the launcher started.
TEST_F(UnspoolBundle, ARerunReplacesTheRunningLauncherAndStartsItAgain)
{
    QList<lessonzip::Entry> entries = lessonzip::lessonEntries();
    for (lessonzip::Entry &entry : entries) {
        if (entry.name.endsWith(QStringLiteral("MacOS/Wayfarer")))
            entry.content = testfiles::read(QStringLiteral(STANDIN_LAUNCHER));
    }
    ASSERT_TRUE(lessonzip::write(archive(), entries));
    const QString folder = lessonFolder();
    const QString marker = folder + u'/' + QLatin1String(lessonzip::kMarkerName);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray hold = QFile::encodeName(folder + QStringLiteral("/launcher-hold"));
    ASSERT_EQ(::mkfifo(hold.constData(), 0600), 0);
    // Read and write, so the open does not wait for a reader; while it is open the
    // launchers wait.
    const int holdFd = ::open(hold.constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holdFd, 0);

    ASSERT_TRUE(runBundle());
    ASSERT_TRUE(waitUntil([&] { return lineCount(marker) == 1; }, 15000));
    // Positive control: the running launcher's file is busy.
    const QByteArray launcher = QFile::encodeName(folder + "/Wayfarer.app/Contents/MacOS/Wayfarer");
    const int busy = ::open(launcher.constData(), O_WRONLY | O_CLOEXEC);
    EXPECT_TRUE(busy < 0 && errno == ETXTBSY);
    if (busy >= 0)
        ::close(busy);

    ASSERT_TRUE(runBundle());
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(waitUntil([&] { return lineCount(marker) == 2; }, 15000))
        << "the launcher was not started again";
    EXPECT_EQ(testfiles::read(QString::fromLocal8Bit(launcher)),
              testfiles::read(QStringLiteral(STANDIN_LAUNCHER)));
    EXPECT_EQ(leftovers(folder), QStringList());
    ::close(holdFd); // both launchers end
}

// ---- where the lesson goes ----

// A world for one run below the test's folder: the variables Unspool is given, as
// bytes, since a folder name need not be UTF-8 ("" unsets a variable for Unspool).
struct Place {
    QByteArray tmpdir, home, configHome;
    QByteArray lessonFolder;          // where the lesson must land
    QList<QByteArray> privateFolders; // each must be mode 0700 afterwards
};

struct PlaceRow {
    const char *name;
    Place (*arrange)(const QByteArray &root);
};

std::ostream &operator<<(std::ostream &os, const PlaceRow &row)
{
    return os << row.name;
}

bool makeFolder(const QByteArray &path, mode_t mode)
{
    return ::mkdir(path.constData(), mode) == 0 && ::chmod(path.constData(), mode) == 0;
}

bool writeUserDirs(const QByteArray &configFolder, const QByteArray &line)
{
    if (!makeFolder(configFolder, 0755))
        return false;
    QFile file; // opened on a descriptor: the path need not be UTF-8
    const int fd = ::open((configFolder + "/user-dirs.dirs").constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    return fd >= 0 && file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) &&
           file.write(line + "\n") == line.size() + 1;
}

const QByteArray kLesson = "/Brindle_Lessons/Sample Lesson";
const QByteArray kUserFolder = "/user-" + QByteArray::number(::getuid());

Place withTmpdir(const QByteArray &tmpdir, mode_t mode)
{
    Place place{tmpdir, "", "", {}, {}};
    if (!makeFolder(tmpdir, mode))
        return {};
    const bool asItIs = (mode & 077) == 0;
    const QByteArray base = asItIs ? tmpdir : tmpdir + kUserFolder;
    place.lessonFolder = base + kLesson;
    place.privateFolders = {base + "/Brindle_Lessons", base + kLesson};
    if (!asItIs)
        place.privateFolders.append(base);
    return place;
}

// No TMPDIR: the download folder that user-dirs.dirs names in the home folder.
Place inDownloads(const QByteArray &home, const QByteArray &configHome, const QByteArray &line,
                  const QByteArray &downloads)
{
    Place place{"",
                home,
                configHome,
                downloads + kLesson,
                {downloads + "/Brindle_Lessons", downloads + kLesson}};
    const QByteArray config = configHome.isEmpty() ? home + "/.config" : configHome;
    if (!makeFolder(home, 0755) || !writeUserDirs(config, line) ||
        (downloads != home && !makeFolder(downloads, 0755)))
        return {};
    return place;
}

const PlaceRow kPlaces[] = {
    {"private_tmpdir", [](const QByteArray &root) { return withTmpdir(root + "/tmp", 0700); }},
    {"tmpdir_others_may_enter",
     [](const QByteArray &root) { return withTmpdir(root + "/tmp", 0755); }},
    {"shared_tmpdir", [](const QByteArray &root) { return withTmpdir(root + "/tmp", 01777); }},
    {"tmpdir_not_utf8",
     [](const QByteArray &root) { return withTmpdir(root + "/t\xff\xfe", 0700); }},
    {"downloads_below_home",
     [](const QByteArray &root) {
         return inDownloads(root + "/home", "", "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"",
                            root + "/home/Fetched");
     }},
    {"downloads_from_xdg_config_home",
     [](const QByteArray &root) {
         return inDownloads(root + "/home", root + "/config",
                            "XDG_DOWNLOAD_DIR=\"" + root + "/Elsewhere\"", root + "/Elsewhere");
     }},
    {"no_download_folder_named: home",
     [](const QByteArray &root) {
         return inDownloads(root + "/home", "", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"",
                            root + "/home");
     }},
    {"home_not_utf8",
     [](const QByteArray &root) {
         return inDownloads(root + "/h\xff", "", "XDG_DOWNLOAD_DIR=\"$HOME/D\xe9\"",
                            root + "/h\xff/D\xe9");
     }},
};

class UnspoolLessonPlace : public UnspoolBundle, public ::testing::WithParamInterface<PlaceRow>
{
  protected:
    // The home folder of rows that name none: a lesson sent astray lands here, never
    // in the real home folder.
    QByteArray elsewhere() const { return QFile::encodeName(root.path()) + "/elsewhere"; }

    // Starts the bundle with these variables as bytes: QProcessEnvironment would
    // carry them as text and change a name that is not UTF-8.
    bool runIn(const Place &place)
    {
        const QList<std::pair<const char *, QByteArray>> variables = {
            {"TMPDIR", place.tmpdir},
            {"HOME", place.home.isEmpty() ? elsewhere() : place.home},
            {"XDG_CONFIG_HOME", place.configHome},
            {"QT_QPA_PLATFORM", "offscreen"}};
        QList<std::pair<const char *, QByteArray>> saved;
        for (const auto &[name, value] : variables) {
            saved.append({name, qgetenv(name)});
            qputenv(name, value);
        }
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(bundleProgram(), {});
        for (const auto &[name, value] : saved)
            qputenv(name, value);
        return process.waitForStarted() && process.waitForFinished(120000);
    }
};

bool exists(const QByteArray &path)
{
    struct stat st {
    };
    return ::lstat(path.constData(), &st) == 0;
}

mode_t modeOf(const QByteArray &path)
{
    struct stat st {
    };
    return ::lstat(path.constData(), &st) == 0 ? st.st_mode : 0;
}

TEST_P(UnspoolLessonPlace, LandsInExactlyThatFolderClosedToOthers)
{
    ASSERT_TRUE(lessonzip::write(archive(), lessonzip::lessonEntries()));
    const QByteArray world = QFile::encodeName(root.path()) + "/world";
    ASSERT_TRUE(makeFolder(world, 0700));
    ASSERT_TRUE(makeFolder(elsewhere(), 0700));
    const Place place = GetParam().arrange(world);
    ASSERT_FALSE(place.lessonFolder.isEmpty()) << "could not arrange the world";

    ASSERT_TRUE(runIn(place)) << "Unspool did not end";
    EXPECT_EQ(process.exitCode(), 0);

    const QByteArray marker = place.lessonFolder + "/" + lessonzip::kMarkerName;
    EXPECT_TRUE(waitUntil([&] { return exists(marker); }, 15000))
        << "no lesson started from " << place.lessonFolder.toStdString();
    EXPECT_TRUE(exists(place.lessonFolder + "/pagewright_files/index.html"));
    for (const QByteArray &folder : place.privateFolders)
        EXPECT_EQ(modeOf(folder) & 07777, 0700u) << folder.toStdString();
    // QTemporaryDir cannot remove names that are not UTF-8; rm takes them as bytes.
    EXPECT_EQ(platform::runProcess("rm", {"-rf", QFile::decodeName(world)}).exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, UnspoolLessonPlace, ::testing::ValuesIn(kPlaces),
                         [](const auto &info) {
                             std::string name = info.param.name;
                             return name.substr(0, name.find(':'));
                         });

} // namespace
