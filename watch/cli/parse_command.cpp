// psvigil-cli parse: reads a raw ps reply from standard input and prints its rows.
#include "watch/cli/cli_commands.h"
#include "watch/cli/output_format.h"
#include "watch/cli/row_printer.h"
#include "watch/engine/host_settings.h"
#include "watch/engine/ps_parser.h"

#include <climits>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

int RunParseCommand(const CliArgs& args)
{
    int32_t flavour = kFlavourBsd;
    int32_t filterMode = kFilterShowAll;
    OutputFormat format = OutputFormat::Tsv;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        if (args[i] == "--sysv")
            flavour = kFlavourSysV;
        else if (args[i] == "--flavour" && i + 1 < args.size() &&
                 ParseFlavourName(args[i + 1], flavour))
            ++i;
        else if (args[i] == "--format" && i + 1 < args.size() &&
                 ParseOutputFormat(args[i + 1], format))
            ++i;
        else if (args[i] == "--filter" && i + 1 < args.size() &&
                 (args[i + 1] == "0" || args[i + 1] == "1" || args[i + 1] == "2"))
            filterMode = args[++i][0] - '0';
        else
        {
            std::fprintf(stderr, "usage: psvigil-cli parse [--sysv | --flavour bsd|sysv|posix] "
                                 "[--filter 0|1|2] [--format tsv|csv|json] < reply\n");
            return 2;
        }
    }

    std::string reply((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    if (reply.size() > static_cast<std::size_t>(INT32_MAX))
    {
        std::fprintf(stderr, "psvigil-cli: the reply is too large\n");
        return 1;
    }
    COwningPtrArray<ProcessRow> rows;
    ParsePsReply(rows, reply.data(), static_cast<int32_t>(reply.size()), flavour, filterMode);
    PrintTable(stdout, rows, format, nullptr);
    return 0;
}
