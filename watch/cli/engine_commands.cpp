// psvigil-cli once and watch: refreshes through the watch engine, as the application does.
#include "watch/cli/alert_output.h"
#include "watch/cli/cli_commands.h"
#include "watch/cli/cli_files.h"
#include "watch/cli/output_format.h"
#include "watch/cli/row_printer.h"
#include "watch/engine/local_session.h"
#include "watch/engine/session_choice.h"
#include "watch/engine/status_text.h"
#include "watch/engine/watch_engine.h"

#include "lanvex/net/lanvex.h"
#include "platform/com/comrt.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>

namespace
{
std::atomic<bool> g_interrupted{false};

extern "C" void OnSignal(int)
{
    g_interrupted.store(true);
}

// Hands the engine's notifications to the main thread in order.
class CQueueSink : public IWatchNotifySink
{
  public:
    void PostNotify(uint32_t message, intptr_t wParam, intptr_t lParam) override
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_queue.push_back({message, wParam, lParam});
        }
        m_changed.notify_all();
    }

    // The next notification, or false after timeoutMs without one.
    bool Next(WatchNotification& out, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return !m_queue.empty(); }))
            return false;
        out = m_queue.front();
        m_queue.pop_front();
        return true;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<WatchNotification> m_queue;
};

struct HostOptions
{
    HostSettings Host;
    OutputFormat Format = OutputFormat::Tsv;
    bool Ok = false;
};

int Usage(const char* command)
{
    std::fprintf(
        stderr,
        "usage: psvigil-cli %s HOST|ssh://HOST|local [--port N] [--user U] [--password-file F]\n"
        "       [--sysv | --flavour bsd|sysv|posix] [--filter-user | --filter EXPR]\n"
        "       [--format tsv|csv|json] [--trace FILE]%s\n"
        "The password comes from --password-file or the environment variable "
        "PSVIGIL_PASSWORD;\nover SSH (ssh://HOST, port 22 by default) the agent and "
        "the user's keys come first.\n",
        command, std::string(command) == "watch" ? " [--refresh SECONDS] [--close]" : "");
    return 2;
}

bool ReadPasswordFile(const std::string& path, std::string& password)
{
    // Only the first line counts; a password file is small, so only its start is read.
    std::string bytes, error;
    if (!ReadBoundedFile(path, kPasswordFileCap, true, bytes, error))
    {
        std::fprintf(stderr, "psvigil-cli: cannot read %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    password = FirstLine(bytes);
    return true;
}

bool ParseNumber(const std::string& text, long low, long high, int32_t& out)
{
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high)
        return false;
    out = static_cast<int32_t>(value);
    return true;
}

HostOptions ParseHostOptions(const CliArgs& args, bool watch)
{
    HostOptions options;
    HostSettings& host = options.Host;
    if (args.empty() || args[0].rfind("--", 0) == 0)
        return options;
    if (args[0].size() >= sizeof host.Address)
        return options;
    // "local" (or "local:") is this computer, watched as the user running this program.
    if (args[0] == "local" || args[0] == kLocalAddress)
        host = NewLocalHost();
    else
        SetAddress(host, args[0]);
    if (ChooseSession(host).SecureShell)
        host.Port = 22; // until --port says otherwise
    std::string password;
    if (const char* env = std::getenv("PSVIGIL_PASSWORD"))
        password = env;
    for (std::size_t i = 1; i < args.size(); ++i)
    {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--port" && hasValue)
        {
            if (!ParseNumber(args[++i], 1, 65535, host.Port))
                return options;
        }
        else if (a == "--user" && hasValue)
        {
            if (args[++i].size() >= sizeof host.Username)
                return options;
            SetUsername(host, args[i]);
        }
        else if (a == "--password-file" && hasValue)
        {
            if (!ReadPasswordFile(args[++i], password))
                return options;
        }
        else if (a == "--trace" && hasValue)
            ::setenv("LANVEX_TRACE", args[++i].c_str(), 1); // Lanvex reads it when it loads
        else if (a == "--sysv")
            host.Flavour = kFlavourSysV;
        else if (a == "--flavour" && hasValue)
        {
            if (!ParseFlavourName(args[++i], host.Flavour))
                return options;
        }
        else if (a == "--format" && hasValue)
        {
            if (!ParseOutputFormat(args[++i], options.Format))
                return options;
        }
        else if (a == "--filter-user")
            host.FilterMode = kFilterByUser;
        else if (a == "--filter" && hasValue)
        {
            host.FilterMode = kFilterByExpression;
            if (args[++i].size() >= sizeof host.FilterExpression)
                return options;
            SetFilterExpression(host, args[i]);
        }
        else if (watch && a == "--refresh" && hasValue)
        {
            if (!ParseNumber(args[++i], kRefreshMin, kRefreshMax, host.RefreshSeconds))
                return options;
        }
        else if (watch && a == "--close")
            host.KeepConnectionOpen = 0;
        else
            return options;
    }
    // A host record keeps 19 bytes of a password; a cut one would only fail at the login.
    if (password.size() >= sizeof host.Password)
    {
        std::fprintf(stderr, "psvigil-cli: the password is longer than %zu bytes\n",
                     sizeof host.Password - 1);
        return options;
    }
    SetPassword(host, password);
    options.Ok = true;
    return options;
}

// Says why a refresh cannot work when the component is not reachable at all.
void CheckComponent(const HostSettings& host)
{
    const SessionChoice choice = ChooseSession(host);
    if (choice.Clsid == nullptr)
        return; // this computer: no component
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IlvTelnet* telnet = nullptr;
    const HRESULT hr = CoCreateInstance(*choice.Clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IlvTelnet,
                                        reinterpret_cast<void**>(&telnet));
    if (SUCCEEDED(hr))
        telnet->Release();
    else
        std::fprintf(stderr,
                     "psvigil-cli: cannot create %s (0x%08X); register it with "
                     "comreg build/lib/libLanvex.so\n",
                     choice.Component, static_cast<unsigned>(hr));
    CoUninitialize();
}

// The status line of a refresh; a failure says why when the engine knows.
void PrintStatus(long result, const std::string& reason, bool lineEachStatus)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::string text = result == 0 ? RefreshResultText(result, local)
                                   : RefreshFailureText(result, EscapeField(reason));
    if (result != 0 || (lineEachStatus && (text.empty() || text.back() != '\n')))
        text += '\n';
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

using RowMap = std::map<int32_t, ProcessRow>;

// Marks each row the way the display does: new (+), updated (*), gone (-).
void PrintChanges(RowMap& shown, CWatchEngine& engine, const HostOptions& options, bool first)
{
    RowMap fresh;
    {
        CAutoLock lock(engine.GetLock());
        const auto& snapshot = engine.GetSnapshot();
        for (int32_t i = 0; i < snapshot.GetSize(); ++i)
            fresh.try_emplace(snapshot.GetAt(i)->Pid, *snapshot.GetAt(i));
    }
    RefreshChanges changes;
    for (const auto& [pid, row] : fresh)
        changes.push_back({shown.count(pid) ? '*' : '+', row});
    for (const auto& [pid, row] : shown)
    {
        if (!fresh.count(pid))
            changes.push_back({'-', row});
    }
    const WatchLogHeader source =
        LogHeaderFor(options.Host, ChooseSession(options.Host).SecureShell, std::time(nullptr));
    PrintRefreshChanges(stdout, options.Format, source, changes, first);
    std::fflush(stdout);
    shown = std::move(fresh);
}
} // namespace

