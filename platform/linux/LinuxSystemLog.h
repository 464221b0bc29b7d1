#pragma once

#include "platform/SystemLog.h"

namespace platform
{

// syslog(3) at LOG_ERR.
class LinuxSystemLog : public SystemLog
{
  public:
    void error(const char *message) override;
};

} // namespace platform
