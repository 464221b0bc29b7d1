// Runs Unspool, wired as the program is, on the bundle named by the first argument
// and closes the window as soon as the bar first moves, the way a user would close
// it mid-extraction. The process must then end at once, with status 1.
#include "MainMenuViewController.h"
#include "UnspoolProgram.h"

#include "LinuxMainBundle.h"

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
    return unspool::runProgram(application, mainBundle, [](unspool::MainMenuViewController &c) {
        // Runs inside the hand-over, while the extraction thread waits for it.
        QWidget *window = c.window();
        QObject::connect(c.getProgressBar(), &QProgressBar::valueChanged, window,
                         [window](int) { window->close(); });
    });
}
