// The built Wayfarer.app as the learner meets it: copied into a lesson folder and
// started on a virtual X screen, HOME in a sandbox and a stand-in xdg-open first on
// PATH; its buttons pressed with xdotool (the lesson button has the focus, Tab
// moves on to the installer's, then the vendor's).
#include "QtPrinters.h"
#include "Sandbox.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace
{

struct RunRow {
    const char *name, *lessonName;
    int openerStatus;
    QStringList made;   // files made first, "@" standing for the lesson folder
    QStringList keys;   // pressed in the launcher window
    bool alert;         // an alert titled with the program's name shows; Return dismisses it
    bool ends;          // the program then ends, with status 0
    QStringList opened; // what reached xdg-open
    bool trusted;       // the content folder is a line of the trust file
};

std::ostream &operator<<(std::ostream &out, const RunRow &row)
{
    return out << row.name;
}

const QString kPage = "@/pagewright_files/index.html";
const QString kPackage = "@/Wayfarer.app/Contents/Resources/Corvane Glimmer Player.pkg";
const QStringList kLesson{"space"};

// Rows that press the lesson button last show that no alert came in between.
const RunRow kRows[] = {
    {"lessonOpensAndEnds", "Lesson", 0, {kPage}, kLesson, false, true, {kPage}, true},
    {"blanksAndPercent", "My 100% %1 %@", 0, {kPage}, kLesson, false, true, {kPage}, true},
    {"missingStartPageAlerts", "My 100% %1", 0, {}, kLesson, true, false, {}, true},
    {"openerWithoutHandlerAlerts", "Lesson", 3, {kPage}, kLesson, true, false, {kPage}, true},
    {"unwritableTrustAlertsThenLaunches", "Lesson", 0, {kPage, "@/../home/Library"}, kLesson,
     true, true, {kPage}, false},
    {"installerOpened", "Lesson", 0, {kPage, kPackage}, {"Tab", "space", "shift+Tab", "space"},
     false, true, {kPackage, kPage}, true},
    {"noInstallerPackageAlerts", "Lesson", 0, {kPage}, {"Tab", "space"}, true, false, {}, false},
    {"vendorSiteOpened", "Lesson", 0, {kPage},
     {"Tab", "Tab", "space", "shift+Tab", "shift+Tab", "space"}, false, true,
     {"http://www.example.com/", kPage}, true},
};

class WayfarerBundle : public ::testing::TestWithParam<RunRow>
{
};

TEST_P(WayfarerBundle, AnswersItsButtons)
{
    const RunRow &row = GetParam();
    if (!haveDisplay())
        GTEST_SKIP() << "needs an X display (ctest runs this under xvfb-run)";
    Sandbox box;
    const QString lesson = box.path(QString::fromUtf8(row.lessonName));
    const QString bundle = box.copyBundle(WAYFARER_BUNDLE, QString::fromUtf8(row.lessonName) + "/Wayfarer.app");
    ASSERT_TRUE(!bundle.isEmpty() && box.writeOpener(row.openerStatus));
    for (QString path : row.made)
        ASSERT_TRUE(testfiles::write(path.replace('@', lesson), "x"));

    QProcess &wayfarer = box.start(bundleProgram(bundle, "Wayfarer"), {}, true);
    const QByteArray window = waitForWindow(wayfarer.processId(), "^Lesson Setup$");
    ASSERT_FALSE(window.isEmpty()) << "the launcher window never appeared";
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", window}) && xdotool(QStringList{"key"} + row.keys));
    if (row.alert) {
        const QByteArray alert = waitForWindow(wayfarer.processId(), "^Wayfarer$");
        ASSERT_FALSE(alert.isEmpty()) << "no alert appeared";
        if (row.ends) {
            ASSERT_TRUE(xdotool({"windowfocus", "--sync", alert}) && xdotool({"key", "Return"}));
        }
    }
    if (row.ends) {
        EXPECT_TRUE(wayfarer.waitForFinished(60000) && wayfarer.exitCode() == 0);
    } else {
        EXPECT_FALSE(waitForWindow(wayfarer.processId(), "^Lesson Setup$").isEmpty());
    }
    EXPECT_EQ(box.opened(), QStringList(row.opened).replaceInStrings("@", lesson));
    EXPECT_EQ(testfiles::read(box.home() + "/Library/Preferences/Tamarind/Glimmer Player/"
                                           "#Security/GlimmerPlayerTrust/brindle_local.cfg"),
              row.trusted ? QFile::encodeName(lesson) + "/pagewright_files\n" : QByteArray());
}

INSTANTIATE_TEST_SUITE_P(Rows, WayfarerBundle, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
