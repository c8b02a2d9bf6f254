// The registry hive model and its .reg text reader and writer.
#include "platform/com/registry_hive.h"

#include "platform/com/conversion.h"

#include <algorithm>
#include <cstdio>

#define REG_SZ_TYPE 1
#define REG_EXPAND_SZ_TYPE 2
#define REG_BINARY_TYPE 3
#define REG_DWORD_TYPE 4

namespace
{
constexpr const char* kRootNames[kRegistryRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                                        "HKEY_LOCAL_MACHINE"};
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

bool IsTextType(DWORD type) { return type == REG_SZ_TYPE || type == REG_EXPAND_SZ_TYPE; }

bool HasControl(std::string_view s)
{
    return std::any_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::string Quote(std::string_view s)
{
    std::string out = "\"";
    for (char c : s)
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

// UTF-16LE bytes (the .reg form of text values given in hex) to UTF-8, up to the first zero.
std::string TextFromUtf16Le(const std::vector<BYTE>& data)
{
    std::u16string wide;
    for (size_t i = 0; i + 1 < data.size(); i += 2)
    {
        char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == 0)
            break;
        wide.push_back(c);
    }
    return WideToNarrow(wide);
}

std::string FormatValue(const RegistryValue& v)
{
    std::string name = v.Name.empty() ? "@" : Quote(v.Name);
    if (v.Type == REG_SZ_TYPE && !HasControl(v.Text()))
        return name + "=" + Quote(v.Text());
    if (v.Type == REG_DWORD_TYPE && v.Data.size() == 4)
    {
        char text[16];
        unsigned x = v.Data[0] | (v.Data[1] << 8) | (v.Data[2] << 16) | (unsigned(v.Data[3]) << 24);
        std::snprintf(text, sizeof text, "dword:%08x", x);
        return name + "=" + text;
    }
    if (v.Type == REG_BINARY_TYPE)
        return name + "=hex:" + HexBytes(v.Data);
    std::vector<BYTE> bytes = IsTextType(v.Type) ? Utf16LeWithZero(v.Text()) : v.Data;
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "=hex(%x):", static_cast<unsigned>(v.Type));
    return name + prefix + HexBytes(bytes);
}

void SerializeKey(const CRegistryKey& key, const std::string& path, bool isRoot, std::string& out)
{
    if (!isRoot || !key.Values().empty())
    {
        out += "[" + path + "]\n";
        // The default value first, as regedit writes it.
        for (const RegistryValue& v : key.Values())
            if (v.Name.empty())
                out += FormatValue(v) + "\n";
        for (const RegistryValue& v : key.Values())
            if (!v.Name.empty())
                out += FormatValue(v) + "\n";
        out += "\n";
    }
    for (const CRegistryKey* sub : key.Subkeys())
        SerializeKey(*sub, path + "\\" + sub->Name(), false, out);
}

// ---- reader ----

class CParser
{
public:
    CParser(std::string_view text, CRegistryHive& hive) : m_text(text), m_hive(hive) {}

    bool Run(std::string* error)
    {
        bool headerSeen = false;
        std::string line;
        while (NextLine(&line))
        {
            std::string_view l = TrimRight(line);
            if (!headerSeen)
            {
                if (TrimLeft(l).empty())
                    continue;
                if (l != kHeader5 && l != kHeader4)
                    return Fail(error, "not a registry file (expected \"" + std::string(kHeader5) + "\")");
                headerSeen = true;
                continue;
            }
            std::string_view t = TrimLeft(l);
            if (t.empty() || t[0] == ';')
                continue;
            if (t[0] == '[')
            {
                if (!Section(t, error))
                    return false;
            }
            else if (t[0] == '@' || t[0] == '"')
            {
                if (!Value(t, error))
                    return false;
            }
            else
                return Fail(error, "expected a [key] line or a value line");
        }
        if (!headerSeen && !m_sawContent)
            return true; // an empty file is an empty hive
        if (!headerSeen)
            return Fail(error, "not a registry file");
        return true;
    }

private:
    bool NextLine(std::string* line)
    {
        if (m_pos >= m_text.size())
            return false;
        size_t end = m_text.find('\n', m_pos);
        if (end == std::string_view::npos)
            end = m_text.size();
        line->assign(m_text.substr(m_pos, end - m_pos));
        if (!line->empty() && line->back() == '\r')
            line->pop_back();
        m_pos = end + 1;
        ++m_line;
        if (!TrimLeft(*line).empty())
            m_sawContent = true;
        return true;
    }

    static std::string_view TrimRight(std::string_view s)
    {
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
            s.remove_suffix(1);
        return s;
    }
    static std::string_view TrimLeft(std::string_view s)
    {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
            s.remove_prefix(1);
        return s;
    }

