// The controller over the real Linux services (bundle, user, opener), with a test
// xdg-open first on PATH and HOME pointed at a test folder. Only the alerts are
// fake, since a real one would wait for a press.
#include "FakeOpener.h"
#include "Fakes.h"
#include "LinuxMainBundle.h"
#include "LinuxOpenService.h"
#include "LinuxUser.h"
#include "MainMenuViewController.h"
#include "TestFiles.h"

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace wayfarer_test;

namespace
{

// Sets an environment variable for one test and puts the old value back.
class ScopedEnvironment
{
  public:
    ScopedEnvironment(const char *name, const QByteArray &value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnvironment()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

  private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

struct RealCase {
    const char *name;
    const char *lessonName;
    bool startPage;
    bool installer;
    int openerStatus;
    const char *button; // object name of the button pressed
    // What the opener was handed ("@LESSON@" stands for the lesson folder), and the
    // alert shown; empty for none.
    const char *opened;
    const char *alert;
    bool windowStays;
};

std::ostream &operator<<(std::ostream &os, const RealCase &c)
{
    return os << c.name << " (" << c.button << ", opener exits " << c.openerStatus << ")";
}

const RealCase kRealCases[] = {
    {"lesson_opens_and_window_closes", "Lesson", true, false, 0, "launchLessonButton",
     "@LESSON@/pagewright_files/index.html", "", false},
    {"lesson_with_blanks_and_percent", "My Lesson 100% %@", true, false, 0, "launchLessonButton",
     "@LESSON@/pagewright_files/index.html", "", false},
    {"opener_without_handler_keeps_window", "Lesson", true, false, 3, "launchLessonButton",
     "@LESSON@/pagewright_files/index.html",
     "Error: @LESSON@/pagewright_files/index.html could not be found", true},
    {"missing_start_page_never_reaches_opener", "My Lesson 100% %@", false, false, 0,
     "launchLessonButton", "", "Error: @LESSON@/pagewright_files/index.html could not be found",
     true},
    {"installer_package_opened", "Lesson", false, true, 0, "launchGlimmerInstallButton",
     "@LESSON@/Wayfarer.app/Contents/Resources/Corvane Glimmer Player.pkg", "", true},
    {"installer_refused_by_opener", "Lesson", false, true, 1, "launchGlimmerInstallButton",
     "@LESSON@/Wayfarer.app/Contents/Resources/Corvane Glimmer Player.pkg",
     "Error launching Glimmer Player 10 Installer.", true},
    {"installer_missing", "Lesson", false, false, 0, "launchGlimmerInstallButton", "",
     "Error launching Glimmer Player 10 Installer.", true},
    {"vendor_site", "Lesson", false, false, 0, "launchBrindleButton", "http://www.example.com/", "",
     true},
    {"vendor_site_refused_without_alert", "Lesson", false, false, 2, "launchBrindleButton",
     "http://www.example.com/", "", true},
};

class RealServices : public ::testing::TestWithParam<RealCase>
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        lesson = tmp.path() + "/" + QString::fromUtf8(GetParam().lessonName);
        ASSERT_TRUE(QDir().mkpath(lesson + "/Wayfarer.app/Contents/Resources"));
        ASSERT_TRUE(QDir().mkpath(tmp.path() + "/bin"));
        ASSERT_TRUE(QDir().mkpath(tmp.path() + "/home"));
        ASSERT_TRUE(writeFakeOpener(tmp.path() + "/bin", record(), GetParam().openerStatus));
    }
    QString record() const { return tmp.path() + "/opened.txt"; }
    QString expand(const char *text) const
    {
        return QString::fromUtf8(text).replace("@LESSON@", lesson);
    }

    QTemporaryDir tmp;
    QString lesson;
};

TEST_P(RealServices, ButtonsReachTheDesktopOpener)
{
    const RealCase &c = GetParam();
    if (c.startPage) {
        ASSERT_TRUE(testfiles::write(lesson + "/pagewright_files/index.html", "<html></html>"));
    }
    if (c.installer) {
        ASSERT_TRUE(testfiles::write(
            lesson + "/Wayfarer.app/Contents/Resources/Corvane Glimmer Player.pkg", "xar!"));
    }
    const ScopedEnvironment path("PATH", QFile::encodeName(tmp.path()) + "/bin:" + qgetenv("PATH"));
    const ScopedEnvironment home("HOME", QFile::encodeName(tmp.path()) + "/home");

    platform::LinuxMainBundle bundle(lesson + "/Wayfarer.app");
    platform::LinuxUser user;
    platform::LinuxOpenService opener;
    QStringList log;
    FakeAlerts alerts(log);
    wayfarer::MainMenuViewController controller(bundle, user, opener, alerts);
    controller.window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.window()));

    QTest::mouseClick(controller.window()->findChild<QPushButton *>(c.button), Qt::LeftButton);

    const QByteArray opened = *c.opened ? QFile::encodeName(expand(c.opened)) + "\n" : QByteArray();
    EXPECT_EQ(testfiles::read(record()), *c.opened ? opened : QByteArray());
    EXPECT_EQ(log, *c.alert ? QStringList{"alert " + expand(c.alert)} : QStringList());
    EXPECT_EQ(controller.window()->isVisible(), c.windowStays);
}

INSTANTIATE_TEST_SUITE_P(Rows, RealServices, ::testing::ValuesIn(kRealCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The real user service follows HOME, so the entry lands under the test home folder.
TEST(RealServicesTrust, LessonLaunchWritesUnderHome)
{
    QTemporaryDir tmp;
    const QString lesson = tmp.path() + "/Lesson";
    ASSERT_TRUE(QDir().mkpath(lesson + "/Wayfarer.app"));
    const ScopedEnvironment home("HOME", QFile::encodeName(tmp.path()) + "/home");
    platform::LinuxMainBundle bundle(lesson + "/Wayfarer.app");
    platform::LinuxUser user;
    QStringList log;
    FakeOpenService opener(log);
    FakeAlerts alerts(log);
    wayfarer::MainMenuViewController controller(bundle, user, opener, alerts);

    EXPECT_TRUE(controller.addGlimmerPermissions());

    EXPECT_EQ(testfiles::read(tmp.path() +
                              "/home/Library/Preferences/Tamarind/Glimmer Player/#Security/"
                              "GlimmerPlayerTrust/brindle_local.cfg"),
              QFile::encodeName(lesson) + "/pagewright_files\n");
}

} // namespace
