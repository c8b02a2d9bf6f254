// Property accessors the components share: a value read into the caller's variable or stored,
// and a text kept the way the telnet and FTP sessions keep theirs (unset until written).
#pragma once

#include "platform/com/bstr.h"
#include "platform/com/hresult.h"

namespace lanvex
{

template <class T> HRESULT GetValueProperty(T value, T* pVal)
{
    if (pVal == nullptr)
        return E_POINTER;
    *pVal = value;
    return S_OK;
}

// Values are stored without checks.
template <class T> HRESULT PutValueProperty(T& target, T newVal)
{
    target = newVal;
    return S_OK;
}

// A new copy for the caller; an unset text reads as an empty one, never as null.
inline HRESULT GetTextProperty(const CComBSTR& value, BSTR* pVal)
{
    if (pVal == nullptr)
        return E_POINTER;
    *pVal = value.m_str != nullptr ? value.Copy() : SysAllocString(u"");
    return *pVal != nullptr ? S_OK : E_OUTOFMEMORY;
}

// A copy up to the first zero character; null leaves the property unset.
inline HRESULT PutTextProperty(CComBSTR& target, BSTR newVal)
{
    target.Attach(newVal != nullptr ? SysAllocString(newVal) : nullptr);
    return S_OK;
}

} // namespace lanvex
