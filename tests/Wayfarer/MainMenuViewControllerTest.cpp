#include "MainMenuViewController.h"
#include "Fakes.h"
#include "TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using wayfarer::MainMenuViewController;
using namespace wayfarer_test;

namespace
{

const char kTrustFailure[] = "alert Error:  Glimmer Security Permissions could not be written.  "
                             "Some items may not work properly.";
const char kInstallerError[] = "alert Error launching Glimmer Player 10 Installer.";
const char kTrustFileBelowHome[] =
    "/Library/Preferences/Tamarind/Glimmer Player/#Security/GlimmerPlayerTrust/brindle_local.cfg";

// A lesson folder holding Wayfarer.app, a home folder, and the controller over fakes.
class ControllerTest : public ::testing::Test
{
  protected:
    void makeLesson(const QString &name)
    {
        ASSERT_TRUE(tmp.isValid());
        lesson = tmp.path() + "/" + name;
        home = tmp.path() + "/home";
        ASSERT_TRUE(QDir().mkpath(lesson + "/Wayfarer.app/Contents/Resources"));
        ASSERT_TRUE(QDir().mkpath(home));
        bundle = std::make_unique<FakeMainBundle>(lesson + "/Wayfarer.app");
        user = std::make_unique<FakeUser>(home);
        controller = std::make_unique<MainMenuViewController>(*bundle, *user, opener, alerts);
        controller->window()->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
    }
    void addStartPage() const
    {
        ASSERT_TRUE(testfiles::write(lesson + "/pagewright_files/index.html", "<html></html>"));
    }
    QString startPage() const { return lesson + "/pagewright_files/index.html"; }
    QString trustFile() const { return home + kTrustFileBelowHome; }
    QByteArray entryLine() const { return QFile::encodeName(lesson) + "/pagewright_files\n"; }
    static void click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }

    QTemporaryDir tmp;
    QString lesson, home;
    QStringList log;
    FakeOpenService opener{log};
    FakeAlerts alerts{log};
    std::unique_ptr<FakeMainBundle> bundle;
    std::unique_ptr<FakeUser> user;
    std::unique_ptr<MainMenuViewController> controller;
};

struct LaunchCase {
    const char *name;
    const char *lessonName;
    bool startPage;
};

std::ostream &operator<<(std::ostream &os, const LaunchCase &c)
{
    return os << c.name << " (\"" << c.lessonName << "\", start page "
              << (c.startPage ? "present" : "missing") << ")";
}

const LaunchCase kLaunchCases[] = {
    {"plain_folder", "Lesson", true},
    {"plain_folder_missing_page", "Lesson", false},
    {"blanks_and_percent", "My Lesson 100% %@ %1 %%", true},
    {"blanks_and_percent_missing_page", "My Lesson 100% %@ %1 %%", false},
    {"non_ascii", "Lekt\xc3\xb6ren", true},
    {"non_ascii_missing_page", "Lekt\xc3\xb6ren", false},
};

class LessonLaunch : public ControllerTest, public ::testing::WithParamInterface<LaunchCase>
{
};

// The folder name goes into the page path and the alert exactly as it is.
TEST_P(LessonLaunch, WritesTrustThenOpensPageOrNamesTheFolder)
{
    makeLesson(QString::fromUtf8(GetParam().lessonName));
    if (GetParam().startPage)
        addStartPage();

    click(controller->getLaunchLessonButton());

    QStringList expected{"open " + startPage()};
    if (!GetParam().startPage)
        expected.append("alert Error: " + lesson +
                        "/pagewright_files/index.html could not be found");
    EXPECT_EQ(log, expected);
    EXPECT_EQ(controller->window()->isVisible(), !GetParam().startPage);
    EXPECT_EQ(testfiles::read(trustFile()), entryLine());
}

