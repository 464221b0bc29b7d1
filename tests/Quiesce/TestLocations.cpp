// The plug-in's locations for the test build of the root helper, which is never installed nor
// bundled: the tests point them at temporary folders.
#include "Quiesce/core/root_helper/Guard.h"

#include <cstdlib>

std::string roothelper::systemRoot()
{
    const char *root = std::getenv("QUIESCE_TEST_SYSTEM_ROOT");
    return root ? root : "/";
}

std::string roothelper::userHome()
{
    const char *home = std::getenv("QUIESCE_TEST_HOME");
    return home ? home : roothelper::homeOfInvokingUser();
}
