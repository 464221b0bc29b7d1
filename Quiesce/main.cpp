// Quiesce, run while the plug-in is being installed: lists the applications that
// hold the plug-in open until none is left. Its exit status is its answer:
// 0 go on with the installation, 1 the user stopped.
#include "Quiesce/CGMCApp.h"
#include "Quiesce/core/GMIMRootActions.h"
#include "Quiesce/core/GMUExtensions.h"
#include "Quiesce/core/root_helper/RootHelperRunner.h"

#include "platform/ProcessRunner.h"
#include "platform/ProcessShield.h"
#include "platform/linux/BundledQt.h"
#include "platform/linux/LinuxMainBundle.h"
#include "platform/linux/LinuxSystemLog.h"
#include "platform/linux/LinuxUser.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/QtAlerts.h"
#include "platform/linux/QtApplicationIcons.h"

#include <QApplication>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace
{

// The program's string table among its bundle's resources (compiled, type "qm").
const QString sStringTable = QStringLiteral("CBLocalizable");

// "/bin/kill" "-s" "TERM" <pid>, as this program's user; the tool's status is not read.
void terminateWithUserRights(int pid)
{
    platform::runProcess(QStringLiteral("/bin/kill"),
                         {QStringLiteral("-s"), QStringLiteral("TERM"), QString::number(pid)});
}

// The status is the program's only answer: it ends at once, without running
// destructors under the watcher thread's feet.
void exitWith(int status)
{
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace

int main(int argc, char **argv)
{
    // Before anything else: the pipe to the root helper will be one of our
    // descriptors, and no other program of the user may borrow it.
    platform::shieldFromOtherProcesses();
    platform::choosePlatformPlugin();
    QApplication application(argc, argv);
    platform::LinuxMainBundle mainBundle;
    platform::setWindowIconFromBundle(application, mainBundle);

    // The string table; without it every text shows as its key.
    QTranslator stringTable;
    if (stringTable.load(mainBundle.pathForResource(sStringTable, QStringLiteral("qm"))))
        QApplication::installTranslator(&stringTable);

    platform::LinuxUser user;
    platform::LinuxWorkspace workspace;
    platform::QtApplicationIcons icons(
        mainBundle.pathForResource(QStringLiteral("GenericApplication"), QStringLiteral("png")));
    platform::QtAlerts alerts(QStringLiteral("Quiesce"));
    // The bundle's root helper, started through pkexec only when Force Close All
    // first needs it.
    GMIMRootActions::setSharedServices(
        std::make_shared<RootHelperRunner>(
            RootHelperRunner::throughPkexec(mainBundle.bundlePath())),
        std::make_shared<platform::LinuxSystemLog>());

    CGMCApp controller(QStringLiteral("/"), user.homeDirectory(),
                       {workspace, icons, alerts, &GMIMRootActions::sharedInstance,
                        &terminateWithUserRights, &exitWith, &GMUExtensions::processNameForPID});
    controller.start();
    application.exec();
    // Not reached: the controller ends the program with its status, also when the
    // application is asked to quit.
    return 1;
}
