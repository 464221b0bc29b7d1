// The hostile subset and one fault through the built Unspool bundle: a copy of the
// bundle carries the archive, TMPDIR points into the test's world, and the setup
// launcher in the archive leaves a marker if it is ever started. A refused lesson
// leaves Unspool at its error alert, which nobody presses; the run is ended after a
// few seconds and the marker must be absent.
#include "ChildRun.h"
#include "FaultLesson.h"
#include "HostileSuite.h"
#include "ProcessRunner.h"
#include "QtPrinters.h"
#include "Waiting.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace
{

using hostile::Case;

constexpr int kAlertWaitMs = 5000;
constexpr int kExtractionDeadlineMs = 60000;

struct LessonRun {
    QString folder; // below the world
    QString bundle; // the lesson's copy of Unspool.app
    QString lesson; // where Unspool unpacks
    QString marker; // left by the launcher
};

bool prepareRun(const QString &name, const QString &archive, LessonRun &run)
{
    run.folder = hostile::world() + "/runs/unspool-" + name;
    run.bundle = run.folder + "/Lesson.app";
    run.lesson = run.folder + "/tmp/Brindle_Lessons/Lesson";
    run.marker = run.folder + "/launcher-started";
    if (!QDir().mkpath(run.folder + "/tmp") ||
        !QFile::setPermissions(run.folder + "/tmp",
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    const platform::ProcessResult copied =
        platform::runProcess("cp", {"-a", QStringLiteral(UNSPOOL_BUNDLE), run.bundle});
    return copied.exitCode == 0 &&
           QFile::copy(archive, run.bundle + "/Contents/Resources/archive.zip");
}

childrun::Outcome runUnspool(const LessonRun &run, long long fileSizeLimit, int timeoutMs)
{
    childrun::Spec spec;
    spec.program = run.bundle + "/Contents/MacOS/Unspool";
    spec.environment = {{"TMPDIR", QFile::encodeName(run.folder + "/tmp")},
                        {"QT_QPA_PLATFORM", "offscreen"},
                        {"HOSTILE_MARKER", QFile::encodeName(run.marker)}};
    spec.fileSizeLimit = fileSizeLimit;
    spec.timeoutMs = timeoutMs;
    return childrun::run(spec);
}

// The launcher is started detached; give a started one time to leave its mark.
class HostileUnspool : public ::testing::TestWithParam<Case>
{
};

TEST_P(HostileUnspool, StartsTheLauncherOnlyForASoundLesson)
{
    const Case &c = GetParam();
    LessonRun run;
    ASSERT_TRUE(prepareRun(c.name, c.archive, run));
    if (!c.plants.isEmpty()) {
        ASSERT_TRUE(hostile::plant(run.lesson, c.plants));
    }
    const QString runFolder = "runs/unspool-" + c.name;
    const QStringList before = testfiles::snapshot(hostile::world(), {runFolder});

    const bool sound = c.outcome == "extracted";
    const childrun::Outcome outcome =
        runUnspool(run, -1, sound ? kExtractionDeadlineMs : kAlertWaitMs);

    EXPECT_EQ(outcome.signal, 0) << "Unspool crashed";
    EXPECT_EQ(testfiles::changes(before, testfiles::snapshot(hostile::world(), {runFolder})), QStringList());
    if (sound) {
        EXPECT_TRUE(outcome.exited) << "a sound lesson ends Unspool by itself";
        EXPECT_TRUE(fileAppears(run.marker, 20000));
        return;
    }
    EXPECT_TRUE(outcome.timedOut) << "a refused lesson waits at its alert, not ending quietly";
    EXPECT_FALSE(fileAppears(run.marker, 1000)) << "the launcher of a refused lesson ran";
}

std::string caseName(const ::testing::TestParamInfo<Case> &info)
{
    return info.param.name.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Archives, HostileUnspool, ::testing::ValuesIn(hostile::endToEndCases()),
                         caseName);

// A disk that fills up mid-way must not lead to the launcher either.
TEST(UnspoolFault, FileSizeLimitNeverStartsTheLauncher)
{
    const QString archive = hostile::world() + "/runs/fault-lesson.zip";
    ASSERT_TRUE(writeFaultLesson(archive));

    LessonRun control;
    ASSERT_TRUE(prepareRun("fault-control", archive, control));
    runUnspool(control, -1, kExtractionDeadlineMs);
    ASSERT_TRUE(fileAppears(control.marker, 20000)) << "positive control: no limit, launched";

    LessonRun limited;
    ASSERT_TRUE(prepareRun("fault-limited", archive, limited));
    const childrun::Outcome outcome = runUnspool(limited, 4096, kAlertWaitMs);
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_TRUE(outcome.timedOut) << "the failed lesson waits at its alert";
    EXPECT_FALSE(fileAppears(limited.marker, 1000));
}

} // namespace
