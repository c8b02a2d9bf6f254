// BSTR allocation: a 32-bit byte length, the text, a terminating zero; null is the empty string.
#include "platform/com/bstr.h"

#include "platform/com/conversion.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace
{
// The prefix keeps the text 4-byte aligned after malloc's alignment.
constexpr size_t kPrefix = sizeof(uint32_t);
constexpr UINT kMaxBytes = std::numeric_limits<uint32_t>::max() - kPrefix - sizeof(OLECHAR) - 1;

BSTR AllocBytes(const void* src, UINT bytes)
{
    if (bytes > kMaxBytes)
        return nullptr;
    // Room for a whole char16_t terminator even after an odd byte count.
    auto* block = static_cast<BYTE*>(std::malloc(kPrefix + size_t(bytes) + sizeof(OLECHAR) + 1));
    if (!block)
        return nullptr;
    uint32_t len = bytes;
    std::memcpy(block, &len, kPrefix);
    if (src)
        std::memcpy(block + kPrefix, src, bytes);
    else
        std::memset(block + kPrefix, 0, bytes);
    std::memset(block + kPrefix + bytes, 0, sizeof(OLECHAR) + 1);
    return reinterpret_cast<BSTR>(block + kPrefix);
}

size_t WideLen(const OLECHAR* s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}
} // namespace

BSTR SysAllocString(const OLECHAR* psz)
{
    if (!psz)
        return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(WideLen(psz)));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui)
{
    if (ui > kMaxBytes / sizeof(OLECHAR))
        return nullptr;
    return AllocBytes(strIn, ui * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len)
{
    return AllocBytes(psz, len);
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len)
{
    if (!pbstr)
        return FALSE;
    BSTR fresh = SysAllocStringLen(psz, len); // psz may point into *pbstr: copy before freeing
    if (!fresh)
        return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz)
{
    if (!pbstr)
        return FALSE;
    if (!psz)
    {
        SysFreeString(*pbstr);
        *pbstr = nullptr;
        return TRUE;
    }
    return SysReAllocStringLen(pbstr, psz, static_cast<UINT>(WideLen(psz)));
}

void SysFreeString(BSTR bstrString)
{
    if (bstrString)
        std::free(reinterpret_cast<BYTE*>(bstrString) - kPrefix);
}

UINT SysStringByteLen(BSTR bstr)
{
    if (!bstr)
        return 0;
    uint32_t len;
    std::memcpy(&len, reinterpret_cast<BYTE*>(bstr) - kPrefix, kPrefix);
    return len;
}

UINT SysStringLen(BSTR pbstr)
{
    return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}

CComBSTR::CComBSTR(std::u16string_view text)
    : m_str(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
{
}

CComBSTR::CComBSTR(std::string_view utf8) : m_str(BstrFromNarrow(utf8)) {}

CComBSTR& CComBSTR::operator=(const CComBSTR& other)
{
    if (this != std::addressof(other))
        Attach(other.Copy());
    return *this;
}

CComBSTR& CComBSTR::operator=(CComBSTR&& other) noexcept
{
    if (this != std::addressof(other))
        Attach(other.Detach());
    return *this;
}
