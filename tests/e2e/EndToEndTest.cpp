// The whole chain on a virtual X screen: the real packer, the packed Unspool, Wayfarer it starts.
#include "tests/support/PackerHarness.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/Sandbox.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Waiting.h"

#include <gtest/gtest.h>

TEST(EndToEnd, PackedLessonUnpacksStartsWayfarerAndOpensItsStartPage)
{
    if (!haveDisplay())
        GTEST_SKIP() << "needs an X display (ctest runs this on a virtual screen)";
    Sandbox box;
    ASSERT_TRUE(box.writeOpener());
    const packertest::PackerRun pack =
        packertest::runPacker({SAMPLE_LESSON, "Rivers Sample", box.path("out")});
    ASSERT_EQ(pack.exitCode, 0) << pack.err.constData();
    QProcess &unspool =
        box.start(bundleProgram(box.path("out/Rivers Sample.app"), "Unspool"), {}, true);
    ASSERT_TRUE(unspool.waitForFinished(60000));
    EXPECT_EQ(unspool.exitCode(), 0);

    // Nothing is trusted or opened before the learner presses the lesson button.
    const std::optional<QByteArray> window =
        xdotool({"search", "--sync", "--onlyvisible", "--name", "^Lesson Setup"});
    ASSERT_TRUE(window && !window->isEmpty()) << "Wayfarer's window never appeared";
    const QString lesson = box.temporary() + "/Brindle_Lessons/Rivers Sample";
    const QString trustFile = box.home() + "/Library/Preferences/Tamarind/Glimmer Player/"
                                           "#Security/GlimmerPlayerTrust/brindle_local.cfg";
    EXPECT_TRUE(testfiles::read(trustFile).isNull() && box.opened().isEmpty());
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", window->split('\n').value(0)}) &&
                xdotool({"key", "space"}));
    EXPECT_TRUE(waitUntil([&] { return !box.opened().isEmpty(); })) << "nothing opened";
    EXPECT_EQ(box.opened(), QStringList{lesson + "/pagewright_files/index.html"});
    EXPECT_EQ(testfiles::read(trustFile), QFile::encodeName(lesson) + "/pagewright_files\n");
}
