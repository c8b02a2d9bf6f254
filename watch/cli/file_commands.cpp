// psvigil-cli hosts and log: read-only views of psvigil.cfg and of watch logs.
#include "watch/cli/cli_commands.h"
#include "watch/cli/row_printer.h"
#include "watch/ui/config_file.h"
#include "watch/ui/watch_log.h"

#include <cstdio>
#include <fstream>

int RunHostsCommand(const CliArgs& args)
{
    if (args.size() > 1)
    {
        std::fprintf(stderr, "usage: psvigil-cli hosts [FILE]\n");
        return 2;
    }
    const std::string path = args.empty() ? kConfigFileName : args[0];
    COwningPtrArray<HostSettings> hosts;
    const HostListReadReport report = ReadHostListFile(path, hosts);
    if (!report.Opened)
    {
        std::fprintf(stderr, "psvigil-cli: cannot open %s\n", path.c_str());
        return 1;
    }
    std::ifstream probe(path, std::ios::binary | std::ios::ate);
    const bool empty = probe && probe.tellg() == 0;
    if ((!report.CountRead && !empty) || report.StoredCount < 0 || report.Truncated)
    {
        std::fprintf(stderr,
                     "psvigil-cli: %s is damaged: it promises %d host records but holds %d\n",
                     path.c_str(), report.StoredCount, report.CompleteRecords);
        return 1;
    }
    // Never the password.
    for (int32_t i = 0; i < hosts.GetSize(); ++i)
    {
        const HostSettings& h = *hosts.GetAt(i);
        std::printf("%.*s\t%d\t%.*s\t%d\t%d\t%d\t%d\t%d\t%.*s\n",
                    static_cast<int>(FieldText(h.Address).size()), h.Address, h.Port,
                    static_cast<int>(FieldText(h.Username).size()), h.Username, h.RefreshSeconds,
                    h.ManualRefresh, h.KeepConnectionOpen, h.Flavour, h.FilterMode,
                    static_cast<int>(FieldText(h.FilterExpression).size()), h.FilterExpression);
    }
    return 0;
}

int RunLogCommand(const CliArgs& args)
{
    if (args.size() != 1)
    {
        std::fprintf(stderr, "usage: psvigil-cli log FILE.pvg\n");
        return 2;
    }
    COwningPtrArray<ProcessRow> rows;
    std::string error;
    if (!LoadWatchLogFile(args[0], [&](std::unique_ptr<ProcessRow> row) { rows.Add(row.release()); },
                          &error))
    {
        std::fprintf(stderr, "psvigil-cli: %s: %s\n", args[0].c_str(), error.c_str());
        return 1;
    }
    PrintRows(stdout, rows);
    return 0;
}
