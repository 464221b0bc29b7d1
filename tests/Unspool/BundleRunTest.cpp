// Real runs of the built Unspool bundle, offscreen, with TMPDIR pointed at a test
// folder: what lands in the lesson folder, that the launcher was started, and that
// Unspool itself ends.
#include "LessonBundleTest.h"
#include "LessonZip.h"

#include "ProcessRunner.h"
#include "TestFiles.h"
#include "Waiting.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{

// Waits for a file that a detached process writes; the limit only guards against
// a hang.
int fileCount(const QString &folder)
{
    int count = 0;
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();
         it.next())
        ++count;
    return count;
}

class UnspoolBundle : public LessonBundleTest
{
  protected:
    QString lessonFolder() const
    {
        return temporary() + QStringLiteral("/Brindle_Lessons/Sample Lesson");
    }
    QString archive() const
    {
        return lessonBundle + QStringLiteral("/Contents/Resources/archive.zip");
    }

    // Runs `program` with `arguments` offscreen with our TMPDIR; true when it ended.
    bool run(const QString &program, const QStringList &arguments = {})
    {
        start(QStringLiteral("offscreen"), program, arguments);
        return process.waitForStarted() && process.waitForFinished(120000);
    }

    bool runBundle() { return run(bundleProgram()); }
};

TEST_F(UnspoolBundle, UnpacksTheLessonStartsTheLauncherAndEnds)
{
    ASSERT_TRUE(lessonzip::write(archive(), lessonzip::lessonEntries()));

    ASSERT_TRUE(runBundle()) << "Unspool did not end";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << "handed over to the launcher";

    const QString folder = lessonFolder();
    EXPECT_TRUE(fileAppears(folder + u'/' + QLatin1String(lessonzip::kMarkerName), 15000))
        << "the launcher was not started";
    EXPECT_EQ(testfiles::read(folder + u'/' + QLatin1String(lessonzip::kMarkerName)), "started\n");
    for (const lessonzip::Entry &entry : lessonzip::lessonEntries()) {
        if (entry.name.endsWith(u'/'))
            continue;
        const QString path = folder + u'/' + entry.name;
        EXPECT_EQ(testfiles::read(path), entry.content) << entry.name.toStdString();
        EXPECT_EQ(QFileInfo(path).lastModified(), entry.modified) << entry.name.toStdString();
    }
}

TEST_F(UnspoolBundle, ItemsOfTheLauncherBundleAreOpenToAll)
{
    ASSERT_TRUE(lessonzip::write(archive(), lessonzip::lessonEntries()));
    ASSERT_TRUE(runBundle());

    const QString folder = lessonFolder();
    // The launcher writes into the lesson folder; let it finish before the folder goes.
    EXPECT_TRUE(fileAppears(folder + u'/' + QLatin1String(lessonzip::kMarkerName), 15000));
    // The bundle's own entries; folders made on the way (Contents) keep the usual mode.
    for (const char *item : {"Wayfarer.app", "Wayfarer.app/Contents/Info.plist",
                             "Wayfarer.app/Contents/MacOS/Wayfarer"})
        EXPECT_EQ(testfiles::modeOf(folder + u'/' + QLatin1String(item)) & 07777, 0777u) << item;
    // Content outside the bundle keeps its ordinary mode.
    const mode_t page = testfiles::modeOf(folder + QStringLiteral("/pagewright_files/index.html"));
    EXPECT_NE(page, 0u);
    EXPECT_NE(page & 07777, 0777u);
}

TEST_F(UnspoolBundle, ClosingTheWindowMidExtractionEndsAtOnce)
{
    QList<lessonzip::Entry> entries = lessonzip::launcherEntries();
    const int pages = 300;
    for (int page = 0; page < pages; ++page) {
        QByteArray data(64 * 1024, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()),
                                              data.size() / 4);
        entries.append({QStringLiteral("pagewright_files/media/%1.bin").arg(page), data,
                        lessonzip::sampleTime()});
    }
    ASSERT_TRUE(lessonzip::write(archive(), entries));

    ASSERT_TRUE(run(QStringLiteral(UNSPOOL_CLOSE_DRIVER), {lessonBundle}))
        << "the program did not end after its window was closed";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1) << "closed before the hand-over is a failure";

    // Closed while the bar was moving: some of the lesson is there, not all of it,
    // and the launcher was never started.
    const int written = fileCount(lessonFolder());
    EXPECT_GT(written, 0);
    EXPECT_LT(written, entries.size() - 1);
    EXPECT_FALSE(QFileInfo::exists(lessonFolder() + u'/' + QLatin1String(lessonzip::kMarkerName)));
}

} // namespace
