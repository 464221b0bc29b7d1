#pragma once

#include <functional>

namespace platform {

// Hands work to the main thread and waits until it has run there.
class MainThread {
public:
    virtual ~MainThread() = default;
    virtual void runAndWait(const std::function<void()> &work) = 0;
};

} // namespace platform
