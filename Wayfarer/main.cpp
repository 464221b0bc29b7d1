// Wayfarer, the lesson's setup launcher: one window, ended by closing it; a second
// start for the same lesson brings that window forward instead.
#include "Wayfarer/MainMenuViewController.h"
#include "Wayfarer/OneWindowPerLesson.h"

#include "platform/linux/BundledQt.h"
#include "platform/linux/LinuxMainBundle.h"
#include "platform/linux/LinuxOpenService.h"
#include "platform/linux/LinuxUser.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/QtAlerts.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    platform::choosePlatformPlugin();
    QApplication application(argc, argv);
    platform::LinuxMainBundle mainBundle;
    platform::setWindowIconFromBundle(application, mainBundle);
    platform::LinuxUser user;
    platform::LinuxOpenService openService;
    platform::QtAlerts alerts(QStringLiteral("Wayfarer"));

    wayfarer::MainMenuViewController controller(mainBundle, user, openService, alerts);
    QWidget *window = controller.window();
    wayfarer::OneWindowPerLesson oneWindow(mainBundle.bundlePath(), [window] {
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        platform::LinuxWorkspace().activateIgnoringOtherApps();
    });
    if (oneWindow.handedOver())
        return 0;
    application.setQuitOnLastWindowClosed(
        controller.applicationShouldTerminateAfterLastWindowClosed(&application));
    window->show();
    return application.exec();
}
