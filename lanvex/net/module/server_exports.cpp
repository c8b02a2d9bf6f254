// The four exports of the in-process server, the embedded type library and the unload path.
#include "lanvex/net/module/class_table.h"
#include "lanvex/net/sessions/lanvex_typelib.h"
#include "lanvex/net/sessions/module_state.h"
#include "lanvex/net/sessions/script_registrar.h"

#include "platform/com/activation.h"
#include "platform/com/conversion.h"
#include "platform/com/typelib.h"

#include <string>
#include <sys/stat.h>

COMRT_EMBED_TYPELIB(lanvex::MakeLanvexTypeLibDesc)

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();

namespace lanvex
{

namespace
{

// The path the hive keeps: the SONAME link beside the loaded file when it leads to this very
// file, so an update of the library (a new libLanvex.so.1.x behind the same link) keeps the
// registration valid; else the loaded file itself.
std::string ModulePath()
{
    const std::string loaded = ComrtModulePath(reinterpret_cast<const void*>(&DllRegisterServer));
#ifdef LANVEX_SONAME
    const size_t slash = loaded.rfind('/');
    if (slash != std::string::npos)
    {
        const std::string stable = loaded.substr(0, slash + 1) + LANVEX_SONAME;
        struct stat linked
        {
        };
        struct stat real
        {
        };
        if (::stat(stable.c_str(), &linked) == 0 && ::stat(loaded.c_str(), &real) == 0 &&
            linked.st_dev == real.st_dev && linked.st_ino == real.st_ino)
            return stable;
    }
#endif
    return loaded;
}

// The library is read from the module itself, else from the .tlb beside it.
HRESULT LoadOwnTypeLib(ITypeLib** ppLib, std::string* pPath)
{
    const std::string module = ModulePath();
    *pPath = module;
    HRESULT hr = LoadTypeLib(NarrowToWide(module).c_str(), ppLib);
    if (SUCCEEDED(hr))
        return hr;
    std::string tlb = module;
    // libLanvex.so.1 -> libLanvex.tlb: every suffix goes, the version's too.
    const size_t nSlash = tlb.rfind('/');
    const size_t nDot = tlb.find('.', nSlash == std::string::npos ? 0 : nSlash + 1);
    if (nDot != std::string::npos)
        tlb.erase(nDot);
    tlb += ".tlb";
    *pPath = tlb;
    return LoadTypeLib(NarrowToWide(tlb).c_str(), ppLib);
}

HRESULT RegisterOwnTypeLib()
{
    ITypeLib* pLib = nullptr;
    std::string path;
    HRESULT hr = LoadOwnTypeLib(&pLib, &path);
    if (FAILED(hr))
        return hr;
    const size_t nSlash = path.rfind('/');
    const std::string helpDir =
        nSlash == std::string::npos ? std::string() : path.substr(0, nSlash);
    hr = RegisterTypeLib(pLib, NarrowToWide(path).c_str(), NarrowToWide(helpDir).c_str());
    pLib->Release();
    return hr;
}

void UnregisterOwnTypeLib()
{
    ITypeLib* pLib = nullptr;
    std::string path;
    if (FAILED(LoadOwnTypeLib(&pLib, &path)))
        return;
    TLIBATTR* pAttr = nullptr;
    if (SUCCEEDED(pLib->GetLibAttr(&pAttr)) && pAttr != nullptr)
    {
        UnRegisterTypeLib(pAttr->guid, pAttr->wMajorVerNum, pAttr->wMinorVerNum, pAttr->lcid,
                          pAttr->syskind);
        pLib->ReleaseTLibAttr(pAttr);
    }
    pLib->Release();
}

// Unload: the class objects go with the module. The cached type information is released by its
// holders' destructors (each component's CDispatchTypeInfo), which need nothing of this one.
struct CModuleTeardown
{
    ~CModuleTeardown() { ReleaseClassObjects(); }
} g_teardown;

} // namespace

} // namespace lanvex

using namespace lanvex;

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    ClassTableRow* pRow = FindClass(rclsid);
    if (pRow == nullptr)
        return CLASS_E_CLASSNOTAVAILABLE;
    {
        std::lock_guard<std::mutex> lock(ModuleCreationLock());
        if (pRow->ClassObject == nullptr)
        {
            CClassFactory* pFactory = new (std::nothrow) CClassFactory(pRow->CreateInstance);
            if (pFactory == nullptr)
                return E_OUTOFMEMORY;
            pFactory->AddRef(); // the table's reference
            pRow->ClassObject = pFactory;
        }
    }
    return pRow->ClassObject->QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    const std::string module = ModulePath();
    for (size_t i = 0; i < ClassTableSize(); ++i)
    {
        const HRESULT hr = RunScriptResource(ClassTable()[i].ScriptResource, true, module);
        if (FAILED(hr))
            return hr;
    }
    return RegisterOwnTypeLib();
}

STDAPI DllUnregisterServer()
{
    const std::string module = ModulePath();
    for (size_t i = 0; i < ClassTableSize(); ++i)
        RunScriptResource(ClassTable()[i].ScriptResource, false, module);
    UnregisterOwnTypeLib();
    return S_OK;
}
