// The class object of one component class: creates instances and holds the server with LockServer.
#pragma once

#include "platform/com/unknown.h"

#include <mutex>

namespace lanvex
{

typedef HRESULT (*PFNCREATEINSTANCE)(IUnknown* pOuter, REFIID riid, void** ppv);

class CClassFactory final : public IClassFactory
{
  public:
    explicit CClassFactory(PFNCREATEINSTANCE pfnCreate) : m_pfnCreate(pfnCreate) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    // The class table holds the first reference; a client's reference (count 2) holds the
    // module, and dropping back to the table's one releases it.
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

  private:
    ~CClassFactory() = default;

    PFNCREATEINSTANCE m_pfnCreate;
    std::mutex m_mutex;
    ULONG m_cRef = 0;
};

} // namespace lanvex
