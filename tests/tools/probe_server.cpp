// The test server module: one creatable class Probe with the dual interface IProbe.
#include "tests/tools/probe_server.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

namespace
{
std::atomic<long> g_lockCount{0};
CDispatchTypeInfo g_probeInfo(LIBID_ProbeLib, IID_IProbe);

class CProbe final : public IDispatchImpl<IProbe>, public ISupportErrorInfo
{
  public:
    CProbe() : IDispatchImpl<IProbe>(g_probeInfo) { ++g_lockCount; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IProbe)
            *ppv = static_cast<IProbe*>(this);
        else if (riid == IID_ISupportErrorInfo)
            *ppv = static_cast<ISupportErrorInfo*>(this);
        else
        {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override
    {
        return riid == IID_IProbe ? S_OK : S_FALSE;
    }

    STDMETHODIMP get_Name(BSTR* pVal) override
    {
        if (!pVal)
            return E_POINTER;
        *pVal = m_name.Copy();
        if (!*pVal)
            *pVal = SysAllocString(u"");
        return S_OK;
    }
    STDMETHODIMP put_Name(BSTR newVal) override
    {
        m_name.Attach(newVal ? SysAllocString(newVal) : nullptr);
        return S_OK;
    }
    STDMETHODIMP get_Count(SHORT* pVal) override { return Out(pVal, m_count); }
    STDMETHODIMP put_Count(SHORT newVal) override
    {
        m_count = newVal;
        return S_OK;
    }
    STDMETHODIMP get_Total(LONG* pVal) override { return Out(pVal, m_total); }
    STDMETHODIMP put_Total(LONG newVal) override
    {
        m_total = newVal;
        return S_OK;
    }
    STDMETHODIMP get_Enabled(VARIANT_BOOL* pVal) override { return Out(pVal, m_enabled); }
    STDMETHODIMP put_Enabled(VARIANT_BOOL newVal) override
    {
        m_enabled = newVal;
        return S_OK;
    }
    STDMETHODIMP Add(SHORT a, LONG b, LONG* sum) override
    {
        return Out(sum, static_cast<LONG>(a + b));
    }
    STDMETHODIMP Concat(BSTR a, BSTR b, BSTR* joined) override
    {
        if (!joined)
            return E_POINTER;
        std::u16string text;
        if (a)
            text.append(a, SysStringLen(a));
        if (b)
            text.append(b, SysStringLen(b));
        *joined = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *joined ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP Fail(BSTR description) override
    {
        return ComrtReportError(E_ABORT, IID_IProbe, u"ComrtTest.Probe.1",
                                NarrowFromBstr(description));
    }
    STDMETHODIMP IsReady() override { return S_FALSE; }
    STDMETHODIMP GetBuffer(char** text, SHORT* size) override
    {
        if (!text || !size)
            return E_POINTER;
        *text = m_buffer;
        *size = static_cast<SHORT>(std::strlen(m_buffer));
        return S_OK;
    }
    STDMETHODIMP Sum7(LONG a, LONG b, LONG c, LONG d, LONG e, LONG f, LONG g, LONG* sum) override
    {
        return Out(sum, a + b + c + d + e + f + g);
    }
    STDMETHODIMP Twice(SHORT* value) override
    {
        if (!value)
            return E_POINTER;
        *value = static_cast<SHORT>(*value * 2);
        return S_OK;
    }
    STDMETHODIMP Scale(SHORT n, double factor, LONG pad, float offset, double* result) override
    {
        return Out(result, n * factor + offset + pad);
    }
    STDMETHODIMP get_Ratio(float* pVal) override { return Out(pVal, m_ratio); }
    STDMETHODIMP put_Ratio(float newVal) override
    {
        m_ratio = newVal;
        return S_OK;
    }

  private:
    ~CProbe() { --g_lockCount; }

    template <class T> static HRESULT Out(T* out, T value)
    {
        if (!out)
            return E_POINTER;
        *out = value;
        return S_OK;
    }

    std::atomic<ULONG> m_refs{0};
    CComBSTR m_name;
    SHORT m_count = 0;
    LONG m_total = 0;
    VARIANT_BOOL m_enabled = VARIANT_FALSE;
    float m_ratio = 0;
    char m_buffer[16] = "probe output";
};

// The class object: the module keeps one reference; each client reference holds the module.
class CProbeFactory final : public IClassFactory
{
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory)
        {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        ++g_lockCount;
        return ++m_refs;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        --g_lockCount;
        return --m_refs;
    }
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter)
            return CLASS_E_NOAGGREGATION;
        auto* probe = new (std::nothrow) CProbe();
        if (!probe)
            return E_OUTOFMEMORY;
        probe->AddRef();
        HRESULT hr = probe->QueryInterface(riid, ppv);
        probe->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL fLock) override
    {
        fLock ? ++g_lockCount : --g_lockCount;
        return S_OK;
    }

