// comreg [-u] MODULE: calls an in-process server's DllRegisterServer (or DllUnregisterServer).
#include "platform/com/comrt.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>

namespace
{
void PrintUsage(FILE* to)
{
    std::fprintf(to,
                 "usage: comreg [-u] MODULE\n"
                 "  registers the in-process server MODULE (calls DllRegisterServer);\n"
                 "  -u unregisters it (calls DllUnregisterServer).\n"
                 "  The registry hive is %s (set COMRT_REGISTRY to use another file).\n"
                 "  Exit status: 0 done, 1 failed (the reason is printed), 2 bad usage.\n"
                 "  --help shows this text, --version the version.\n",
                 ComrtRegistryPath().c_str());
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "comreg: %s\n", message.c_str());
    return 1;
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
        {
            PrintUsage(stdout);
            return 0;
        }
        else if (arg == "--version")
        {
            std::printf("comreg %s\n", VIGIL_VERSION);
            return 0;
        }
        else if (module.empty() && !arg.empty() && arg[0] != '-')
            module = arg;
        else
        {
            PrintUsage(stderr);
            return 2;
        }
    }
    if (module.empty())
    {
        PrintUsage(stderr);
        return 2;
    }
    // A bare file name means the file here, as regsvr does it, not a search of the library path.
    struct stat st;
    if (module.find('/') == std::string::npos && stat(module.c_str(), &st) == 0)
        module = "./" + module;
    // dlopen of a file cut short dies of SIGBUS instead of failing.
    if (module.find('/') != std::string::npos)
        if (std::string fault = ModuleFileFaultOfPath(module); !fault.empty())
            return Fail("cannot load " + module + ": " + fault);

    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
    {
        const char* why = dlerror();
        return Fail("cannot load " + module + ": " + (why ? why : "unknown error"));
    }
    auto fn = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(handle, entry));
    if (!fn)
        return Fail(module + " has no " + entry + " export; it is not a self-registering server");
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ComrtClearLastErrorText();
    // A server may ignore a failed registry change (unregistration reports S_OK by design); the
    // runtime's count of failed hive writes tells the truth.
    const unsigned long failuresBefore = ComrtRegistryWriteFailures();
    HRESULT hr = fn();
    const bool hiveWriteFailed = ComrtRegistryWriteFailures() != failuresBefore;
    std::string detail = ComrtLastErrorText();
    CoUninitialize();
    if (SUCCEEDED(hr) && !hiveWriteFailed)
    {
        std::printf("%s in %s succeeded (%s).\n", entry, module.c_str(), HResultHex(hr).c_str());
        return 0;
    }
    if (SUCCEEDED(hr))
        std::printf("%s in %s failed: the registry hive %s could not be changed\n", entry,
                    module.c_str(), ComrtRegistryPath().c_str());
    else
        std::printf("%s in %s failed: %s %s\n", entry, module.c_str(), HResultHex(hr).c_str(),
                    HResultText(hr).c_str());
    if (!detail.empty())
        std::printf("%s\n", detail.c_str());
    return 1;
}
