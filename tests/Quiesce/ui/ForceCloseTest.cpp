// Force Close All through the test build of the root helper (its plug-in locations
// are the test's root and home), started directly instead of through the
// authentication dialog, and through a stand-in for pkexec that refuses.
#include "ControllerTestSupport.h"

#include "GMIMRootActions.h"
#include "RootHelperRunner.h"
#include "TestFiles.h"

#include <QFile>
#include <QSignalSpy>
#include <QWidget>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

using namespace quiesce_test;

namespace
{

class ForceCloseTest : public ControllerTest
{
  protected:
    void SetUp() override
    {
        ControllerTest::SetUp();
        rootActions = &GMIMRootActions::sharedInstance;
        qputenv("QUIESCE_TEST_SYSTEM_ROOT", rootFolder().toLocal8Bit());
        qputenv("QUIESCE_TEST_HOME", homeFolder().toLocal8Bit());
    }
    void TearDown() override
    {
        // Ends the shared helper and forgets the test's services.
        GMIMRootActions::setSharedServices(nullptr, nullptr);
        qunsetenv("QUIESCE_TEST_SYSTEM_ROOT");
        qunsetenv("QUIESCE_TEST_HOME");
    }
    // Presses Force Close All and waits until it has looked again.
    void forceCloseAll()
    {
        QSignalSpy finished(&controller(), &CGMCApp::forceCloseAllFinished);
        controller().iaForceCloseAllButtonPressed();
        ASSERT_TRUE(finished.wait(kPatienceMs));
    }
    void useHelper(const QString &program, const QStringList &arguments)
    {
        GMIMRootActions::setSharedServices(std::make_shared<RootHelperRunner>(program, arguments),
                                           log);
    }

