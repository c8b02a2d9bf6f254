// Narrow texts through wide interfaces byte for byte: what the client's 8-bit text held is what
// the component sends, valid UTF-8 or not.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lanvex
{

// Valid UTF-8 becomes its UTF-16 form; every byte that does not start a valid sequence becomes
// the lone low surrogate U+DC00 + byte, which no valid text holds, so WideToWireText gives the
// byte back.
inline std::u16string WireTextToWide(std::string_view text)
{
    std::u16string wide;
    wide.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
    {
        const auto lead = static_cast<uint8_t>(text[i]);
        std::size_t length = 0;
        uint32_t code = 0;
        uint32_t least = 0;
        if (lead < 0x80)
            length = 1, code = lead;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = 2, code = lead & 0x1Fu, least = 0x80;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3, code = lead & 0x0Fu, least = 0x800;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4, code = lead & 0x07u, least = 0x10000;
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k)
        {
            const auto next = static_cast<uint8_t>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3Fu);
        }
        valid = valid && code >= least && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid)
        {
            wide.push_back(static_cast<char16_t>(0xDC00 + lead));
            ++i;
            continue;
        }
        if (code >= 0x10000)
        {
            wide.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        }
        else
            wide.push_back(static_cast<char16_t>(code));
        i += length;
    }
    return wide;
}

// The inverse: a lone U+DC80..U+DCFF is the byte it stands for; any other lone surrogate is
// U+FFFD; everything else is UTF-8.
inline std::string WideToWireText(std::u16string_view wide)
{
    std::string text;
    text.reserve(wide.size());
    auto put = [&text](uint32_t code)
    {
        if (code < 0x80)
            text.push_back(static_cast<char>(code));
        else if (code < 0x800)
        {
            text.push_back(static_cast<char>(0xC0 | (code >> 6)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
        else if (code < 0x10000)
        {
            text.push_back(static_cast<char>(0xE0 | (code >> 12)));
            text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
        else
        {
            text.push_back(static_cast<char>(0xF0 | (code >> 18)));
            text.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    };
    for (std::size_t i = 0; i < wide.size(); ++i)
    {
        const char16_t unit = wide[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF)
        {
            put(0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
            ++i;
        }
        else if (unit >= 0xDC80 && unit <= 0xDCFF)
            text.push_back(static_cast<char>(unit - 0xDC00));
        else if (unit >= 0xD800 && unit <= 0xDFFF)
            put(0xFFFD);
        else
            put(unit);
    }
    return text;
}

} // namespace lanvex
