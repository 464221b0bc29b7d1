// A holder of the plug-in with one window, for the close tests:
//   quiesce_window_holder <file kept open> <closes|stays> <window class>
// prints "asked" each time its window is asked to close, then closes (ending with 0) or stays.
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QWidget>

#include <cstdio>

struct Window : QWidget {
    bool stays = false;
    void closeEvent(QCloseEvent *event) override
    {
        std::puts("asked");
        std::fflush(stdout);
        event->setAccepted(!stays);
    }
};

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QFile held(QString::fromLocal8Bit(argv[1]));
    if (argc != 4 || !held.open(QIODevice::ReadOnly))
        return 2;
    QApplication::setApplicationName(QString::fromLocal8Bit(argv[3]));
    Window window;
    window.stays = qstrcmp(argv[2], "stays") == 0;
    window.setWindowTitle(QStringLiteral("holder"));
    window.resize(200, 100);
    window.show();
    return QApplication::exec();
}
