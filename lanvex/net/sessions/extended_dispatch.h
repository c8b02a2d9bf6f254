// IDispatch of a component whose interface was later extended by a second one (IlvTelnet2 over
// IlvTelnet), and perhaps by a third over that (IlvFTPClient3): the first interface's type
// information is the one handed out, a name is looked up in it and then in the extensions', and
// a DISPID is invoked through the description holding it.
#pragma once

#include "platform/com/dispatch_impl.h"

namespace lanvex
{

template <class Extended> class CExtendedDispatchImpl : public IDispatchImpl<Extended>
{
  public:
    // DISPIDs from nFirstExtensionDispid on belong to the extension.
    CExtendedDispatchImpl(CDispatchTypeInfo& baseInfo, CDispatchTypeInfo& extensionInfo,
                          DISPID nFirstExtensionDispid, CDispatchTypeInfo* pNextInfo = nullptr,
                          DISPID nFirstNextDispid = 0)
        : IDispatchImpl<Extended>(baseInfo), m_extensionInfo(extensionInfo),
          m_nFirstExtensionDispid(nFirstExtensionDispid), m_pNextInfo(pNextInfo),
          m_nFirstNextDispid(nFirstNextDispid)
    {
    }

    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override
    {
        HRESULT hr =
            IDispatchImpl<Extended>::GetIDsOfNames(riid, rgszNames, cNames, lcid, rgDispId);
        if (hr != DISP_E_UNKNOWNNAME)
            return hr;
        ITypeInfo* pInfo = nullptr;
        hr = m_extensionInfo.Get(&pInfo);
        if (FAILED(hr))
            return hr;
        hr = DispGetIDsOfNames(pInfo, rgszNames, cNames, rgDispId);
        pInfo->Release();
        if (hr != DISP_E_UNKNOWNNAME || m_pNextInfo == nullptr)
            return hr;
        hr = m_pNextInfo->Get(&pInfo);
        if (FAILED(hr))
            return hr;
        hr = DispGetIDsOfNames(pInfo, rgszNames, cNames, rgDispId);
        pInfo->Release();
        return hr;
    }

    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override
    {
        if (dispIdMember < m_nFirstExtensionDispid)
            return IDispatchImpl<Extended>::Invoke(dispIdMember, riid, lcid, wFlags, pDispParams,
                                                   pVarResult, pExcepInfo, puArgErr);
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* pInfo = nullptr;
        const bool bNext = m_pNextInfo != nullptr && dispIdMember >= m_nFirstNextDispid;
        HRESULT hr = bNext ? m_pNextInfo->Get(&pInfo) : m_extensionInfo.Get(&pInfo);
        if (FAILED(hr))
            return hr;
        // The extension derives from the first interface: one vtable serves both descriptions.
        hr = DispInvoke(static_cast<Extended*>(this), pInfo, dispIdMember, wFlags, pDispParams,
                        pVarResult, pExcepInfo, puArgErr);
        pInfo->Release();
        return hr;
    }

  private:
    CDispatchTypeInfo& m_extensionInfo;
    DISPID m_nFirstExtensionDispid;
    CDispatchTypeInfo* m_pNextInfo;
    DISPID m_nFirstNextDispid;
};

} // namespace lanvex
