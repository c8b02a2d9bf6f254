// The registry hive in memory: keys with their values, names compared as Windows compares them.
#include "platform/com/registry_hive.h"
#include "platform/com/registry_text.h"

namespace
{
constexpr const char* kRootNames[kRegistryRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                                        "HKEY_LOCAL_MACHINE"};
} // namespace

const char* RegistryRootName(RegistryRoot root)
{
    return kRootNames[static_cast<size_t>(root)];
}

std::string FoldRegistryName(std::string_view name)
{
    std::string out(name);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool IsValidRegistryKeyName(std::string_view name)
{
    return !name.empty() && name.size() <= kRegistryMaxKeyName &&
           name.find('\\') == std::string_view::npos && !HasRegistryControl(name);
}

std::vector<std::string> SplitRegistryPath(std::string_view path, bool keepEmpty)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size())
    {
        size_t next = path.find('\\', start);
        if (next == std::string_view::npos)
            next = path.size();
        if (keepEmpty || next > start)
            parts.emplace_back(path.substr(start, next - start));
        start = next + 1;
    }
    return parts;
}

CRegistryKey* CRegistryKey::Find(std::string_view name) const
{
    auto it = m_subkeys.find(FoldRegistryName(name));
    return it == m_subkeys.end() ? nullptr : it->second.get();
}

CRegistryKey* CRegistryKey::Create(std::string_view name, bool* created)
{
    std::string folded = FoldRegistryName(name);
    auto it = m_subkeys.find(folded);
    if (created)
        *created = it == m_subkeys.end();
    if (it != m_subkeys.end())
        return it->second.get();
    auto key = std::make_unique<CRegistryKey>(std::string(name));
    CRegistryKey* raw = key.get();
    m_subkeys.emplace(std::move(folded), std::move(key));
    return raw;
}

bool CRegistryKey::Remove(std::string_view name)
{
    return m_subkeys.erase(FoldRegistryName(name)) > 0;
}

std::vector<const CRegistryKey*> CRegistryKey::Subkeys() const
{
    std::vector<const CRegistryKey*> out;
    out.reserve(m_subkeys.size());
    for (const auto& [folded, key] : m_subkeys)
        out.push_back(key.get());
    return out;
}

const RegistryValue* CRegistryKey::FindValue(std::string_view name) const
{
    std::string folded = FoldRegistryName(name);
    for (const RegistryValue& value : m_values)
        if (FoldRegistryName(value.Name) == folded)
            return &value;
    return nullptr;
}

void CRegistryKey::SetValue(std::string_view name, DWORD type, std::vector<BYTE> data)
{
    std::string folded = FoldRegistryName(name);
    for (RegistryValue& value : m_values)
        if (FoldRegistryName(value.Name) == folded)
        {
            value.Type = type;
            value.Data = std::move(data);
            return;
        }
    m_values.push_back(RegistryValue{std::string(name), type, std::move(data)});
}

void CRegistryKey::SetText(std::string_view name, std::string_view text)
{
    text = text.substr(0, text.find('\0')); // a text value ends at its first zero, as on Windows
    SetValue(name, REG_SZ, std::vector<BYTE>(text.begin(), text.end()));
}

bool CRegistryKey::DeleteValue(std::string_view name)
{
    std::string folded = FoldRegistryName(name);
    for (auto it = m_values.begin(); it != m_values.end(); ++it)
        if (FoldRegistryName(it->Name) == folded)
        {
            m_values.erase(it);
            return true;
        }
    return false;
}

void CRegistryKey::Clear()
{
    m_subkeys.clear();
    m_values.clear();
}

std::unique_ptr<CRegistryKey> CRegistryKey::Clone() const
{
    auto copy = std::make_unique<CRegistryKey>(m_name);
    copy->m_values = m_values;
    for (const auto& [folded, key] : m_subkeys)
        copy->m_subkeys.emplace(folded, key->Clone());
    return copy;
}

CRegistryHive::CRegistryHive()
{
    for (size_t i = 0; i < kRegistryRootCount; ++i)
        m_roots[i] = std::make_unique<CRegistryKey>(kRootNames[i]);
}

CRegistryHive::CRegistryHive(const CRegistryHive& other)
{
    for (size_t i = 0; i < kRegistryRootCount; ++i)
        m_roots[i] = other.m_roots[i]->Clone();
}

CRegistryHive& CRegistryHive::operator=(const CRegistryHive& other)
{
    if (this != &other)
        for (size_t i = 0; i < kRegistryRootCount; ++i)
            m_roots[i] = other.m_roots[i]->Clone();
    return *this;
}

CRegistryKey* CRegistryHive::Find(RegistryRoot root, const std::vector<std::string>& path) const
{
    CRegistryKey* key = m_roots[static_cast<size_t>(root)].get();
    for (const std::string& part : path)
        if (!(key = key->Find(part)))
            return nullptr;
    return key;
}

CRegistryKey* CRegistryHive::Create(RegistryRoot root, const std::vector<std::string>& path,
                                    bool* created)
{
    CRegistryKey* key = m_roots[static_cast<size_t>(root)].get();
    bool made = false;
    for (const std::string& part : path)
        key = key->Create(part, &made);
    if (created)
        *created = made;
    return key;
}

bool CRegistryHive::Remove(RegistryRoot root, const std::vector<std::string>& path)
{
    if (path.empty())
        return false;
    std::vector<std::string> parent(path.begin(), path.end() - 1);
    CRegistryKey* key = Find(root, parent);
    return key && key->Remove(path.back());
}
