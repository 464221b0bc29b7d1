#pragma once

#include <QObject>

#include <memory>
#include <sys/types.h>

class QSocketNotifier;

namespace platform
{

// A child process of ours, watched by the event loop of the thread that made the
// watch (the main thread): once the child has ended it is reaped and `ended` tells
// its wait status. No thread of ours waits for it, so a waiting caller can keep its
// window painted. The watch then deletes itself; one nobody listens to just keeps
// the child from lingering as a zombie. Watches left at the end belong to the
// application and go with it.
class ChildExit : public QObject
{
    Q_OBJECT
  public:
    explicit ChildExit(pid_t pid);
    ~ChildExit() override;

  signals:
    void ended(int waitStatus);

  private:
    void reap();

    pid_t m_pid;
    int m_processFd;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace platform
