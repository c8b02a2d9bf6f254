// BSTR: a 32-bit byte length, then char16_t text and a terminating zero; a null BSTR means empty.
#pragma once

#include "platform/com/wintypes.h"

#include <string_view>

BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui); // strIn may be null: uninitialised text
BSTR SysAllocStringByteLen(LPCSTR psz, UINT len);      // len bytes copied as they stand
INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
void SysFreeString(BSTR bstrString);
UINT SysStringLen(BSTR pbstr);    // characters, 0 for null
UINT SysStringByteLen(BSTR bstr); // bytes, 0 for null

// Owning BSTR wrapper (the ATL name), for code that wants a BSTR freed on every path.
class CComBSTR
{
  public:
    BSTR m_str = nullptr;

    CComBSTR() = default;
    CComBSTR(LPCOLESTR psz) : m_str(psz ? SysAllocString(psz) : nullptr) {}
    explicit CComBSTR(std::u16string_view text);
    explicit CComBSTR(std::string_view utf8); // converts from the narrow (UTF-8) encoding
    CComBSTR(const CComBSTR& other) : m_str(other.Copy()) {}
    CComBSTR(CComBSTR&& other) noexcept : m_str(other.Detach()) {}
    CComBSTR& operator=(const CComBSTR& other);
    CComBSTR& operator=(CComBSTR&& other) noexcept;
    ~CComBSTR() { SysFreeString(m_str); }

    operator BSTR() const { return m_str; }
    // For out parameters: the old text is freed first, so filling it again leaks nothing.
    BSTR* operator&()
    {
        Empty();
        return &m_str;
    }
    UINT Length() const { return SysStringLen(m_str); }
    BSTR Copy() const { return m_str ? SysAllocStringLen(m_str, SysStringLen(m_str)) : nullptr; }
    BSTR Detach()
    {
        BSTR s = m_str;
        m_str = nullptr;
        return s;
    }
    void Attach(BSTR s)
    {
        SysFreeString(m_str);
        m_str = s;
    }
    void Empty() { Attach(nullptr); }
};
