#pragma once

#include "platform/Alerts.h"

namespace platform
{

// Warning-style message boxes: a sheet is a window-modal box opened on its window.
// Every box carries the program's name as its window title, whatever it says.
class QtAlerts : public Alerts
{
  public:
    explicit QtAlerts(QString programName);

    void beginSheet(QWidget *window, const AlertText &text, std::function<void()> didEnd) override;
    void runModal(QWidget *window, const AlertText &text) override;

  private:
    QString m_programName;
};

} // namespace platform
