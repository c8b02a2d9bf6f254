// Texts of a process table for other programs: RFC 4180 CSV and JSON, both UTF-8.
#include "watch/ui/files/table_text.h"

#include "watch/engine/host_settings.h"

#include "platform/com/conversion.h"

#include <ctime>

namespace
{
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// As JSON writes a number: an optional minus, no leading zero, an optional fraction.
bool IsJsonNumber(std::string_view text)
{
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-')
        ++i;
    const std::size_t intStart = i;
    while (i < text.size() && IsDigit(text[i]))
        ++i;
    const std::size_t intDigits = i - intStart;
    if (intDigits == 0 || (intDigits > 1 && text[intStart] == '0'))
        return false;
    if (i < text.size() && text[i] == '.')
    {
        const std::size_t fracStart = ++i;
        while (i < text.size() && IsDigit(text[i]))
            ++i;
        if (i == fracStart)
            return false;
    }
    return i == text.size();
}

bool IsAscii(std::string_view text)
{
    for (char c : text)
    {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}
} // namespace

const char* ProcessFieldKey(ProcessField field)
{
    static constexpr const char* kKeys[] = {"user", "pid",  "ppid", "cpu",   "mem",  "vsz",
                                            "rss",  "stat", "tty",  "start", "time", "command"};
    return kKeys[static_cast<int>(field)];
}

std::string_view ProcessFieldText(const ProcessRow& row, ProcessField field)
{
    switch (field)
    {
    case ProcessField::User:
        return FieldText(row.User);
    case ProcessField::Pid:
        return FieldText(row.PidText);
    case ProcessField::Ppid:
        return FieldText(row.PpidText);
    case ProcessField::CpuUsage:
        return FieldText(row.CpuUsage);
    case ProcessField::MemUsage:
        return FieldText(row.MemUsage);
    case ProcessField::Vsz:
        return FieldText(row.Vsz);
    case ProcessField::Rss:
        return FieldText(row.Rss);
    case ProcessField::State:
        return FieldText(row.ProcessState);
    case ProcessField::Term:
        return FieldText(row.Term);
    case ProcessField::StartTime:
        return FieldText(row.StartTime);
    case ProcessField::CpuTime:
        return FieldText(row.CpuTime);
    case ProcessField::Command:
        return FieldText(row.Command);
    }
    return {};
}

bool IsNumericField(ProcessField field)
{
    return field == ProcessField::Pid || field == ProcessField::Ppid ||
           field == ProcessField::CpuUsage || field == ProcessField::MemUsage ||
           field == ProcessField::Vsz || field == ProcessField::Rss;
}

std::string ValidUtf8(std::string_view text)
{
    if (IsAscii(text))
        return std::string(text);
    // The round trip through UTF-16 replaces each malformed sequence by U+FFFD.
    return WideToNarrow(std::u16string_view(NarrowToWide(text)));
}

std::string CsvField(std::string_view text)
{
    std::string valid = ValidUtf8(text);
    if (valid.find_first_of(",\"\r\n") == std::string::npos)
        return valid;
    std::string out = "\"";
    for (char c : valid)
    {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

std::string CsvRecord(const std::vector<std::string>& fields)
{
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i)
    {
        if (i > 0)
            out += ',';
        out += CsvField(fields[i]);
    }
    return out + "\r\n";
}

std::string JsonString(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const std::string valid = ValidUtf8(text);
    std::string out = "\"";
    out.reserve(valid.size() + 2);
    for (std::size_t i = 0; i < valid.size(); ++i)
    {
        const auto b = static_cast<unsigned char>(valid[i]);
        if (b == '"' || b == '\\')
        {
            out += '\\';
            out += static_cast<char>(b);
        }
        else if (b < 0x20 || b == 0x7F)
        {
            out += "\\u00";
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
        else if (b == 0xC2 && i + 1 < valid.size() &&
                 static_cast<unsigned char>(valid[i + 1]) <= 0x9F)
        {
            // A C1 control (U+0080..U+009F) is obeyed by terminals too.
            const auto next = static_cast<unsigned char>(valid[++i]);
            out += "\\u00";
            out += kHex[next >> 4];
            out += kHex[next & 0xF];
        }
        else
            out += static_cast<char>(b);
    }
    return out + '"';
}

std::string JsonValue(std::string_view text, bool numeric)
{
    if (text.empty())
        return "null";
    if (numeric && IsJsonNumber(text))
        return std::string(text);
    return JsonString(text);
}

std::string IsoUtcTime(int64_t secondsSince1970)
{
    const std::time_t t = static_cast<std::time_t>(secondsSince1970);
    std::tm utc{};
    char text[32] = "";
    if (gmtime_r(&t, &utc) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
        return {};
    return text;
}

std::string ProcessJsonObject(const ProcessRow& row)
{
    std::string out = "{";
    for (ProcessField field : kAllProcessFields)
    {
        if (out.size() > 1)
            out += ',';
        out += '"';
        out += ProcessFieldKey(field);
        out += "\":";
        out += JsonValue(ProcessFieldText(row, field), IsNumericField(field));
    }
    return out + '}';
}

std::string ProcessCsvHeader()
{
    std::vector<std::string> keys;
    for (ProcessField field : kAllProcessFields)
        keys.emplace_back(ProcessFieldKey(field));
    return CsvRecord(keys);
}

std::string ProcessCsvRecord(const ProcessRow& row)
{
    std::vector<std::string> values;
    for (ProcessField field : kAllProcessFields)
        values.emplace_back(ProcessFieldText(row, field));
    return CsvRecord(values);
}
