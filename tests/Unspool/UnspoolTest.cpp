// The built Unspool bundle run as a learner runs it, in a sandbox: offscreen for
// what lands where and what is started, on a virtual X screen for the failure
// sheets. Only the bar's painting is watched in-process.
#include "LessonZip.h"
#include "QtPrinters.h"
#include "Sandbox.h"
#include "TestFiles.h"
#include "Waiting.h"

#include "LinuxMainBundle.h"
#include "LinuxOpenService.h"
#include "LinuxTemporaryDirectory.h"
#include "MainMenuViewController.h"
#include "QtAlerts.h"
#include "QtMainThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QWindow>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace
{

const QString kLauncher = QStringLiteral("Wayfarer.app/Contents/MacOS/Wayfarer");

// The processors the main thread of process `pid` may run on.
QString processorsOf(const QString &pid)
{
    const QByteArray status = testfiles::read("/proc/" + pid + "/status");
    const qsizetype at = status.indexOf("Cpus_allowed_list:") + 18;
    return QString::fromLatin1(status.mid(at, status.indexOf('\n', at) - at).trimmed());
}

// A launch as the stand-in launcher records it: on all our processors, holding none
// of Unspool's files.
const QString kLaunch = processorsOf(QStringLiteral("self")) + QStringLiteral(" 0");

QList<lessonzip::Entry> lessonWithStandIn(QList<lessonzip::Entry> entries)
{
    for (lessonzip::Entry &entry : entries)
        if (entry.name == kLauncher)
            entry.content = testfiles::read(QStringLiteral(STANDIN_LAUNCHER));
    return entries;
}

// Paths below `root` whose file information passes `keep`.
QStringList below(const QString &root, bool (*keep)(const QFileInfo &))
{
    return testfiles::describeTree(root, [keep](const QString &path) {
        return keep(QFileInfo(path)) ? QStringLiteral("") : QString();
    });
}
bool isFile(const QFileInfo &info) { return info.isFile(); }
bool isLeftover(const QFileInfo &info) { return info.fileName().startsWith(".unspool-partial-"); }

class UnspoolBundle : public ::testing::Test
{
  protected:
    QString archive() const { return bundle + QStringLiteral("/Contents/Resources/archive.zip"); }
    QString lesson(const QString &item = {}) const
    {
        return box.temporary() + QStringLiteral("/Brindle_Lessons/Sample Lesson/") + item;
    }
    QStringList launches() const
    {
        return QString::fromLatin1(testfiles::read(lesson(lessonzip::kMarkerName)))
            .split(u'\n', Qt::SkipEmptyParts);
    }
    // Runs `program` (the bundle's own by default) to its end: its exit code, or -1.
    int run(const QString &program = {}, const QStringList &arguments = {},
            const QList<std::pair<QString, QString>> &extra = {})
    {
        QProcess &process = box.start(program.isEmpty() ? bundleProgram(bundle, "Unspool") : program,
                                      arguments, false, extra);
        return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit
                   ? process.exitCode()
                   : -1;
    }

    Sandbox box;
    QString bundle = box.copyBundle(UNSPOOL_BUNDLE, QStringLiteral("Sample Lesson.app"));
};

TEST_F(UnspoolBundle, UnpacksTheLessonStartsTheLauncherAndEnds)
{
    const QList<lessonzip::Entry> entries = lessonWithStandIn(lessonzip::lessonEntries());
    ASSERT_TRUE(lessonzip::write(archive(), entries));

    EXPECT_EQ(run(), 0) << "handed over to the launcher";
    EXPECT_TRUE(waitUntil([&] { return !launches().isEmpty(); })) << "no launcher started";
    EXPECT_EQ(launches(), QStringList{kLaunch});
    for (const lessonzip::Entry &entry : entries) {
        if (!entry.name.endsWith(u'/')) {
            EXPECT_EQ(testfiles::read(lesson(entry.name)), entry.content) << qPrintable(entry.name);
            EXPECT_EQ(QFileInfo(lesson(entry.name)).lastModified(), entry.modified) << qPrintable(entry.name);
        }
    }
    // The launcher bundle's own items are open to all; other content keeps its mode.
    EXPECT_EQ(testfiles::modeOf(lesson("Wayfarer.app")) & 07777, 0777u);
    EXPECT_EQ(testfiles::modeOf(lesson(kLauncher)) & 07777, 0777u);
    EXPECT_NE(testfiles::modeOf(lesson("pagewright_files/index.html")) & 07777, 0777u);
}

TEST_F(UnspoolBundle, ClosingTheWindowMidExtractionEndsAtOnce)
{
    QList<lessonzip::Entry> entries = lessonWithStandIn(lessonzip::launcherEntries());
    for (int page = 0; page < 300; ++page) {
        QByteArray data(64 * 1024, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()), 16384);
        entries.append({QStringLiteral("pagewright_files/%1.bin").arg(page), data,
                        lessonzip::sampleTime()});
    }
    ASSERT_TRUE(lessonzip::write(archive(), entries));
    // Without unnamed files each file has a hidden name until it is complete, which
    // the next run must sweep. The shim goes first, or a sanitizer runtime refuses.
    const QList<std::pair<QString, QString>> noUnnamedFiles{
        {"LD_PRELOAD", FAULT_SHIM},
        {"ASAN_OPTIONS", qEnvironmentVariable("ASAN_OPTIONS") + ":verify_asan_link_order=0"},
        {"FAULT_NO_TMPFILE", "1"}};

    EXPECT_EQ(run(UNSPOOL_CLOSE_DRIVER, {bundle}, noUnnamedFiles), 1) << "ends, as a failure";
    const qsizetype written = below(lesson(), isFile).size();
    EXPECT_GT(written, 0);
    EXPECT_LT(written, entries.size() - 1);
    EXPECT_TRUE(launches().isEmpty());

    // The next run completes the lesson and sweeps unfinished files, also one planted
    // (where the closing moment fell is chance).
    ASSERT_TRUE(testfiles::write(lesson("pagewright_files/.unspool-partial-x"), "part"));
    EXPECT_EQ(run({}, {}, noUnnamedFiles), 0);
    EXPECT_TRUE(waitUntil([&] { return launches() == QStringList{kLaunch}; }));
    EXPECT_EQ(below(lesson(), isFile).size(), entries.size()); // less a folder, plus the marker
    EXPECT_EQ(below(lesson(), isLeftover), QStringList());
}

