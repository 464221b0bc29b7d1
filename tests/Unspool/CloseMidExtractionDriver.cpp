// Runs Unspool's controller and run loop on the bundle named by the first argument
// and closes the window as soon as the bar first moves, the way a user would close
// it mid-extraction. The process must then end at once, with status 0.
#include "MainMenuViewController.h"
#include "UnspoolApplication.h"

#include "LinuxMainBundle.h"
#include "LinuxOpenService.h"
#include "LinuxTemporaryDirectory.h"
#include "QtAlerts.h"
#include "QtMainThread.h"

#include <QApplication>
#include <QProgressBar>
#include <QWidget>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc < 2)
        return 2;

    platform::LinuxMainBundle mainBundle(QString::fromLocal8Bit(argv[1]));
    platform::LinuxTemporaryDirectory temporaryDirectory;
    platform::LinuxOpenService openService;
    platform::QtAlerts alerts;
    platform::QtMainThread mainThread;
    unspool::MainMenuViewController controller({mainBundle, temporaryDirectory, openService, alerts,
                                                mainThread, [] { QApplication::quit(); }});

    // Runs inside the hand-over, while the extraction thread waits for it.
    QWidget *window = controller.window();
    QObject::connect(controller.getProgressBar(), &QProgressBar::valueChanged, window,
                     [window](int) { window->close(); });
    return unspool::runApplication(application, controller);
}
