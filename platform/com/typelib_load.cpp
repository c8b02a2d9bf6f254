// Loading type libraries (.tlb files, server modules), registering them, and the dispatch helper.
#include "platform/com/conversion.h"
#include "platform/com/dispatch_impl.h"
#include "platform/com/module_check.h"
#include "platform/com/registry.h"
#include "platform/com/registry_store.h"
#include "platform/com/typelib_impl.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <new>
#include <sys/stat.h>

namespace
{
constexpr size_t kMaxTlbFile = 64u << 20;

HRESULT CantLoad(const std::string& path, const std::string& why)
{
    ComrtSetLastErrorText("type library " + path + ": " + why);
    return TYPE_E_CANTLOADLIBRARY;
}

HRESULT LoadDesc(const std::string& path, TypeLibDesc* desc)
{
    // Opening a FIFO or a device could block or have effects; only a regular file is read.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return CantLoad(path, "not a regular file");
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return CantLoad(path, std::strerror(errno));
    char magic[4] = {};
    file.read(magic, 4);
    if (file.gcount() == 4 && std::memcmp(magic, "CMTL", 4) == 0)
    {
        file.seekg(0, std::ios::end);
        std::streamoff size = file.tellg();
        if (size < 0 || static_cast<size_t>(size) > kMaxTlbFile)
            return CantLoad(path, "file too large");
        std::vector<BYTE> bytes(static_cast<size_t>(size));
        file.seekg(0);
        file.read(reinterpret_cast<char*>(bytes.data()), size);
        if (file.gcount() != size)
            return CantLoad(path, "short read");
        HRESULT hr = ParseTypeLib(bytes.data(), bytes.size(), desc);
        if (FAILED(hr))
            ComrtSetLastErrorText(path + ": " + ComrtLastErrorText());
        return hr;
    }
    file.close();
    // Not a .tlb: a server module carrying its library (whole, or dlopen could die of SIGBUS).
    if (std::string fault = ModuleFileFaultOfPath(path); !fault.empty())
        return CantLoad(path, fault);
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
    {
        const char* why = dlerror();
        return CantLoad(path, why ? why : "neither a .tlb file nor a loadable module");
    }
    auto get = reinterpret_cast<LPFNGETTYPELIB>(dlsym(module, COMRT_TYPELIB_EXPORT));
    HRESULT hr;
    const BYTE* data = nullptr;
    DWORD size = 0;
    if (!get)
        hr = CantLoad(path,
                      "the module carries no type library (no " COMRT_TYPELIB_EXPORT " export)");
    else if (FAILED(hr = get(&data, &size)) || !data)
        hr = CantLoad(path, "the module's " COMRT_TYPELIB_EXPORT " failed");
    else
    {
        hr = ParseTypeLib(data, size, desc); // a copy: the bytes go away with the module
        if (FAILED(hr))
            ComrtSetLastErrorText(path + ": " + ComrtLastErrorText());
    }
    dlclose(module);
    return hr;
}

std::string FullPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string Hex(unsigned v)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", v);
    return text;
}

std::string VersionKey(WORD major, WORD minor)
{
    return Hex(major) + "." + Hex(minor);
}

const char* SysKindName(SYSKIND kind)
{
    switch (kind)
    {
    case SYS_WIN16:
        return "win16";
    case SYS_MAC:
        return "mac";
    case SYS_WIN64:
        return "win64";
    default:
        return "win32";
    }
}

bool ParseHex(const std::string& text, unsigned* out)
{
    if (text.empty() || text.size() > 8)
        return false;
    unsigned v = 0;
    for (char c : text)
    {
        int d = comrt_detail::HexDigit(c);
        if (d < 0)
            return false;
        v = v * 16 + static_cast<unsigned>(d);
    }
    *out = v;
    return true;
}

// The registered path of a library version, following Windows' choice of version and locale.
LONG FindRegisteredPath(REFGUID libid, WORD major, WORD minor, LCID lcid, std::string* path)
{
    return RegistryStoreRead(
        [&](const CRegistryHive& hive)
        {
            CRegistryKey* lib =
                hive.Find(RegistryRoot::ClassesRoot, {"TypeLib", GuidToString(libid)});
            if (!lib)
                return ERROR_FILE_NOT_FOUND;
            const CRegistryKey* best = nullptr;
            unsigned bestMinor = 0;
            for (const CRegistryKey* ver : lib->Subkeys())
            {
                size_t dot = ver->Name().find('.');
                unsigned maj, min;
                if (dot == std::string::npos || !ParseHex(ver->Name().substr(0, dot), &maj) ||
                    !ParseHex(ver->Name().substr(dot + 1), &min))
                    continue;
                if (maj == major && min >= minor && (!best || min > bestMinor))
                    best = ver, bestMinor = min;
            }
            if (!best)
                return ERROR_FILE_NOT_FOUND;
            // The asked locale, its language, neutral, and then any registered locale (a library
            // registered for 0x409 still serves a client asking with LCID 0).
            std::vector<const CRegistryKey*> locales;
            for (LCID l : {lcid, static_cast<LCID>(lcid & 0x3FF), static_cast<LCID>(0)})
                if (const CRegistryKey* k = best->Find(Hex(l)))
                    locales.push_back(k);
            for (const CRegistryKey* k : best->Subkeys())
            {
                unsigned l;
                if (ParseHex(k->Name(), &l))
                    locales.push_back(k);
            }
            for (const CRegistryKey* locale : locales)
                for (const char* kind : {"win32", "win64"})
                    if (CRegistryKey* k = locale->Find(kind))
                        if (const RegistryValue* v = k->FindValue(""); v && !v->Text().empty())
                        {
                            *path = v->Text();
                            return ERROR_SUCCESS;
                        }
            return ERROR_FILE_NOT_FOUND;
        });
}

