// Shared IUnknown machinery of the components: reference counting, the interface map and
// aggregation.
#include "lanvex/net/sessions/component_object.h"

#include "lanvex/net/sessions/module_state.h"

namespace lanvex
{

CComponentObject::CComponentObject()
{
    m_inner.m_pOwner = this;
    ModuleLock();
}

CComponentObject::~CComponentObject()
{
    ModuleUnlock();
}

IUnknown* CComponentObject::ControllingUnknown()
{
    return m_pOuter != nullptr ? static_cast<IUnknown*>(&m_inner) : PrimaryInterface();
}

HRESULT CComponentObject::InternalQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    IUnknown* pFound = IsEqualIID(riid, IID_IUnknown) ? ControllingUnknown() : GetInterface(riid);
    if (pFound == nullptr)
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    InternalAddRef();
    *ppv = pFound;
    return S_OK;
}

ULONG CComponentObject::InternalRelease()
{
    const ULONG cRef = --m_cRef;
    if (cRef == 0)
        delete this;
    return cRef;
}

HRESULT CComponentObject::DelegatingQueryInterface(REFIID riid, void** ppv)
{
    return m_pOuter != nullptr ? m_pOuter->QueryInterface(riid, ppv)
                               : InternalQueryInterface(riid, ppv);
}

ULONG CComponentObject::DelegatingAddRef()
{
    return m_pOuter != nullptr ? m_pOuter->AddRef() : InternalAddRef();
}

ULONG CComponentObject::DelegatingRelease()
{
    return m_pOuter != nullptr ? m_pOuter->Release() : InternalRelease();
}

} // namespace lanvex
