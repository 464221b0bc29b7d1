// Runs of the built Quiesce.app on a virtual X screen over real holders of HOME's plug-in, with
// a stand-in /usr/bin/pkexec (in a mount namespace of its own) that runs the test build of the
// root helper or refuses; buttons are clicked where a twin window of the same controller has them.
#include "Quiesce/CGMCApp.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/QtAlerts.h"
#include "platform/linux/QtApplicationIcons.h"
#include "tests/support/RowPrinting.h"
#include "tests/support/Sandbox.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Waiting.h"

#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

namespace
{

const QString kPlugin = "/Library/Internet Plug-Ins/Glimmer Player.plugin";
const QString kHold = "exec 3<\"$0\"; exec sleep 600";
const QString kProgram = QUIESCE_BUNDLE "/Contents/MacOS/Quiesce";

class QuiesceRun : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!haveDisplay() || QFileInfo::exists(kPlugin))
            GTEST_SKIP() << "needs an X display and no system-wide copy of the plug-in";
        ASSERT_TRUE(testfiles::write(plugin, "plug-in code"));
        ASSERT_TRUE(testfiles::writeExecutable(
            box.bin() + "/pkexec", "#!/bin/sh\necho asked >>\"$ASKED\"\n[ -z \"$REFUSE\" ] || "
                                   "exit 126\nexec 3<\"$HOLD\"; exec \"$HELPER\"\n"));
    }
    // A holder that has opened the plug-in when this returns.
    QProcess &holder(const QString &script = kHold)
    {
        QProcess &process = box.start("/bin/sh", {"-c", script, plugin});
        const QString fd = QString("/proc/%1/fd/3").arg(process.processId());
        EXPECT_TRUE(waitUntil([&] { return QFile::symLinkTarget(fd) == plugin; }));
        return process;
    }
    // Quiesce with its own /usr/bin/pkexec; its window is up unless nothing holds.
    QProcess &run(bool held = true, const QString &refuse = {}, const QString &hold = "/dev/null")
    {
        const QString mount = "mount --bind \"$0\" /usr/bin/pkexec && exec \"$1\"";
        QProcess &quiesce =
            box.start("/usr/bin/unshare",
                      {"--mount", "/bin/sh", "-c", mount, box.bin() + "/pkexec", kProgram}, true,
                      {{"HELPER", QUIESCE_ROOT_HELPER},
                       {"QUIESCE_TEST_HOME", box.home()},
                       {"QUIESCE_TEST_SYSTEM_ROOT", box.path("root")},
                       {"ASKED", box.path("asked")},
                       {"REFUSE", refuse},
                       {"HOLD", hold}});
        if (held) {
            window = waitForWindow(quiesce.processId(), "^Close Applications$");
            EXPECT_FALSE(window.isEmpty());
            measure();
        }
        return quiesce;
    }
    // Where the buttons are, read off a twin window over the same holders.
    void measure()
    {
        platform::LinuxWorkspace workspace;
        platform::QtApplicationIcons icons{QString()};
        platform::QtAlerts alerts("twin");
        CGMCApp twin("/", box.home(),
                     {workspace, icons, alerts, [] { return nullptr; }, [](int) {}, [](int) {},
                      &GMUExtensions::processNameForPID});
        twin.start();
        QWidget *form = twin.getUiAppWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
        const auto centre = [&](QWidget *w) { return w->mapTo(form, w->rect().center()); };
        quit = centre(form->findChild<QPushButton *>("quitButton"));
        forceCloseAll = centre(form->findChild<QPushButton *>("forceCloseAllButton"));
        const QTableView *table = twin.getUiRichViewTableView();
        close = centre(table->indexWidget(table->model()->index(0, 2))->findChild<QPushButton *>());
    }
    // A click's effect shows in what follows; one at a window gone by then does nothing.
    void click(QPoint at)
    {
        xdotool({"mousemove", "--window", window, QString::number(at.x()), QString::number(at.y()),
                 "click", "1"});
    }
    static int endsWith(QProcess &process) // the exit status, -1 after a signal
    {
        EXPECT_TRUE(process.state() == QProcess::NotRunning || process.waitForFinished(60000));
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QByteArray asked() const { return testfiles::read(box.path("asked")); }

    Sandbox box;
    QString plugin = box.home() + kPlugin + "/Contents/MacOS/Glimmer Player";
    QString window;
    QPoint quit, forceCloseAll, close;
};