INSTANTIATE_TEST_SUITE_P(Rows, LessonLaunch, ::testing::ValuesIn(kLaunchCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ControllerTest, AlertsHaveTheOneButtonOkAndNoInformativeTextOverTheWindow)
{
    makeLesson("Lesson");
    click(controller->getLaunchLessonButton());
    click(controller->getLaunchGlimmerInstallButton());
    EXPECT_EQ(alerts.buttons, QStringList({"Ok", "Ok"}));
    EXPECT_EQ(alerts.informativeTexts, QStringList({"", ""}));
    EXPECT_EQ(alerts.windows, QList<QWidget *>({controller->window(), controller->window()}));
}

TEST_F(ControllerTest, OpenerSayingNoKeepsTheWindow)
{
    makeLesson("Lesson");
    addStartPage();
    opener.willStart = false;
    click(controller->getLaunchLessonButton());
    EXPECT_EQ(log.last(),
              "alert Error: " + lesson + "/pagewright_files/index.html could not be found");
    EXPECT_TRUE(controller->window()->isVisible());
}

TEST_F(ControllerTest, PressingTwiceAfterAFailedOpenWritesOneEntry)
{
    makeLesson("Lesson");
    click(controller->getLaunchLessonButton());
    ASSERT_EQ(testfiles::read(trustFile()), entryLine());
    click(controller->getLaunchLessonButton());
    EXPECT_EQ(testfiles::read(trustFile()), entryLine());
    EXPECT_EQ(log.size(), 4);
}

TEST_F(ControllerTest, UnmakeableTrustFolderAlertsFirstThenLaunchesAnyway)
{
    makeLesson("Lesson");
    addStartPage();
    ASSERT_TRUE(testfiles::write(home + "/Library", "a file where a folder belongs"));
    const QStringList before = testfiles::tree(home);

    click(controller->getLaunchLessonButton());

    EXPECT_EQ(log, QStringList({kTrustFailure, "open " + startPage()}));
    EXPECT_FALSE(controller->window()->isVisible());
    EXPECT_EQ(testfiles::tree(home), before);
}

TEST_F(ControllerTest, InstallerPackageIsOpenedFromTheBundleResources)
{
    makeLesson("Lesson");
    const QString package = lesson + "/Wayfarer.app/Contents/Resources/Corvane Glimmer Player.pkg";
    ASSERT_TRUE(testfiles::write(package + "/Contents/Info.plist", "<plist/>"));

    click(controller->getLaunchGlimmerInstallButton());

    EXPECT_EQ(log, QStringList({"open " + package}));
    EXPECT_TRUE(controller->window()->isVisible());
}

TEST_F(ControllerTest, MissingInstallerPackageShowsTheInstallerError)
{
    makeLesson("Lesson");
    click(controller->getLaunchGlimmerInstallButton());
    EXPECT_EQ(log, QStringList({kInstallerError}));
    EXPECT_TRUE(controller->window()->isVisible());
}

TEST_F(ControllerTest, InstallerThatCannotBeOpenedShowsTheInstallerError)
{
    makeLesson("Lesson");
    const QString package = lesson + "/Wayfarer.app/Contents/Resources/Corvane Glimmer Player.pkg";
    ASSERT_TRUE(testfiles::write(package, "xar!"));
    opener.willStart = false;
    click(controller->getLaunchGlimmerInstallButton());
    EXPECT_EQ(log, QStringList({"open " + package, kInstallerError}));
}

TEST_F(ControllerTest, VendorButtonOpensAnHttpPageWithoutAlertEvenOnFailure)
{
    makeLesson("Lesson");
    click(controller->getLaunchBrindleButton());
    opener.willStart = false;
    click(controller->getLaunchBrindleButton());
    EXPECT_EQ(log, QStringList({"url http://www.example.com/", "url http://www.example.com/"}));
    EXPECT_TRUE(controller->window()->isVisible());
}

TEST_F(ControllerTest, AccessorsGiveTheFormsButtons)
{
    makeLesson("Lesson");
    QWidget *window = controller->window();
    EXPECT_EQ(controller->getLaunchLessonButton(),
              window->findChild<QPushButton *>("launchLessonButton"));
    EXPECT_EQ(controller->getLaunchGlimmerInstallButton(),
              window->findChild<QPushButton *>("launchGlimmerInstallButton"));
    EXPECT_EQ(controller->getLaunchBrindleButton(),
              window->findChild<QPushButton *>("launchBrindleButton"));
    EXPECT_NE(controller->getLaunchLessonButton(), nullptr);
    EXPECT_TRUE(controller->applicationShouldTerminateAfterLastWindowClosed(qApp));
}

TEST_F(ControllerTest, WindowHasATitleAndTitledButtons)
{
    makeLesson("Lesson");
    EXPECT_FALSE(controller->window()->windowTitle().isEmpty());
    for (QPushButton *button :
         {controller->getLaunchLessonButton(), controller->getLaunchGlimmerInstallButton(),
          controller->getLaunchBrindleButton()})
        EXPECT_FALSE(button->text().isEmpty());
}

} // namespace
