// Force Close All through the real root helper, started directly instead of through
// the authentication dialog, and through a stand-in for pkexec that refuses.
#include "ControllerTestSupport.h"

#include "GMIMRootActions.h"
#include "RootHelperRunner.h"
#include "TestFiles.h"

#include <QFile>

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
    }
    void TearDown() override
    {
        // Ends the shared helper and forgets the test's services.
        GMIMRootActions::setSharedServices(nullptr, nullptr);
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

    controller().iaForceCloseAllButtonPressed();
    EXPECT_EQ(exits, QList<int>{0});
    EXPECT_TRUE(plain.endedBySignal());
    EXPECT_TRUE(stubborn.endedBySignal());
    EXPECT_TRUE(both.endedBySignal());
    EXPECT_TRUE(bystander.isRunning());
    EXPECT_TRUE(controller().shouldContinuouslyBringWindowToFront());
    EXPECT_TRUE(log->lines.isEmpty()) << log->lines.join(u'|').toStdString();
}

TEST_F(ForceCloseTest, ThePluginHostIsKilledThroughItsBrowser)
{
    useHelper(QStringLiteral(QUIESCE_ROOT_HELPER), {});
    Holder host({pluginInRoot});
    Holder browser(QStringList{});
    ASSERT_TRUE(host.isHolding() && browser.isHolding());
    processNames.insert(host.pid(), QStringLiteral("WebKitPluginHost"));
    addRecord(browser.pid(), {{QStringLiteral("NSApplicationBundleIdentifier"),
                               QStringLiteral("com.apple.Safari")}});
    ASSERT_TRUE(started());

    controller().iaForceCloseAllButtonPressed();
    EXPECT_EQ(exits, QList<int>{0});
    EXPECT_TRUE(browser.endedBySignal());
    EXPECT_TRUE(host.isRunning());
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
    const QStringList before = testfiles::snapshot(rootFolder());

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
    EXPECT_EQ(testfiles::snapshot(rootFolder()), before);
    EXPECT_TRUE(controller().shouldContinuouslyBringWindowToFront());
}

} // namespace
