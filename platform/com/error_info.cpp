// Error objects and the per-thread current error object.
#include "platform/com/error_info.h"

#include "platform/com/bstr.h"
#include "platform/com/conversion.h"

#include <atomic>
#include <new>

namespace
{
class CErrorInfo final : public IErrorInfo, public ICreateErrorInfo
{
  public:
    // IUnknown (shared by both interfaces)
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo)
            *ppv = static_cast<IErrorInfo*>(this);
        else if (riid == IID_ICreateErrorInfo)
            *ppv = static_cast<ICreateErrorInfo*>(this);
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

    // IErrorInfo
    STDMETHODIMP GetGUID(GUID* pGUID) override
    {
        if (!pGUID)
            return E_INVALIDARG;
        *pGUID = m_guid;
        return S_OK;
    }
    STDMETHODIMP GetSource(BSTR* p) override { return CopyOut(m_source, p); }
    STDMETHODIMP GetDescription(BSTR* p) override { return CopyOut(m_description, p); }
    STDMETHODIMP GetHelpFile(BSTR* p) override { return CopyOut(m_helpFile, p); }
    STDMETHODIMP GetHelpContext(DWORD* p) override
    {
        if (!p)
            return E_INVALIDARG;
        *p = m_helpContext;
        return S_OK;
    }

    // ICreateErrorInfo
    STDMETHODIMP SetGUID(REFGUID rguid) override
    {
        m_guid = rguid;
        return S_OK;
    }
    STDMETHODIMP SetSource(LPOLESTR s) override { return Store(m_source, s); }
    STDMETHODIMP SetDescription(LPOLESTR s) override { return Store(m_description, s); }
    STDMETHODIMP SetHelpFile(LPOLESTR s) override { return Store(m_helpFile, s); }
    STDMETHODIMP SetHelpContext(DWORD c) override
    {
        m_helpContext = c;
        return S_OK;
    }

  private:
    ~CErrorInfo() = default;

    static HRESULT CopyOut(const CComBSTR& value, BSTR* out)
    {
        if (!out)
            return E_INVALIDARG;
        *out = value.Copy();
        return (*out || !value.m_str) ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT Store(CComBSTR& field, LPOLESTR text)
    {
        CComBSTR fresh(text);
        if (text && !fresh.m_str)
            return E_OUTOFMEMORY;
        field = std::move(fresh);
        return S_OK;
    }

    std::atomic<ULONG> m_refs{1};
    GUID m_guid = GUID_NULL;
    CComBSTR m_source;
    CComBSTR m_description;
    CComBSTR m_helpFile;
    DWORD m_helpContext = 0;
};

// Releases the thread's error object when the thread ends.
struct CurrentError
{
    IErrorInfo* Info = nullptr;
    ~CurrentError()
    {
        if (Info)
            Info->Release();
    }
};
thread_local CurrentError t_current;
} // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo)
{
    if (!pperrinfo)
        return E_INVALIDARG;
    auto* info = new (std::nothrow) CErrorInfo();
    *pperrinfo = info ? static_cast<ICreateErrorInfo*>(info) : nullptr;
    return info ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* perrinfo)
{
    if (perrinfo)
        perrinfo->AddRef();
    IErrorInfo* old = t_current.Info;
    t_current.Info = perrinfo;
    if (old)
        old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** pperrinfo)
{
    if (!pperrinfo)
        return E_INVALIDARG;
    *pperrinfo = t_current.Info;
    t_current.Info = nullptr;
    return *pperrinfo ? S_OK : S_FALSE;
}

HRESULT ComrtReportError(HRESULT hr, REFGUID iid, LPCOLESTR source, std::string_view description)
{
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)))
        return hr;
    std::u16string text = NarrowToWide(description);
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetDescription(text.data());
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))))
    {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
    return hr;
}
