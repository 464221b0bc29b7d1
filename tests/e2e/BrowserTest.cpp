// Launch Lesson to a rendered page: the built Wayfarer in lesson folders with awkward names,
// the real xdg-open, and a headless browser as the desktop's default for web pages.
#include "tests/support/QtPrinters.h"
#include "tests/support/RowPrinting.h"
#include "tests/support/Sandbox.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Waiting.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <cstdio>

namespace
{

struct BrowserRow {
    const char *name;
    QByteArray folder;   // the lesson folder's name, in bytes
    bool renders = true; // false: Wayfarer alerts, nothing reaches the browser
};

void PrintTo(const BrowserRow &row, std::ostream *out)
{
    rows::Print(out, row.name)("folder", row.folder);
}

const BrowserRow kRows[] = {
    {"space", "My Lesson"},
    {"hash", "Lesson #3"},
    {"percentTwenty", "Rivers%20Sample"},
    {"question", "Why? Rivers"},
    {"ampersand", "Rivers & Lakes"},
    {"accent", "Le\xc3\xa7on d\xc3\xa9j\xc3\xa0 vue"},
    // Debian's xdg-open (its mimetype) and chromium both fail on such a path, and a
    // file:// URL comes to the browser as a path again; so the learner is told.
    {"notUtf8", "Le\xe7on", false},
};

// A start page whose script and image are relative; each adds to the title once loaded.
const QByteArray kPage = "<html><head><title>Start page</title><script src=\"_static/page.js\">"
                         "</script></head><body><img src=\"_images/dot.svg\" "
                         "onload=\"document.title += ' +image'\"></body></html>\n";
const QByteArray kRendered = "<title>Start page +script +image</title>";

// The browser runs without its sandbox: as root it refuses to start otherwise, and
// containers often lack what the sandbox needs; the page is our own.
const QByteArray kBrowse = "timeout 120 chromium --headless --no-sandbox --dump-dom";

// Why the browser cannot run here, or nothing when it can.
QString browserMissing()
{
    QProcess probe;
    probe.start("sh", {"-c", kBrowse + " 'data:text/html,<title>probe</title>' 2>&1"});
    const bool ran = probe.waitForFinished(150000);
    const QByteArray said = probe.readAll();
    if (ran && said.contains("<title>probe</title>"))
        return {};
    return "chromium cannot run here: " + QString::fromLocal8Bit(said.right(300));
}

using LessonInBrowser = ::testing::TestWithParam<BrowserRow>;

TEST_P(LessonInBrowser, ShowsTheStartPage)
{
    static const QString missing = browserMissing();
    if (!haveDisplay())
        GTEST_SKIP() << "needs an X display (ctest runs this on a virtual screen)";
    if (!missing.isEmpty())
        GTEST_SKIP() << qPrintable(missing);
    Sandbox box;
    const QString staged = box.path("lessons/staged");
    const QString content = staged + "/pagewright_files/";
    ASSERT_TRUE(!box.copyBundle(WAYFARER_BUNDLE, "lessons/staged/Wayfarer.app").isEmpty() &&
                testfiles::write(content + "index.html", kPage) &&
                testfiles::write(content + "_static/page.js", "document.title += ' +script';\n") &&
                testfiles::write(content + "_images/dot.svg",
                                 "<svg xmlns='http://www.w3.org/2000/svg' width='1' height='1'/>"));
    const QByteArray lesson = QFile::encodeName(box.path("lessons/")) + GetParam().folder;
    ASSERT_EQ(std::rename(QFile::encodeName(staged).constData(), lesson.constData()), 0);
    struct NameBack { // so that the sandbox can remove it
        QByteArray from, to;
        ~NameBack() { std::rename(from.constData(), to.constData()); }
    } nameBack{lesson, QFile::encodeName(staged)};

    // The desktop's default for web pages: an entry whose command notes what it was
    // handed and renders it.
    const QByteArray root = QFile::encodeName(box.path());
    ASSERT_TRUE(testfiles::writeExecutable(box.bin() + "/lesson-browser",
                                           "#!/bin/sh\nprintf '%s' \"$1\" > '" + root +
                                               "/handed'\n" + kBrowse + " \"$1\" > '" + root +
                                               "/dom.part' 2> '" + root + "/browser.log'\nmv '" +
                                               root + "/dom.part' '" + root + "/dom.html'\n"));
    ASSERT_TRUE(testfiles::write(box.path("data/applications/lesson-browser.desktop"),
                                 "[Desktop Entry]\nType=Application\nName=Lesson Browser\nExec=" +
                                     QFile::encodeName(box.bin()) +
                                     "/lesson-browser %U\nMimeType=text/html;\n"));
    ASSERT_TRUE(testfiles::write(box.path("config/mimeapps.list"),
                                 "[Default Applications]\ntext/html=lesson-browser.desktop\n"));

    // The lesson folder's name may not be text: the shell finds it, in bytes.
    QProcess &wayfarer = box.start(
        "sh", {"-c", "exec \"$0\"/*/Wayfarer.app/Contents/MacOS/Wayfarer", box.path("lessons")},
        true,
        {{"XDG_CONFIG_HOME", box.path("config")},
         {"XDG_DATA_HOME", box.path("data")},
         {"XDG_CURRENT_DESKTOP", "X-Generic"},
         {"BROWSER", "false"}});
    const QByteArray window = waitForWindow(wayfarer.processId(), "^Lesson Setup");
    ASSERT_FALSE(window.isEmpty()) << "the launcher window never appeared";
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", window}) && xdotool({"key", "space"}));
    if (!GetParam().renders) {
        EXPECT_FALSE(waitForWindow(wayfarer.processId(), "^Wayfarer$").isEmpty()) << "no alert";
        EXPECT_TRUE(testfiles::read(box.path("handed")).isNull());
        return;
    }
    ASSERT_TRUE(wayfarer.waitForFinished(60000) && wayfarer.exitCode() == 0)
        << "Wayfarer stayed (an alert?) or failed";
    ASSERT_TRUE(fileAppears(box.path("dom.html"), 150000))
        << "nothing rendered; the browser said: "
        << testfiles::read(box.path("browser.log")).constData();
    EXPECT_EQ(testfiles::read(box.path("handed")), lesson + "/pagewright_files/index.html");
    EXPECT_TRUE(testfiles::read(box.path("dom.html")).contains(kRendered))
        << testfiles::read(box.path("dom.html")).left(300).constData();
}

INSTANTIATE_TEST_SUITE_P(Rows, LessonInBrowser, ::testing::ValuesIn(kRows), rows::byName);

} // namespace
