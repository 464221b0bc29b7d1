#pragma once

#include "platform/MainThread.h"

#include <memory>
#include <sched.h>
#include <sys/types.h>

class QObject;

namespace platform
{

// Hands work to the application's event loop as a posted event and waits on a
// semaphore that the event releases once the work has run (or when the event is
// dropped undelivered, so a waiting thread is never stranded). A call made on the
// main thread, or before there is an application, runs at once. Create it on the
// main thread.
//
// A hold keeps the main thread and the thread that began the hand-overs on the
// processor the main thread was on; endHandOvers() gives both their own masks back.
// A thread started in between by the one that began inherits the hold (pinning
// each hand-over alone costs more than the hand-over) unless it leaves it.
class QtMainThread : public MainThread
{
  public:
    QtMainThread();
    ~QtMainThread() override;
    void runAndWait(const std::function<void()> &work) override;
    void endHandOvers() override;

  protected:
    void holdOneProcessor() override;

  private:
    void handOver(const std::function<void()> &work);

    std::unique_ptr<QObject> m_receiver; // lives on the main thread

    // Set by holdOneProcessor() and read by the thread that called it.
    bool m_sharing = false;
    pid_t m_mainThread = 0;
    cpu_set_t m_mainMask; // each thread's own, given back at the end
    cpu_set_t m_callerMask;
};

} // namespace platform
