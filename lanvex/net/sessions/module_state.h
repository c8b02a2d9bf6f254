// Module-wide state of the server: the lock count that decides unloading, and the creation lock.
#pragma once

#include "platform/com/wintypes.h"

#include <mutex>

namespace lanvex
{

// Objects alive, client-held class objects and LockServer calls each hold one count.
LONG ModuleLock();
LONG ModuleUnlock();
LONG ModuleLockCount();

// Serialises the creation of class objects and the loading of type information.
std::mutex& ModuleCreationLock();

} // namespace lanvex