    std::shared_ptr<FakeSystemLog> log = std::make_shared<FakeSystemLog>();
};

TEST_F(ForceCloseTest, KillsEveryHolderAndEndsWithZero)
{
    useHelper(QStringLiteral(QUIESCE_ROOT_HELPER), {});
    Holder plain({pluginInRoot});
    Holder stubborn({pluginInHome}, Holder::Term::Ignored);
    Holder both({pluginInRoot, pluginInHome});
    Holder bystander(QStringList{});
    for (const Holder *h : {&plain, &stubborn, &both, &bystander})
        ASSERT_TRUE(h->isHolding());
    ASSERT_TRUE(started());
    ASSERT_EQ(rows(), 4);

    forceCloseAll();
    EXPECT_EQ(exits, QList<int>{0});
    EXPECT_TRUE(plain.endedBySignal());
    EXPECT_TRUE(stubborn.endedBySignal());
    EXPECT_TRUE(both.endedBySignal());
    EXPECT_TRUE(bystander.isRunning());
    EXPECT_TRUE(controller().shouldContinuouslyBringWindowToFront());
    EXPECT_TRUE(log->lines.isEmpty()) << log->lines.join(u'|').toStdString();
}

// A browser and its plug-in host run as an ordinary user (the helper never
// follows a holder up to root's processes); the host is the browser's child.
TEST_F(ForceCloseTest, ThePluginHostIsKilledThroughItsBrowser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running as another user needs root";
    useHelper(QStringLiteral(QUIESCE_ROOT_HELPER), {});
    ASSERT_EQ(::chmod(QFile::encodeName(tempPath(QString())).constData(), 0755), 0);
    QProcess browser;
    browser.start(QStringLiteral("/usr/bin/setpriv"),
                  {"--reuid=65534", "--regid=65534", "--clear-groups", "/bin/sh", "-c",
                   "sleep 600 3<\"$0\" & echo \"$!\"; wait", pluginInRoot});
    ASSERT_TRUE(browser.waitForReadyRead(kPatienceMs));
    const int host = browser.readLine().trimmed().toInt();
    ASSERT_GT(host, 0);
    processNames.insert(host, QStringLiteral("WebKitPluginHost"));
    addRecord(int(browser.processId()), {{QStringLiteral("NSApplicationBundleIdentifier"),
                                          QStringLiteral("com.apple.Safari")}});
    ASSERT_TRUE(started());
    ASSERT_EQ(rows(), 1);

    forceCloseAll();
    ASSERT_TRUE(browser.state() == QProcess::NotRunning || browser.waitForFinished(kPatienceMs));
    EXPECT_EQ(browser.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(::kill(host, 0), 0); // the host itself was left alone
    ::kill(host, SIGKILL);
}

// The helper refuses to signal its own parent, so a holder that is this very test
// survives Force Close All: the window stays and lists it, and nothing reports
// success.
TEST_F(ForceCloseTest, AHolderThatSurvivesKeepsTheWindowUp)
{
    useHelper(QStringLiteral(QUIESCE_ROOT_HELPER), {});
    Holder plain({pluginInRoot});
    ASSERT_TRUE(plain.isHolding());
    QFile survivor(pluginInHome);
    ASSERT_TRUE(survivor.open(QIODevice::ReadOnly));
    processNames.insert(int(::getpid()), QStringLiteral("survivor"));
    ASSERT_TRUE(started());
    ASSERT_EQ(rows(), 2);

    forceCloseAll();
    EXPECT_TRUE(plain.endedBySignal());
    EXPECT_TRUE(exits.isEmpty());
    ASSERT_EQ(rows(), 1);
    EXPECT_EQ(nameAt(0), QStringLiteral("survivor"));
    EXPECT_TRUE(controller().getUiAppWindow()->isVisible());
    EXPECT_TRUE(controller().shouldContinuouslyBringWindowToFront());
}

TEST_F(ForceCloseTest, AStubbornHolderOutlivesTerm)
{
    Holder stubborn({pluginInRoot}, Holder::Term::Ignored);
    ASSERT_TRUE(stubborn.isHolding());
    ASSERT_TRUE(started());
    // The row close asks politely; this one stays and keeps its row.
    CGMCApp::terminateWithUserRights(stubborn.pid());
    controller().iaContinueButtonPressed();
    EXPECT_TRUE(stubborn.isRunning());
    EXPECT_EQ(rows(), 1);
    EXPECT_TRUE(exits.isEmpty());
}

TEST_F(ForceCloseTest, ARefusedAuthorizationChangesNothingAndAsksAgain)
{
    // Answers as pkexec does when its dialog is dismissed, counting the requests.
    const QString pkexec = tempPath(QStringLiteral("pkexec"));
    const QString asked = tempPath(QStringLiteral("asked"));
    ASSERT_TRUE(testfiles::writeExecutable(
        pkexec, "#!/bin/sh\necho asked >>\"$QUIESCE_TEST_ASKED\"\nexit 126\n"));
    qputenv("QUIESCE_TEST_ASKED", asked.toLocal8Bit());
    useHelper(pkexec, {QStringLiteral(QUIESCE_ROOT_HELPER)});

    Holder holder({pluginInRoot});
    ASSERT_TRUE(holder.isHolding());
    ASSERT_TRUE(started());
    const QStringList before = testfiles::tree(rootFolder());

    controller().iaForceCloseAllButtonPressed();
    EXPECT_TRUE(exits.isEmpty());
    EXPECT_TRUE(holder.isRunning());
    EXPECT_EQ(rows(), 1);
    EXPECT_TRUE(controller().getUiAppWindow()->isVisible());
    EXPECT_EQ(log->lines, QStringList{QStringLiteral("Unable to execute privileged task.")});
    EXPECT_EQ(testfiles::read(asked), QByteArray("asked\n"));

    controller().iaForceCloseAllButtonPressed();
    EXPECT_EQ(testfiles::read(asked), QByteArray("asked\nasked\n"));
    EXPECT_TRUE(exits.isEmpty());
    EXPECT_TRUE(holder.isRunning());
    EXPECT_EQ(testfiles::tree(rootFolder()), before);
    EXPECT_TRUE(controller().shouldContinuouslyBringWindowToFront());
}

} // namespace
