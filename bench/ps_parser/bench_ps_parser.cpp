// Parsing 10,000-process replies of each flavour (about 1.5 MB each), every field kept.
#include "watch/engine/ps_parser.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace
{
std::string MakeReply(int32_t flavour, int processes)
{
    const bool sysv = flavour == kFlavourSysV;
    std::string text = sysv ? "ps -ef \r\n     UID   PID  PPID  C    STIME TTY      TIME CMD\r\n"
                            : "ps auxw \r\nUSER       PID %CPU %MEM    VSZ   RSS TT       STAT "
                              "STARTED      TIME COMMAND\r\n";
    if (flavour == kFlavourPosix)
        text = std::string(kPosixPsCommand) +
               "\r\nUSER         PID    PPID %CPU %MEM    VSZ   RSS STAT TT       STIME     "
               "TIME COMMAND\r\n";
    char line[512];
    for (int pid = 1; pid <= processes; ++pid)
    {
        if (flavour == kFlavourPosix)
            std::snprintf(line, sizeof line,
                          "daemon   %8d %7d  0.3  1.2 123456 45678 Ssl  ?        Dec08 00:00:12 "
                          "/usr/lib/some/service/binary-%d --config /etc/service/%d.conf "
                          "--verbose --log /var/log/svc.log\r\n",
                          pid, pid / 2, pid % 97, pid);
        else if (sysv)
            std::snprintf(line, sizeof line,
                          "  daemon %5d     1  0 10:02:33 ?        0:01 /usr/lib/some/service/"
                          "binary-%d --config /etc/service/%d.conf --verbose --log "
                          "/var/log/svc%d.log --workers 16\r\n",
                          pid, pid % 97, pid, pid % 13);
        else
            std::snprintf(line, sizeof line,
                          "daemon   %6d  0.3  1.2 123456 45678 ?        Ss   10:02AM   0:12.34 "
                          "/usr/lib/some/service/binary-%d --config /etc/service/%d.conf "
                          "--verbose --log /var/log/svc.log\r\n",
                          pid, pid % 97, pid);
        text += line;
    }
    return text + "user@host:~$ ";
}

void ParseReply(benchmark::State& state, int32_t flavour)
{
    const std::string reply = MakeReply(flavour, 10000);
    std::string buffer = reply;
    COwningPtrArray<ProcessRow> rows;
    for (auto _ : state)
    {
        state.PauseTiming();
        std::memcpy(buffer.data(), reply.data(), reply.size()); // the parser splits in place
        state.ResumeTiming();
        ParsePsReply(rows, buffer.data(), static_cast<int32_t>(buffer.size()), flavour,
                     kFilterShowAll);
        benchmark::DoNotOptimize(rows.GetAt(0));
    }
    state.counters["rows"] = rows.GetSize();
    state.counters["bytes"] = static_cast<double>(reply.size());
}
} // namespace

BENCHMARK_CAPTURE(ParseReply, Bsd10000, kFlavourBsd)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(ParseReply, SysV10000, kFlavourSysV)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(ParseReply, Posix10000, kFlavourPosix)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
