// Registry value data between the hive's form and the caller's, and the copy into a caller's
// buffer.
#include "platform/com/registry_values.h"

#include "platform/com/registry_text.h"

namespace comrt_registry
{

std::vector<BYTE> StoredData(DWORD type, const BYTE* data, DWORD cb, bool wide)
{
    if (!data)
        return {};
    if (!IsRegistryTextType(type))
        return std::vector<BYTE>(data, data + cb);
    std::string text;
    if (wide)
    {
        std::u16string w;
        for (DWORD i = 0; i + 1 < cb; i += 2)
        {
            char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
            if (!c)
                break;
            w.push_back(c);
        }
        text = WideToNarrow(w);
    }
    else
    {
        const char* p = reinterpret_cast<const char*>(data);
        text.assign(p, strnlen(p, cb));
    }
    return std::vector<BYTE>(text.begin(), text.end());
}

std::vector<BYTE> OutputData(const RegistryValue& v, bool wide)
{
    if (!IsRegistryTextType(v.Type))
        return v.Data;
    std::vector<BYTE> out;
    if (wide)
    {
        std::u16string w = NarrowToWide(v.Text());
        for (char16_t c : w)
        {
            out.push_back(static_cast<BYTE>(c & 0xFF));
            out.push_back(static_cast<BYTE>(c >> 8));
        }
        out.push_back(0);
        out.push_back(0);
    }
    else
    {
        out = v.Data;
        out.push_back(0);
    }
    return out;
}

LONG CopyOut(const std::vector<BYTE>& bytes, LPBYTE lpData, LPDWORD lpcbData)
{
    if (!lpData)
    {
        if (lpcbData)
            *lpcbData = static_cast<DWORD>(bytes.size());
        return ERROR_SUCCESS;
    }
    if (!lpcbData)
        return ERROR_INVALID_PARAMETER;
    DWORD room = *lpcbData;
    *lpcbData = static_cast<DWORD>(bytes.size());
    if (bytes.size() > room)
        return ERROR_MORE_DATA;
    if (!bytes.empty())
        std::memcpy(lpData, bytes.data(), bytes.size());
    return ERROR_SUCCESS;
}

} // namespace comrt_registry
