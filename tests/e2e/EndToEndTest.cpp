// The whole chain as an author and a learner meet it: the sample lesson packed by
// the real packer, the packed Unspool run as its own process with HOME, TMPDIR and
// the desktop's opener pointed at test doubles, the lesson folder it unpacks, and
// the real Wayfarer it starts from there. ctest runs this under xvfb-run; the run
// that presses Wayfarer's lesson button needs that display and xdotool, and is
// skipped without them.
#include "PackerHarness.h"
#include "ProcessRunner.h"
#include "RunningProcesses.h"
#include "TestFiles.h"
#include "Waiting.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <signal.h>

using namespace e2etest;
using namespace packertest;

namespace
{

// Only a safety net against a hang.
constexpr int kPatienceMs = 60000;

const char kLessonName[] = "Rivers Sample";
const char kTrustFileBelowHome[] =
    "/Library/Preferences/Tamarind/Glimmer Player/#Security/GlimmerPlayerTrust/brindle_local.cfg";

// Every file below `root`, relative and sorted.
QStringList filesBelow(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(root).relativeFilePath(it.next()));
    files.sort();
    return files;
}

// The time an extracted file gets back from its DOS time stamp: local time, seconds
// rounded down to even.
QDateTime throughDosTime(const QDateTime &modified)
{
    return QDateTime::fromString(dosTimeStamp(modified), "yyyyMMdd.hhmmss");
}

std::optional<QByteArray> xdotool(const QStringList &arguments)
{
    // `timeout` keeps a search that never matches from hanging the test.
    const platform::ProcessResult result = platform::runProcess(
        "timeout", QStringList{QString::number(kPatienceMs / 1000), "xdotool"} + arguments);
    if (!result.started || result.exitCode != 0)
        return std::nullopt;
    return result.output.trimmed();
}

class EndToEnd : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        for (const char *folder : {"home", "tmp", "bin", "run", "out"})
            ASSERT_TRUE(QDir().mkpath(tmp.filePath(folder)));
        for (const char *folder : {"run", "tmp"})
            ASSERT_TRUE(QFile::setPermissions(
                tmp.filePath(folder), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        ASSERT_TRUE(writeOpener());
        lesson = tmp.filePath("tmp/Brindle_Lessons/") + kLessonName;
        wayfarerExecutable = lesson + "/Wayfarer.app/Contents/MacOS/Wayfarer";
    }

    void TearDown() override
    {
        // Wayfarer lives in a session of its own; end whatever this test left running.
        for (const pid_t pid : processesRunning(wayfarerExecutable))
            ::kill(pid, SIGTERM);
        waitUntil([this] { return processesRunning(wayfarerExecutable).isEmpty(); });
    }

    // A test xdg-open that records what it is handed.
    bool writeOpener() const
    {
        const QString opener = tmp.filePath("bin/xdg-open");
        const QByteArray script =
            "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + QFile::encodeName(openerRecord()) + "'\n";
        return testfiles::writeExecutable(opener, script);
    }

    QString openerRecord() const { return tmp.filePath("opened.txt"); }
    QString packed() const { return tmp.filePath("out/") + kLessonName + ".app"; }

    void pack()
    {
        const PackerRun run = runPacker({SAMPLE_LESSON, kLessonName, tmp.filePath("out")});
        ASSERT_EQ(run.exitCode, 0) << run.err.constData();
        const QString archive = packed() + "/Contents/Resources/archive.zip";
        ASSERT_TRUE(unzipTestPasses(archive));
        QStringList expected;
        for (const QString &file : filesBelow(SAMPLE_LESSON))
            expected.append("pagewright_files/" + file);
        for (const QString &file : filesBelow(WAYFARER_BUNDLE))
            expected.append("Wayfarer.app/" + file);
        expected.sort();
        QStringList names = entryNames(archive);
        names.sort();
        ASSERT_EQ(names.join('\n').toStdString(), expected.join('\n').toStdString());
    }

    // Runs the packed Unspool to its end, as the learner's double-click would.
    void runUnspool(const QString &platform)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", tmp.filePath("home"));
        environment.insert("TMPDIR", tmp.filePath("tmp"));
        environment.insert("XDG_RUNTIME_DIR", tmp.filePath("run"));
        environment.insert("PATH", tmp.filePath("bin") + ":" + environment.value("PATH"));
        environment.insert("QT_QPA_PLATFORM", platform);
        QProcess unspool;
        unspool.setProcessEnvironment(environment);
        unspool.setWorkingDirectory(tmp.path());
        unspool.setProcessChannelMode(QProcess::ForwardedChannels);
        unspool.start(packed() + "/Contents/MacOS/Unspool", QStringList());
        ASSERT_TRUE(unspool.waitForFinished(kPatienceMs)) << "Unspool did not end";
        ASSERT_EQ(unspool.exitStatus(), QProcess::NormalExit);
        ASSERT_EQ(unspool.exitCode(), 0);
    }

    void expectCompleteLessonFolder() const
    {
        for (const QString &file : filesBelow(SAMPLE_LESSON)) {
            const QString source = QString(SAMPLE_LESSON) + "/" + file;
            const QString unpacked = lesson + "/pagewright_files/" + file;
            EXPECT_EQ(testfiles::read(unpacked), testfiles::read(source)) << file.toStdString();
            EXPECT_EQ(QFileInfo(unpacked).lastModified(),
                      throughDosTime(QFileInfo(source).lastModified()))
                << file.toStdString();
        }
        EXPECT_EQ(filesBelow(lesson + "/Wayfarer.app"), filesBelow(WAYFARER_BUNDLE));
        EXPECT_EQ(testfiles::read(wayfarerExecutable),
                  testfiles::read(QString(WAYFARER_BUNDLE) + "/Contents/MacOS/Wayfarer"));
        EXPECT_TRUE(QFileInfo(wayfarerExecutable).isExecutable());
    }

    // The one Wayfarer started from the lesson folder, once it runs.
    pid_t waitForWayfarer() const
    {
        QList<pid_t> pids;
        waitUntil([&] { return !(pids = processesRunning(wayfarerExecutable)).isEmpty(); });
        return pids.size() == 1 ? pids.first() : -1;
    }

    QTemporaryDir tmp;
    QString lesson;
    QString wayfarerExecutable;
};

