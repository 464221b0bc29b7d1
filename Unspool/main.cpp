// Unspool, the self-extracting lesson: unpacks the archive it carries, starts the
// lesson's setup launcher and quits.
#include "UnspoolProgram.h"

#include "BundledQt.h"
#include "LinuxMainBundle.h"

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
