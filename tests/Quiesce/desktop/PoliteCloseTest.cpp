// A row's Close asks a holder with a window to close it, as its close button would,
// and sends TERM only at the second Close; real X11 applications on a virtual screen.
#include "ControllerTestSupport.h"
#include "LinuxWorkspace.h"
#include "XClient.h"

using namespace quiesce_test;

namespace
{

struct PoliteCase {
    const char *name;
    const char *mode; // the X11 application's mode; nullptr: a holder without window
    bool askedFirst;  // the first Close asks instead of sending TERM
    bool endsWhenAsked;
    bool windowManager = false; // a window manager that closes windows runs
};

std::ostream &operator<<(std::ostream &os, const PoliteCase &c)
{
    return os << c.name;
}

const PoliteCase kPoliteCases[] = {
    {"window_that_closes_when_asked", "closes", true, true},
    {"window_whose_user_keeps_it_open", "stays", true, false},
    {"window_that_cannot_be_asked", "no-protocol", false, false},
    {"no_window", nullptr, false, false},
    {"through_the_window_manager", "closes", true, true, true},
};

class PoliteCloseTest : public ControllerTest, public ::testing::WithParamInterface<PoliteCase>
{
  protected:
    void SetUp() override
    {
        ControllerTest::SetUp();
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        workspace.closeRequest = [this](int pid) { return mWindows.requestClose(pid); };
    }

  private:
    platform::LinuxWorkspace mWindows;
};

TEST_P(PoliteCloseTest, AsksAWindowFirstAndSendsTermTheSecondTime)
{
    const PoliteCase &c = GetParam();
    std::unique_ptr<XClient> windowManager;
    if (c.windowManager) {
        windowManager = std::make_unique<XClient>(QStringLiteral("/dev/null"), "wm");
        ASSERT_TRUE(windowManager->isReady());
    }
    std::unique_ptr<XClient> client;
    std::unique_ptr<Holder> plain;
    if (c.mode) {
        client = std::make_unique<XClient>(pluginInRoot, QString::fromLatin1(c.mode));
        ASSERT_TRUE(client->isReady());
    } else {
        plain = std::make_unique<Holder>(QStringList{pluginInRoot});
        ASSERT_TRUE(plain->isHolding());
    }
    const int pid = client ? client->pid() : plain->pid();
    ASSERT_TRUE(started());

    clickClose(0);
    if (!c.askedFirst) {
        EXPECT_EQ(terminated, QList<int>{pid});
        EXPECT_TRUE(client ? client->endedBySignal() : plain->endedBySignal());
        return;
    }
    EXPECT_TRUE(terminated.isEmpty());
    ASSERT_TRUE(client->saw("asked"));
    if (windowManager) {
        EXPECT_TRUE(windowManager->saw("close-request"));
    }
    if (c.endsWhenAsked) {
        EXPECT_TRUE(client->endedByItself());
        return;
    }
    ASSERT_TRUE(client->isRunning());
    ASSERT_EQ(rows(), 1) << "the row stays while the holder does";
    clickClose(0);
    EXPECT_EQ(terminated, QList<int>{pid});
    EXPECT_TRUE(client->endedBySignal());
    EXPECT_EQ(exits, QList<int>{0});
}

INSTANTIATE_TEST_SUITE_P(Controller, PoliteCloseTest, ::testing::ValuesIn(kPoliteCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
