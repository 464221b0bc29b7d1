// Privileged actions with the real root helper, started directly instead of
// through pkexec, and with stand-ins for pkexec that refuse.
#include "GMIMRootActions.h"
#include "RootTestSupport.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

using namespace roottest;

namespace
{

const QStringList kSleep{"/bin/sleep", "0"};

class RootActions : public ::testing::Test
{
  protected:
    // A fresh instance over the real helper; the destructor of `actions` waits
    // until the tools it started have ended.
    std::unique_ptr<GMIMRootActions> create() { return GMIMRootActions::create(runner, log); }
    PluginRoots roots;
    RecordingRunner runner{directHelper()};
    FakeLog log;
};

TEST_F(RootActions, AuthorisesOnceWithAHarmlessRun)
{
    const auto actions = create();
    ASSERT_NE(actions, nullptr);
    EXPECT_EQ(runner.opens, 1);
    EXPECT_EQ(runner.requests, QList<QStringList>{kSleep});
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(RootActions, ForceQuitKillsAHolderThatIgnoresTerm)
{
    StubbornChild child(roots.systemFile());
    ASSERT_TRUE(child.ignoresTerm());
    {
        const auto actions = create();
        ASSERT_NE(actions, nullptr);
        actions->forceQuitPID(child.pid());
        EXPECT_EQ(runner.requests.last(),
                  (QStringList{"/bin/kill", "-9", QString::number(child.pid()),
                               QString::number(startTimeOf(child.pid()))}));
    }
    EXPECT_TRUE(child.endedByKill());
    EXPECT_EQ(runner.opens, 1);
    EXPECT_TRUE(log.lines.isEmpty());
}

struct BadPid {
    const char *what;
    int pid;
};

std::ostream &operator<<(std::ostream &os, const BadPid &b)
{
    return os << b.what << " (" << b.pid << ")";
}

class ForceQuitRefusal : public RootActions, public ::testing::WithParamInterface<BadPid>
{
};

// kill would read these as process groups; as root, -1 means every process.
TEST_P(ForceQuitRefusal, SendsNothingForNonPositiveIdentifiers)
{
    StubbornChild child(roots.systemFile());
    const auto actions = create();
    ASSERT_NE(actions, nullptr);
    actions->forceQuitPID(child.pid());
    ASSERT_EQ(runner.requests.size(), 2);

    actions->forceQuitPID(GetParam().pid);
    EXPECT_EQ(runner.requests.size(), 2);
    EXPECT_TRUE(log.lines.isEmpty());
}

const BadPid kBadPids[] = {{"zero", 0}, {"minus one", -1}, {"smallest int", INT_MIN}};

INSTANTIATE_TEST_SUITE_P(Table, ForceQuitRefusal, ::testing::ValuesIn(kBadPids));

TEST_F(RootActions, ForceQuitByIdentityKillsTheSameProcess)
{
    StubbornChild child(roots.systemFile());
    const auto identity = GMUExtensions::identify(child.pid());
    ASSERT_TRUE(identity.has_value());
    {
        const auto actions = create();
        ASSERT_NE(actions, nullptr);
        EXPECT_TRUE(actions->forceQuitProcess(*identity));
    }
    EXPECT_TRUE(child.endedByKill());
}

TEST_F(RootActions, ForceQuitByIdentitySparesAProcessThatReusedTheNumber)
{
    StubbornChild child(roots.systemFile());
    auto identity = GMUExtensions::identify(child.pid());
    ASSERT_TRUE(identity.has_value());
    identity->startTime += 1; // recorded from an earlier process with the same number
    {
        const auto actions = create();
        ASSERT_NE(actions, nullptr);
        EXPECT_FALSE(actions->forceQuitProcess(*identity));
    }
    identity->startTime -= 1;
    EXPECT_TRUE(GMUExtensions::stillSameProcess(*identity));
}

TEST_F(RootActions, RemoveFileRemovesTheSystemBundleWithItsContent)
{
    const QString folder = roots.systemBundle();
    ASSERT_TRUE(QFileInfo::exists(roots.systemFile()));
    {
        const auto actions = create();
        ASSERT_NE(actions, nullptr);
        actions->removeFile(folder);
    }
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(QFileInfo::exists(QFileInfo(folder).path()));
}

struct BadPath {
    const char *what;
    const char *path;
};

std::ostream &operator<<(std::ostream &os, const BadPath &b)
{
    return os << b.what << " [" << b.path << "]";
}

class RemoveRefusal : public RootActions, public ::testing::WithParamInterface<BadPath>
{
};

TEST_P(RemoveRefusal, SendsNothing)
{
    const auto actions = create();
    ASSERT_NE(actions, nullptr);
    actions->removeFile(roots.path("absent"));
    ASSERT_EQ(runner.requests.size(), 2);

    actions->removeFile(QString::fromUtf8(GetParam().path));
    EXPECT_EQ(runner.requests.size(), 2);
}

const BadPath kBadPaths[] = {{"empty", ""}, {"the root folder", "/"}};

INSTANTIATE_TEST_SUITE_P(Table, RemoveRefusal, ::testing::ValuesIn(kBadPaths));

TEST_F(RootActions, InstallPackageFileStartsNothing)
{
    const auto actions = create();
    ASSERT_NE(actions, nullptr);
    actions->installPackageFile("/tmp/Corvane Glimmer Player.pkg", "/");
    EXPECT_EQ(runner.requests, QList<QStringList>{kSleep});
}

TEST_F(RootActions, AMissingLauncherCannotCreateTheAuthorization)
{
    RecordingRunner missing{
        std::make_shared<RootHelperRunner>("/nonexistent/pkexec", QStringList{})};
    ASSERT_NE(create(), nullptr);
    EXPECT_EQ(GMIMRootActions::create(missing, log), nullptr);
    EXPECT_EQ(log.lines, QStringList{"Unable to create authorization object."});
}

// The shared instance over stand-ins for pkexec: one that passes the request on
// to the helper and ones that answer as a dismissed dialog or a missing agent would.
class SharedInstance : public ::testing::Test
{
  protected:
    void TearDown() override { GMIMRootActions::setSharedServices(nullptr, nullptr); }

    std::shared_ptr<RecordingRunner> useLauncher(const QByteArray &script)
    {
        const QString path = tmp.path() + "/pkexec";
        EXPECT_TRUE(writeScript(path, script));
        auto runner = std::make_shared<RecordingRunner>(
            std::make_shared<RootHelperRunner>(path, QStringList{helperPath()}));
        GMIMRootActions::setSharedServices(runner, log);
        return runner;
    }
    QTemporaryDir tmp;
    std::shared_ptr<FakeLog> log = std::make_shared<FakeLog>();
};

TEST_F(SharedInstance, IsCreatedOnceAndKept)
{
    const auto runner = useLauncher("exec \"$@\"");
    GMIMRootActions *first = GMIMRootActions::sharedInstance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GMIMRootActions::sharedInstance(), first);
    EXPECT_EQ(runner->opens, 1);
    EXPECT_TRUE(log->lines.isEmpty());
}

struct Refusal {
    const char *what;
    int exitStatus;
};

std::ostream &operator<<(std::ostream &os, const Refusal &r)
{
    return os << r.what << " (exit " << r.exitStatus << ")";
}

class SharedRefusal : public SharedInstance, public ::testing::WithParamInterface<Refusal>
{
};

TEST_P(SharedRefusal, LogsGivesNothingAndAsksAgain)
{
    const auto runner = useLauncher("exit " + QByteArray::number(GetParam().exitStatus));
    EXPECT_EQ(GMIMRootActions::sharedInstance(), nullptr);
    EXPECT_EQ(log->lines, QStringList{"Unable to execute privileged task."});
    EXPECT_EQ(GMIMRootActions::sharedInstance(), nullptr);
    EXPECT_EQ(runner->opens, 2);
    EXPECT_EQ(log->lines.size(), 2);
}

const Refusal kRefusals[] = {{"dialog dismissed", 126}, {"not authorised or no agent", 127}};

INSTANTIATE_TEST_SUITE_P(Table, SharedRefusal, ::testing::ValuesIn(kRefusals));

} // namespace
