// What the .reg text reader and writer share: the header lines and the rule for text values.
#pragma once

#include "platform/com/registry.h"

#include <algorithm>
#include <string_view>

inline constexpr std::string_view kRegistryHeader5 = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kRegistryHeader4 = "REGEDIT4";

inline bool IsRegistryTextType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// Control characters (and DEL) never stand in a key name, and text holding one is written in hex.
inline bool HasRegistryControl(std::string_view text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}
