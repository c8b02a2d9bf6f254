// The .reg text reader: regedit's export format, version 5 or 4, UTF-8 or UTF-16LE, bounded in
// depth and name length; a fault names its line and changes nothing.
#include "platform/com/registry_hive.h"
#include "platform/com/registry_text.h"

#include "platform/com/conversion.h"
#include "platform/com/guid.h"

namespace
{
using comrt_detail::HexDigit;

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
            std::string_view trimmed = TrimRight(line);
            if (!headerSeen)
            {
                if (TrimLeft(trimmed).empty())
                    continue;
                if (trimmed != kRegistryHeader5 && trimmed != kRegistryHeader4)
                    return Fail(error, "not a registry file (expected \"" +
                                           std::string(kRegistryHeader5) + "\")");
                headerSeen = true;
                continue;
            }
            std::string_view content = TrimLeft(trimmed);
            if (content.empty() || content[0] == ';')
                continue;
            if (content[0] == '[')
            {
                if (!Section(content, error))
                    return false;
            }
            else if (content[0] == '@' || content[0] == '"')
            {
                if (!Value(content, error))
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

    bool Section(std::string_view line, std::string* error)
    {
        if (line.back() != ']')
            return Fail(error, "a [key] line must end with ']'");
        std::string_view path = line.substr(1, line.size() - 2);
        bool remove = !path.empty() && path[0] == '-';
        if (remove)
            path.remove_prefix(1);
        size_t slash = path.find('\\');
        std::string_view rootName = path.substr(0, slash);
        int root = -1;
        for (size_t i = 0; i < kRegistryRootCount; ++i)
            if (FoldRegistryName(rootName) == RegistryRootName(static_cast<RegistryRoot>(i)))
                root = static_cast<int>(i);
        if (root < 0)
            return Fail(error, "unknown root key \"" + std::string(rootName) + "\"");
        std::vector<std::string> parts;
        if (slash != std::string_view::npos)
        {
            // Unlike a path given to the API, a file's path has no empty component.
            parts = SplitRegistryPath(path.substr(slash + 1), true);
            for (size_t i = 0; i < parts.size(); ++i)
            {
                if (parts[i].empty())
                    return Fail(error, "empty key name in path");
                if (!IsValidRegistryKeyName(parts[i]))
                    return Fail(error, "invalid key name \"" + parts[i] + "\"");
                if (i + 1 > kRegistryMaxDepth)
                    return Fail(error, "key path too deep");
            }
        }
        RegistryRoot registryRoot = static_cast<RegistryRoot>(root);
        if (remove)
        {
            if (!parts.empty())
                m_hive.Remove(registryRoot, parts);
            m_current = nullptr;
            m_afterRemoval = true;
            return true;
        }
        m_afterRemoval = false;
        m_current = parts.empty() ? &m_hive.Root(registryRoot)
                                  : m_hive.Create(registryRoot, parts, nullptr);
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
                    return Fail(error,
                                "bad escape in a quoted string (only \\\\ and \\\" are allowed)");
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
            if (i + 1 >= rest.size() || HexDigit(rest[i]) < 0 || HexDigit(rest[i + 1]) < 0)
                return Fail(error, "bad hex byte");
            out->push_back(static_cast<BYTE>(HexDigit(rest[i]) * 16 + HexDigit(rest[i + 1])));
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

    bool Value(std::string_view line, std::string* error)
    {
        if (m_afterRemoval)
            return Fail(error, "value line after a [-key] removal");
        if (!m_current)
            return Fail(error, "value line before any [key] line");
        std::string name;
        size_t i = 0;
        if (line[0] == '@')
            i = 1;
        else if (!QuotedString(line, i, &name, error))
            return false;
        if (HasRegistryControl(name))
            return Fail(error, "control character in a value name");
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size() || line[i] != '=')
            return Fail(error, "expected '=' after the value name");
        ++i;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::string_view data = line.substr(i);
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
            uint32_t number = 0;
            for (char c : digits)
            {
                if (HexDigit(c) < 0)
                    return Fail(error, "bad hex digit in dword");
                number = number * 16 + static_cast<uint32_t>(HexDigit(c));
            }
            m_current->SetValue(
                name, REG_DWORD,
                {BYTE(number), BYTE(number >> 8), BYTE(number >> 16), BYTE(number >> 24)});
            return true;
        }
        DWORD type = REG_BINARY;
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
                if (HexDigit(data[k]) < 0)
                    return Fail(error, "bad hex digit in hex(type)");
                type = type * 16 + static_cast<DWORD>(HexDigit(data[k]));
            }
            rest = data.substr(close + 2);
        }
        else
            return Fail(error, "unknown value data (expected \"text\", dword:, hex: or hex(n):)");
        std::vector<BYTE> bytes;
        if (!HexData(rest, &bytes, error))
            return false;
        if (IsRegistryTextType(type))
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
