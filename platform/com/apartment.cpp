// Apartments: a per-thread entry count and model; the last one out of the process frees idle
// servers.
#include "platform/com/apartment.h"

#include "platform/com/activation.h"
#include "platform/com/error_info.h"

#include <atomic>

namespace
{
struct Apartment
{
    ULONG Count = 0;
    DWORD Model = 0;
};
thread_local Apartment t_apartment;
std::atomic<long> g_threadsInside{0};
} // namespace

HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit)
{
    DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    if (t_apartment.Count > 0)
    {
        if (t_apartment.Model != model)
            return RPC_E_CHANGED_MODE;
        ++t_apartment.Count;
        return S_FALSE;
    }
    t_apartment.Count = 1;
    t_apartment.Model = model;
    ++g_threadsInside;
    return S_OK;
}

HRESULT CoInitialize(LPVOID pvReserved)
{
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize()
{
    if (t_apartment.Count == 0)
        return; // unmatched: ignored, as on Windows
    if (--t_apartment.Count > 0)
        return;
    SetErrorInfo(0, nullptr);
    if (--g_threadsInside == 0)
        ComrtFreeIdleModulesIfNoApartment(); // none left to be running in a server's code
}

bool ComrtIsInitialized()
{
    return t_apartment.Count > 0;
}

long ComrtApartmentThreadCount()
{
    return g_threadsInside.load();
}
