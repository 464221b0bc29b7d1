#include "Unspool/UnspoolApplication.h"

#include "Unspool/MainMenuViewController.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

namespace unspool
{

int runApplication(QApplication &application, MainMenuViewController &controller)
{
    application.setQuitOnLastWindowClosed(
        controller.applicationShouldTerminateAfterLastWindowClosed(&application));
    controller.window()->show();
    QMetaObject::invokeMethod(
        &controller, [&controller] { controller.applicationDidFinishLaunching(); },
        Qt::QueuedConnection);

    // However the loop was ended (the launcher started, an alert dismissed, the
    // window closed), the controller knows whether the lesson was handed over.
    application.exec();
    const int status = controller.exitStatus();
    if (!controller.extractionThreadRunning())
        return status;

    // The thread may be waiting for a hand-over that this loop will never run, or
    // be writing a file. Tearing the application down under it would wake it into
    // freed objects, so the process ends without running destructors; what it has
    // written so far stays in the lesson folder.
    std::fflush(nullptr);
    ::_exit(status);
}

} // namespace unspool
