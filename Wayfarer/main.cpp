// Wayfarer, the lesson's setup launcher: one window, ended by closing it.
#include "MainMenuViewController.h"

#include "BundledQt.h"
#include "LinuxMainBundle.h"
#include "LinuxOpenService.h"
#include "LinuxUser.h"
#include "QtAlerts.h"

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
    application.setQuitOnLastWindowClosed(
        controller.applicationShouldTerminateAfterLastWindowClosed(&application));
    controller.window()->show();
    return application.exec();
}
