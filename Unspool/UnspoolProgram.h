#pragma once

#include <functional>

class QApplication;

namespace platform
{
class MainBundle;
}

namespace unspool
{

class MainMenuViewController;

// The whole program on this system's services, for the bundle `mainBundle`:
// builds the controller, lets `prepare` (when given) attach to it, then runs it as
// runApplication() does. The program and its test driver share this wiring.
int runProgram(QApplication &application, const platform::MainBundle &mainBundle,
               const std::function<void(MainMenuViewController &)> &prepare = {});

} // namespace unspool
