#include "tests/support/Waiting.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

bool waitUntil(const std::function<bool()> &done, int patienceMs)
{
    QDeadlineTimer limit(patienceMs);
    while (!done()) {
        if (limit.hasExpired())
            return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

bool fileAppears(const QString &path, int patienceMs)
{
    return waitUntil([&path] { return QFileInfo::exists(path); }, patienceMs);
}
