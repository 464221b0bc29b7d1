// The whole chain as an author and a learner meet it, on a virtual X screen: the
// sample lesson packed by the real packer, the packed Unspool run in a sandbox, and
// the real Wayfarer it starts from the lesson folder, whose lesson button is pressed.
#include "PackerHarness.h"
#include "QtPrinters.h"
#include "Sandbox.h"
#include "TestFiles.h"
#include "Waiting.h"

#include <gtest/gtest.h>

TEST(EndToEnd, PackedLessonUnpacksStartsWayfarerAndOpensItsStartPage)
{
    if (!haveDisplay())
        GTEST_SKIP() << "needs an X display (ctest runs this under xvfb-run)";
    Sandbox box;
    ASSERT_TRUE(box.writeOpener());
    const packertest::PackerRun pack =
        packertest::runPacker({SAMPLE_LESSON, "Rivers Sample", box.path("out")});
    ASSERT_EQ(pack.exitCode, 0) << pack.err.constData();
    QProcess &unspool = box.start(bundleProgram(box.path("out/Rivers Sample.app"), "Unspool"), {}, true);
    ASSERT_TRUE(unspool.waitForFinished(60000));
    EXPECT_EQ(unspool.exitCode(), 0);
    const QString lesson = box.temporary() + "/Brindle_Lessons/Rivers Sample";
    const auto contents = [](const QString &root) {
        return testfiles::describeTree(root, [](const QString &path) {
            return QString::fromLatin1(testfiles::read(path).toBase64());
        });
    };
    EXPECT_EQ(contents(lesson + "/pagewright_files"), contents(SAMPLE_LESSON));
    EXPECT_EQ(contents(lesson + "/Wayfarer.app"), contents(WAYFARER_BUNDLE));

    // Nothing is trusted or opened before the learner presses the lesson button.
    const std::optional<QByteArray> window =
        xdotool({"search", "--sync", "--onlyvisible", "--name", "^Lesson Setup$"});
    ASSERT_TRUE(window && !window->isEmpty()) << "Wayfarer's window never appeared";
    const QString trustFile = box.home() + "/Library/Preferences/Tamarind/Glimmer Player/"
                                           "#Security/GlimmerPlayerTrust/brindle_local.cfg";
    EXPECT_TRUE(testfiles::read(trustFile).isNull() && box.opened().isEmpty());
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", window->split('\n').value(0)}));
    ASSERT_TRUE(xdotool({"key", "space"}));
    EXPECT_TRUE(waitUntil([&] { return !box.opened().isEmpty(); })) << "nothing opened";
    EXPECT_EQ(box.opened(), QStringList{lesson + "/pagewright_files/index.html"});
    EXPECT_EQ(testfiles::read(trustFile), QFile::encodeName(lesson) + "/pagewright_files\n");
}
