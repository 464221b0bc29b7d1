// The built Unspool in a sandbox, its failure sheets on a virtual X screen; the bar in-process.
#include "tests/Unspool/LessonZip.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/RowPrinting.h"
#include "tests/support/Sandbox.h"
#include "tests/support/Waiting.h"

#include "Unspool/MainMenuViewController.h"
#include "platform/linux/LinuxMainBundle.h"
#include "platform/linux/LinuxOpenService.h"
#include "platform/linux/LinuxTemporaryDirectory.h"
#include "platform/linux/QtAlerts.h"
#include "platform/linux/QtMainThread.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QWindow>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace
{

const QString kLauncher = QStringLiteral("Wayfarer.app/Contents/MacOS/Wayfarer");

QString processorsOf(const QString &pid)
{
    const QByteArray status = testfiles::read("/proc/" + pid + "/status");
    const qsizetype at = status.indexOf("Cpus_allowed_list:") + 18;
    return QString::fromLatin1(status.mid(at, status.indexOf('\n', at) - at).trimmed());
}

// A launch as the stand-in launcher records it: on all our processors, holding none of our files.
const QByteArray kLaunch = processorsOf(QStringLiteral("self")).toLatin1() + " 0\n";

const QString kLesson = QStringLiteral("/Brindle_Lessons/Sample Lesson/");

const QByteArray kStandIn = testfiles::read(QStringLiteral(STANDIN_LAUNCHER));

class UnspoolBundle : public ::testing::Test
{
  protected:
    QString lesson(const QString &item = {}) const { return box.temporary() + kLesson + item; }
    QStringList below(const char *kind) const { return testfiles::snapshot(lesson()).filter(kind); }
    QByteArray launches() const { return testfiles::read(lesson(lessonzip::kMarkerName)); }
    int run(const QString &program = {}, const QStringList &arguments = {},
            const QList<std::pair<QString, QString>> &extra = {})
    {
        QProcess &p = box.start(program.isEmpty() ? bundleProgram(bundle, "Unspool") : program,
                                arguments, false, extra);
        return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode()
                                                                                   : -1;
    }

    Sandbox box;
    QString bundle = box.copyBundle(UNSPOOL_BUNDLE, QStringLiteral("Sample Lesson.app"));
    QString archive = bundle + QStringLiteral("/Contents/Resources/archive.zip");
};

TEST_F(UnspoolBundle, ClosingTheWindowMidExtractionEndsAtOnce)
{
    QList<lessonzip::Entry> entries = lessonzip::launcherEntries();
    entries[2].content = kStandIn; // the launcher
    for (int page = 0; page < 300; ++page) {
        QByteArray data(64 * 1024, Qt::Uninitialized); // random, so that it does not compress
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()), 16384);
        entries.append({"pages/" + QString::number(page), data, lessonzip::sampleTime()});
    }
    ASSERT_TRUE(lessonzip::write(archive, entries));
    // Without unnamed files, unfinished ones have hidden names; a sanitizer wants the shim first.
    const QList<std::pair<QString, QString>> noUnnamedFiles{
        {"LD_PRELOAD", FAULT_SHIM},
        {"ASAN_OPTIONS", qEnvironmentVariable("ASAN_OPTIONS") + ":verify_asan_link_order=0"},
        {"FAULT_NO_TMPFILE", "1"}};

    EXPECT_EQ(run(UNSPOOL_CLOSE_DRIVER, {bundle}, noUnnamedFiles), 1) << "ends, as a failure";
    const qsizetype written = below(" file ").size();
    EXPECT_TRUE(written > 0 && written < entries.size() - 1) << written;
    EXPECT_TRUE(launches().isEmpty());

    // The next run completes the lesson and sweeps unfinished files, also a planted one.
    ASSERT_TRUE(testfiles::write(lesson("pages/.unspool-partial-0123456789xyz"), "part"));
    EXPECT_EQ(run({}, {}, noUnnamedFiles), 0);
    EXPECT_TRUE(waitUntil([&] { return launches() == kLaunch; }));
    EXPECT_EQ(below(" file ").size(), entries.size()); // less a folder, plus the marker
    EXPECT_EQ(below(".unspool-partial-"), QStringList());
}

