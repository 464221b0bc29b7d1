// Bringing the program's window to the front from the watcher thread.
#include "LinuxWorkspace.h"

#include <QTest>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

namespace
{

TEST(Activation, BringsTheProgramsWindowBackFromAnotherThread)
{
    QWidget window;
    window.show();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    other.hide();
    QCoreApplication::processEvents();
    ASSERT_FALSE(window.isActiveWindow());

    platform::LinuxWorkspace workspace;
    QThread *watcher = QThread::create([&workspace] { workspace.activateIgnoringOtherApps(); });
    watcher->start();
    watcher->wait();
    delete watcher;
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
}

} // namespace
