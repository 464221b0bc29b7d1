#pragma once

namespace platform
{

// Closes this process to other processes of the same user: they can neither
// attach to it nor open its descriptors through /proc (a program that holds a
// pipe to a root helper must not lend it to them). Only root gets past. Called
// once at start-up, before any such descriptor exists; true when it took effect.
bool shieldFromOtherProcesses();

} // namespace platform
