// The class object of one component class: creates instances and holds the server with LockServer.
#include "lanvex/net/sessions/class_factory.h"

#include "lanvex/net/sessions/module_state.h"

namespace lanvex
{

HRESULT CClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory))
    {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (++m_cRef == 2)
        ModuleLock();
    return m_cRef;
}

ULONG CClassFactory::Release()
{
    ULONG cRef;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        cRef = --m_cRef;
        if (cRef == 1)
            ModuleUnlock();
    }
    if (cRef == 0)
        delete this;
    return cRef;
}

HRESULT CClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject)
{
    // CreateComponent counts the module lock for the new object and checks the arguments.
    return m_pfnCreate(pUnkOuter, riid, ppvObject);
}

HRESULT CClassFactory::LockServer(BOOL fLock)
{
    if (fLock)
        ModuleLock();
    else
        ModuleUnlock();
    return S_OK;
}

} // namespace lanvex