  private:
    std::atomic<ULONG> m_refs{0};
};

CProbeFactory g_factory;

std::string ModulePath()
{
    return ComrtModulePath(reinterpret_cast<const void*>(&ModulePath));
}

LONG SetKey(const std::string& path, const char* name, const std::string& value)
{
    HKEY key = nullptr;
    LONG rc = RegCreateKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (name || !value.empty())
        rc = RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return rc;
}
} // namespace

COMRT_EMBED_TYPELIB(MakeProbeTypeLibDesc)

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_Probe)
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return g_lockCount == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    const std::string clsid = GuidToString(CLSID_Probe);
    const std::string key = "CLSID\\" + clsid;
    CRegTransaction txn;
    LONG rc = txn.Begin();
    auto set = [&](const std::string& path, const char* name, const std::string& value)
    {
        if (rc == ERROR_SUCCESS)
            rc = SetKey(path, name, value);
    };
    if (rc == ERROR_SUCCESS)
    {
        LONG gone = RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str()); // rewritten whole each time
        rc = gone == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : gone;
    }
    set(kProbeProgId, nullptr, "Probe Class");
    set(std::string(kProbeProgId) + "\\CLSID", nullptr, clsid);
    set(kProbeIndependentProgId, nullptr, "Probe Class");
    set(std::string(kProbeIndependentProgId) + "\\CLSID", nullptr, clsid);
    set(std::string(kProbeIndependentProgId) + "\\CurVer", nullptr, kProbeProgId);
    set(key, nullptr, "Probe Class");
    set(key + "\\ProgID", nullptr, kProbeProgId);
    set(key + "\\VersionIndependentProgID", nullptr, kProbeIndependentProgId);
    set(key + "\\InprocServer32", nullptr, ModulePath());
    set(key + "\\InprocServer32", "ThreadingModel", "Apartment");
    set(key + "\\TypeLib", nullptr, GuidToString(LIBID_ProbeLib));
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);

    std::u16string path = NarrowToWide(ModulePath());
    std::u16string dir = path.substr(0, path.find_last_of(u'/'));
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLib(path.c_str(), &lib);
    if (SUCCEEDED(hr))
    {
        hr = RegisterTypeLib(lib, path.c_str(), dir.c_str());
        lib->Release();
    }
    if (FAILED(hr))
        return hr;
    return HRESULT_FROM_WIN32(txn.Commit());
}

STDAPI DllUnregisterServer()
{
    const std::string clsid = GuidToString(CLSID_Probe);
    CRegTransaction txn;
    if (txn.Begin() != ERROR_SUCCESS)
        return S_OK;
    RegDeleteTree(HKEY_CLASSES_ROOT, kProbeProgId);
    RegDeleteTree(HKEY_CLASSES_ROOT, kProbeIndependentProgId);
    RegDeleteTree(HKEY_CLASSES_ROOT, ("CLSID\\" + clsid).c_str());
    UnRegisterTypeLib(LIBID_ProbeLib, 1, 0, 0x0409, SYS_WIN32);
    txn.Commit();
    return S_OK;
}

// For tests: how many references hold the module.
STDAPI_(long) ProbeLockCount()
{
    return g_lockCount;
}
