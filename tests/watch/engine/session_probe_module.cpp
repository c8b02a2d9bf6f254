// A server module whose every class is a scripted session that answers Execute with the CLSID
// it was created under, so a test sees which class the engine asked the runtime for.
#include "fake_telnet.h"

#include "platform/com/comrt.h"

#include <mutex>
#include <new>

namespace
{

std::vector<std::string> g_calls;
std::mutex g_callsMutex;

class CProbeFactory final : public IClassFactory
{
  public:
    explicit CProbeFactory(REFCLSID clsid) : m_clsid(clsid) {}

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IClassFactory)
        {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_refs; }
    STDMETHOD_(ULONG, Release)() override
    {
        const ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHOD(CreateInstance)(IUnknown*, REFIID riid, void** ppv) override
    {
        CFakeTelnet::Script script;
        script.Reply = GuidToString(m_clsid);
        CFakeTelnet* session = new (std::nothrow) CFakeTelnet(script, g_calls, g_callsMutex);
        if (session == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT hr = session->QueryInterface(riid, ppv);
        session->Release();
        return hr;
    }
    STDMETHOD(LockServer)(BOOL) override { return S_OK; }

  private:
    CLSID m_clsid;
    ULONG m_refs = 1;
};

} // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv)
{
    CProbeFactory* factory = new (std::nothrow) CProbeFactory(clsid);
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow()
{
    return S_FALSE;
}
