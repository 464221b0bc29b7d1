#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace platform
{

struct AlertText {
    QString messageText;     // the bold first line
    QString informativeText; // the plain text below it; may be empty
    QString button;
};

// Alerts with a single button, each shown over the program's window. Both are
// main-thread only.
class Alerts
{
  public:
    virtual ~Alerts() = default;
    // A sheet on `window` (window-modal, returns at once); `didEnd` runs when the
    // button is pressed.
    virtual void beginSheet(QWidget *window, const AlertText &text,
                            std::function<void()> didEnd) = 0;
    // An application-modal alert over `window` (none: free-standing); returns when
    // the button is pressed.
    virtual void runModal(QWidget *window, const AlertText &text) = 0;
};

} // namespace platform