TEST_F(EndToEnd, OffscreenRunUnpacksTheLessonAndStartsWayfarer)
{
    ASSERT_NO_FATAL_FAILURE(pack());
    ASSERT_FALSE(QFileInfo::exists(lesson));
    ASSERT_NO_FATAL_FAILURE(runUnspool("offscreen"));
    expectCompleteLessonFolder();
    EXPECT_GT(waitForWayfarer(), 0) << "Wayfarer was not started from the lesson folder";
    // Nothing is trusted or opened until the learner presses the lesson button.
    EXPECT_FALSE(QFileInfo::exists(openerRecord()));
    EXPECT_FALSE(QFileInfo::exists(tmp.filePath("home") + kTrustFileBelowHome));
}

TEST_F(EndToEnd, LessonButtonTrustsTheContentAndOpensTheStartPage)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display; ctest runs this test under xvfb-run";
    if (QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "needs xdotool to press Wayfarer's lesson button";
    ASSERT_NO_FATAL_FAILURE(pack());
    ASSERT_NO_FATAL_FAILURE(runUnspool("xcb"));
    expectCompleteLessonFolder();

    const pid_t wayfarer = waitForWayfarer();
    ASSERT_GT(wayfarer, 0) << "Wayfarer was not started from the lesson folder";
    const std::optional<QByteArray> windows =
        xdotool({"search", "--sync", "--all", "--onlyvisible", "--pid", QString::number(wayfarer),
                 "--name", "^Lesson Setup$"});
    ASSERT_TRUE(windows.has_value()) << "Wayfarer's window never appeared";
    const QByteArray window = windows->split('\n').value(0);
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", window}));
    ASSERT_TRUE(xdotool({"key", "space"})); // the lesson button has the focus

    EXPECT_TRUE(waitUntil([&] { return processesRunning(wayfarerExecutable).isEmpty(); }))
        << "Wayfarer did not end after launching the lesson";
    EXPECT_EQ(testfiles::read(tmp.filePath("home") + kTrustFileBelowHome),
              QFile::encodeName(lesson) + "/pagewright_files\n");
    EXPECT_EQ(testfiles::read(openerRecord()),
              QFile::encodeName(lesson) + "/pagewright_files/index.html\n");
}

} // namespace
