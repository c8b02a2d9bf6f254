// Registry value data and names between the hive's form (UTF-8 text without its zero) and the
// caller's (narrow or wide, text with its terminating zero); shared by the registry functions.
#pragma once

#include "platform/com/conversion.h"
#include "platform/com/registry.h"
#include "platform/com/registry_hive.h"

#include <cstring>
#include <string>
#include <vector>

namespace comrt_registry
{

// Value data as stored: text types keep UTF-8 up to the first zero.
std::vector<BYTE> StoredData(DWORD type, const BYTE* data, DWORD cb, bool wide);

// Value data as handed out: text types with their terminating zero in the caller's character type.
std::vector<BYTE> OutputData(const RegistryValue& v, bool wide);

LONG CopyOut(const std::vector<BYTE>& bytes, LPBYTE lpData, LPDWORD lpcbData);

// Names handed out into a character buffer: *cch in = room in characters, out = length.
template <class Char> LONG CopyName(const std::string& utf8, Char* buffer, LPDWORD cch)
{
    if (!buffer || !cch)
        return ERROR_INVALID_PARAMETER;
    std::basic_string<Char> name;
    if constexpr (sizeof(Char) == 1)
        name = utf8;
    else
        name = NarrowToWide(utf8);
    if (name.size() + 1 > *cch)
    {
        *cch = static_cast<DWORD>(name.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.data(), name.size() * sizeof(Char));
    buffer[name.size()] = 0;
    *cch = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

} // namespace comrt_registry