TEST_F(QuiesceRun, EndsWithZeroWhenNothingHoldsThePlugin)
{
    EXPECT_EQ(endsWith(run(false)), 0);
    ASSERT_TRUE(QDir(box.home() + "/Library").removeRecursively());
    EXPECT_EQ(endsWith(run(false)), 0);
}

TEST_F(QuiesceRun, QuitOrClosingTheWindowEndsWithOne)
{
    QProcess &kept = holder();
    QProcess &first = run();
    click(quit);
    EXPECT_EQ(endsWith(first), 1);
    QProcess &second = run();
    // As its close button asks, until it has been heard.
    EXPECT_TRUE(waitUntil([&] {
        platform::LinuxWorkspace().requestClose(int(second.processId()));
        return second.waitForFinished(200);
    }));
    EXPECT_EQ(endsWith(second), 1);
    EXPECT_EQ(kept.state(), QProcess::Running);
}

TEST_F(QuiesceRun, ForceCloseAllEndsEveryHolderThenItselfWithZero)
{
    QProcess &plain = holder();
    QProcess &stubborn = holder("trap '' TERM; " + kHold);
    QProcess &bystander = box.start("/bin/sleep", {"600"});
    QProcess &quiesce = run();
    click(forceCloseAll);
    EXPECT_EQ(endsWith(quiesce), 0);
    EXPECT_EQ(endsWith(plain), -1);
    EXPECT_EQ(endsWith(stubborn), -1);
    EXPECT_EQ(bystander.state(), QProcess::Running);
}

// The stand-in hands the helper the plug-in, which it never kills: the window lists it again.
TEST_F(QuiesceRun, AHolderThatSurvivesForceCloseAllKeepsTheWindowUp)
{
    QProcess &plain = holder();
    QProcess &quiesce = run(true, {}, plugin);
    click(forceCloseAll);
    EXPECT_EQ(endsWith(plain), -1);
    click(quit);
    EXPECT_EQ(endsWith(quiesce), 1);
}

TEST_F(QuiesceRun, ARefusedAuthorisationChangesNothingAndAsksAgain)
{
    QProcess &kept = holder();
    QProcess &quiesce = run(true, "refuse");
    const QStringList before = testfiles::snapshot(box.home());
    click(forceCloseAll);
    ASSERT_TRUE(waitUntil([&] { return asked() == "asked\n"; }));
    click(forceCloseAll);
    ASSERT_TRUE(waitUntil([&] { return asked() == "asked\nasked\n"; }));
    click(quit);
    EXPECT_EQ(endsWith(quiesce), 1);
    EXPECT_EQ(kept.state(), QProcess::Running);
    EXPECT_EQ(testfiles::snapshot(box.home()), before);
}

// Other programs of its user must not borrow its descriptors (the pipe to the root helper)
// through /proc; all run as nobody, and its input is a file only root may read.
TEST_F(QuiesceRun, ItsDescriptorsAreClosedToOtherProgramsOfItsUser)
{
    const QStringList nobody{"--reuid=65534", "--regid=65534", "--clear-groups"};
    ASSERT_EQ(::chmod(QFile::encodeName(box.path()).constData(), 0755), 0);
    ASSERT_EQ(::chown(QFile::encodeName(box.home()).constData(), 65534, 65534), 0);
    const auto opens = [&](qint64 pid, int fd) {
        return QProcess::execute("/usr/bin/setpriv",
                                 nobody + QStringList{"/bin/sh", "-c", "exec 9<\"$0\"",
                                                      QString("/proc/%1/fd/%2").arg(pid).arg(fd)});
    };
    QProcess &held =
        box.start("/usr/bin/setpriv", nobody + QStringList{"/bin/sh", "-c", kHold, plugin});
    QProcess quiesce;
    quiesce.setProcessEnvironment(box.environment());
    quiesce.setStandardInputFile(box.bin() + "/pkexec"); // root's, 0700
    quiesce.start("/usr/bin/setpriv", nobody + QStringList{kProgram});
    // Its watcher thread starts once its window is up.
    const QString threads = QString("/proc/%1/task").arg(quiesce.processId());
    ASSERT_TRUE(
        waitUntil([&] { return QDir(threads).count() > 3 && opens(held.processId(), 3) == 0; }));
    EXPECT_NE(opens(quiesce.processId(), 0), 0);
    quiesce.kill();
    quiesce.waitForFinished();
}