    bool Fail(std::string* error, const std::string& why)
    {
        if (error)
            *error = "line " + std::to_string(m_line) + ": " + why;
        return false;
    }

    bool Section(std::string_view t, std::string* error)
    {
        if (t.back() != ']')
            return Fail(error, "a [key] line must end with ']'");
        std::string_view path = t.substr(1, t.size() - 2);
        bool remove = !path.empty() && path[0] == '-';
        if (remove)
            path.remove_prefix(1);
        size_t slash = path.find('\\');
        std::string_view rootName = path.substr(0, slash);
        int root = -1;
        for (size_t i = 0; i < kRegistryRootCount; ++i)
            if (FoldRegistryName(rootName) == kRootNames[i])
                root = static_cast<int>(i);
        if (root < 0)
            return Fail(error, "unknown root key \"" + std::string(rootName) + "\"");
        std::vector<std::string> parts;
        if (slash != std::string_view::npos)
        {
            std::string_view rest = path.substr(slash + 1);
            size_t start = 0;
            while (start <= rest.size())
            {
                size_t next = rest.find('\\', start);
                if (next == std::string_view::npos)
                    next = rest.size();
                std::string_view part = rest.substr(start, next - start);
                if (part.empty())
                    return Fail(error, "empty key name in path");
                if (!IsValidRegistryKeyName(part))
                    return Fail(error, "invalid key name \"" + std::string(part) + "\"");
                parts.emplace_back(part);
                if (parts.size() > kRegistryMaxDepth)
                    return Fail(error, "key path too deep");
                start = next + 1;
            }
        }
        RegistryRoot r = static_cast<RegistryRoot>(root);
        if (remove)
        {
            if (!parts.empty())
                m_hive.Remove(r, parts);
            m_current = nullptr;
            m_afterRemoval = true;
            return true;
        }
        m_afterRemoval = false;
        m_current = parts.empty() ? &m_hive.Root(r) : m_hive.Create(r, parts, nullptr);
        return true;
    }

    // A quoted string at s[i] (s[i] == '"'); leaves i after the closing quote.
    bool QuotedString(std::string_view s, size_t& i, std::string* out, std::string* error)
    {
        ++i;
        out->clear();
        while (i < s.size())
        {
            char c = s[i++];
            if (c == '"')
                return true;
            if (c == '\\')
            {
                if (i >= s.size() || (s[i] != '\\' && s[i] != '"'))
                    return Fail(error, "bad escape in a quoted string (only \\\\ and \\\" are allowed)");
                c = s[i++];
            }
            out->push_back(c);
        }
        return Fail(error, "unterminated quoted string");
    }

    bool HexData(std::string_view s, std::vector<BYTE>* out, std::string* error)
    {
        std::string all(s);
        // A trailing backslash continues the list on the next line.
        while (!all.empty() && all.back() == '\\')
        {
            all.pop_back();
            std::string next;
            if (!NextLine(&next))
                return Fail(error, "hex list continues past the end of the file");
            all += TrimLeft(TrimRight(next));
        }
        std::string_view rest = TrimRight(all);
        size_t i = 0;
        while (i < rest.size())
        {
            if (i + 1 >= rest.size() || comrt_hex(rest[i]) < 0 || comrt_hex(rest[i + 1]) < 0)
                return Fail(error, "bad hex byte");
            out->push_back(static_cast<BYTE>(comrt_hex(rest[i]) * 16 + comrt_hex(rest[i + 1])));
            i += 2;
            if (i < rest.size())
            {
                if (rest[i] != ',')
                    return Fail(error, "hex bytes must be separated by commas");
                ++i;
                if (i == rest.size())
                    return Fail(error, "hex list ends with a comma");
            }
        }
        return true;
    }

    static int comrt_hex(char c)
    {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    }

