// The plug-in's locations for the test build of the root helper, never installed
// nor bundled: the tests point them at temporary folders.
#include "Guard.h"

#include <cstdlib>

namespace roothelper
{

std::string systemRoot()
{
    const char *root = std::getenv("QUIESCE_TEST_SYSTEM_ROOT");
    return root ? root : "/";
}

std::string userHome()
{
    const char *home = std::getenv("QUIESCE_TEST_HOME");
    return home ? home : homeOfInvokingUser();
}

} // namespace roothelper
