// Reads a registration script (text) into a tree of keys with their values and flags.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lanvex
{

struct RegScriptKey
{
    std::string Name;
    bool NoRemove = false;    // unregistration keeps the key (its subkeys are still processed)
    bool ForceRemove = false; // registration deletes the whole key before writing it again
    bool HasDefault = false;
    std::string Default;
    std::vector<std::pair<std::string, std::string>> Values; // named string values
    std::vector<RegScriptKey> Subkeys;
};

struct RegScript
{
    // Top-level keys are roots ("HKCR", "HKEY_CLASSES_ROOT", "HKCU", "HKEY_CURRENT_USER").
    std::vector<RegScriptKey> Roots;
};

// Replaces each "%NAME%" by its value from the table, with every single quote of the value
// doubled so that it stays intact inside a quoted string; "%%" gives one "%". Returns false
// on an unknown or unterminated name.
bool ExpandScriptMacros(std::string_view text,
                        const std::vector<std::pair<std::string, std::string>>& macros,
                        std::string* pResult, std::string* pError);

// Parses an expanded script. On failure returns false and a message naming the line.
bool ParseRegScript(std::string_view text, RegScript* pScript, std::string* pError);

} // namespace lanvex
