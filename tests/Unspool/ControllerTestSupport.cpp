#include "ControllerTestSupport.h"

#include <QDir>

void ControllerTest::SetUp()
{
    ASSERT_TRUE(root.isValid());
    bundle.bundle = root.path() + QStringLiteral("/Sample Lesson.app");
    bundle.displayNameValue = QStringLiteral("Sample Lesson");
    temporary.folder = root.path() + QStringLiteral("/tmp/");
    ASSERT_TRUE(QDir().mkpath(temporary.folder));
    ASSERT_TRUE(QDir().mkpath(bundle.bundle + QStringLiteral("/Contents/Resources")));
}

QString ControllerTest::archivePath() const
{
    return bundle.bundle + QStringLiteral("/Contents/Resources/archive.zip");
}

bool ControllerTest::installArchive(const QList<lessonzip::Entry> &entries)
{
    bundle.archive = archivePath();
    return lessonzip::write(archivePath(), entries);
}

QString ControllerTest::expectedLessonFolder() const
{
    return root.path() + QStringLiteral("/tmp/Brindle_Lessons/") + bundle.displayNameValue;
}

std::unique_ptr<unspool::MainMenuViewController> ControllerTest::makeController()
{
    return std::make_unique<unspool::MainMenuViewController>(
        unspool::Services{bundle, temporary, opener, alerts, mainThread, [this] { ++quits; }});
}

void ControllerTest::runToEnd(unspool::MainMenuViewController &controller)
{
    controller.applicationDidFinishLaunching();
    ASSERT_TRUE(waitUntil([&] { return quits > 0 || !alerts.sheets.empty(); }));
    ASSERT_TRUE(waitUntil([&] { return !controller.extractionThreadRunning(); }));
}
