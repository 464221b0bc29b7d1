// The extraction controller with fake services: progress, failures, the lesson
// folder rule and repeated runs, each over real archives and real files.
#include "ControllerTestSupport.h"

#include "TestFiles.h"
#include "Waiting.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QWindow>

#include <ostream>

using unspool::MainMenuViewController;

namespace
{

const QString kLauncherExecutable = QStringLiteral("Wayfarer.app/Contents/MacOS/Wayfarer");

// The launcher first, then pages, so that `count` entries end with a launcher to open.
QList<lessonzip::Entry> entriesCounting(int count)
{
    QList<lessonzip::Entry> entries{{kLauncherExecutable, "#!/bin/sh\n", lessonzip::sampleTime()}};
    for (int page = 1; page < count; ++page)
        entries.append({QStringLiteral("pagewright_files/page%1.html").arg(page),
                        QByteArray("page ") + QByteArray::number(page), lessonzip::sampleTime()});
    return entries;
}

// Spoils the local header of the second entry, leaving the central directory whole:
// the archive opens, the first entry is written, the second cannot be read.
bool damageSecondEntry(const QString &zipPath)
{
    QByteArray bytes = testfiles::read(zipPath);
    const QByteArray signature("PK\x03\x04", 4);
    const qsizetype first = bytes.indexOf(signature);
    const qsizetype second = bytes.indexOf(signature, first + 1);
    if (first != 0 || second < 0)
        return false;
    bytes[second] = 'X';
    return testfiles::write(zipPath, bytes);
}

} // namespace

// ---- progress ----

struct ProgressRow {
    const char *name;
    int entries;
    std::vector<int> values;
};

std::ostream &operator<<(std::ostream &out, const ProgressRow &row)
{
    return out << row.name << " (" << row.entries << " entries)";
}

class UnspoolProgress : public ControllerTest, public ::testing::WithParamInterface<ProgressRow>
{
};

