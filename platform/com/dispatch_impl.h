// A component's IDispatch in a few lines: the four operations answered from the type information of
// its interface, loaded from the registered type library on first use.
//
//   static CDispatchTypeInfo s_telnetInfo(LIBID_LANVEXLib, IID_IlvTelnet); // 1.0 by default
//   class lvTelnet : public IDispatchImpl<IlvTelnet>, public ISupportErrorInfo
//   {
//   public:
//       lvTelnet() : IDispatchImpl<IlvTelnet>(s_telnetInfo) {}
//       ...
//   };
//
// Invoke calls the interface's vtable through ITypeInfo::Invoke with the arguments coerced to the
// parameter types. When the library is not registered, the dispatch operations return the load
// error (TYPE_E_LIBNOTREGISTERED).
#pragma once

#include "platform/com/typelib.h"

#include <mutex>

class CDispatchTypeInfo
{
  public:
    CDispatchTypeInfo(REFGUID libid, REFIID iid, WORD major = 1, WORD minor = 0);
    ~CDispatchTypeInfo();
    CDispatchTypeInfo(const CDispatchTypeInfo&) = delete;
    CDispatchTypeInfo& operator=(const CDispatchTypeInfo&) = delete;

    // The interface's type information with a reference added; loaded once, then kept. A failed
    // load is not kept, so a later call tries again (e.g. after registration).
    HRESULT Get(ITypeInfo** ppTInfo);
    // Drops the kept type information (a server's unload path).
    void Reset();

  private:
    GUID m_libid;
    IID m_iid;
    WORD m_major;
    WORD m_minor;
    std::mutex m_lock;
    ITypeInfo* m_info = nullptr;
};

template <class Base> class IDispatchImpl : public Base
{
  public:
    explicit IDispatchImpl(CDispatchTypeInfo& typeInfo) : m_typeInfo(typeInfo) {}

    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override
    {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override
    {
        if (!ppTInfo)
            return E_POINTER;
        *ppTInfo = nullptr;
        if (iTInfo != 0)
            return DISP_E_BADINDEX;
        return m_typeInfo.Get(ppTInfo);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                               DISPID* rgDispId) override
    {
        return WithTypeInfo(riid, [&](ITypeInfo* info)
                            { return DispGetIDsOfNames(info, rgszNames, cNames, rgDispId); });
    }
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override
    {
        return WithTypeInfo(riid,
                            [&](ITypeInfo* info)
                            {
                                return DispInvoke(static_cast<Base*>(this), info, dispIdMember,
                                                  wFlags, pDispParams, pVarResult, pExcepInfo,
                                                  puArgErr);
                            });
    }

  private:
    // Runs call with the interface's type information, which is released after it.
    template <class Call> HRESULT WithTypeInfo(REFIID riid, Call call)
    {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        const HRESULT hr = m_typeInfo.Get(&info);
        if (FAILED(hr))
            return hr;
        const HRESULT result = call(info);
        info->Release();
        return result;
    }

    CDispatchTypeInfo& m_typeInfo;
};
