// The task allocator: memory handed across component boundaries (ProgIDFromCLSID, StringFromCLSID).
#pragma once

#include "platform/com/wintypes.h"

LPVOID CoTaskMemAlloc(size_t cb);
LPVOID CoTaskMemRealloc(LPVOID pv, size_t cb);
void CoTaskMemFree(LPVOID pv);