// A refresh ends within the session's own bounds (login 30 s, command 60 s); this guard only
// catches an engine that says nothing at all.
constexpr int kOnceGuardSeconds = 120;

int RunOnceCommand(const CliArgs& args)
{
    HostOptions options = ParseHostOptions(args, false);
    if (!options.Ok)
        return Usage("once");
    options.Host.ManualRefresh = 1;
    CheckComponent(options.Host);

    CQueueSink sink;
    CWatchEngine engine;
    engine.SetHost(&options.Host);
    engine.SetNotifySink(&sink);
    engine.Start();
    long result = -1;
    bool ended = false;
    for (WatchNotification n{};;)
    {
        if (!sink.Next(n, kOnceGuardSeconds * 1000))
            break;
        if (n.Message == WM_WATCH_STATUS && n.WParam == kStatusRefreshed)
            result = static_cast<long>(n.LParam);
        if (n.Message == WM_WATCH_STATUS && n.WParam == kStatusRunEnds)
        {
            ended = true;
            break;
        }
    }
    if (result == -1)
    {
        if (ended)
            std::fprintf(stderr, "psvigil-cli: the watch run ended without a refresh\n");
        else
            std::fprintf(stderr,
                         "psvigil-cli: gave up after %d s without a word from the watch engine "
                         "(waiting for the refresh of %s)\n",
                         kOnceGuardSeconds, EscapeField(FieldText(options.Host.Address)).c_str());
        return 1;
    }
    if (result == 0)
    {
        const WatchLogHeader source =
            LogHeaderFor(options.Host, ChooseSession(options.Host).SecureShell, std::time(nullptr));
        CAutoLock lock(engine.GetLock());
        PrintTable(stdout, engine.GetSnapshot(), options.Format, &source);
        std::fflush(stdout);
    }
    PrintStatus(result, engine.GetLastFailure(), true);
    return result == 0 ? 0 : 1;
}

int RunWatchCommand(const CliArgs& allArgs)
{
    CAlertOutput alerts;
    CliArgs args;
    if (!alerts.TakeOptions(allArgs, args))
        return Usage("watch");
    HostOptions options = ParseHostOptions(args, true);
    if (!options.Ok)
        return Usage("watch");
    if (alerts.Active() && !alerts.Load(std::string(FieldText(options.Host.Address))))
        return 2;
    CheckComponent(options.Host);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // On a terminal the countdown rewrites its line; into a file or a pipe every status gets a
    // line of its own.
    const bool lineEachStatus = !isatty(STDERR_FILENO);

    CQueueSink sink;
    CWatchEngine engine;
    engine.SetHost(&options.Host);
    engine.SetNotifySink(&sink);
    engine.Start();
    RowMap shown;
    bool first = true;
    for (WatchNotification n{};;)
    {
        // Leaving destroys the engine, which ends a connect or read in flight at once.
        if (g_interrupted.load())
            break;
        if (!sink.Next(n, 200))
            continue;
        if (n.Message == WM_WATCH_TABLE)
        {
            PrintChanges(shown, engine, options, first);
            first = false;
            alerts.Observe(engine);
        }
        else if (n.WParam == kStatusRefreshed)
            PrintStatus(static_cast<long>(n.LParam), engine.GetLastFailure(), lineEachStatus);
        else if (n.WParam == kStatusCountdown)
        {
            std::fprintf(stderr, "%s%c", CountdownText(static_cast<long>(n.LParam)).c_str(),
                         lineEachStatus ? '\n' : '\r');
            std::fflush(stderr);
        }
        else if (n.WParam == kStatusRunEnds)
            break;
    }
    if (!lineEachStatus)
        std::fputc('\n', stderr);
    return 0;
}

bool ParseCliHost(const CliArgs& args, HostSettings& host)
{
    const HostOptions options = ParseHostOptions(args, false);
    host = options.Host;
    return options.Ok;
}
