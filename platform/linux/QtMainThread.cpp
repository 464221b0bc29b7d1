#include "platform/linux/QtMainThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <cerrno>
#include <semaphore.h>
#include <unistd.h>

namespace platform
{

namespace
{

const QEvent::Type kWorkEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Carries the caller's work by reference: the caller waits until the event is gone.
class WorkEvent : public QEvent
{
  public:
    WorkEvent(const std::function<void()> &work, sem_t &done)
        : QEvent(kWorkEvent), m_work(work), m_done(done)
    {
    }
    ~WorkEvent() override { ::sem_post(&m_done); }
    void run() const { m_work(); }

  private:
    const std::function<void()> &m_work;
    sem_t &m_done;
};

class Receiver : public QObject
{
  public:
    bool event(QEvent *event) override
    {
        if (event->type() != kWorkEvent)
            return QObject::event(event);
        static_cast<WorkEvent *>(event)->run();
        return true;
    }
};

bool setMask(pid_t thread, const cpu_set_t &mask)
{
    return ::sched_setaffinity(thread, sizeof mask, &mask) == 0;
}

bool pinTo(pid_t thread, int cpu)
{
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return setMask(thread, one);
}

// The processors the program was given when it started, read before anything in
// it could hold a thread on one processor.
struct StartMask {
    StartMask() { known = ::sched_getaffinity(0, sizeof mask, &mask) == 0; }
    cpu_set_t mask;
    bool known = false;
};
const StartMask startMask;

} // namespace

QtMainThread::QtMainThread() : m_receiver(std::make_unique<Receiver>())
{
    if (QCoreApplication *app = QCoreApplication::instance())
        m_receiver->moveToThread(app->thread());
}

QtMainThread::~QtMainThread() = default;

void QtMainThread::runAndWait(const std::function<void()> &work)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        work();
        return;
    }
    if (m_receiver->thread() != app->thread()) {
        // Made before the application: the application object itself takes the call.
        QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
        return;
    }
    handOver(work);
}

void QtMainThread::handOver(const std::function<void()> &work)
{
    // A semaphore of the caller's own: it sleeps in the kernel until the main thread
    // posts it, and never spins, which would only take time from the main thread
    // when both share a processor.
    sem_t done;
    ::sem_init(&done, 0, 0);
    QCoreApplication::postEvent(m_receiver.get(), new WorkEvent(work, done));
    while (::sem_wait(&done) != 0 && errno == EINTR) {
    }
    ::sem_destroy(&done);
}

// Waking a thread that sleeps on another processor costs far more than the
// hand-over's own work, in a virtual machine most of all; on one processor the
// wake is a switch between two threads. The main thread pins itself, on the
// processor it is on, in a hand-over of its own.
void QtMainThread::holdOneProcessor()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (m_sharing || !app || QThread::currentThread() == app->thread() ||
        m_receiver->thread() != app->thread() ||
        ::sched_getaffinity(0, sizeof m_callerMask, &m_callerMask) != 0)
        return;
    int cpu = -1;
    handOver([this, &cpu] {
        cpu = ::sched_getcpu();
        if (cpu < 0 || !CPU_ISSET(cpu, &m_callerMask) ||
            ::sched_getaffinity(0, sizeof m_mainMask, &m_mainMask) != 0 ||
            CPU_COUNT(&m_mainMask) < 2 || !pinTo(0, cpu)) {
            cpu = -1;
            return;
        }
        m_mainThread = ::gettid();
    });
    if (cpu < 0)
        return;
    m_sharing = true;
    pinTo(0, cpu);
}

// The main thread's mask is set from here: it is the one that has to be back
// before the main thread starts anything.
void QtMainThread::endHandOvers()
{
    if (!m_sharing)
        return;
    m_sharing = false;
    setMask(m_mainThread, m_mainMask);
    setMask(0, m_callerMask);
}

void MainThread::leaveHeldProcessor()
{
    cpu_set_t current;
    if (startMask.known && ::sched_getaffinity(0, sizeof current, &current) == 0 &&
        !CPU_EQUAL(&current, &startMask.mask))
        setMask(0, startMask.mask);
}

} // namespace platform
