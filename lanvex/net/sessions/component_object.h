// Shared IUnknown machinery of the components: reference counting, the interface map and
// aggregation (a contained object delegates to its outer object).
#pragma once

#include "platform/com/unknown.h"

#include <new>

namespace lanvex
{

// A component class derives from its interfaces and from CComponentObject, implements
// GetInterface (its interface map) and puts LANVEX_IUNKNOWN_IMPL in its body. Counts are plain
// (apartment threading); the module lock count follows the object's life.
class CComponentObject
{
  public:
    // The IUnknown a creator hands out first: the inner (non-delegating) one when aggregated.
    IUnknown* ControllingUnknown();
    void SetOuter(IUnknown* pOuter) { m_pOuter = pOuter; }

    HRESULT DelegatingQueryInterface(REFIID riid, void** ppv);
    ULONG DelegatingAddRef();
    ULONG DelegatingRelease();

    HRESULT InternalQueryInterface(REFIID riid, void** ppv);
    ULONG InternalAddRef() { return ++m_cRef; }
    ULONG InternalRelease();

  protected:
    CComponentObject();
    virtual ~CComponentObject();
    // The interface map: the pointer for riid, or null. IUnknown is answered by the caller.
    virtual IUnknown* GetInterface(REFIID riid) = 0;
    // The object's first interface, its identity when it is not aggregated.
    virtual IUnknown* PrimaryInterface() = 0;

  private:
    // The non-delegating IUnknown of an aggregated object.
    struct CInnerUnknown : public IUnknown
    {
        CComponentObject* m_pOwner = nullptr;
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
        {
            return m_pOwner->InternalQueryInterface(riid, ppv);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return m_pOwner->InternalAddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_pOwner->InternalRelease(); }
    };

    ULONG m_cRef = 0;
    IUnknown* m_pOuter = nullptr;
    CInnerUnknown m_inner;
};

// Creates a component of class T, plain or aggregated, and queries it for riid; the object is
// destroyed again when the query fails.
template <class T> HRESULT CreateComponent(IUnknown* pOuter, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (pOuter != nullptr && !IsEqualIID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    T* pObject = new (std::nothrow) T();
    if (pObject == nullptr)
        return E_OUTOFMEMORY;
    pObject->SetOuter(pOuter);
    IUnknown* pIdentity = pObject->ControllingUnknown();
    pIdentity->AddRef(); // keeps the object alive through a failing query
    const HRESULT hr = pOuter != nullptr ? pObject->InternalQueryInterface(riid, ppv)
                                         : pIdentity->QueryInterface(riid, ppv);
    pIdentity->Release();
    return hr;
}

} // namespace lanvex

// The IUnknown operations of a component class: all of them delegate when aggregated.
#define LANVEX_IUNKNOWN_IMPL                                                                       \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override                                  \
    {                                                                                              \
        return DelegatingQueryInterface(riid, ppv);                                                \
    }                                                                                              \
    STDMETHODIMP_(ULONG) AddRef() override                                                         \
    {                                                                                              \
        return DelegatingAddRef();                                                                 \
    }                                                                                              \
    STDMETHODIMP_(ULONG) Release() override                                                        \
    {                                                                                              \
        return DelegatingRelease();                                                                \
    }
