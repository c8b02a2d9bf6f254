// The forms psvigil-cli writes tables in: tsv (the default), RFC 4180 CSV, and JSON.
#include "watch/cli/output_format.h"

#include "watch/cli/row_printer.h"
#include "watch/engine/host_settings.h"
#include "watch/ui/files/table_text.h"

namespace
{
// "host":...,"port":...,"transport":...,"flavour":...,"time":...
std::string SourceMembers(const WatchLogHeader* source)
{
    if (source == nullptr || source->Version < 2)
        return "\"host\":null,\"port\":null,\"transport\":null,\"flavour\":null,\"time\":null";
    return "\"host\":" + JsonString(source->Address) + ",\"port\":" + std::to_string(source->Port) +
           ",\"transport\":" + JsonString(TransportName(source->Transport)) +
           ",\"flavour\":" + JsonString(FlavourLabel(source->Flavour)) + ",\"time\":" +
           (source->RefreshTime > 0 ? JsonString(IsoUtcTime(source->RefreshTime)) : "null");
}

std::string JsonArray(const RefreshChanges& changes, char mark)
{
    std::string out = "[";
    for (const MarkedRow& marked : changes)
    {
        if (marked.Mark != mark)
            continue;
        if (out.size() > 1)
            out += ',';
        out += ProcessJsonObject(marked.Row);
    }
    return out + ']';
}
} // namespace

bool ParseOutputFormat(std::string_view name, OutputFormat& format)
{
    if (name == "tsv")
        format = OutputFormat::Tsv;
    else if (name == "csv")
        format = OutputFormat::Csv;
    else if (name == "json")
        format = OutputFormat::Json;
    else
        return false;
    return true;
}

bool ParseFlavourName(std::string_view name, int32_t& flavour)
{
    if (name == "bsd")
        flavour = kFlavourBsd;
    else if (name == "sysv")
        flavour = kFlavourSysV;
    else if (name == "posix")
        flavour = kFlavourPosix;
    else
        return false;
    return true;
}

void PrintTable(std::FILE* out, const COwningPtrArray<ProcessRow>& rows, OutputFormat format,
                const WatchLogHeader* source)
{
    if (format == OutputFormat::Tsv)
    {
        PrintRows(out, rows);
        return;
    }
    if (format == OutputFormat::Csv)
    {
        std::fputs(ProcessCsvHeader().c_str(), out);
        for (int32_t i = 0; i < rows.GetSize(); ++i)
            std::fputs(ProcessCsvRecord(*rows.GetAt(i)).c_str(), out);
        return;
    }
    std::fprintf(out, "{%s,\"processes\":[", SourceMembers(source).c_str());
    for (int32_t i = 0; i < rows.GetSize(); ++i)
        std::fprintf(out, "%s%s", i ? ",\n" : "\n", ProcessJsonObject(*rows.GetAt(i)).c_str());
    std::fputs("]}\n", out);
}

std::string LogHeaderLine(const WatchLogHeader& header)
{
    return "# host " + EscapeField(header.Address) + ", port " + std::to_string(header.Port) +
           ", " + TransportName(header.Transport) + ", flavour " + FlavourLabel(header.Flavour) +
           ", refreshed " +
           (header.RefreshTime > 0 ? IsoUtcTime(header.RefreshTime)
                                   : std::string("at no known time")) +
           "\n";
}

void PrintRefreshChanges(std::FILE* out, OutputFormat format, const WatchLogHeader& source,
                         const RefreshChanges& changes, bool first)
{
    if (format == OutputFormat::Json)
    {
        std::size_t count = 0;
        for (const MarkedRow& marked : changes)
            count += marked.Mark != '-';
        std::fprintf(out, "{%s,\"count\":%zu,\"appeared\":%s,\"gone\":%s}\n",
                     SourceMembers(&source).c_str(), count, JsonArray(changes, '+').c_str(),
                     JsonArray(changes, '-').c_str());
        return;
    }
    if (format == OutputFormat::Csv && first)
        std::fprintf(out, "change,%s", ProcessCsvHeader().c_str());
    for (const MarkedRow& marked : changes)
    {
        if (format == OutputFormat::Csv)
            std::fprintf(out, "%c,%s", marked.Mark, ProcessCsvRecord(marked.Row).c_str());
        else
        {
            std::fprintf(out, "%c\t", marked.Mark);
            PrintRow(out, marked.Row);
        }
    }
}
