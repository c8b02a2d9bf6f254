// Registers the Lanvex library that came with this program when its telnet component is missing.
#include "watch/ui/app/lanvex_registration.h"

#include "lanvex/net/lanvex.h"
#include "platform/com/comrt.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/stat.h>

namespace
{
// The SONAME link: the name an installed Lanvex keeps across compatible updates.
constexpr char kLanvexFile[] = "libLanvex.so.1";

bool IsRegularFile(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Joined(const std::vector<std::string>& paths)
{
    std::string text;
    for (const std::string& path : paths)
        text += (text.empty() ? "" : ", ") + path;
    return text.empty() ? "(nowhere)" : text;
}
} // namespace

std::vector<std::string> LanvexLibraryCandidates(const std::string& programDir)
{
    // Only the library beside the program: a build tree's path compiled in would follow an
    // installed or copied program to places whose files anyone may have put there since, and
    // whatever is found is loaded and kept in the user's hive. A program run from the build
    // tree finds the build's library here too (bin/../lib).
    std::vector<std::string> candidates;
    if (!programDir.empty())
        candidates.push_back(programDir + "/../lib/" + kLanvexFile);
    return candidates;
}

HRESULT RegisterServerModule(const std::string& path, std::string* reason)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
    {
        const char* why = ::dlerror();
        if (reason)
            *reason = "cannot load " + path + ": " + (why ? why : "unknown error");
        return E_FAIL;
    }
    auto registerServer =
        reinterpret_cast<LPFNREGISTERSERVER>(::dlsym(handle, "DllRegisterServer"));
    HRESULT hr = E_FAIL;
    if (registerServer == nullptr)
    {
        if (reason)
            *reason = path + " is not a self-registering server";
    }
    else
    {
        // Counted: on a thread already in its apartment this only adds a reference.
        const HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ComrtClearLastErrorText();
        hr = registerServer();
        if (FAILED(hr) && reason)
        {
            *reason = "registering " + path + " failed: " + HResultText(hr);
            const std::string detail = ComrtLastErrorText();
            if (!detail.empty())
                *reason += " (" + detail + ")";
        }
        if (SUCCEEDED(apartment))
            CoUninitialize();
    }
    // The runtime loads the library again by the path it now finds in the hive.
    ::dlclose(handle);
    return hr;
}

namespace
{
// The library the hive names for lvTelnet, when it names one that is there.
bool TelnetComponentRegistered()
{
    const std::string key = "CLSID\\" + GuidToString(CLSID_lvTelnet) + "\\InprocServer32";
    char module[PATH_MAX] = {};
    LONG cb = sizeof module;
    return RegQueryValue(HKEY_CLASSES_ROOT, key.c_str(), module, &cb) == ERROR_SUCCESS &&
           IsRegularFile(module);
}

// The hive keeps the path a library was registered by; keep it free of "..".
std::string WithoutDotDot(const std::string& candidate)
{
    char resolved[PATH_MAX];
    return ::realpath(candidate.c_str(), resolved) != nullptr ? resolved : candidate;
}
} // namespace

bool RegisterLanvexIfMissing(const std::vector<std::string>& candidates)
{
    if (TelnetComponentRegistered())
        return true;
    for (const std::string& candidate : candidates)
    {
        if (!IsRegularFile(candidate))
            continue;
        if (SUCCEEDED(RegisterServerModule(WithoutDotDot(candidate), nullptr)))
            return TelnetComponentRegistered();
    }
    return false;
}

CWatchEngine::TelnetFactory RegisteringTelnetFactory(CWatchEngine::TelnetFactory inner,
                                                     std::vector<std::string> candidates)
{
    return [inner = std::move(inner), candidates = std::move(candidates)](
               const HostSettings* host, IlvTelnet** telnet, std::string* reason) -> HRESULT
    {
        const HRESULT hr = inner(host, telnet, reason);
        if (hr != REGDB_E_CLASSNOTREG)
            return hr;
        const std::string notRegistered = reason != nullptr && !reason->empty()
                                              ? *reason
                                              : "the telnet component is not registered";
        std::string failures;
        for (const std::string& candidate : candidates)
        {
            if (!IsRegularFile(candidate))
                continue;
            const std::string path = WithoutDotDot(candidate);
            std::string why;
            if (FAILED(RegisterServerModule(path, &why)))
            {
                failures += "; " + why;
                continue;
            }
            if (reason)
                reason->clear();
            const HRESULT again = inner(host, telnet, reason);
            if (FAILED(again) && reason)
                *reason += " (after registering " + path + ")";
            return again;
        }
        if (reason && !failures.empty())
            *reason = notRegistered + failures;
        else if (reason)
            *reason = notRegistered + ", and no Lanvex library was found to register (looked for " +
                      Joined(candidates) + ")";
        return hr;
    };
}
