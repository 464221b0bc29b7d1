#include "platform/ProcessShield.h"

#include <sys/prctl.h>

namespace platform
{

// A process that is not dumpable has its /proc entries owned by root, and the
// kernel's access check for attaching and for /proc/<pid>/fd refuses processes of
// the same user. Executing a program resets the flag, so the helper and the tools
// started later are not affected.
bool shieldFromOtherProcesses()
{
    return ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

} // namespace platform
