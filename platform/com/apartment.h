// Apartments: CoInitializeEx / CoUninitialize, counted per thread.
#pragma once

#include "platform/com/hresult.h"
#include "platform/com/wintypes.h"

enum COINIT : DWORD
{
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8,
};

// S_OK on the thread's first call, S_FALSE on each further call with the same model (each must be
// matched by CoUninitialize), RPC_E_CHANGED_MODE when the thread already chose the other model.
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
HRESULT CoInitialize(LPVOID pvReserved); // single-threaded apartment
// Leaves one level; the last one on a thread releases the thread's error object. When the last
// apartment of the process closes, server modules whose DllCanUnloadNow says S_OK are unloaded.
void CoUninitialize();

// Our own: whether this thread is inside an apartment (the count is above zero).
bool ComrtIsInitialized();
// Our own: how many threads of the process are inside an apartment.
long ComrtApartmentThreadCount();
