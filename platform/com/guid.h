// GUID with the Windows layout, comparison, and the registry text form "{XXXXXXXX-XXXX-...}".
#pragma once

#include "platform/com/hresult.h"
#include "platform/com/wintypes.h"

#include <cstring>
#include <functional>
#include <string>
#include <string_view>

struct GUID
{
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes as on Windows");

typedef GUID IID;
typedef GUID CLSID;
typedef IID* LPIID;
typedef CLSID* LPCLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool IsEqualIID(REFIID a, REFIID b)
{
    return IsEqualGUID(a, b);
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b)
{
    return IsEqualGUID(a, b);
}
inline bool operator==(const GUID& a, const GUID& b)
{
    return IsEqualGUID(a, b);
}
inline bool operator!=(const GUID& a, const GUID& b)
{
    return !IsEqualGUID(a, b);
}
inline bool operator<(const GUID& a, const GUID& b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
}

constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
constexpr IID IID_NULL = GUID_NULL;
constexpr CLSID CLSID_NULL = GUID_NULL;

namespace comrt_detail
{
constexpr int HexDigit(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}
} // namespace comrt_detail

// Parses exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (38 characters, any hex case).
// Returns false and leaves *out alone on any other text. Usable at compile time.
constexpr bool GuidFromString(std::string_view text, GUID* out)
{
    if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-')
        return false;
    // Positions of the 16 bytes in registry order.
    constexpr int pos[16] = {1, 3, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27, 29, 31, 33, 35};
    BYTE b[16] = {};
    for (int i = 0; i < 16; ++i)
    {
        int hi = comrt_detail::HexDigit(text[pos[i]]);
        int lo = comrt_detail::HexDigit(text[pos[i] + 1]);
        if (hi < 0 || lo < 0)
            return false;
        b[i] = static_cast<BYTE>(hi * 16 + lo);
    }
    GUID g{};
    g.Data1 = (DWORD(b[0]) << 24) | (DWORD(b[1]) << 16) | (DWORD(b[2]) << 8) | DWORD(b[3]);
    g.Data2 = static_cast<WORD>((b[4] << 8) | b[5]);
    g.Data3 = static_cast<WORD>((b[6] << 8) | b[7]);
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = b[8 + i];
    *out = g;
    return true;
}

// A GUID from its registry text at compile time:
//   constexpr IID IID_IlvTelnet = MakeGuid("{91F3E725-A6D1-11D3-B52E-0290F7C2A3D4}");
// A malformed literal fails to compile (throw in a constant expression).
// In headers of server modules write `constexpr`, not `inline constexpr`: GCC gives inline
// variables STB_GNU_UNIQUE binding, which marks the module NODELETE, so CoFreeUnusedLibraries
// could never really unload it. (Or build the module with -fno-gnu-unique.)
consteval GUID MakeGuid(std::string_view text)
{
    GUID g{};
    if (!GuidFromString(text, &g))
        throw "MakeGuid: malformed GUID literal";
    return g;
}

// "{91F3E725-A6D1-11D3-B52E-0290F7C2A3D4}" (upper case, as the registry holds it).
std::string GuidToString(REFGUID guid);

// Windows spellings over wide strings.
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid); // CO_E_CLASSSTRING if malformed
HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid);      // E_INVALIDARG if malformed
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz,
                    int cchMax);                            // chars written incl. zero, 0 if short
HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz); // frees with CoTaskMemFree
HRESULT StringFromIID(REFIID rclsid, LPOLESTR* lplpsz);

template <> struct std::hash<GUID>
{
    size_t operator()(const GUID& g) const noexcept
    {
        uint64_t a, b;
        std::memcpy(&a, &g, 8);
        std::memcpy(&b, reinterpret_cast<const BYTE*>(&g) + 8, 8);
        return std::hash<uint64_t>()(a * 0x9E3779B97F4A7C15ull ^ b);
    }
};
