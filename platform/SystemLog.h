#pragma once

namespace platform
{

// The system's log, for the few lines an administrator may need to read later.
class SystemLog
{
  public:
    virtual ~SystemLog() = default;
    // Writes `message` at error priority. The message is written as it stands,
    // never used as a format string.
    virtual void error(const char *message) = 0;
};

} // namespace platform
