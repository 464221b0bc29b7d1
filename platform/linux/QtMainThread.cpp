#include "QtMainThread.h"

#include <QCoreApplication>
#include <QThread>

namespace platform {

void QtMainThread::runAndWait(const std::function<void()> &work)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

} // namespace platform
