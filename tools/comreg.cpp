// comreg [-u] MODULE: calls an in-process server's DllRegisterServer (or DllUnregisterServer).
#include "platform/com/comrt.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>

namespace
{
int Usage()
{
    std::fprintf(stderr, "usage: comreg [-u] MODULE\n"
                         "  registers the in-process server MODULE (calls DllRegisterServer);\n"
                         "  -u unregisters it (calls DllUnregisterServer).\n"
                         "  The registry hive is %s (set COMRT_REGISTRY to use another file).\n",
                 ComrtRegistryPath().c_str());
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    bool unregister = false;
    std::string module;
    for (int i = 1; i < argc; ++i)
    {
        std::string arg = argv[i];
        if (arg == "-u" || arg == "/u")
            unregister = true;
        else if (arg == "-h" || arg == "--help")
            return Usage();
        else if (module.empty())
            module = arg;
        else
            return Usage();
    }
    if (module.empty())
        return Usage();
    // A bare file name means the file here, as regsvr does it, not a search of the library path.
    struct stat st;
    if (module.find('/') == std::string::npos && stat(module.c_str(), &st) == 0)
        module = "./" + module;

    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
    {
        const char* why = dlerror();
        std::fprintf(stderr, "comreg: cannot load %s: %s\n", module.c_str(), why ? why : "unknown error");
        return 1;
    }
    auto fn = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(handle, entry));
    if (!fn)
    {
        std::fprintf(stderr, "comreg: %s has no %s export; it is not a self-registering server\n",
                     module.c_str(), entry);
        return 1;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ComrtClearLastErrorText();
    HRESULT hr = fn();
    std::string detail = ComrtLastErrorText();
    CoUninitialize();
    if (SUCCEEDED(hr))
    {
        std::printf("%s in %s succeeded (%s).\n", entry, module.c_str(), HResultHex(hr).c_str());
        return 0;
    }
    std::printf("%s in %s failed: %s %s\n", entry, module.c_str(), HResultHex(hr).c_str(),
                HResultText(hr).c_str());
    if (!detail.empty())
        std::printf("%s\n", detail.c_str());
    return 1;
}
