// Texts for other programs: UTF-8 cut on a character boundary and Prometheus label values.
#include "watch/cli/export_text.h"

#include <cstdio>

std::string_view CutUtf8(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    // Back over continuation bytes to the start of the character that does not fit.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::string LabelValue(std::string_view text)
{
    const std::string valid = ValidUtf8(text);
    std::string out;
    for (const char c : valid)
    {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}
