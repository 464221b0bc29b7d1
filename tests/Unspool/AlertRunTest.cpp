// Real runs of the built bundle on a virtual X screen, for the failures: the
// program shows its "Error" sheet, waits for the user, and ends when the button is
// pressed. (The sheet's texts are checked in-process; X shows only window titles.)
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

class UnspoolAlert : public ::testing::TestWithParam<AlertRow>
{
  protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display (run under xvfb-run)";
        ASSERT_TRUE(root.isValid());
        lessonBundle = root.path() + QStringLiteral("/Sample Lesson.app");
        const platform::ProcessResult copy = platform::runProcess(
            QStringLiteral("cp"),
            {QStringLiteral("-R"), QStringLiteral(UNSPOOL_BUNDLE), lessonBundle});
        ASSERT_EQ(copy.exitCode, 0);
        ASSERT_TRUE(QDir().mkpath(temporary()));
    }

    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    QString temporary() const { return root.path() + QStringLiteral("/tmp"); }

    void start()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("TMPDIR"), temporary());
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(lessonBundle + QStringLiteral("/Contents/MacOS/Unspool"));
    }

    QTemporaryDir root;
    QString lessonBundle;
    QProcess process;
};

TEST_P(UnspoolAlert, WaitsForTheUserThenEnds)
{
    ASSERT_TRUE(GetParam().arrange(lessonBundle + QStringLiteral("/Contents/Resources")));
    start();
    ASSERT_TRUE(process.waitForStarted());

    ASSERT_TRUE(xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                         QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                         QStringLiteral("^Error$")}))
        << "no Error sheet showed";
    // The sheet holds the program until its button is pressed.
    EXPECT_FALSE(process.waitForFinished(500));
    EXPECT_EQ(process.state(), QProcess::Running);

    // Return presses the sheet's only button, "Ok".
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
    ASSERT_TRUE(process.waitForFinished(30000)) << "Ok did not end the program";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
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
