// The registry hive in memory (keys, default and named values) and its .reg export text form
// (the tree in registry_hive.cpp, reader and writer in registry_reader.cpp, registry_writer.cpp).
#pragma once

#include "platform/com/wintypes.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class RegistryRoot
{
    ClassesRoot,
    CurrentUser,
    LocalMachine,
};
constexpr size_t kRegistryRootCount = 3;
const char* RegistryRootName(RegistryRoot root); // "HKEY_CLASSES_ROOT", ...

// REG_SZ and REG_EXPAND_SZ hold their text as UTF-8 without the terminating zero; other types hold
// their bytes as they stand.
struct RegistryValue
{
    std::string Name; // "" is the default value
    DWORD Type = 0;
    std::vector<BYTE> Data;

    std::string Text() const { return std::string(Data.begin(), Data.end()); }
};

// Names compare case-insensitively (ASCII), as on Windows, and keep the case they were made with.
class CRegistryKey
{
  public:
    explicit CRegistryKey(std::string name) : m_name(std::move(name)) {}

    const std::string& Name() const { return m_name; }
    CRegistryKey* Find(std::string_view name) const;
    CRegistryKey* Create(std::string_view name, bool* created);
    bool Remove(std::string_view name);
    // Subkeys in name order (case-insensitive), as enumeration and the file list them.
    std::vector<const CRegistryKey*> Subkeys() const;
    size_t SubkeyCount() const { return m_subkeys.size(); }

    const RegistryValue* FindValue(std::string_view name) const;
    void SetValue(std::string_view name, DWORD type, std::vector<BYTE> data);
    void SetText(std::string_view name, std::string_view text);
    bool DeleteValue(std::string_view name);
    const std::vector<RegistryValue>& Values() const { return m_values; }
    void Clear(); // every subkey and value

    std::unique_ptr<CRegistryKey> Clone() const;

  private:
    std::string m_name;
    std::map<std::string, std::unique_ptr<CRegistryKey>> m_subkeys; // by folded name
    std::vector<RegistryValue> m_values;
};

// Key names may hold any character but a backslash or a control character.
bool IsValidRegistryKeyName(std::string_view name);
// Splits "A\B\C" into its components; empty components (doubled or edge backslashes) are skipped
// unless keepEmpty says to keep them (the file reader refuses them).
std::vector<std::string> SplitRegistryPath(std::string_view path, bool keepEmpty = false);
std::string FoldRegistryName(std::string_view name);

class CRegistryHive
{
  public:
    CRegistryHive();
    CRegistryHive(const CRegistryHive& other);
    CRegistryHive& operator=(const CRegistryHive& other);

    CRegistryKey& Root(RegistryRoot root) { return *m_roots[static_cast<size_t>(root)]; }
    const CRegistryKey& Root(RegistryRoot root) const
    {
        return *m_roots[static_cast<size_t>(root)];
    }
    CRegistryKey* Find(RegistryRoot root, const std::vector<std::string>& path) const;
    CRegistryKey* Create(RegistryRoot root, const std::vector<std::string>& path, bool* created);
    // Removes the key at path with everything under it; false if it does not exist.
    bool Remove(RegistryRoot root, const std::vector<std::string>& path);

    // Reads .reg text ("Windows Registry Editor Version 5.00" or "REGEDIT4", UTF-8 with or
    // without BOM, or UTF-16LE with BOM). On a fault returns false, sets *error to
    // "line N: reason", and leaves *out unchanged.
    static bool Parse(std::string_view text, CRegistryHive* out, std::string* error);
    // Writes .reg text that Parse reads back to an equal hive.
    std::string Serialize() const;

  private:
    std::unique_ptr<CRegistryKey> m_roots[kRegistryRootCount];
};

// Limits that keep the reader of outside text bounded (Windows' own limits).
constexpr size_t kRegistryMaxDepth = 512;
constexpr size_t kRegistryMaxKeyName = 255;
