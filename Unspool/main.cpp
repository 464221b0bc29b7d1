// Unspool, the self-extracting lesson: unpacks the archive it carries, starts the
// lesson's setup launcher and quits.
#include "Unspool/UnspoolProgram.h"

#include "platform/linux/BundledQt.h"
#include "platform/linux/LinuxMainBundle.h"

#include <QApplication>

int main(int argc, char **argv)
{
    platform::choosePlatformPlugin();
    QApplication application(argc, argv);
    const platform::LinuxMainBundle mainBundle =
        platform::LinuxMainBundle::withLessonFromEnvironment();
    platform::setWindowIconFromBundle(application, mainBundle);
    return unspool::runProgram(application, mainBundle);
}
