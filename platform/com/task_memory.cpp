// The task allocator over the C heap.
#include "platform/com/task_memory.h"

#include <cstdlib>

LPVOID CoTaskMemAlloc(size_t cb)
{
    return std::malloc(cb ? cb : 1);
}
LPVOID CoTaskMemRealloc(LPVOID pv, size_t cb)
{
    return std::realloc(pv, cb ? cb : 1);
}
void CoTaskMemFree(LPVOID pv)
{
    std::free(pv);
}
