// GUID text in registry form, and the Windows wide-string entry points.
#include "platform/com/guid.h"

#include "platform/com/conversion.h"
#include "platform/com/task_memory.h"

#include <cstdio>

std::string GuidToString(REFGUID g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

namespace
{
bool ParseWide(LPCOLESTR text, GUID* out)
{
    if (!text)
        return false;
    std::string narrow;
    for (size_t i = 0; text[i]; ++i)
    {
        if (text[i] > 0x7F || i >= 38)
            return false;
        narrow.push_back(static_cast<char>(text[i]));
    }
    return GuidFromString(narrow, out);
}

HRESULT AllocText(REFGUID g, LPOLESTR* out)
{
    if (!out)
        return E_INVALIDARG;
    *out = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
    if (!*out)
        return E_OUTOFMEMORY;
    StringFromGUID2(g, *out, 39);
    return S_OK;
}
} // namespace

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid)
{
    if (!pclsid)
        return E_INVALIDARG;
    if (!lpsz || !*lpsz)
    {
        *pclsid = CLSID_NULL; // as on Windows: an empty string is CLSID_NULL
        return S_OK;
    }
    return ParseWide(lpsz, pclsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid)
{
    if (!lpiid)
        return E_INVALIDARG;
    return ParseWide(lpsz, lpiid) ? S_OK : E_INVALIDARG;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax)
{
    if (!lpsz || cchMax < 39)
        return 0;
    std::string text = GuidToString(rguid);
    for (size_t i = 0; i < text.size(); ++i)
        lpsz[i] = static_cast<OLECHAR>(text[i]);
    lpsz[38] = 0;
    return 39;
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz)
{
    return AllocText(rclsid, lplpsz);
}
HRESULT StringFromIID(REFIID riid, LPOLESTR* lplpsz)
{
    return AllocText(riid, lplpsz);
}
