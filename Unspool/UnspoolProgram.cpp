#include "UnspoolProgram.h"

#include "MainMenuViewController.h"
#include "UnspoolApplication.h"

#include "LinuxOpenService.h"
#include "LinuxTemporaryDirectory.h"
#include "QtAlerts.h"
#include "QtMainThread.h"

#include <QApplication>

namespace unspool
{

int runProgram(QApplication &application, const platform::MainBundle &mainBundle,
               const std::function<void(MainMenuViewController &)> &prepare)
{
    platform::LinuxTemporaryDirectory temporaryDirectory;
    platform::LinuxOpenService openService;
    platform::QtAlerts alerts(QStringLiteral("Unspool"));
    platform::QtMainThread mainThread;
    MainMenuViewController controller({mainBundle, temporaryDirectory, openService, alerts,
                                       mainThread, [] { QApplication::quit(); }});
    if (prepare)
        prepare(controller);
    return runApplication(application, controller);
}

} // namespace unspool
