#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace platform {

struct AlertText {
    QString title;
    QString informativeText;
    QString button;
};

// Alerts with a single button. Both are main-thread only.
class Alerts {
public:
    virtual ~Alerts() = default;
    // A sheet on `window` (window-modal, returns at once); `didEnd` runs when the
    // button is pressed.
    virtual void beginSheet(QWidget *window, const AlertText &text,
                            std::function<void()> didEnd) = 0;
    // An application-modal alert; returns when the button is pressed.
    virtual void runModal(const AlertText &text) = 0;
};

} // namespace platform