// Our own lines on standard error, the category's name cut off.
QByteArrayList ourLines(const QByteArray &standardError)
{
    QByteArrayList lines;
    for (const QByteArray &line : standardError.split('\n'))
        if (line.startsWith("brindle.unspool: "))
            lines.append(line.mid(17));
    return lines;
}

// A failed extraction leaves one line of why on standard error beside its alert: the entry
// and what failed. First, a sound lesson says nothing there.
TEST_F(UnspoolBundle, AFailedExtractionSaysWhyOnStandardError)
{
    ASSERT_TRUE(lessonzip::write(archive, lessonzip::lessonEntries()));
    QProcess unspool;
    unspool.setProcessEnvironment(box.environment());
    unspool.start(bundleProgram(bundle, "Unspool"));
    ASSERT_TRUE(unspool.waitForFinished(120000) && unspool.exitCode() == 0);
    EXPECT_EQ(ourLines(unspool.readAllStandardError()), QByteArrayList());

    // The page's CRC, in its local header and central record, no longer matches its content.
    QByteArray bytes = testfiles::read(archive);
    const qsizetype local = bytes.indexOf("pagewright_files/index.html") - 30;
    const qsizetype central = bytes.indexOf("pagewright_files/index.html", local + 31) - 46;
    bytes[local + 14] = char(bytes[local + 14] ^ 1),
                  bytes[central + 16] = char(bytes[central + 16] ^ 1);
    ASSERT_TRUE(local >= 0 && central > local && testfiles::write(archive, bytes));
    unspool.start(bundleProgram(bundle, "Unspool"));
    QByteArray said;
    EXPECT_TRUE(
        waitUntil([&] { return !ourLines(said += unspool.readAllStandardError()).isEmpty(); }));
    unspool.kill(); // it waits at its alert
    unspool.waitForFinished();
    const QByteArrayList lines = ourLines(said + unspool.readAllStandardError());
    ASSERT_EQ(lines.size(), 1) << said.constData();
    EXPECT_TRUE(
        lines[0].endsWith(": entry pagewright_files/index.html: Error occurs: CRC check failed"))
        << lines[0].constData();
}

// Opened again while its launcher runs: the busy executable is replaced and started again.
TEST_F(UnspoolBundle, ARerunReplacesTheRunningLauncherAndStartsItAgain)
{
    QList<lessonzip::Entry> entries = lessonzip::lessonEntries();
    entries[2].content = kStandIn; // the launcher
    ASSERT_TRUE(lessonzip::write(archive, entries));
    const QByteArray hold = QFile::encodeName(lesson("launcher-hold"));
    ASSERT_TRUE(QDir().mkpath(lesson()) && ::mkfifo(hold.constData(), 0600) == 0);
    const int holdFd = ::open(hold.constData(), O_RDWR | O_CLOEXEC); // read-write: no waiting

    EXPECT_EQ(run(), 0);
    ASSERT_TRUE(waitUntil([&] { return launches().count('\n') == 1; }));
    // The launcher bundle's own items are open to all; other content keeps its mode.
    EXPECT_EQ(testfiles::modeOf(lesson("Wayfarer.app")) & 07777, 0777u);
    EXPECT_EQ(testfiles::modeOf(lesson(kLauncher)) & 07777, 0777u);
    EXPECT_NE(testfiles::modeOf(lesson("pagewright_files/index.html")) & 07777, 0777u);
    const int busy = ::open(QFile::encodeName(lesson(kLauncher)).constData(), O_WRONLY | O_CLOEXEC);
    EXPECT_TRUE(busy < 0 && errno == ETXTBSY) << "control: the launcher's file is busy";
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(waitUntil([&] { return launches().count('\n') == 2; })) << "not started again";
    EXPECT_EQ(launches(), kLaunch + kLaunch);
    EXPECT_EQ(testfiles::read(lesson(kLauncher)), kStandIn);
    EXPECT_EQ(below(".unspool-partial-"), QStringList());
    ::close(holdFd); // both launchers end
}

