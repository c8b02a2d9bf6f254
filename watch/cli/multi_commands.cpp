// psvigil-cli once --all and watch --all: every host of a list at once, as tsv, CSV or JSON
// lines, the host first.
#include "watch/cli/multi_commands.h"

#include "watch/cli/cli_commands.h"
#include "watch/cli/cli_files.h"
#include "watch/cli/export_text.h"
#include "watch/cli/host_pool.h"
#include "watch/cli/output_format.h"
#include "watch/cli/row_printer.h"
#include "watch/engine/status_text.h"
#include "watch/ui/files/config_file.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>

namespace
{
std::atomic<bool> g_stopRequested{false};

extern "C" void OnStopSignal(int)
{
    g_stopRequested.store(true);
}

int MultiUsage(const char* command)
{
    std::fprintf(stderr,
                 "usage: psvigil-cli %s --all [--hosts psvigil.cfg] [--jobs N] "
                 "[--format tsv|csv|json]\n",
                 command);
    return 2;
}

bool TakeNumber(const std::string& text, int low, int high, int& out)
{
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high)
        return false;
    out = static_cast<int>(value);
    return true;
}

// An ISO 8601 UTC time for JSON, to the millisecond.
std::string UtcTime(double seconds)
{
    const std::time_t whole = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    const int millis = static_cast<int>((seconds - static_cast<double>(whole)) * 1000);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", std::clamp(millis, 0, 999));
    return text;
}

// The process objects of the single-host commands' JSON.
std::string RowsJson(const std::vector<const ProcessRow*>& rows)
{
    std::string out = "[";
    for (std::size_t i = 0; i < rows.size(); ++i)
        out += (i ? "," : "") + ProcessJsonObject(*rows[i]);
    return out + "]";
}

// The status text the single-host commands print, with the reason and the back-off.
std::string StatusText(const HostResult& result)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::string text = RefreshResultText(result.Result, local);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (result.Result != kRefreshOk)
    {
        if (!result.Failure.empty())
            text += ": " + result.Failure;
        if (result.RetrySeconds > 0)
            text += "; next try in " + std::to_string(result.RetrySeconds) + " s";
    }
    return text;
}

using RowMap = std::map<int32_t, ProcessRow>;

// Prints one finished refresh: the changes against what was shown (every row the first
// time), or, in once mode, the table.
void PrintEvent(const CHostPool& pool, const HostEvent& event, OutputFormat format, bool once,
                std::map<std::size_t, RowMap>& shownByHost)
{
    const std::string& name = pool.Name(event.Index);
    const HostResult& result = event.Result;
    RowMap fresh;
    for (const ProcessRow& row : result.Rows)
        fresh.try_emplace(row.Pid, row);
    RowMap& shown = shownByHost[event.Index];
    std::vector<const ProcessRow*> appeared, updated, gone;
    if (result.Result == kRefreshOk)
    {
        for (const auto& [pid, row] : fresh)
            (shown.count(pid) && !once ? updated : appeared).push_back(&row);
        for (const auto& [pid, row] : shown)
        {
            if (!fresh.count(pid))
                gone.push_back(&row);
        }
    }
    if (format == OutputFormat::Json)
    {
        std::string line = "{\"host\":" + JsonString(name) +
                           ",\"time\":" + JsonString(UtcTime(result.TimestampSeconds)) +
                           ",\"ok\":" + (result.Result == kRefreshOk ? "true" : "false") +
                           ",\"status\":" + JsonString(StatusText(result)) +
                           ",\"duration_seconds\":" + std::to_string(result.DurationSeconds);
        if (result.Result == kRefreshOk)
        {
            line += ",\"processes\":" + std::to_string(fresh.size());
            line += once ? ",\"rows\":" + RowsJson(appeared)
                         : ",\"appeared\":" + RowsJson(appeared) +
                               ",\"updated\":" + RowsJson(updated) + ",\"gone\":" + RowsJson(gone);
        }
        else if (result.RetrySeconds > 0)
            line += ",\"retry_seconds\":" + std::to_string(result.RetrySeconds);
        std::fputs((line + "}\n").c_str(), stdout);
    }
    else
    {
        const bool csv = format == OutputFormat::Csv;
        const std::string prefix = csv ? CsvField(name) + "," : EscapeField(name) + "\t";
        const auto print = [&](char mark, const std::vector<const ProcessRow*>& rows)
        {
            for (const ProcessRow* row : rows)
            {
                std::string head = prefix;
                if (!once)
                    head += std::string{mark, csv ? ',' : '\t'};
                std::fputs(head.c_str(), stdout);
                if (csv)
                    std::fputs(ProcessCsvRecord(*row).c_str(), stdout);
                else
                    PrintRow(stdout, *row);
            }
        };
        print('+', appeared);
        print('*', updated);
        print('-', gone);
        std::fprintf(stderr, "%s: %s\n", EscapeField(name).c_str(),
                     EscapeField(StatusText(result)).c_str());
        std::fflush(stderr);
    }
    std::fflush(stdout);
    if (result.Result == kRefreshOk)
        shown = std::move(fresh);
}
} // namespace

