// Parsing 10,000-process replies of both flavours (about 1.5 MB each).
#include "watch/engine/ps_parser.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace
{
std::string MakeReply(bool sysv, int processes)
{
    std::string text = sysv ? "ps -ef \r\n     UID   PID  PPID  C    STIME TTY      TIME CMD\r\n"
                            : "ps auxw \r\nUSER       PID %CPU %MEM    VSZ   RSS TT       STAT "
                              "STARTED      TIME COMMAND\r\n";
    char line[512];
    for (int pid = 1; pid <= processes; ++pid)
    {
        if (sysv)
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

void ParseReply(benchmark::State& state, bool sysv)
{
    const std::string reply = MakeReply(sysv, 10000);
    std::string buffer = reply;
    COwningPtrArray<ProcessRow> rows;
    for (auto _ : state)
    {
        state.PauseTiming();
        std::memcpy(buffer.data(), reply.data(), reply.size()); // the parser splits in place
        state.ResumeTiming();
        ParsePsReply(rows, buffer.data(), static_cast<int32_t>(buffer.size()),
                     sysv ? kFlavourSysV : kFlavourBsd, kFilterShowAll);
        benchmark::DoNotOptimize(rows.GetAt(0));
    }
    state.counters["rows"] = rows.GetSize();
    state.counters["bytes"] = static_cast<double>(reply.size());
}
} // namespace

BENCHMARK_CAPTURE(ParseReply, Bsd10000, false)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(ParseReply, SysV10000, true)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