HRESULT RegistryFailure(LONG rc)
{
    return rc == ERROR_FILE_NOT_FOUND ? TYPE_E_LIBNOTREGISTERED : TYPE_E_REGISTRYACCESS;
}

LONG SetDefault(const std::vector<std::string>& path, const std::string& text)
{
    return RegistryStoreWrite(
        [&](CRegistryHive& hive, bool* changed)
        {
            hive.Create(RegistryRoot::ClassesRoot, path, nullptr)->SetText("", text);
            *changed = true;
            return ERROR_SUCCESS;
        });
}
} // namespace

HRESULT CreateTypeLibFromDesc(const TypeLibDesc& desc, ITypeLib** pptlib)
{
    if (!pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    if (HRESULT hr = ValidateTypeLib(desc); FAILED(hr))
        return hr;
    *pptlib = new (std::nothrow) CTypeLib(MakeTypeLibData(desc));
    return *pptlib ? S_OK : E_OUTOFMEMORY;
}

HRESULT GetTypeLibDesc(ITypeLib* ptlib, TypeLibDesc* out)
{
    auto* lib = dynamic_cast<CTypeLib*>(ptlib);
    if (!lib || !out)
        return E_INVALIDARG;
    *out = lib->Data()->Desc;
    return S_OK;
}

HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib)
{
    if (!szFile || !pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    std::string path = WideToNarrow(szFile);
    TypeLibDesc desc;
    HRESULT hr = LoadDesc(path, &desc);
    if (FAILED(hr))
        return hr;
    hr = CreateTypeLibFromDesc(desc, pptlib);
    if (FAILED(hr))
        return hr;
    if (regkind == REGKIND_REGISTER)
    {
        std::string full = FullPath(path);
        std::string dir = full.substr(
            0, full.find_last_of('/') == std::string::npos ? 0 : full.find_last_of('/'));
        std::u16string wfull = NarrowToWide(full), wdir = NarrowToWide(dir);
        hr = RegisterTypeLib(*pptlib, wfull.c_str(), wdir.c_str());
        if (FAILED(hr))
        {
            (*pptlib)->Release();
            *pptlib = nullptr;
        }
    }
    return hr;
}

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib)
{
    return LoadTypeLibEx(szFile, REGKIND_NONE, pptlib);
}

HRESULT QueryPathOfRegTypeLib(REFGUID guid, WORD wMaj, WORD wMin, LCID lcid, BSTR* lpbstrPathName)
{
    if (!lpbstrPathName)
        return E_INVALIDARG;
    *lpbstrPathName = nullptr;
    std::string path;
    LONG rc = FindRegisteredPath(guid, wMaj, wMin, lcid, &path);
    if (rc != ERROR_SUCCESS)
        return RegistryFailure(rc);
    *lpbstrPathName = BstrFromNarrow(path);
    return *lpbstrPathName ? S_OK : E_OUTOFMEMORY;
}

HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib)
{
    if (!pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    std::string path;
    LONG rc = FindRegisteredPath(rguid, wVerMajor, wVerMinor, lcid, &path);
    if (rc != ERROR_SUCCESS)
    {
        if (rc == ERROR_FILE_NOT_FOUND)
            ComrtSetLastErrorText("type library " + GuidToString(rguid) + " " +
                                  VersionKey(wVerMajor, wVerMinor) + " is not registered");
        return RegistryFailure(rc);
    }
    TypeLibDesc desc;
    HRESULT hr = LoadDesc(path, &desc);
    if (FAILED(hr))
        return hr;
    if (desc.Libid != rguid)
        return CantLoad(path,
                        "holds library " + GuidToString(desc.Libid) + ", not the one registered");
    return CreateTypeLibFromDesc(desc, pptlib);
}

HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir)
{
    TypeLibDesc desc;
    if (!ptlib || !szFullPath || FAILED(GetTypeLibDesc(ptlib, &desc)))
        return E_INVALIDARG;
    const std::string lib = GuidToString(desc.Libid);
    const std::string ver = VersionKey(desc.MajorVersion, desc.MinorVersion);
    CRegTransaction txn;
    LONG rc = txn.Begin();
    auto step = [&](const std::vector<std::string>& path, const std::string& text)
    {
        if (rc == ERROR_SUCCESS)
            rc = SetDefault(path, text);
    };
    step({"TypeLib", lib, ver}, desc.HelpString.empty() ? desc.Name : desc.HelpString);
    step({"TypeLib", lib, ver, Hex(desc.Lcid), SysKindName(desc.SysKind)},
         WideToNarrow(szFullPath));
    step({"TypeLib", lib, ver, "FLAGS"}, std::to_string(desc.Flags));
    step({"TypeLib", lib, ver, "HELPDIR"}, szHelpDir ? WideToNarrow(szHelpDir) : std::string());
    for (const TypeLibInterfaceDesc& itf : desc.Interfaces)
    {
        if (!(itf.Flags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE)))
            continue;
        const std::string key = GuidToString(itf.Iid);
        step({"Interface", key}, itf.Name);
        step({"Interface", key, "ProxyStubClsid"}, GuidToString(CLSID_PSOAInterface));
        step({"Interface", key, "ProxyStubClsid32"}, GuidToString(CLSID_PSOAInterface));
        step({"Interface", key, "TypeLib"}, lib);
        if (rc == ERROR_SUCCESS)
            rc = RegistryStoreWrite(
                [&](CRegistryHive& hive, bool* changed)
                {
                    hive.Create(RegistryRoot::ClassesRoot, {"Interface", key, "TypeLib"}, nullptr)
                        ->SetText("Version", ver);
                    *changed = true;
                    return ERROR_SUCCESS;
                });
    }
    if (rc == ERROR_SUCCESS)
        rc = txn.Commit();
    return rc == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind)
{
    const std::string lib = GuidToString(libID);
    const std::string ver = VersionKey(wVerMajor, wVerMinor);
    CRegTransaction txn;
    LONG rc = txn.Begin();
    if (rc != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    rc = RegistryStoreWrite(
        [&](CRegistryHive& hive, bool* changed)
        {
            const auto root = RegistryRoot::ClassesRoot;
            CRegistryKey* version = hive.Find(root, {"TypeLib", lib, ver});
            CRegistryKey* locale = version ? version->Find(Hex(lcid)) : nullptr;
            if (!locale || !locale->Find(SysKindName(syskind)))
                return ERROR_FILE_NOT_FOUND;
            locale->Remove(SysKindName(syskind));
            if (locale->SubkeyCount() == 0)
                version->Remove(Hex(lcid));
            // The version goes when no locale is left under it (FLAGS and HELPDIR are not locales).
            bool localesLeft = false;
            for (const CRegistryKey* sub : version->Subkeys())
            {
                unsigned l;
                localesLeft = localesLeft || ParseHex(sub->Name(), &l);
            }
            if (!localesLeft)
            {
                hive.Remove(root, {"TypeLib", lib, ver});
                // Interface keys that point at this library version go with it.
                if (CRegistryKey* interfaces = hive.Find(root, {"Interface"}))
                {
                    std::vector<std::string> stale;
                    for (const CRegistryKey* itf : interfaces->Subkeys())
                    {
                        const CRegistryKey* tl = itf->Find("TypeLib");
                        const RegistryValue* id = tl ? tl->FindValue("") : nullptr;
                        const RegistryValue* v = tl ? tl->FindValue("Version") : nullptr;
                        if (id && FoldRegistryName(id->Text()) == FoldRegistryName(lib) &&
                            (!v || v->Text() == ver))
                            stale.push_back(itf->Name());
                    }
                    for (const std::string& name : stale)
                        interfaces->Remove(name);
                }
            }
            CRegistryKey* libKey = hive.Find(root, {"TypeLib", lib});
            if (libKey && libKey->SubkeyCount() == 0)
                hive.Remove(root, {"TypeLib", lib});
            *changed = true;
            return ERROR_SUCCESS;
        });
    if (rc == ERROR_SUCCESS)
        rc = txn.Commit();
    if (rc == ERROR_FILE_NOT_FOUND)
        return TYPE_E_LIBNOTREGISTERED;
    return rc == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
}

// ---- CDispatchTypeInfo ----

CDispatchTypeInfo::CDispatchTypeInfo(REFGUID libid, REFIID iid, WORD major, WORD minor)
    : m_libid(libid), m_iid(iid), m_major(major), m_minor(minor)
{
}

CDispatchTypeInfo::~CDispatchTypeInfo()
{
    Reset();
}

HRESULT CDispatchTypeInfo::Get(ITypeInfo** ppTInfo)
{
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_info)
    {
        ITypeLib* lib = nullptr;
        HRESULT hr = LoadRegTypeLib(m_libid, m_major, m_minor, 0, &lib);
        if (FAILED(hr))
            return hr;
        hr = lib->GetTypeInfoOfGuid(m_iid, &m_info);
        lib->Release();
        if (FAILED(hr))
            return hr;
    }
    m_info->AddRef();
    *ppTInfo = m_info;
    return S_OK;
}

void CDispatchTypeInfo::Reset()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_info)
        m_info->Release();
    m_info = nullptr;
}
