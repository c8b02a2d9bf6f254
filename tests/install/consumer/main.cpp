// Creates lvTelnet through the installed runtime by CLSID and sets a property through its
// virtual table: prints the module the package names, then the port read back.
#include "lanvex/net/lanvex.h"
#include "platform/com/comrt.h"

#include <cstdio>

int main()
{
    std::printf("%s\n", LANVEX_MODULE);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    IlvTelnet* telnet = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_lvTelnet, nullptr, CLSCTX_INPROC_SERVER, IID_IlvTelnet,
                                  reinterpret_cast<void**>(&telnet));
    SHORT port = 0;
    if (SUCCEEDED(hr))
        hr = telnet->put_Port(2323);
    if (SUCCEEDED(hr))
        hr = telnet->get_Port(&port);
    if (telnet)
        telnet->Release();
    CoUninitialize();
    std::printf("0x%08X %d\n", static_cast<unsigned>(hr), port);
    return SUCCEEDED(hr) ? 0 : 1;
}
