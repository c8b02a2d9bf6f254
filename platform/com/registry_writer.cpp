// The .reg text writer: the hive as regedit exports it, read back to an equal hive.
#include "platform/com/registry_hive.h"
#include "platform/com/registry_text.h"

#include "platform/com/conversion.h"

#include <cstdio>

namespace
{
std::string Quote(std::string_view text)
{
    std::string out = "\"";
    for (char c : text)
    {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

std::string HexBytes(const std::vector<BYTE>& data)
{
    std::string out;
    char byte[4];
    for (size_t i = 0; i < data.size(); ++i)
    {
        std::snprintf(byte, sizeof byte, i ? ",%02x" : "%02x", data[i]);
        out += byte;
    }
    return out;
}

std::vector<BYTE> Utf16LeWithZero(std::string_view utf8)
{
    std::u16string wide = NarrowToWide(utf8);
    std::vector<BYTE> out;
    out.reserve(wide.size() * 2 + 2);
    for (char16_t c : wide)
    {
        out.push_back(static_cast<BYTE>(c & 0xFF));
        out.push_back(static_cast<BYTE>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::string FormatValue(const RegistryValue& value)
{
    std::string name = value.Name.empty() ? "@" : Quote(value.Name);
    if (value.Type == REG_SZ && !HasRegistryControl(value.Text()))
        return name + "=" + Quote(value.Text());
    if (value.Type == REG_DWORD && value.Data.size() == 4)
    {
        char text[16];
        const std::vector<BYTE>& data = value.Data;
        unsigned number = data[0] | (data[1] << 8) | (data[2] << 16) | (unsigned(data[3]) << 24);
        std::snprintf(text, sizeof text, "dword:%08x", number);
        return name + "=" + text;
    }
    if (value.Type == REG_BINARY)
        return name + "=hex:" + HexBytes(value.Data);
    std::vector<BYTE> bytes =
        IsRegistryTextType(value.Type) ? Utf16LeWithZero(value.Text()) : value.Data;
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "=hex(%x):", static_cast<unsigned>(value.Type));
    return name + prefix + HexBytes(bytes);
}

void SerializeKey(const CRegistryKey& key, const std::string& path, bool isRoot, std::string& out)
{
    if (!isRoot || !key.Values().empty())
    {
        out += "[" + path + "]\n";
        // The default value first, as regedit writes it.
        for (const RegistryValue& value : key.Values())
            if (value.Name.empty())
                out += FormatValue(value) + "\n";
        for (const RegistryValue& value : key.Values())
            if (!value.Name.empty())
                out += FormatValue(value) + "\n";
        out += "\n";
    }
    for (const CRegistryKey* sub : key.Subkeys())
        SerializeKey(*sub, path + "\\" + sub->Name(), false, out);
}
} // namespace

std::string CRegistryHive::Serialize() const
{
    std::string out = std::string(kRegistryHeader5) + "\n\n";
    for (size_t i = 0; i < kRegistryRootCount; ++i)
    {
        const auto root = static_cast<RegistryRoot>(i);
        SerializeKey(Root(root), RegistryRootName(root), true, out);
    }
    return out;
}
