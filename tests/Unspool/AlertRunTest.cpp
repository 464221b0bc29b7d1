// Real runs of the built bundle on a virtual X screen, for the failures: the
// program shows its error sheet (titled with the program's name), waits for the
// user, and ends with status 1 when the button is pressed. (The sheet's texts are
// checked in-process; X shows only window titles.)
#include "LessonBundleTest.h"
#include "LessonZip.h"

#include "ProcessRunner.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace
{

struct AlertRow {
    const char *name;
    // Fills the copied bundle's resources; false when that failed.
    std::function<bool(const QString &resources)> arrange;
};

std::ostream &operator<<(std::ostream &out, const AlertRow &row)
{
    return out << row.name;
}

bool xdotool(const QStringList &arguments)
{
    // `timeout` keeps a search that never matches from hanging the test.
    const platform::ProcessResult result = platform::runProcess(
        QStringLiteral("timeout"),
        QStringList{QStringLiteral("30"), QStringLiteral("xdotool")} + arguments);
    return result.started && result.exitCode == 0;
}

class UnspoolAlert : public LessonBundleTest, public ::testing::WithParamInterface<AlertRow>
{
  protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display (run under xvfb-run)";
        LessonBundleTest::SetUp();
    }
};

TEST_P(UnspoolAlert, WaitsForTheUserThenEnds)
{
    ASSERT_TRUE(GetParam().arrange(lessonBundle + QStringLiteral("/Contents/Resources")));
    start(QStringLiteral("xcb"), bundleProgram());
    ASSERT_TRUE(process.waitForStarted());

    ASSERT_TRUE(xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                         QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                         QStringLiteral("^Unspool$")}))
        << "no error sheet showed";
    // The sheet holds the program until its button is pressed.
    EXPECT_FALSE(process.waitForFinished(500));
    EXPECT_EQ(process.state(), QProcess::Running);

    // Return presses the sheet's only button, "Ok".
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
    ASSERT_TRUE(process.waitForFinished(30000)) << "Ok did not end the program";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1) << "a failure must end with status 1";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UnspoolAlert,
    ::testing::Values(AlertRow{"noArchiveResource", [](const QString &) { return true; }},
                      AlertRow{"archiveNotAZip",
                               [](const QString &resources) {
                                   return testfiles::write(
                                       resources + QStringLiteral("/archive.zip"), "no zip\n");
                               }},
                      AlertRow{"noLauncherInArchive",
                               [](const QString &resources) {
                                   return lessonzip::write(resources +
                                                               QStringLiteral("/archive.zip"),
                                                           lessonzip::contentEntries());
                               }}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
