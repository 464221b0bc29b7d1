// The plug-in's locations as the installed helper (and the one in the bundle) knows
// them. Nothing a caller sends or sets can move them; the test build of the helper
// defines these two functions in a file of its own.
#include "Quiesce/core/root_helper/Guard.h"

namespace roothelper
{

std::string systemRoot()
{
    return "/";
}

std::string userHome()
{
    return homeOfInvokingUser();
}

} // namespace roothelper
