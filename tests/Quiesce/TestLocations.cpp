// The plug-in's locations for the test build of the root helper, which only the
// tests run: never installed, never put in a bundle. The tests point the system
// root and the user's home at temporary folders; unset, both are what the real
// helper uses.
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