// The lesson opened again while its launcher still runs: that executable cannot be
// written into, only replaced, and the launcher is started again.
TEST_F(UnspoolBundle, ARerunReplacesTheRunningLauncherAndStartsItAgain)
{
    ASSERT_TRUE(lessonzip::write(archive(), lessonWithStandIn(lessonzip::lessonEntries())));
    const QByteArray hold = QFile::encodeName(lesson("launcher-hold"));
    // Open for reading and writing, so the open does not wait; the launchers wait
    // until it is closed.
    ASSERT_TRUE(QDir().mkpath(lesson()) && ::mkfifo(hold.constData(), 0600) == 0);
    const int holdFd = ::open(hold.constData(), O_RDWR | O_CLOEXEC);

    EXPECT_EQ(run(), 0);
    ASSERT_TRUE(waitUntil([&] { return launches().size() == 1; }));
    const int busy = ::open(QFile::encodeName(lesson(kLauncher)).constData(), O_WRONLY | O_CLOEXEC);
    EXPECT_TRUE(busy < 0 && errno == ETXTBSY) << "control: the launcher's file is busy";
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(waitUntil([&] { return launches().size() == 2; })) << "not started again";
    EXPECT_EQ(launches(), QStringList({kLaunch, kLaunch}));
    EXPECT_EQ(testfiles::read(lesson(kLauncher)), testfiles::read(STANDIN_LAUNCHER));
    EXPECT_EQ(below(lesson(), isLeftover), QStringList());
    ::close(holdFd); // both launchers end
}

// ---- failures, on a virtual X screen ----

struct AlertRow {
    const char *name;
    const char *bundleName;
    int archive; // 0: none, 1: no zip, 2: no launcher in it, 3: damaged, 4: a whole lesson
    const char *arrange; // shell commands run in the sandbox beforehand
};

std::ostream &operator<<(std::ostream &out, const AlertRow &row)
{
    return out << row.name;
}

const AlertRow kAlertRows[] = {
    {"noArchive", "Sample Lesson.app", 0, ""},
    {"archiveNotAZip", "Sample Lesson.app", 1, ""},
    {"noLauncherInArchive", "Sample Lesson.app", 2, ""},
    {"extractionFailed", "Sample Lesson.app", 3, ""},
    {"lessonNameEmpty", ".app", 4, ""},
    {"lessonNameDot", "..app", 4, ""},
    {"lessonNameDotDot", "...app", 4, ""},
    {"lessonNameBackslash", "..\\up.app", 4, ""},
    {"lessonNameLineBreak", "two\nlines.app", 4, ""},
    {"lessonNameDelete", "a\x7f.app", 4, ""},
    {"lessonsFolderALink", "Sample Lesson.app", 4, "mkdir e && ln -s ../e tmp/Brindle_Lessons"},
    {"lessonsFolderOthers", "Sample Lesson.app", 4,
     "mkdir tmp/Brindle_Lessons && chown 65534 tmp/Brindle_Lessons"},
};