// After the extraction, before the hand-over, the lesson folder ($0) is moved away and a
// look-alike put in its place, or its launcher swapped: only the launcher written can start.
struct SwapRow {
    const char *name, *swap;
    const char *startedIn; // where the launcher that ran lies ("": none ran, an alert instead)
};

void PrintTo(const SwapRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("swap", row.swap);
}

const SwapRow kSwapRows[] = {
    {"lessonFolderReplaced", "mv \"$0\" \"$0.moved\" && cp -R \"$0.moved\" \"$0\"", ".moved"},
    {"launcherReplaced",
     "cd \"$0\" && cp -R Wayfarer.app W && mv Wayfarer.app old && mv W Wayfarer.app", ""},
};

struct AlertNoter : platform::Alerts {
    QString shown;
    void beginSheet(QWidget *, const platform::AlertText &text, std::function<void()>) override
    {
        shown = text.informativeText;
    }
    void runModal(QWidget *, const platform::AlertText &) override {}
};

using UnspoolHandOver = ::testing::TestWithParam<SwapRow>;

TEST_P(UnspoolHandOver, StartsOnlyTheLauncherItWrote)
{
    struct Swapper : unspool::MainMenuViewController {
        using MainMenuViewController::MainMenuViewController;
        QString lesson, swap;
        void ExtractionComplete() override
        {
            EXPECT_EQ(childrun::run({"/bin/sh", {"-c", swap, lesson}, {}}).exitCode, 0);
            MainMenuViewController::ExtractionComplete();
        }
    };
    Sandbox box;
    QList<lessonzip::Entry> entries = lessonzip::lessonEntries();
    entries[2].content = kStandIn;
    const QString bundle = box.copyBundle(UNSPOOL_BUNDLE, QStringLiteral("Sample Lesson.app"));
    ASSERT_TRUE(lessonzip::write(bundle + "/Contents/Resources/archive.zip", entries));
    const QByteArray tmpdir = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(box.temporary()));
    const auto restore = qScopeGuard([&] { qputenv("TMPDIR", tmpdir); });
    const platform::LinuxMainBundle mainBundle(bundle);
    platform::LinuxTemporaryDirectory temporary;
    platform::LinuxOpenService opener;
    AlertNoter alerts;
    platform::QtMainThread thread;
    bool quit = false;
    Swapper controller({mainBundle, temporary, opener, alerts, thread, [&] { quit = true; }});
    controller.lesson = (box.temporary() + kLesson).chopped(1), controller.swap = GetParam().swap;
    controller.applicationDidFinishLaunching();
    ASSERT_TRUE(waitUntil([&] { return !controller.extractionThreadRunning(); }));
    const QString ran = GetParam().startedIn;
    EXPECT_EQ(alerts.shown, ran.isEmpty() ? "Error: Could not open Wayfarer.app." : "");
    EXPECT_EQ(quit, !ran.isEmpty());
    if (!ran.isEmpty()) {
        const QString marker = controller.lesson + ran + '/' + lessonzip::kMarkerName;
        EXPECT_TRUE(fileAppears(marker, 60000)) << "the launcher written did not start";
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, UnspoolHandOver, ::testing::ValuesIn(kSwapRows), rows::byName);

// ---- failures, on a virtual X screen: the sheet holds the program until Ok, then status 1 ----

struct AlertRow {
    const char *name;
    int archive; // 0: none, 1: no launcher in it, 2: damaged, 3: a whole lesson, 4: that under
                 // a file-size limit of 512 bytes
    const char *arrange = ""; // shell commands run in the sandbox beforehand
    const char *bundleName = "Sample Lesson.app";
};

