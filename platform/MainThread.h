#pragma once

#include <functional>

namespace platform
{

// Hands work to the main thread and waits until it has run there.
class MainThread
{
  public:
    virtual ~MainThread() = default;
    virtual void runAndWait(const std::function<void()> &work) = 0;

    // Brackets a run of many hand-overs from the calling thread. In between, an
    // implementation may keep that thread and the main thread on one processor,
    // where waking the other costs least. endHandOvers() gives the main thread back
    // the processors it had, so call it before the main thread starts anything that
    // would inherit them. Both are safe to call more than once.
    virtual void beginHandOvers() {}
    virtual void endHandOvers() {}
};

} // namespace platform
