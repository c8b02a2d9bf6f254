// Opening a 10,000-row version-2 watch log with every field filled: the file read from disk
// and each row decoded into the snapshot list, as the document does before its merge.
#include "watch/engine/text_field.h"
#include "watch/ui/files/watch_log.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace
{
std::string WriteLog(int rows)
{
    COwningPtrArray<ProcessRow> table;
    for (int32_t pid = 1; pid <= rows; ++pid)
    {
        auto* row = new ProcessRow;
        CopyToField(row->User, "user" + std::to_string(pid % 50));
        CopyToField(row->PidText, std::to_string(pid));
        row->Pid = pid;
        CopyToField(row->CpuUsage, std::to_string(pid % 100) + ".3");
        CopyToField(row->Term, "pts/" + std::to_string(pid % 20));
        CopyToField(row->StartTime, "Dec08");
        CopyToField(row->CpuTime, "00:01:23");
        CopyToField(row->Command, "/usr/lib/some/service/binary-" + std::to_string(pid) +
                                      " --config /etc/service/" + std::to_string(pid) +
                                      ".conf --verbose --log /var/log/svc.log");
        CopyToField(row->MemUsage, "1.2");
        CopyToField(row->Vsz, std::to_string(100000 + pid));
        CopyToField(row->Rss, std::to_string(20000 + pid));
        CopyToField(row->ProcessState, "Ssl");
        CopyToField(row->PpidText, std::to_string(pid / 2));
        row->Ppid = pid / 2;
        table.Add(row);
    }
    WatchLogHeader header;
    header.Address = "db.example.net";
    header.Port = 22;
    header.Transport = kTransportSsh;
    header.Flavour = 2;
    header.RefreshTime = 1796779425;
    const std::string path = "/tmp/bench_watch_log_" + std::to_string(getpid()) + ".pvg";
    std::string error;
    SaveWatchLogFile(path, table, header, &error);
    return path;
}

void OpenVersion2Log(benchmark::State& state)
{
    const std::string path = WriteLog(10000);
    COwningPtrArray<ProcessRow> snapshot;
    for (auto _ : state)
    {
        snapshot.RemoveAll();
        WatchLogHeader header;
        std::string error;
        const bool ok = LoadWatchLogFile(
            path, [&](std::unique_ptr<ProcessRow> row) { snapshot.Add(row.release()); }, &error,
            &header);
        benchmark::DoNotOptimize(ok);
    }
    state.counters["rows"] = snapshot.GetSize();
    std::remove(path.c_str());
}
} // namespace

BENCHMARK(OpenVersion2Log)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