    bool Value(std::string_view t, std::string* error)
    {
        if (m_afterRemoval)
            return Fail(error, "value line after a [-key] removal");
        if (!m_current)
            return Fail(error, "value line before any [key] line");
        std::string name;
        size_t i = 0;
        if (t[0] == '@')
            i = 1;
        else if (!QuotedString(t, i, &name, error))
            return false;
        if (HasControl(name))
            return Fail(error, "control character in a value name");
        while (i < t.size() && (t[i] == ' ' || t[i] == '\t'))
            ++i;
        if (i >= t.size() || t[i] != '=')
            return Fail(error, "expected '=' after the value name");
        ++i;
        while (i < t.size() && (t[i] == ' ' || t[i] == '\t'))
            ++i;
        std::string_view data = t.substr(i);
        if (data == "-")
        {
            m_current->DeleteValue(name);
            return true;
        }
        if (!data.empty() && data[0] == '"')
        {
            std::string text;
            size_t j = 0;
            if (!QuotedString(data, j, &text, error))
                return false;
            if (!TrimLeft(data.substr(j)).empty())
                return Fail(error, "text after the closing quote");
            m_current->SetText(name, text);
            return true;
        }
        if (data.substr(0, 6) == "dword:")
        {
            std::string_view digits = data.substr(6);
            if (digits.empty() || digits.size() > 8)
                return Fail(error, "dword needs 1 to 8 hex digits");
            uint32_t x = 0;
            for (char c : digits)
            {
                if (comrt_hex(c) < 0)
                    return Fail(error, "bad hex digit in dword");
                x = x * 16 + static_cast<uint32_t>(comrt_hex(c));
            }
            m_current->SetValue(name, REG_DWORD_TYPE,
                                {BYTE(x), BYTE(x >> 8), BYTE(x >> 16), BYTE(x >> 24)});
            return true;
        }
        DWORD type = REG_BINARY_TYPE;
        std::string_view rest;
        if (data.substr(0, 4) == "hex:")
            rest = data.substr(4);
        else if (data.substr(0, 4) == "hex(")
        {
            size_t close = data.find(')');
            if (close == std::string_view::npos || close == 4 || close > 12 ||
                close + 1 >= data.size() || data[close + 1] != ':')
                return Fail(error, "bad hex(type): prefix");
            type = 0;
            for (size_t k = 4; k < close; ++k)
            {
                if (comrt_hex(data[k]) < 0)
                    return Fail(error, "bad hex digit in hex(type)");
                type = type * 16 + static_cast<DWORD>(comrt_hex(data[k]));
            }
            rest = data.substr(close + 2);
        }
        else
            return Fail(error, "unknown value data (expected \"text\", dword:, hex: or hex(n):)");
        std::vector<BYTE> bytes;
        if (!HexData(rest, &bytes, error))
            return false;
        if (IsTextType(type))
        {
            std::string text = TextFromUtf16Le(bytes);
            m_current->SetValue(name, type, std::vector<BYTE>(text.begin(), text.end()));
        }
        else
            m_current->SetValue(name, type, std::move(bytes));
        return true;
    }

    std::string_view m_text;
    CRegistryHive& m_hive;
    size_t m_pos = 0;
    size_t m_line = 0;
    bool m_sawContent = false;
    bool m_afterRemoval = false;
    CRegistryKey* m_current = nullptr;
};
} // namespace

const char* RegistryRootName(RegistryRoot root) { return kRootNames[static_cast<size_t>(root)]; }

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
           name.find('\\') == std::string_view::npos && !HasControl(name);
}

std::vector<std::string> SplitRegistryPath(std::string_view path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size())
    {
        size_t next = path.find('\\', start);
        if (next == std::string_view::npos)
            next = path.size();
        if (next > start)
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

bool CRegistryKey::Remove(std::string_view name) { return m_subkeys.erase(FoldRegistryName(name)) > 0; }

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
    for (const RegistryValue& v : m_values)
        if (FoldRegistryName(v.Name) == folded)
            return &v;
    return nullptr;
}

void CRegistryKey::SetValue(std::string_view name, DWORD type, std::vector<BYTE> data)
{
    std::string folded = FoldRegistryName(name);
    for (RegistryValue& v : m_values)
        if (FoldRegistryName(v.Name) == folded)
        {
            v.Type = type;
            v.Data = std::move(data);
            return;
        }
    m_values.push_back(RegistryValue{std::string(name), type, std::move(data)});
}

void CRegistryKey::SetText(std::string_view name, std::string_view text)
{
    text = text.substr(0, text.find('\0')); // a text value ends at its first zero, as on Windows
    SetValue(name, REG_SZ_TYPE, std::vector<BYTE>(text.begin(), text.end()));
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

bool CRegistryHive::Parse(std::string_view text, CRegistryHive* out, std::string* error)
{
    std::string converted;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE)
    {
        if (text.size() % 2 != 0)
        {
            if (error)
                *error = "UTF-16 file with an odd number of bytes";
            return false;
        }
        std::u16string wide;
        for (size_t i = 2; i + 1 < text.size(); i += 2)
            wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[i]) |
                                                 (static_cast<unsigned char>(text[i + 1]) << 8)));
        converted = WideToNarrow(wide);
        text = converted;
    }
    else if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);

    if (size_t nul = text.find('\0'); nul != std::string_view::npos)
    {
        if (error)
            *error = "a zero byte at offset " + std::to_string(nul) + " (not a text file)";
        return false;
    }
    CRegistryHive hive;
    CParser parser(text, hive);
    if (!parser.Run(error))
        return false;
    *out = std::move(hive);
    return true;
}

std::string CRegistryHive::Serialize() const
{
    std::string out = std::string(kHeader5) + "\n\n";
    for (size_t i = 0; i < kRegistryRootCount; ++i)
        SerializeKey(*m_roots[i], kRootNames[i], true, out);
    return out;
}
