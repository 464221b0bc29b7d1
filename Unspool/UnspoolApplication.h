#pragma once

class QApplication;

namespace unspool
{

class MainMenuViewController;

// Runs the program around its controller: shows the window, starts the extraction
// once the event loop is running and runs the loop until the program ends. Returns
// the program's exit status (MainMenuViewController::exitStatus); when the
// extraction thread is still at work by then (the window was closed mid-way), the
// process ends right here with that status instead.
int runApplication(QApplication &application, MainMenuViewController &controller);

} // namespace unspool