// Where the toolkit keeps its own files.
const QStringList kNotOurs{"home", "tmp/runtime-root"};

class UnspoolAlert : public ::testing::TestWithParam<AlertRow>
{
};

// The error sheet holds the program until Ok; then it ends with status 1.
TEST_P(UnspoolAlert, WaitsForTheUserThenEnds)
{
    const AlertRow &row = GetParam();
    Sandbox box;
    const QString bundle = box.copyBundle(UNSPOOL_BUNDLE, QString::fromUtf8(row.bundleName));
    const QString zip = bundle + QStringLiteral("/Contents/Resources/archive.zip");
    QList<lessonzip::Entry> entries = lessonzip::lessonEntries();
    if (row.archive == 2)
        entries = lessonzip::contentEntries();
    QByteArray bytes;
    if (row.archive > 1 && lessonzip::write(zip, entries))
        bytes = testfiles::read(zip);
    if (row.archive == 3) // the second entry's header spoilt, the directory whole
        bytes[bytes.indexOf("PK\x03\x04", 1)] = 'X';
    ASSERT_TRUE(row.archive == 0 || testfiles::write(zip, row.archive == 1 ? "no zip" : bytes));
    const QString arrange = QStringLiteral("cd \"$0\" || exit 1\n") + row.arrange;
    if (!haveDisplay() || QProcess::execute("sh", {"-c", arrange, box.path()}) != 0)
        GTEST_SKIP() << "needs an X display (ctest runs this under xvfb-run), maybe root";
    const QStringList before = testfiles::snapshot(box.path(), kNotOurs);

    QProcess &unspool = box.start(bundleProgram(bundle, "Unspool"), {}, true, {{"QT_QPA_PLATFORM", "xcb"}});
    const QByteArray sheet = waitForWindow(unspool.processId(), QStringLiteral("^Unspool$"));
    ASSERT_FALSE(sheet.isEmpty()) << "no error sheet showed";
    // Whatever the extraction did to the main thread's processors is undone.
    EXPECT_EQ(processorsOf(QString::number(unspool.processId())), processorsOf("self"));
    if (row.archive == 4) {
        EXPECT_EQ(testfiles::changes(before, testfiles::snapshot(box.path(), kNotOurs)),
                  QStringList()) << "written before refusing";
    }
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", sheet}) && xdotool({"key", "Return"}));
    ASSERT_TRUE(unspool.waitForFinished(60000)) << "Ok did not end the program";
    EXPECT_EQ(unspool.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(unspool.exitCode(), 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, UnspoolAlert, ::testing::ValuesIn(kAlertRows),
                         [](const auto &info) { return std::string(info.param.name); });

// Every value is applied at once, but a run of values paints the bar a few times
// at most, the last painting showing the last value: painting the bar for each
// whole percent cost more than the extraction of a small entry.
TEST(UnspoolForm, ARunOfValuesPaintsTheBarOnlyNowAndThen)
{
    const platform::LinuxMainBundle bundle(QStringLiteral("/nowhere/Sample Lesson.app"));
    platform::LinuxTemporaryDirectory temporary;
    platform::LinuxOpenService opener;
    platform::QtAlerts alerts(QStringLiteral("Unspool"));
    platform::QtMainThread mainThread;
    unspool::MainMenuViewController controller({bundle, temporary, opener, alerts, mainThread, [] {}});
    QProgressBar *bar = controller.getProgressBar();
    controller.window()->show();
    ASSERT_TRUE(waitUntil([&] { return controller.window()->windowHandle()->isExposed(); }));
    struct PaintCounter : QObject {
        int count = 0, lastValue = -1;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                ++count, lastValue = static_cast<QProgressBar *>(watched)->value();
            return false;
        }
    } paints;
    bar->installEventFilter(&paints);
    for (int percent = 1; percent <= 100; ++percent) {
        controller.updateProgressBar(percent);
        EXPECT_EQ(bar->value(), percent);
        QCoreApplication::processEvents();
    }
    EXPECT_LT(paints.count, 50);
    EXPECT_TRUE(waitUntil([&] { return paints.lastValue == 100; })) << "100 never painted";
}

} // namespace
