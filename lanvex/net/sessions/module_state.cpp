// Module-wide state of the server: the lock count that decides unloading, and the creation lock.
#include "lanvex/net/sessions/module_state.h"

#include <atomic>

namespace lanvex
{

namespace
{
std::atomic<LONG> g_nLockCount{0};
} // namespace

LONG ModuleLock()
{
    return ++g_nLockCount;
}

LONG ModuleUnlock()
{
    return --g_nLockCount;
}

LONG ModuleLockCount()
{
    return g_nLockCount.load();
}

std::mutex& ModuleCreationLock()
{
    static std::mutex s_mutex;
    return s_mutex;
}

} // namespace lanvex