void PrintTo(const AlertRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("archive", row.archive)("arrange", row.arrange)("bundleName",
                                                                               row.bundleName);
}

const AlertRow kAlertRows[] = {
    {"noArchive", 0},
    {"noLauncherInArchive", 1},
    {"extractionFailed", 2},
    {"lessonNameDotDot", 3, "", "...app"},
    {"lessonNameLineBreak", 3, "", "two\nlines.app"},
    {"lessonsFolderALink", 3, "mkdir e && ln -s ../e tmp/Brindle_Lessons"},
    {"lessonsFolderOthers", 3, "mkdir tmp/Brindle_Lessons && chown 65534 tmp/Brindle_Lessons"},
    {"fileSizeLimit", 4},
};

using UnspoolAlert = ::testing::TestWithParam<AlertRow>;

TEST_P(UnspoolAlert, WaitsForTheUserThenEnds)
{
    const AlertRow &row = GetParam();
    Sandbox box;
    const QString bundle = box.copyBundle(UNSPOOL_BUNDLE, QString::fromUtf8(row.bundleName));
    const QString zip = bundle + QStringLiteral("/Contents/Resources/archive.zip");
    if (row.archive > 0) {
        ASSERT_TRUE(lessonzip::write(zip, row.archive == 1 ? lessonzip::contentEntries()
                                                           : lessonzip::lessonEntries()));
    }
    QByteArray bytes = testfiles::read(zip); // damaged: the second entry's header, not the list
    ASSERT_TRUE(row.archive != 2 ||
                testfiles::write(zip, bytes.replace(bytes.indexOf("PK\x03\x04", 1), 1, "X")));
    const QString arrange = QStringLiteral("cd \"$0\" || exit 1\n") + row.arrange;
    if (!haveDisplay() || QProcess::execute("sh", {"-c", arrange, box.path()}) != 0)
        GTEST_SKIP() << "needs an X display (ctest runs this on a virtual screen), maybe root";
    const auto now = [&] { return testfiles::snapshot(box.path(), {"home", "tmp/runtime-root"}); };
    const QStringList before = now(); // less the toolkit's own files

    const QString program = bundleProgram(bundle, "Unspool");
    QProcess &unspool = row.archive == 4
                            ? box.start("/bin/sh", {"-c", "ulimit -f 1 && exec \"$0\"", program},
                                        true, {{"QT_QPA_PLATFORM", "xcb"}})
                            : box.start(program, {}, true, {{"QT_QPA_PLATFORM", "xcb"}});
    const QByteArray sheet = waitForWindow(unspool.processId(), QStringLiteral("^Unspool$"));
    ASSERT_FALSE(sheet.isEmpty()) << "no error sheet showed";
    // Whatever the extraction did to the main thread's processors is undone.
    EXPECT_EQ(processorsOf(QString::number(unspool.processId())), processorsOf("self"));
    if (row.archive == 3) {
        EXPECT_EQ(testfiles::changes(before, now()), QStringList()) << "written before refusing";
    }
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", sheet}) && xdotool({"key", "Return"}));
    ASSERT_TRUE(unspool.waitForFinished(60000)) << "Ok did not end the program";
    EXPECT_TRUE(unspool.exitStatus() == QProcess::NormalExit && unspool.exitCode() == 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, UnspoolAlert, ::testing::ValuesIn(kAlertRows), rows::byName);

// Every value is applied at once, but the bar is painted only a few times, the last value last.
TEST(UnspoolForm, ARunOfValuesPaintsTheBarOnlyNowAndThen)
{
    const platform::LinuxMainBundle bundle(QStringLiteral("/nowhere/Sample Lesson.app"));
    platform::LinuxTemporaryDirectory temporary;
    platform::LinuxOpenService opener;
    platform::QtAlerts alerts(QStringLiteral("Unspool"));
    platform::QtMainThread thread;
    unspool::MainMenuViewController controller({bundle, temporary, opener, alerts, thread, [] {}});
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
