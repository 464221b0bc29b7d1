// A holder of the plug-in with one window, for the close tests: keeps <file> open,
// shows a window of class <class>, and prints "asked" each time the window is asked
// to close; it then closes and ends with 0 ("closes") or stays open ("stays").
//   quiesce_window_holder <file> <closes|stays> <class>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QWidget>

#include <cstdio>

namespace
{

class Window : public QWidget
{
  public:
    bool stays = false;

  protected:
    void closeEvent(QCloseEvent *event) override
    {
        std::puts("asked");
        std::fflush(stdout);
        event->setAccepted(!stays);
    }
};

} // namespace

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
