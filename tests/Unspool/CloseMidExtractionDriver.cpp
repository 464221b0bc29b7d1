// Unspool as wired in the program, on the bundle in argv[1], its window closed once the bar moves.
#include "Unspool/MainMenuViewController.h"
#include "Unspool/UnspoolProgram.h"
#include "platform/linux/LinuxMainBundle.h"

#include <QApplication>
#include <QProgressBar>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const platform::LinuxMainBundle bundle(QString::fromLocal8Bit(argc > 1 ? argv[1] : ""));
    return unspool::runProgram(application, bundle, [](unspool::MainMenuViewController &c) {
        QObject::connect(c.getProgressBar(), &QProgressBar::valueChanged, c.window(),
                         [window = c.window()] { window->close(); });
    });
}
