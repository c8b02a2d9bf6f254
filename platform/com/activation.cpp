// Activation of in-process servers: registry lookup, dlopen, DllGetClassObject, unloading idle
// modules.
#include "platform/com/activation.h"

#include "platform/com/apartment.h"
#include "platform/com/conversion.h"
#include "platform/com/module_check.h"
#include "platform/com/registry_store.h"
#include "platform/com/task_memory.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>

namespace
{
struct LoadedModule
{
    std::string Path;
    void* Handle = nullptr;
    LPFNGETCLASSOBJECT GetClassObject = nullptr;
    LPFNCANUNLOADNOW CanUnloadNow = nullptr;
    // When DllCanUnloadNow first said yes since the module was last used; empty while in use.
    std::optional<std::chrono::steady_clock::time_point> IdleSince;
};

// Recursive: a server may activate other classes while it answers DllGetClassObject. Held while
// a server is asked anything, so no module is unloaded under a call into it.
std::recursive_mutex g_modulesLock;
std::map<void*, LoadedModule> g_modules; // by dlopen handle

LONG ReadDefault(RegistryRoot root, const std::vector<std::string>& path, std::string* out)
{
    return RegistryStoreRead(
        [&](const CRegistryHive& hive)
        {
            CRegistryKey* key = hive.Find(root, path);
            if (!key)
                return ERROR_FILE_NOT_FOUND;
            const RegistryValue* v = key->FindValue("");
            if (!v || (v->Type != 1 && v->Type != 2))
                return ERROR_FILE_NOT_FOUND;
            *out = v->Text();
            return ERROR_SUCCESS;
        });
}

// Registry failures as activation results: a damaged hive is a read failure, not "not registered".
HRESULT LookupFailure(LONG rc, HRESULT notFound)
{
    return rc == ERROR_FILE_NOT_FOUND ? notFound : REGDB_E_READREGDB;
}

HRESULT LoadModule(const std::string& path, LoadedModule** out)
{
    for (auto& [handle, module] : g_modules)
        if (module.Path == path)
        {
            module.IdleSince.reset(); // used again: its grace period starts afresh
            *out = &module;
            return S_OK;
        }
    if (path.find('/') != std::string::npos)
    {
        struct stat st;
        if (stat(path.c_str(), &st) != 0)
        {
            ComrtSetLastErrorText("server module " + path + ": " + std::strerror(errno));
            return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
        }
        if (std::string fault = ModuleFileFaultOfPath(path); !fault.empty())
        {
            ComrtSetLastErrorText("server module " + path + ": " + fault);
            return HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
        }
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
    {
        const char* why = dlerror();
        std::string text = why ? why : "cannot load";
        ComrtSetLastErrorText("server module " + path + ": " + text);
        return text.find("No such file") != std::string::npos
                   ? HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)
                   : HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
    }
    auto found = g_modules.find(handle);
    if (found != g_modules.end())
    {
        dlclose(handle); // the same module under another spelling of its path
        found->second.IdleSince.reset();
        *out = &found->second;
        return S_OK;
    }
    LoadedModule module;
    module.Path = path;
    module.Handle = handle;
    module.GetClassObject =
        reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
    module.CanUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle, "DllCanUnloadNow"));
    if (!module.GetClassObject)
    {
        ComrtSetLastErrorText("server module " + path + ": no DllGetClassObject export");
        dlclose(handle);
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    *out = &g_modules.emplace(handle, std::move(module)).first->second;
    return S_OK;
}
} // namespace

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!ComrtIsInitialized())
        return CO_E_NOTINITIALIZED;
    std::string clsid = GuidToString(rclsid);
    if (!(dwClsContext & CLSCTX_INPROC_SERVER))
    {
        ComrtSetLastErrorText("class " + clsid + ": only in-process servers are supported");
        return REGDB_E_CLASSNOTREG;
    }
    std::string path;
    LONG rc = ReadDefault(RegistryRoot::ClassesRoot, {"CLSID", clsid, "InprocServer32"}, &path);
    if (rc != ERROR_SUCCESS)
    {
        if (rc == ERROR_FILE_NOT_FOUND)
            ComrtSetLastErrorText("class " + clsid +
                                  " is not registered (no HKEY_CLASSES_ROOT\\CLSID\\" + clsid +
                                  "\\InprocServer32 in " + RegistryStorePath() + ")");
        return LookupFailure(rc, REGDB_E_CLASSNOTREG);
    }
    if (path.empty())
    {
        ComrtSetLastErrorText("class " + clsid + ": InprocServer32 names no module");
        return REGDB_E_CLASSNOTREG;
    }
    std::lock_guard<std::recursive_mutex> guard(g_modulesLock);
    LoadedModule* module = nullptr;
    HRESULT hr = LoadModule(path, &module);
    if (FAILED(hr))
        return hr;
    return module->GetClassObject(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    if (!factory)
        return E_UNEXPECTED;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    if (FAILED(hr))
        *ppv = nullptr;
    return hr;
}

