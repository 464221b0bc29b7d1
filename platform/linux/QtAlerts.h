#pragma once

#include "Alerts.h"

namespace platform {

// Warning-style message boxes: a sheet is a window-modal box opened on its window.
class QtAlerts : public Alerts {
public:
    void beginSheet(QWidget *window, const AlertText &text, std::function<void()> didEnd) override;
    void runModal(const AlertText &text) override;
};

} // namespace platform
