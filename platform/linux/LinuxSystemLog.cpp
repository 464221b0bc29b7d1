#include "platform/linux/LinuxSystemLog.h"

#include <syslog.h>

namespace platform
{

void LinuxSystemLog::error(const char *message)
{
    ::syslog(LOG_ERR, "%s", message);
}

} // namespace platform
