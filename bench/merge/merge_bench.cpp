// Merge of a 10,000-process snapshot into a 10,000-row table with 5% churn, plus the grid's
// update (new and gone marks on) and sort, by "User" and by "Start Time"; the filter over
// 10,000 rows; and opening a watch log: every row read, then one merge and one view update.
#include "watch/engine/text_field.h"
#include "watch/ui/document/process_columns.h"
#include "watch/ui/document/process_table_model.h"
#include "watch/ui/document/psvigil_doc.h"
#include "watch/ui/document/psvigil_view.h"
#include "watch/ui/files/watch_log.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
ProcessRow MakeRow(int32_t pid, std::mt19937& rng)
{
    ProcessRow row;
    CopyToField(row.User, "user" + std::to_string(rng() % 50));
    CopyToField(row.PidText, std::to_string(pid));
    row.Pid = pid;
    CopyToField(row.CpuUsage, std::to_string(rng() % 100) + "." + std::to_string(rng() % 10));
    CopyToField(row.Term, "pts/" + std::to_string(rng() % 20));
    // Mostly today's times, some older dates, as ps prints them.
    const char* const older[] = {"Dec07", "Nov 30", "2025"};
    if (rng() % 5 == 0)
        CopyToField(row.StartTime, older[rng() % 3]);
    else
        CopyToField(row.StartTime,
                    std::to_string(rng() % 24) + ":" + std::to_string(10 + rng() % 50));
    CopyToField(row.CpuTime, "0:0" + std::to_string(rng() % 10));
    CopyToField(row.Command, "/usr/bin/worker --id " + std::to_string(pid));
    return row;
}

void FillSnapshot(CPsvigilDoc& doc, const std::vector<int32_t>& pids, std::mt19937& rng)
{
    CAutoLock lock(doc.Engine().GetLock());
    COwningPtrArray<ProcessRow>& snapshot = doc.Engine().GetSnapshot();
    snapshot.RemoveAll();
    for (int32_t pid : pids)
        snapshot.Add(new ProcessRow(MakeRow(pid, rng)));
}

// Arguments: rows, sort column.
void BM_MergeWithChurn(benchmark::State& state)
{
    const int rows = static_cast<int>(state.range(0));
    const int column = static_cast<int>(state.range(1));
    const int churn = rows / 20; // 5%
    std::mt19937 rng(42);
    CPsvigilDoc doc;
    CPsvigilView view(&doc);
    view.resize(900, 600);
    view.show();
    view.OnInitialUpdate();
    view.Sort(column, true);
    std::vector<int32_t> pids(static_cast<std::size_t>(rows));
    for (int i = 0; i < rows; ++i)
        pids[static_cast<std::size_t>(i)] = 1000 + i;
    int32_t nextPid = 1000 + rows;
    FillSnapshot(doc, pids, rng);
    doc.MergeSnapshot();

    for (auto _ : state)
    {
        state.PauseTiming();
        std::shuffle(pids.begin(), pids.end(), rng);
        for (int i = 0; i < churn; ++i)
            pids[static_cast<std::size_t>(i)] = nextPid++; // churn gone, churn new
        FillSnapshot(doc, pids, rng);
        state.ResumeTiming();

        doc.MergeSnapshot();
    }
    state.counters["items"] = view.model()->rowCount();
    state.SetLabel(ProcessColumns()[static_cast<std::size_t>(column)].Heading);
}
BENCHMARK(BM_MergeWithChurn)
    ->Args({10000, 0})
    ->Args({10000, ProcessColumnOf("Start Time")})
    ->Iterations(1)
    ->Repetitions(31)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// Typing into the filter field: each step filters all 10,000 rows anew.
void BM_FilterRows(benchmark::State& state)
{
    const int rows = static_cast<int>(state.range(0));
    std::mt19937 rng(11);
    CPsvigilDoc doc;
    CPsvigilView view(&doc);
    view.resize(900, 600);
    view.show();
    view.OnInitialUpdate();
    std::vector<int32_t> pids(static_cast<std::size_t>(rows));
    for (int i = 0; i < rows; ++i)
        pids[static_cast<std::size_t>(i)] = 1000 + i;
    FillSnapshot(doc, pids, rng);
    doc.MergeSnapshot();
    const QString filters[] = {"worker", "user1", "pts/1", "99"};
    std::size_t step = 0;
    for (auto _ : state)
        view.SetFilter(filters[step++ % 4]);
    state.counters["shown"] = view.model()->rowCount();
}
BENCHMARK(BM_FilterRows)
    ->Arg(10000)
    ->Iterations(1)
    ->Repetitions(31)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

void BM_OpenWatchLog(benchmark::State& state)
{
    const int rows = static_cast<int>(state.range(0));
    std::mt19937 rng(7);
    COwningPtrArray<ProcessRow> table;
    for (int i = 0; i < rows; ++i)
        table.Add(new ProcessRow(MakeRow(1000 + i, rng)));
    char path[] = "/tmp/bench_mergeXXXXXX";
    const int fd = ::mkstemp(path);
    ::close(fd);
    std::string error;
    SaveWatchLogFile(path, table, &error);

    for (auto _ : state)
    {
        state.PauseTiming();
        CPsvigilDoc doc;
        doc.SetConfigPath("/nonexistent/psvigil.cfg");
        CPsvigilView view(&doc);
        view.OnInitialUpdate();
        state.ResumeTiming();
        QString message;
        if (!doc.OpenDocument(QString::fromLatin1(path), &message))
            state.SkipWithError("open failed");
    }
    std::remove(path);
}
BENCHMARK(BM_OpenWatchLog)
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
