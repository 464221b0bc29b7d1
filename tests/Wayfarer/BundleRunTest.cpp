// Runs the built Wayfarer.app as the learner would: copied into a lesson folder,
// started as its own process with HOME pointed at a test folder and a test xdg-open
// first on PATH, and driven through a real X server with xdotool. ctest starts this
// binary under xvfb-run; without a display the tests are skipped.
#include "FakeOpener.h"
#include "ProcessRunner.h"
#include "TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using namespace wayfarer_test;

namespace
{

// Only a safety net against a hang; nothing here is expected to take long.
constexpr int kPatienceMs = 60000;

const char kTrustFileBelowHome[] =
    "/Library/Preferences/Tamarind/Glimmer Player/#Security/GlimmerPlayerTrust/brindle_local.cfg";

// One xdotool run; its output, or nothing when it failed or hung.
std::optional<QByteArray> xdotool(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(kPatienceMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput().trimmed();
}

// Waits until a visible window of `pid` whose title matches `pattern` is mapped.
QByteArray waitForWindow(qint64 pid, const QString &pattern)
{
    const std::optional<QByteArray> ids =
        xdotool({"search", "--sync", "--all", "--onlyvisible", "--pid", QString::number(pid),
                 "--name", pattern});
    return ids.value_or(QByteArray()).split('\n').value(0);
}

struct RunCase {
    const char *name;
    const char *lessonName;
    bool startPage;
    QStringList keys; // pressed in the launcher window, in order
    // Either the program ends by itself having opened `opened` ("@LESSON@" stands for
    // the lesson folder), or it shows an alert titled with the program's name. (The
    // alert's text is checked in-process; X shows only window titles.)
    const char *opened;
    bool trustWritten;
};

std::ostream &operator<<(std::ostream &os, const RunCase &c)
{
    return os << c.name << " (\"" << c.lessonName << "\", keys " << c.keys.join(' ').toStdString()
              << ")";
}

const RunCase kRunCases[] = {
    {"lesson_launch_ends_the_program",
     "Lesson",
     true,
     {"space"},
     "@LESSON@/pagewright_files/index.html",
     true},
    {"lesson_folder_with_blanks_and_percent",
     "My Lesson 100% %@",
     true,
     {"space"},
     "@LESSON@/pagewright_files/index.html",
     true},
    {"missing_start_page_alerts_and_stays", "My Lesson 100% %@", false, {"space"}, "", true},
    {"built_bundle_has_no_installer_package", "Lesson", true, {"Tab", "space"}, "", false},
};

class BundleRun : public ::testing::TestWithParam<RunCase>
{
  protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display; ctest runs this test under xvfb-run";
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "needs xdotool to press the launcher's buttons";
        ASSERT_TRUE(tmp.isValid());
        lesson = tmp.path() + "/" + QString::fromUtf8(GetParam().lessonName);
        ASSERT_TRUE(QDir().mkpath(lesson));
        ASSERT_TRUE(QDir().mkpath(tmp.path() + "/bin"));
        ASSERT_TRUE(QDir().mkpath(tmp.path() + "/home"));
        ASSERT_TRUE(writeFakeOpener(tmp.path() + "/bin", record(), 0));
        ASSERT_EQ(platform::runProcess("cp", {"-a", WAYFARER_BUNDLE, lesson}).exitCode, 0);
        if (GetParam().startPage) {
            ASSERT_TRUE(testfiles::write(lesson + "/pagewright_files/index.html", "<html/>"));
        }
    }

    void start()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", tmp.path() + "/home");
        environment.insert("PATH", tmp.path() + "/bin:" + environment.value("PATH"));
        environment.insert("QT_QPA_PLATFORM", "xcb");
        wayfarer.setProcessEnvironment(environment);
        wayfarer.setWorkingDirectory(tmp.path()); // the lesson folder must come from the bundle
        wayfarer.setProcessChannelMode(QProcess::ForwardedChannels);
        wayfarer.start(lesson + "/Wayfarer.app/Contents/MacOS/Wayfarer", QStringList());
        ASSERT_TRUE(wayfarer.waitForStarted(kPatienceMs));
    }

    QString record() const { return tmp.path() + "/opened.txt"; }
    QString expand(const char *text) const
    {
        return QString::fromUtf8(text).replace("@LESSON@", lesson);
    }

    QTemporaryDir tmp;
    QString lesson;
    QProcess wayfarer; // killed and reaped by its destructor if still running
};

TEST_P(BundleRun, ShowsTheWindowAndAnswersItsButtons)
{
    const RunCase &c = GetParam();
    start();
    const QByteArray window = waitForWindow(wayfarer.processId(), "^Lesson Setup$");
    ASSERT_FALSE(window.isEmpty()) << "the launcher window never appeared";
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", window}));
    ASSERT_TRUE(xdotool(QStringList{"key"} + c.keys));

    if (*c.opened) {
        ASSERT_TRUE(wayfarer.waitForFinished(kPatienceMs)) << "the launcher did not end";
        EXPECT_EQ(wayfarer.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(wayfarer.exitCode(), 0);
        EXPECT_EQ(testfiles::read(record()), QFile::encodeName(expand(c.opened)) + "\n");
    } else {
        const QByteArray alert = waitForWindow(wayfarer.processId(), "^Wayfarer$");
        ASSERT_FALSE(alert.isEmpty()) << "no alert appeared";
        EXPECT_EQ(wayfarer.state(), QProcess::Running);
        EXPECT_FALSE(QFile::exists(record()));
    }
    const QByteArray trust = testfiles::read(tmp.path() + "/home" + kTrustFileBelowHome);
    EXPECT_EQ(trust,
              c.trustWritten ? QFile::encodeName(lesson) + "/pagewright_files\n" : QByteArray());
}

INSTANTIATE_TEST_SUITE_P(Rows, BundleRun, ::testing::ValuesIn(kRunCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
