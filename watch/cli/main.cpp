// psvigil-cli: the command-line companion of psvigil.
#include "watch/cli/cli_commands.h"
#include "watch/cli/multi_commands.h"

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <map>

namespace
{
void PrintUsage(std::FILE* out)
{
    std::fprintf(
        out, "usage: psvigil-cli COMMAND [ARGS]\n"
             "  parse [--flavour F] [--filter 0|1|2] rows of a raw ps reply read from stdin\n"
             "  once HOST [options]               one refresh, then the table (HOST local: this "
             "computer)\n"
             "  watch HOST [options]              refresh on the countdown until Ctrl+C\n"
             "  once|watch --all [--hosts F] [--jobs N] [--format tsv|csv|json]\n"
             "                                    every host of a psvigil.cfg at once, the\n"
             "                                    host first (--jobs: logins at a time)\n"
             "  serve [--listen 127.0.0.1:9256] [--hosts F] [--jobs N]\n"
             "                                    the hosts' latest refreshes at /metrics\n"
             "  hosts [FILE]                      the host list of a psvigil.cfg\n"
             "  log FILE.pvg                      where and when a watch log was taken, and its\n"
             "                                    rows\n"
             "  signal HOST PID... [--signal NAME | --renice N]   act on processes\n"
             "options of watch: --alerts FILE (alert rules; a line per alert) --exec CMD\n"
             "  (run by /bin/sh per alert, the details in PSVIGIL_ALERT_* variables)\n"
             "options of once and watch: --port N --user U --password-file F (or the\n"
             "  environment variable PSVIGIL_PASSWORD) --flavour bsd|sysv|posix (--sysv)\n"
             "  --filter-user --filter EXPR\n"
             "  --refresh SECONDS (watch) --close (close the connection between refreshes)\n"
             "  --trace FILE (append what Lanvex sends and receives, - for standard error)\n"
             "parse, once, watch and log: --format tsv|csv|json (tsv by default; json is one\n"
             "  object per table, and one line per refresh for watch)\n"
             "  --help, --version\n");
}

int Usage()
{
    PrintUsage(stderr);
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
    {
        PrintUsage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0)
    {
        std::printf("psvigil-cli %s\n", VIGIL_VERSION);
        return 0;
    }
    const CliArgs args(argv + 2, argv + argc);
    const bool all = std::find(args.begin(), args.end(), "--all") != args.end();
    const std::map<std::string, int (*)(const CliArgs&)> commands = {
        {"parse", RunParseCommand},
        {"once", all ? RunOnceAllCommand : RunOnceCommand},
        {"watch", all ? RunWatchAllCommand : RunWatchCommand},
        {"serve", RunServeCommand},
        {"hosts", RunHostsCommand},
        {"log", RunLogCommand},
        {"signal", RunSignalCommand}};
    const auto found = commands.find(argv[1]);
    if (found == commands.end())
        return Usage();
    return found->second(args);
}
