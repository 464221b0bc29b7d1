// The tool-running queries against real child processes and real files.
#include "GMUExtensions.h"
#include "TestFiles.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace
{

// A child that holds `file` open on descriptor 3 until it is killed. `exec` keeps
// the shell's process identifier for sleep, so the identifier we know is the holder.
class Holder
{
  public:
    explicit Holder(const QString &file)
    {
        mProcess.start(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("exec 3<\"$0\"; exec sleep 30"), file});
        mProcess.waitForStarted();
    }
    ~Holder()
    {
        mProcess.kill();
        mProcess.waitForFinished();
    }
    int pid() const { return int(mProcess.processId()); }

  private:
    QProcess mProcess;
};

// Waits until the child has replaced the shell with sleep and opened the file, so
// the test does not race its start-up. No time limit: ctest's own time-out applies.
void waitUntilHolding(int pid, const QString &file)
{
    const QString fd3 = QStringLiteral("/proc/%1/fd/3").arg(pid);
    while (QFile::symLinkTarget(fd3) != file)
        ::usleep(10000);
}

class ProcessQueries : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        plugin = tmp.path() + "/Library/Internet Plug-Ins/Glimmer Player.plugin";
        file = plugin + "/Contents/MacOS/Glimmer Player";
        ASSERT_TRUE(testfiles::write(file, "plug-in code"));
    }
    QTemporaryDir tmp;
    QString plugin;
    QString file;
};

TEST_F(ProcessQueries, ListsTheChildHoldingAFileInsideTheFolder)
{
    Holder holder(file);
    waitUntilHolding(holder.pid(), file);
    const auto pids = GMUExtensions::processIDsWithOpenFile(plugin);
    ASSERT_TRUE(pids.has_value());
    EXPECT_EQ(*pids, QList<int>{holder.pid()});
}

TEST_F(ProcessQueries, ListsEveryHolderOnce)
{
    Holder first(file);
    Holder second(file);
    waitUntilHolding(first.pid(), file);
    waitUntilHolding(second.pid(), file);
    const auto pids = GMUExtensions::processIDsWithOpenFile(plugin);
    ASSERT_TRUE(pids.has_value());
    EXPECT_EQ(pids->size(), 2);
    EXPECT_TRUE(pids->contains(first.pid()));
    EXPECT_TRUE(pids->contains(second.pid()));
}

TEST_F(ProcessQueries, ExistingFolderNobodyHoldsGivesAnEmptyList)
{
    const auto pids = GMUExtensions::processIDsWithOpenFile(plugin);
    ASSERT_TRUE(pids.has_value());
    EXPECT_TRUE(pids->isEmpty());
}

// Only the early return gives nullopt: a run of the tool always yields a list.
TEST_F(ProcessQueries, MissingFolderGivesNoListAtAll)
{
    ASSERT_TRUE(GMUExtensions::processIDsWithOpenFile(plugin).has_value());
    EXPECT_FALSE(GMUExtensions::processIDsWithOpenFile(plugin + "-missing").has_value());
}

TEST_F(ProcessQueries, TildeIsNotExpanded)
{
    EXPECT_FALSE(GMUExtensions::processIDsWithOpenFile(QStringLiteral("~/")).has_value());
}

TEST_F(ProcessQueries, NamesALiveChildAndNotADeadOne)
{
    int deadPid = 0;
    {
        Holder holder(file);
        waitUntilHolding(holder.pid(), file);
        EXPECT_EQ(GMUExtensions::processNameForPID(holder.pid()), QStringLiteral("sleep"));
        deadPid = holder.pid();
    }
    EXPECT_EQ(GMUExtensions::processNameForPID(deadPid), std::nullopt);
}

// The kernel keeps 15 bytes of a process name, so the tool prints
// "WebKitPluginHos"; the query must still give the whole 16-letter name.
TEST_F(ProcessQueries, NamesLongerThanTheKernelKeepsComeBackWhole)
{
    const QString longName = tmp.path() + "/WebKitPluginHost";
    const QString shortName = tmp.path() + "/PluginHost";
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), longName));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), shortName));
    QProcess host, control;
    host.start(longName, {QStringLiteral("30")});
    control.start(shortName, {QStringLiteral("30")});
    ASSERT_TRUE(host.waitForStarted() && control.waitForStarted());
    EXPECT_EQ(GMUExtensions::processNameForPID(int(control.processId())),
              QStringLiteral("PluginHost"));
    EXPECT_EQ(GMUExtensions::processNameForPID(int(host.processId())),
              QStringLiteral("WebKitPluginHost"));
    host.kill();
    control.kill();
    host.waitForFinished();
    control.waitForFinished();
}

TEST_F(ProcessQueries, IdentityHoldsForTheSameProcessOnly)
{
    Holder holder(file);
    const auto identity = GMUExtensions::identify(holder.pid());
    ASSERT_TRUE(identity.has_value());
    EXPECT_TRUE(GMUExtensions::stillSameProcess(*identity));

    GMUExtensions::ProcessIdentity reused = *identity;
    reused.startTime += 1; // the number now names a later process
    EXPECT_FALSE(GMUExtensions::stillSameProcess(reused));
}

TEST_F(ProcessQueries, IdentityEndsWithTheProcess)
{
    std::optional<GMUExtensions::ProcessIdentity> identity;
    {
        Holder holder(file);
        identity = GMUExtensions::identify(holder.pid());
        ASSERT_TRUE(identity.has_value());
        ASSERT_TRUE(GMUExtensions::stillSameProcess(*identity));
    }
    EXPECT_FALSE(GMUExtensions::stillSameProcess(*identity));
    EXPECT_FALSE(GMUExtensions::identify(0).has_value());
    EXPECT_FALSE(GMUExtensions::identify(-1).has_value());
}

} // namespace