TEST_P(UnspoolProgress, BarTakesEachEntrysShareInOrder)
{
    const ProgressRow &row = GetParam();
    ASSERT_TRUE(installArchive(entriesCounting(row.entries)));
    auto controller = makeController();
    std::vector<int> values;
    QObject::connect(controller->getProgressBar(), &QProgressBar::valueChanged,
                     [&values](int value) { values.push_back(value); });

    runToEnd(*controller);

    EXPECT_EQ(values, row.values);
    EXPECT_EQ(controller->getProgressBar()->value(), 100);
    // One hand-over per entry, and one more to open the launcher.
    EXPECT_EQ(mainThread.handOvers.load(), row.entries + 1);
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(controller->exitStatus(), 0);
    EXPECT_TRUE(alerts.sheets.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UnspoolProgress,
    ::testing::Values(ProgressRow{"fourEntries", 4, {25, 50, 75, 100}},
                      ProgressRow{"threeEntriesRounded", 3, {33, 67, 100}},
                      ProgressRow{"singleEntry", 1, {100}},
                      ProgressRow{"eightEntries", 8, {13, 25, 38, 50, 63, 75, 88, 100}}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- processors ----

// The processors a thread may run on, from its status file as the kernel lists them.
QByteArray processorsIn(const QByteArray &status)
{
    for (const QByteArray &line : status.split('\n'))
        if (line.startsWith("Cpus_allowed_list:"))
            return line.mid(18).trimmed();
    return {};
}

// Those of a child that the calling thread starts.
QByteArray processorsOfAChild()
{
    QProcess child;
    child.start(QStringLiteral("/bin/cat"), {QStringLiteral("/proc/self/status")});
    child.waitForFinished();
    return processorsIn(child.readAllStandardOutput());
}

struct ProcessorRow {
    const char *name;
    bool damaged; // the run ends in an alert instead of the launcher
};

class UnspoolProcessors : public ControllerTest, public ::testing::WithParamInterface<ProcessorRow>
{
};

// The hand-overs may hold the main thread on one processor; whatever the program
// starts afterwards (the launcher, and the browser after it) gets all we had.
TEST_P(UnspoolProcessors, WhatStartsAfterTheExtractionGetsTheOriginalProcessors)
{
    const QByteArray original =
        processorsIn(testfiles::read(QStringLiteral("/proc/thread-self/status")));
    ASSERT_FALSE(original.isEmpty());
    if (!original.contains(',') && !original.contains('-')) {
        GTEST_SKIP() << "one processor only";
    }
    ASSERT_TRUE(installArchive(entriesCounting(20)));
    if (GetParam().damaged) {
        ASSERT_TRUE(damageSecondEntry(archivePath()));
    }
    QByteArray launcher;
    opener.whenOpening = [&launcher] { launcher = processorsOfAChild(); };
    auto controller = makeController();

    runToEnd(*controller);

    EXPECT_EQ(alerts.sheets.size(), GetParam().damaged ? 1u : 0u);
    if (!GetParam().damaged) {
        EXPECT_EQ(launcher, original);
    }
    EXPECT_EQ(processorsOfAChild(), original);
}

INSTANTIATE_TEST_SUITE_P(Rows, UnspoolProcessors,
                         ::testing::Values(ProcessorRow{"launcherOpened", false},
                                           ProcessorRow{"extractionFailed", true}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- failures ----

// Whether the failure leaves a lesson folder behind. The archive may check a damaged
// archive before writing anything, so that case is left open.
enum class LessonFolder { made, notMade, eitherWay };

struct FailureRow {
    const char *name;
    // Arranges the bundle and the temporary folder; false when that failed.
    std::function<bool(ControllerTest &)> arrange;
    const char *message;
    LessonFolder lessonFolder;
};

std::ostream &operator<<(std::ostream &out, const FailureRow &row)
{
    return out << row.name << " -> \"" << row.message << '"';
}

class UnspoolFailure : public ControllerTest, public ::testing::WithParamInterface<FailureRow>
{
};

struct Arrange {
    static bool noArchive(ControllerTest & /*fixture*/) { return true; }
    static bool notAZip(ControllerTest &fixture)
    {
        fixture.bundle.archive = fixture.archivePath();
        return testfiles::write(fixture.archivePath(), "just some text, no archive\n");
    }
    static bool damagedEntry(ControllerTest &fixture)
    {
        return fixture.installArchive(lessonzip::lessonEntries()) &&
               damageSecondEntry(fixture.archivePath());
    }
    static bool noLauncher(ControllerTest &fixture)
    {
        return fixture.installArchive(lessonzip::contentEntries());
    }
    static bool noSafeTemporaryFolder(ControllerTest &fixture)
    {
        fixture.temporary.folder.clear();
        return fixture.installArchive(lessonzip::lessonEntries());
    }
};

TEST_P(UnspoolFailure, ShowsItsSheetAndOkQuits)
{
    const FailureRow &row = GetParam();
    ASSERT_TRUE(row.arrange(*this));
    const QStringList before = testfiles::tree(root.path());
    auto controller = makeController();

    runToEnd(*controller);

    ASSERT_EQ(alerts.sheets.size(), 1u);
    const fakes::Sheet &sheet = alerts.sheets.front();
    EXPECT_EQ(sheet.window, controller->window());
    EXPECT_EQ(sheet.text.messageText, QStringLiteral("Error"));
    EXPECT_EQ(sheet.text.informativeText, QString::fromUtf8(row.message));
    EXPECT_EQ(sheet.text.button, QStringLiteral("Ok"));
    if (row.lessonFolder == LessonFolder::made) {
        EXPECT_TRUE(QFileInfo(expectedLessonFolder()).isDir());
    }
    if (row.lessonFolder == LessonFolder::notMade) {
        EXPECT_FALSE(QFileInfo::exists(expectedLessonFolder()));
        EXPECT_EQ(testfiles::tree(root.path()), before) << "nothing may be created";
    }

    EXPECT_EQ(quits, 0) << "the program waits for the user";
    ASSERT_TRUE(sheet.didEnd);
    sheet.didEnd();
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(controller->exitStatus(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UnspoolFailure,
    ::testing::Values(
        FailureRow{"noArchiveResource", Arrange::noArchive, "Error: No lesson to extract.",
                   LessonFolder::notMade},
        FailureRow{"archiveNotAZip", Arrange::notAZip,
                   "Error: The lesson archive is in a format that cannot be extracted.",
                   LessonFolder::notMade},
        FailureRow{"damagedEntry", Arrange::damagedEntry,
                   "Error: The lesson archive could not be extracted.", LessonFolder::eitherWay},
        FailureRow{"noSafeTemporaryFolder", Arrange::noSafeTemporaryFolder,
                   "Error: The lesson archive could not be extracted.", LessonFolder::notMade},
        FailureRow{"noLauncherInArchive", Arrange::noLauncher,
                   "Error: Could not open Wayfarer.app.", LessonFolder::made}),
    [](const auto &info) { return std::string(info.param.name); });

class UnspoolFailureDetail : public ControllerTest
{
};

TEST_F(UnspoolFailureDetail, DamagedArchiveOpensNothing)
{
    ASSERT_TRUE(installArchive(lessonzip::lessonEntries()));
    ASSERT_TRUE(damageSecondEntry(archivePath()));
    auto controller = makeController();

    runToEnd(*controller);

    ASSERT_EQ(alerts.sheets.size(), 1u);
    EXPECT_TRUE(opener.opened.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(expectedLessonFolder() + "/Wayfarer.app/Contents/Info.plist"));
}

TEST_F(UnspoolFailureDetail, MissingLauncherIsLookedForInTheLessonFolder)
{
    ASSERT_TRUE(installArchive(lessonzip::contentEntries()));
    auto controller = makeController();

    runToEnd(*controller);

    EXPECT_EQ(opener.opened, QStringList{expectedLessonFolder() + QStringLiteral("/Wayfarer.app")});
    EXPECT_TRUE(QFileInfo::exists(expectedLessonFolder() + "/pagewright_files/index.html"));
}

// ---- the lesson folder ----

struct NameRow {
    const char *name;
    const char *displayName;
};

std::ostream &operator<<(std::ostream &out, const NameRow &row)
{
    return out << row.name << " \"" << row.displayName << '"';
}

class UnspoolLessonFolder : public ControllerTest, public ::testing::WithParamInterface<NameRow>
{
};

TEST_P(UnspoolLessonFolder, IsTheDisplayNameUnderBrindleLessons)
{
    bundle.displayNameValue = QString::fromUtf8(GetParam().displayName);
    ASSERT_TRUE(installArchive(lessonzip::lessonEntries()));
    auto controller = makeController();

    runToEnd(*controller);

    const QString folder = expectedLessonFolder();
    EXPECT_EQ(QFile::decodeName(controller->lessonFolder()), folder);
    EXPECT_EQ(opener.opened, QStringList{folder + QStringLiteral("/Wayfarer.app")});
    EXPECT_EQ(testfiles::read(folder + "/pagewright_files/index.html"),
              lessonzip::contentEntries().front().content);
    EXPECT_EQ(QDir(temporary.folder + "Brindle_Lessons")
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{bundle.displayNameValue});
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(alerts.sheets.empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, UnspoolLessonFolder,
                         ::testing::Values(NameRow{"oneBlank", "Sample Lesson"},
                                           NameRow{"twoBlanks", "Fractions  Part 2"},
                                           NameRow{"blanksAtTheEnds", " Unit 3 "},
                                           NameRow{"percentSigns", "%1 of %2 done"},
                                           NameRow{"nonAscii", "Leçon – Brüche"}),
                         [](const auto &info) { return std::string(info.param.name); });

class UnspoolRuns : public ControllerTest
{
};

TEST_F(UnspoolRuns, TwoLessonsWithDifferentNamesGetTwoFolders)
{
    ASSERT_TRUE(installArchive(lessonzip::lessonEntries()));
    for (const QString &name : {QStringLiteral("Lesson One"), QStringLiteral("Lesson Two")}) {
        bundle.displayNameValue = name;
        auto controller = makeController();
        runToEnd(*controller);
    }
    EXPECT_EQ(
        QDir(temporary.folder + "Brindle_Lessons").entryList(QDir::Dirs | QDir::NoDotAndDotDot),
        (QStringList{"Lesson One", "Lesson Two"}));
    EXPECT_EQ(quits, 2);
}

TEST_F(UnspoolRuns, SecondRunReplacesTheArchivesFilesAndKeepsOthers)
{
    ASSERT_TRUE(installArchive(lessonzip::lessonEntries()));
    const QString folder = expectedLessonFolder();
    ASSERT_TRUE(testfiles::write(folder + "/pagewright_files/index.html", "stale page\n"));
    ASSERT_TRUE(testfiles::write(folder + "/pagewright_files/notes.txt", "my notes\n"));
    auto controller = makeController();

    runToEnd(*controller);

    EXPECT_EQ(testfiles::read(folder + "/pagewright_files/index.html"),
              lessonzip::contentEntries().front().content);
    EXPECT_EQ(testfiles::read(folder + "/pagewright_files/notes.txt"), "my notes\n");
    EXPECT_TRUE(alerts.sheets.empty());
    EXPECT_EQ(quits, 1);
}

// ---- the form ----

class UnspoolForm : public ControllerTest
{
};

TEST_F(UnspoolForm, OutletsAreTheFormsWidgets)
{
    auto controller = makeController();
    QWidget *window = controller->window();
    EXPECT_EQ(controller->getProgressBar(), window->findChild<QProgressBar *>("progressBar"));
    EXPECT_EQ(controller->getLabel(), window->findChild<QLabel *>("label"));
    EXPECT_EQ(controller->getProgressBar()->minimum(), 0);
    EXPECT_EQ(controller->getProgressBar()->maximum(), 100);
    EXPECT_EQ(controller->getProgressBar()->value(), 0);
    EXPECT_FALSE(controller->getLabel()->text().isEmpty());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Sample Lesson"));
    EXPECT_TRUE(controller->applicationShouldTerminateAfterLastWindowClosed(nullptr));
}

TEST_F(UnspoolForm, LabelKeepsItsTextThroughARun)
{
    ASSERT_TRUE(installArchive(lessonzip::lessonEntries()));
    auto controller = makeController();
    const QString text = controller->getLabel()->text();
    runToEnd(*controller);
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(controller->getLabel()->text(), text);
}

TEST_F(UnspoolForm, UpdateProgressBarShowsTheNearestWholePercent)
{
    auto controller = makeController();
    controller->updateProgressBar(100.0 / 3.0);
    EXPECT_EQ(controller->getProgressBar()->value(), 33);
    controller->updateProgressBar(200.0 / 3.0);
    EXPECT_EQ(controller->getProgressBar()->value(), 67);
    controller->updateProgressBar(29.0 / 100.0 * 100.0); // just below 29 in binary
    EXPECT_EQ(controller->getProgressBar()->value(), 29);
}

// Counts the paintings of a progress bar and the value each showed.
struct PaintCounter : QObject {
    int count = 0;
    int lastValue = -1;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++count;
            lastValue = static_cast<QProgressBar *>(watched)->value();
        }
        return false;
    }
};

// Every value is applied at once, but a run of values paints the bar a few times
// at most, the last painting showing the last value. Painting the bar for each whole
// percent cost more than the extraction of a small entry.
TEST_F(UnspoolForm, ARunOfValuesPaintsTheBarOnlyNowAndThen)
{
    auto controller = makeController();
    QProgressBar *bar = controller->getProgressBar();
    controller->window()->show();
    ASSERT_TRUE(waitUntil(
        [&] {
            const QWindow *handle = controller->window()->windowHandle();
            return handle && handle->isExposed();
        },
        5000));
    PaintCounter paints;
    bar->installEventFilter(&paints);
    for (int percent = 1; percent <= 100; ++percent) {
        controller->updateProgressBar(percent);
        EXPECT_EQ(bar->value(), percent);
        QCoreApplication::processEvents();
    }
    EXPECT_LT(paints.count, 50);
    EXPECT_TRUE(waitUntil([&] { return paints.lastValue == 100; }, 5000))
        << "the last value was never painted";
}
