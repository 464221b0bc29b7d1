#pragma once

#include "MainThread.h"

namespace platform {

// Blocking queued calls on the application object; a call made on the main thread
// runs at once.
class QtMainThread : public MainThread {
public:
    void runAndWait(const std::function<void()> &work) override;
};

} // namespace platform
