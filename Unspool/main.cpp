// Unspool, the self-extracting lesson: unpacks the archive it carries, starts the
// lesson's setup launcher and quits.
#include "MainMenuViewController.h"
#include "UnspoolApplication.h"

#include "LinuxMainBundle.h"
#include "LinuxOpenService.h"
#include "LinuxTemporaryDirectory.h"
#include "QtAlerts.h"
#include "QtMainThread.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    platform::LinuxMainBundle mainBundle;
    platform::LinuxTemporaryDirectory temporaryDirectory;
    platform::LinuxOpenService openService;
    platform::QtAlerts alerts;
    platform::QtMainThread mainThread;

    unspool::MainMenuViewController controller({mainBundle, temporaryDirectory, openService, alerts,
                                                mainThread, [] { QApplication::quit(); }});
    return unspool::runApplication(application, controller);
}