bool LoadHostsForAll(const std::string& path, std::vector<HostSettings>& hosts)
{
    std::string bytes, error;
    if (!ReadBoundedFile(path, kHostListFileCap, false, bytes, error))
    {
        std::fprintf(stderr, "psvigil-cli: cannot read %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    COwningPtrArray<HostSettings> list;
    ParseHostList(bytes, list);
    hosts.clear();
    for (int32_t i = 0; i < list.GetSize(); ++i)
        hosts.push_back(*list.GetAt(i));
    if (hosts.empty())
        std::fprintf(stderr, "psvigil-cli: %s lists no host\n", path.c_str());
    return !hosts.empty();
}

void InstallStopSignals()
{
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested()
{
    return g_stopRequested.load();
}

namespace
{
int RunAll(const CliArgs& args, bool once)
{
    const char* command = once ? "once" : "watch";
    std::string path = kConfigFileName;
    CHostPool::Options options;
    options.Once = once;
    OutputFormat format = OutputFormat::Tsv;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--all")
            continue;
        if (a == "--hosts" && hasValue)
            path = args[++i];
        else if (a == "--jobs" && hasValue)
        {
            if (!TakeNumber(args[++i], 1, 4096, options.Jobs))
                return MultiUsage(command);
        }
        else if (a == "--format" && hasValue)
        {
            // "text" is the name the tsv form first had here.
            const std::string& name = args[++i];
            if (name != "text" && !ParseOutputFormat(name, format))
                return MultiUsage(command);
        }
        else
            return MultiUsage(command);
    }
    std::vector<HostSettings> hosts;
    if (!LoadHostsForAll(path, hosts))
        return 1;
    InstallStopSignals();

    if (format == OutputFormat::Csv)
        std::fputs(((once ? "host," : "host,change,") + ProcessCsvHeader()).c_str(), stdout);
    CHostPool pool(std::move(hosts), options);
    pool.Start();
    std::map<std::size_t, RowMap> shown;
    bool allWorked = true;
    while (!StopRequested())
    {
        HostEvent event;
        if (pool.NextEvent(event, 100))
        {
            allWorked &= event.Result.Result == kRefreshOk;
            PrintEvent(pool, event, format, once, shown);
        }
        else if (once && pool.AllDone())
            break;
    }
    // Leaving ends every session, those in flight included.
    pool.Stop();
    return once && (!allWorked || StopRequested()) ? 1 : 0;
}
} // namespace

int RunOnceAllCommand(const CliArgs& args)
{
    return RunAll(args, true);
}

int RunWatchAllCommand(const CliArgs& args)
{
    return RunAll(args, false);
}