void CoFreeUnusedLibraries()
{
    CoFreeUnusedLibrariesEx(INFINITE, 0);
}

void CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD)
{
    const auto now = std::chrono::steady_clock::now();
    const auto grace =
        std::chrono::milliseconds(dwUnloadDelay == INFINITE ? kComrtUnloadDelayMs : dwUnloadDelay);
    std::lock_guard<std::recursive_mutex> guard(g_modulesLock);
    for (auto it = g_modules.begin(); it != g_modules.end();)
    {
        LoadedModule& module = it->second;
        if (!module.CanUnloadNow || module.CanUnloadNow() != S_OK)
            module.IdleSince.reset();
        else if (!module.IdleSince)
            module.IdleSince = now;
        // A thread may still be returning from an object's last Release into the module's code;
        // only a module idle for the whole delay is unmapped.
        if (module.IdleSince && (dwUnloadDelay == 0 || now - *module.IdleSince >= grace))
        {
            dlclose(module.Handle);
            it = g_modules.erase(it);
        }
        else
            ++it;
    }
}

void ComrtFreeIdleModulesIfNoApartment()
{
    std::lock_guard<std::recursive_mutex> guard(g_modulesLock);
    if (ComrtApartmentThreadCount() == 0)
        CoFreeUnusedLibrariesEx(0, 0);
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid)
{
    if (!lpszProgID || !lpclsid)
        return E_INVALIDARG;
    std::string progId = WideToNarrow(lpszProgID);
    // A version-independent ProgID may lack its own CLSID key and lead on through CurVer; the
    // bound stops a loop of CurVer keys.
    for (int hop = 0; hop < 8; ++hop)
    {
        if (!IsValidRegistryKeyName(progId))
            return CO_E_CLASSSTRING;
        std::string text;
        LONG rc = ReadDefault(RegistryRoot::ClassesRoot, {progId, "CLSID"}, &text);
        if (rc == ERROR_SUCCESS)
            return GuidFromString(text, lpclsid) ? S_OK : CO_E_CLASSSTRING;
        if (rc != ERROR_FILE_NOT_FOUND)
            return REGDB_E_READREGDB;
        rc = ReadDefault(RegistryRoot::ClassesRoot, {progId, "CurVer"}, &text);
        if (rc != ERROR_SUCCESS)
        {
            if (rc == ERROR_FILE_NOT_FOUND)
                ComrtSetLastErrorText("ProgID " + WideToNarrow(lpszProgID) + " is not registered");
            return LookupFailure(rc, CO_E_CLASSSTRING);
        }
        progId = text;
    }
    return CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID)
{
    if (!lplpszProgID)
        return E_INVALIDARG;
    *lplpszProgID = nullptr;
    std::string text;
    LONG rc =
        ReadDefault(RegistryRoot::ClassesRoot, {"CLSID", GuidToString(clsid), "ProgID"}, &text);
    if (rc != ERROR_SUCCESS)
        return LookupFailure(rc, REGDB_E_CLASSNOTREG);
    std::u16string wide = NarrowToWide(text);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (!out)
        return E_OUTOFMEMORY;
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
    *lplpszProgID = out;
    return S_OK;
}

std::string ComrtModulePath(const void* addressInModule)
{
    Dl_info info;
    if (!dladdr(addressInModule, &info) || !info.dli_fname || !*info.dli_fname)
        return std::string();
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved))
        return resolved;
    return info.dli_fname;
}

size_t ComrtLoadedModuleCount()
{
    std::lock_guard<std::recursive_mutex> guard(g_modulesLock);
    return g_modules.size();
}
