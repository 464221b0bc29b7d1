#include "Unspool/UnspoolProgram.h"

#include "Unspool/MainMenuViewController.h"
#include "Unspool/UnspoolApplication.h"

#include "platform/linux/LinuxOpenService.h"
#include "platform/linux/LinuxTemporaryDirectory.h"
#include "platform/linux/QtAlerts.h"
#include "platform/linux/QtMainThread.h"

#include <QApplication>

#include <csignal>

namespace unspool
{

int runProgram(QApplication &application, const platform::MainBundle &mainBundle,
               const std::function<void(MainMenuViewController &)> &prepare)
{
    // A write past a file-size limit then fails like any other, and the learner is
    // told, instead of the signal ending us unannounced. The opener gives the
    // programs it starts the default back.
    std::signal(SIGXFSZ, SIG_IGN);
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
