// Prints process rows as tab-separated lines for scripts.
#include "watch/cli/row_printer.h"

#include "watch/engine/host_settings.h"

std::string EscapeField(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        const auto b = static_cast<unsigned char>(c);
        // U+0080..U+009F are the C1 controls (U+009B is a CSI a terminal obeys like ESC [);
        // their two bytes are written escaped.
        if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F)
        {
            const auto next = static_cast<unsigned char>(text[++i]);
            out += "\\xc2\\x";
            out += kHex[next >> 4];
            out += kHex[next & 0xF];
        }
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\\')
            out += "\\\\";
        else if (b < 0x20 || b == 0x7F)
        {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
        else
            out += c;
    }
    return out;
}

void PrintRow(std::FILE* out, const ProcessRow& row)
{
    std::fprintf(
        out, "%s\t%s\t%d\t%s\t%s\t%s\t%s\t%s\n", EscapeField(FieldText(row.User)).c_str(),
        EscapeField(FieldText(row.PidText)).c_str(), row.Pid,
        EscapeField(FieldText(row.CpuUsage)).c_str(), EscapeField(FieldText(row.Term)).c_str(),
        EscapeField(FieldText(row.StartTime)).c_str(), EscapeField(FieldText(row.CpuTime)).c_str(),
        EscapeField(FieldText(row.Command)).c_str());
}

void PrintRows(std::FILE* out, const COwningPtrArray<ProcessRow>& rows)
{
    for (int32_t i = 0; i < rows.GetSize(); ++i)
        PrintRow(out, *rows.GetAt(i));
}
