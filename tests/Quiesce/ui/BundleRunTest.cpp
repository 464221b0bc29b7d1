// Runs the built Quiesce.app as the installer would, with HOME pointed at a test
// folder (the system-wide copy of the plug-in is looked for under the real "/",
// which must not have one). ctest starts this binary under xvfb-run; without a
// display the window checks are skipped.
#include "Holders.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace quiesce_test;

namespace
{

const QString kWindowTitle = QStringLiteral("^Close Applications$");

QString executable()
{
    return QStringLiteral(QUIESCE_BUNDLE "/Contents/MacOS/Quiesce");
}

// Waits until a visible window of `pid` with the window's title appears.
bool windowAppears(qint64 pid)
{
    QStringList arguments{QStringLiteral("search"), QStringLiteral("--sync")};
    arguments << QStringLiteral("--onlyvisible") << QStringLiteral("--pid") << QString::number(pid)
              << QStringLiteral("--name") << kWindowTitle;
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), arguments);
    return xdotool.waitForFinished(kPatienceMs) && xdotool.exitStatus() == QProcess::NormalExit &&
           xdotool.exitCode() == 0 && !xdotool.readAllStandardOutput().trimmed().isEmpty();
}

class BundleRunTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(mHome.isValid());
        if (QFileInfo::exists(QStringLiteral("/") + kPluginBelowFolder))
            GTEST_SKIP() << "this machine has the plug-in installed system-wide";
        mQuiesce.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), mHome.path());
        if (!environment.contains(QStringLiteral("DISPLAY")))
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        mQuiesce.setProcessEnvironment(environment);
    }
    void TearDown() override
    {
        if (mQuiesce.state() != QProcess::NotRunning) {
            mQuiesce.kill();
            mQuiesce.waitForFinished(kPatienceMs);
        }
    }
    static bool haveDisplay() { return qEnvironmentVariableIsSet("DISPLAY"); }

    QTemporaryDir mHome;
    QProcess mQuiesce;
};

TEST_F(BundleRunTest, ShowsItsWindowWhileTheUsersCopyIsHeld)
{
    if (!haveDisplay())
        GTEST_SKIP() << "no X display to look for the window on";
    Holder holder({makePlugin(mHome.path())});
    ASSERT_TRUE(holder.isHolding());
    mQuiesce.start(executable(), {});
    ASSERT_TRUE(mQuiesce.waitForStarted(kPatienceMs));
    EXPECT_TRUE(windowAppears(mQuiesce.processId()));
    EXPECT_EQ(mQuiesce.state(), QProcess::Running);
}

TEST_F(BundleRunTest, EndsWithZeroWhenNothingHoldsThePlugin)
{
    ASSERT_FALSE(makePlugin(mHome.path()).isEmpty()); // present, but held by nobody
    mQuiesce.start(executable(), {});
    ASSERT_TRUE(mQuiesce.waitForStarted(kPatienceMs));
    // That no window was ever shown is checked in process (the controller's tests):
    // once the program has ended, its windows are gone either way.
    ASSERT_TRUE(mQuiesce.waitForFinished(kPatienceMs));
    EXPECT_EQ(mQuiesce.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(mQuiesce.exitCode(), 0);
}

TEST_F(BundleRunTest, EndsWithZeroWithoutAnyPluginFolder)
{
    mQuiesce.start(executable(), {});
    ASSERT_TRUE(mQuiesce.waitForFinished(kPatienceMs));
    EXPECT_EQ(mQuiesce.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(mQuiesce.exitCode(), 0);
}

// The setpriv arguments that run a program as the unprivileged user nobody.
const QStringList kAsNobody{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                            QStringLiteral("--clear-groups")};

// True when a process of user nobody can open descriptor `fd` of process `pid`.
bool nobodyOpens(qint64 pid, int fd)
{
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/setpriv"),
                kAsNobody + QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                        QStringLiteral("exec 9<\"$0\""),
                                        QStringLiteral("/proc/%1/fd/%2").arg(pid).arg(fd)});
    return probe.waitForFinished(kPatienceMs) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

qsizetype threadCount(qint64 pid)
{
    return QDir(QStringLiteral("/proc/%1/task").arg(pid))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

// The pipe to the root helper is one of Quiesce's descriptors; other programs of
// the same user must not be able to borrow it through /proc. Root passes that
// check anyway, so both sides run as nobody.
TEST_F(BundleRunTest, ItsDescriptorsAreClosedToOtherProgramsOfItsUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running as another user needs root";
    ASSERT_EQ(::chmod(QFile::encodeName(mHome.path()).constData(), 0755), 0);
    ASSERT_EQ(::chown(QFile::encodeName(mHome.path()).constData(), 65534, 65534), 0);
    const QString plugin = makePlugin(mHome.path());
    QProcess holder; // a program of the same user, also holding the plug-in
    holder.start(QStringLiteral("/usr/bin/setpriv"),
                 kAsNobody +
                     QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                 QStringLiteral("exec 3<\"$0\"; echo holding; exec sleep 600"),
                                 plugin});
    ASSERT_TRUE(holder.waitForReadyRead(kPatienceMs));

    QProcessEnvironment environment = mQuiesce.processEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    mQuiesce.setProcessEnvironment(environment);
    // Its input is a file nobody may read, so only the process check can stand in the way.
    mQuiesce.setStandardInputFile(plugin);
    mQuiesce.start(QStringLiteral("/usr/bin/setpriv"), kAsNobody + QStringList{executable()});
    ASSERT_TRUE(mQuiesce.waitForStarted(kPatienceMs));
    // Its watcher thread starts once the window is up, long after start-up.
    while (mQuiesce.state() == QProcess::Running && threadCount(mQuiesce.processId()) < 2)
        mQuiesce.waitForFinished(10);
    ASSERT_EQ(mQuiesce.state(), QProcess::Running);

    EXPECT_TRUE(nobodyOpens(holder.processId(), 3)); // the probe works
    EXPECT_FALSE(nobodyOpens(mQuiesce.processId(), 0));
    holder.kill();
    holder.waitForFinished(kPatienceMs);
}

TEST(QuiesceBundle, CarriesItsHelperAndResources)
{
    const QDir contents(QStringLiteral(QUIESCE_BUNDLE "/Contents"));
    for (const char *path : {"Info.plist", "MacOS/Quiesce", "MacOS/quiesce-root-helper",
                             "Resources/CBLocalizable.qm", "Resources/GenericApplication.png"})
        EXPECT_TRUE(contents.exists(QString::fromUtf8(path))) << path;
}

} // namespace
