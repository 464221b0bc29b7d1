// Runs Unspool, wired as the program is, on the bundle named by the first argument
// and closes the window as soon as the bar first moves, as a learner might close it
// mid-extraction. The process must then end at once, with status 1.
#include "LinuxMainBundle.h"
#include "MainMenuViewController.h"
#include "UnspoolProgram.h"

#include <QApplication>
#include <QProgressBar>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const platform::LinuxMainBundle bundle(QString::fromLocal8Bit(argc > 1 ? argv[1] : ""));
    return unspool::runProgram(application, bundle, [](unspool::MainMenuViewController &c) {
        // Runs inside the hand-over, while the extraction thread waits for it.
        QObject::connect(c.getProgressBar(), &QProgressBar::valueChanged, c.window(),
                         [window = c.window()] { window->close(); });
    });
}
