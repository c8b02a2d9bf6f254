// psvigil-cli hosts and log: read-only views of psvigil.cfg and of watch logs.
#include "watch/cli/cli_commands.h"
#include "watch/cli/cli_files.h"
#include "watch/cli/output_format.h"
#include "watch/cli/row_printer.h"
#include "watch/ui/files/config_file.h"
#include "watch/ui/files/watch_log.h"

#include <cstdio>
#include <memory>

namespace
{
// No option is known here; a file named like one is given as ./-name.
bool IsOption(const std::string& arg)
{
    return arg.size() > 1 && arg[0] == '-';
}
} // namespace

int RunHostsCommand(const CliArgs& args)
{
    if (args.size() > 1 || (!args.empty() && IsOption(args[0])))
    {
        std::fprintf(stderr, "usage: psvigil-cli hosts [FILE]\n");
        return 2;
    }
    const std::string path = args.empty() ? kConfigFileName : args[0];
    std::string bytes, error;
    if (!ReadBoundedFile(path, kHostListFileCap, false, bytes, error))
    {
        std::fprintf(stderr, "psvigil-cli: cannot read %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    // The list psvigil would load from the same bytes; what is odd about them is only told.
    COwningPtrArray<HostSettings> hosts;
    const HostListReadReport report = ParseHostList(bytes, hosts);
    if (report.CountRead && report.StoredCount < 0)
        std::fprintf(stderr, "psvigil-cli: warning: %s holds a negative host count (%d)\n",
                     path.c_str(), report.StoredCount);
    else if (report.Truncated || (!report.CountRead && !bytes.empty()))
        std::fprintf(stderr,
                     "psvigil-cli: warning: %s is short: it promises %d host records but holds "
                     "%d in full; the rest read as defaults%s\n",
                     path.c_str(), report.StoredCount, report.CompleteRecords,
                     report.CountBounded ? " (only some of them)" : "");
    // Never the password.
    for (int32_t i = 0; i < hosts.GetSize(); ++i)
    {
        const HostSettings& h = *hosts.GetAt(i);
        std::printf("%s\t%d\t%s\t%d\t%d\t%d\t%d\t%d\t%s\n",
                    EscapeField(FieldText(h.Address)).c_str(), h.Port,
                    EscapeField(FieldText(h.Username)).c_str(), h.RefreshSeconds, h.ManualRefresh,
                    h.KeepConnectionOpen, h.Flavour, h.FilterMode,
                    EscapeField(FieldText(h.FilterExpression)).c_str());
    }
    return 0;
}

int RunLogCommand(const CliArgs& args)
{
    OutputFormat format = OutputFormat::Tsv;
    std::string path;
    bool usable = true;
    for (std::size_t i = 0; usable && i < args.size(); ++i)
    {
        if (args[i] == "--format" && i + 1 < args.size() && ParseOutputFormat(args[i + 1], format))
            ++i;
        else if (path.empty() && args[i].rfind("--", 0) != 0)
            path = args[i];
        else
            usable = false;
    }
    if (!usable || path.empty())
    {
        std::fprintf(stderr, "usage: psvigil-cli log FILE.pvg [--format tsv|csv|json]\n");
        return 2;
    }
    std::string bytes, error;
    if (!ReadBoundedFile(path, kWatchLogFileCap, false, bytes, error))
    {
        std::fprintf(stderr, "psvigil-cli: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    COwningPtrArray<ProcessRow> rows;
    WatchLogHeader header;
    if (ReadWatchLog(
            bytes, [&](std::unique_ptr<ProcessRow> row) { rows.Add(row.release()); }, &header) !=
        ArchiveStatus::Ok)
    {
        std::fprintf(stderr, "psvigil-cli: %s: %s\n", path.c_str(), kUnexpectedFileFormat);
        return 1;
    }
    // A classic log records no host or time; its rows print as they always did. CSV has no
    // place for the header, so it goes to standard error there.
    if (header.Version >= 2 && format != OutputFormat::Json)
        std::fputs(LogHeaderLine(header).c_str(), format == OutputFormat::Tsv ? stdout : stderr);
    PrintTable(stdout, rows, format, &header);
    return 0;
}
