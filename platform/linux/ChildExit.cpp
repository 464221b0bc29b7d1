#include "platform/linux/ChildExit.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
// This C library's header leaves out the C++ linkage block.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/wait.h>
#include <unistd.h>

namespace platform
{

// A process descriptor becomes readable once its process has ended (Linux 5.3 and
// later, as the root helper's signals need too).
ChildExit::ChildExit(pid_t pid)
    : QObject(QCoreApplication::instance()), m_pid(pid), m_processFd(::pidfd_open(pid, 0))
{
    if (m_processFd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_processFd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &ChildExit::reap);
        return;
    }
    // Without a process descriptor (none left to open, say) the child is asked now and
    // then instead, so it is still reaped and its end still heard.
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &ChildExit::reap);
    poll->start(20);
}

ChildExit::~ChildExit()
{
    m_notifier.reset();
    if (m_processFd >= 0)
        ::close(m_processFd);
}

void ChildExit::reap()
{
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(m_pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (done == 0)
        return; // still running
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (done == m_pid)
        emit ended(status);
    deleteLater();
}

} // namespace platform