struct HolderRow {
    const char *name;
    const char *mode; // the window holder's, or nullptr for a holder without a window
};

void PrintTo(const HolderRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("mode", row.mode);
}

class PoliteClose : public QuiesceRun, public ::testing::WithParamInterface<HolderRow>
{
};

// A row's Close asks a window to close as its close button would; TERM comes only
// at the next Close, or at once for a holder without a window.
TEST_P(PoliteClose, AsksAWindowFirstAndSendsTermTheSecondTime)
{
    const char *mode = GetParam().mode;
    const bool endsWhenAsked = mode && qstrcmp(mode, "closes") == 0;
    QProcess window; // read for "asked"
    window.setProcessEnvironment(box.environment(true));
    if (mode) {
        window.start(QUIESCE_WINDOW_HOLDER, {plugin, mode, "Holder"});
        ASSERT_FALSE(waitForWindow(window.processId(), "^holder$").isEmpty());
    }
    QProcess &held = mode ? window : holder();
    QProcess &quiesce = run();
    click(close);
    QByteArray said;
    const auto asked = [&] {
        return waitUntil(
            [&] { return (said += window.readAllStandardOutput()).contains("asked"); });
    };
    if (mode && !endsWhenAsked) {
        ASSERT_TRUE(asked());
        EXPECT_EQ(held.state(), QProcess::Running);
        click(close);
    }
    EXPECT_EQ(endsWith(held), endsWhenAsked ? 0 : -1);
    EXPECT_EQ(mode && asked(), mode != nullptr);
    if (quiesce.state() == QProcess::Running)
        click(close); // its list may have been read before the holder let go
    EXPECT_EQ(endsWith(quiesce), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, PoliteClose,
                         ::testing::Values(HolderRow{"windowThatCloses", "closes"},
                                           HolderRow{"windowThatStays", "stays"},
                                           HolderRow{"noWindow", nullptr}),
                         rows::byName);

// The desktop's data folders, laid out before GLib reads them (once per process). GLib ignores
// an entry whose program is missing, so entries no child runs name true.
class DesktopData : public ::testing::Environment
{
  public:
    static inline QString folder;
    static QString entry(const QString &id) { return folder + "/applications/" + id + ".desktop"; }
    void SetUp() override
    {
        folder = m_dir.path();
        const auto write = [](const QString &id, const QString &lines) {
            ASSERT_TRUE(testfiles::write(entry(id), "[Desktop Entry]\nType=Application\n" +
                                                        lines.toUtf8().replace('|', '\n')));
        };
        write("org.example.Viewer", "Name=Lesson Viewer|Exec=/bin/true 1|StartupWMClass=Holder|");
        write("org.example.Launched", "Name=Launched Lesson|Exec=/bin/true 2|Icon=launched|");
        write("org.example.Reader", "Name=Lesson Reader|Exec=" + folder + "/bin/reader %f|");
        write("org.example.A", "Name=Shared A|Exec=" + folder + "/bin/shared|");
        write("org.example.B", "Name=Shared B|Exec=" + folder + "/bin/shared %U|");
        ASSERT_TRUE(testfiles::write(folder + "/icons/hicolor/index.theme",
                                     "[Icon Theme]\nName=T\nDirectories=48\n[48]\nSize=48\n"));
        QImage image(48, 48, QImage::Format_RGB32);
        image.fill(Qt::green);
        ASSERT_TRUE(QDir().mkpath(folder + "/icons/hicolor/48") &&
                    image.save(folder + "/icons/hicolor/48/launched.png"));
        for (const char *tool : {"/bin/reader", "/bin/shared"})
            ASSERT_TRUE(testfiles::writeExecutable(folder + tool, testfiles::read("/bin/sleep")));
        qputenv("XDG_DATA_DIRS", folder.toUtf8());
        qputenv("XDG_DATA_HOME", (folder + "/home").toUtf8());
        QIcon::setThemeSearchPaths({folder + "/icons"});
        QIcon::setThemeName("hicolor");
    }

  private:
    QTemporaryDir m_dir;
};

const auto *const kDesktopData = ::testing::AddGlobalTestEnvironment(new DesktopData);

struct NameRow {
    const char *name;
    const char *program;  // absolute or below the data folder; "" the window holder
    const char *launched; // GIO_LAUNCHED_DESKTOP_FILE_PID beside the Launched entry, or nullptr
    const char *id;       // the entry expected, "" for none
    const char *applicationName; // NSApplicationName
    bool icon;                   // the entry's green icon
};

void PrintTo(const NameRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("program", row.program)("launched", row.launched);
}

class DesktopNames : public ::testing::TestWithParam<NameRow>
{
};

TEST_P(DesktopNames, NameAndIconComeFromTheDesktopEntry)
{
    const NameRow &row = GetParam();
    QProcess child;
    QString program =
        QFileInfo(QDir(DesktopData::folder).filePath(row.program)).canonicalFilePath();
    if (!*row.program) {
        if (!haveDisplay())
            GTEST_SKIP() << "needs an X display";
        program = QUIESCE_WINDOW_HOLDER; // canonical: built into the build tree
        child.start(program, {"/dev/null", "closes", "Holder"});
        ASSERT_FALSE(waitForWindow(child.processId(), "^holder$").isEmpty());
    } else {
        const QString launch = "export GIO_LAUNCHED_DESKTOP_FILE=\"$1\" "
                               "GIO_LAUNCHED_DESKTOP_FILE_PID=%1; ";
        child.start("/bin/sh",
                    {"-c", (row.launched ? launch.arg(row.launched) : "") + "exec \"$0\" 600",
                     program, DesktopData::entry("org.example.Launched")});
    }
    ASSERT_FALSE(program.isEmpty());
    const QString exe = QString("/proc/%1/exe").arg(child.processId());
    ASSERT_TRUE(waitUntil([&] { return QFile::symLinkTarget(exe) == program; }));
    QVariantMap record;
    for (const QVariantMap &r : platform::LinuxWorkspace().launchedApplications()) {
        if (r.value("NSApplicationProcessIdentifier").toInt() == child.processId())
            record = r;
    }
    EXPECT_EQ(record.value("NSApplicationBundleIdentifier").toString(), row.id);
    EXPECT_EQ(record.value("NSApplicationName").toString(), row.applicationName);
    const QIcon icon = platform::QtApplicationIcons(QString()).iconForBundle(
        record.value("NSApplicationPath").toString());
    EXPECT_EQ(!icon.isNull() && icon.pixmap(16).toImage().pixel(8, 8) == qRgb(0, 255, 0), row.icon);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DesktopNames,
    ::testing::Values(NameRow{"launched, named itself", "/bin/sleep", "$$", "org.example.Launched",
                              "Launched Lesson", true},
                      NameRow{"launched, another named", "/bin/sleep", "1", "", "", false},
                      NameRow{"its window's class", "", nullptr, "org.example.Viewer",
                              "Lesson Viewer", false},
                      NameRow{"the one entry running it", "bin/reader", nullptr,
                              "org.example.Reader", "Lesson Reader", false},
                      NameRow{"two entries running it", "bin/shared", nullptr, "", "", false},
                      NameRow{"no entry", "/bin/sleep", nullptr, "", "", false}),
    rows::byName);

} // namespace
