// psvigil-cli signal: sends a signal to (or renices) processes of a host over the watch's
// session, and says per process what the host answered.
#include "watch/cli/cli_commands.h"
#include "watch/cli/row_printer.h"
#include "watch/engine/process_action.h"
#include "watch/engine/watch_engine.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <future>

namespace
{
// The session bounds a login (30 s) and a command (60 s); this only catches silence.
constexpr int kSignalGuardSeconds = 120;

int SignalUsage()
{
    std::fprintf(stderr,
                 "usage: psvigil-cli signal HOST|ssh://HOST PID... [--signal NAME | --renice N]\n"
                 "       [--port N] [--user U] [--password-file F] [--trace FILE]\n"
                 "NAME is TERM (the default), KILL, HUP, INT, QUIT, USR1, USR2, STOP or CONT;\n"
                 "the exit status is 0 only when every PID was signalled.\n");
    return 2;
}

bool ReadPid(const std::string& text, int32_t& pid)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    return error == std::errc() && end == text.data() + text.size() && !text.empty() && pid > 0;
}
} // namespace

int RunSignalCommand(const CliArgs& args)
{
    if (args.empty() || args[0].rfind("--", 0) == 0)
        return SignalUsage();
    ProcessAction action;
    CliArgs hostArgs = {args[0]};
    for (std::size_t i = 1; i < args.size(); ++i)
    {
        const std::string& a = args[i];
        int32_t pid = 0;
        if (ReadPid(a, pid))
            action.Pids.push_back(pid);
        else if (a == "--signal" && i + 1 < args.size())
        {
            const auto signal = SignalFromName(args[++i]);
            if (!signal)
                return SignalUsage();
            action.Signal = *signal;
        }
        else if (a == "--renice" && i + 1 < args.size())
        {
            const std::string& value = args[++i];
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), action.Nice);
            if (error != std::errc() || end != value.data() + value.size())
                return SignalUsage();
            action.Renice = true;
        }
        else
        {
            hostArgs.push_back(a);
            // The value of a host option is never taken for a PID.
            static const char* const kValued[] = {"--port",  "--user",   "--password-file",
                                                  "--trace", "--filter", "--format"};
            for (const char* valued : kValued)
            {
                if (a == valued && i + 1 < args.size())
                {
                    hostArgs.push_back(args[++i]);
                    break;
                }
            }
        }
    }
    if (const std::string why = CheckAction(action); !why.empty())
    {
        std::fprintf(stderr, "psvigil-cli: %s\n", why.c_str());
        return 2;
    }
    HostSettings host;
    if (!ParseCliHost(hostArgs, host))
        return SignalUsage();
    // A long countdown: the command brings its own refresh, and the engine ends with this call.
    host.ManualRefresh = 0;
    host.RefreshSeconds = kRefreshMax;

    std::promise<CommandReply> replied;
    std::future<CommandReply> reply = replied.get_future();
    CWatchEngine engine; // declared after the promise: gone first, so it never outlives it
    engine.SetHost(&host);
    engine.Start();
    engine.QueueCommand(BuildActionCommand(action),
                        [&](const CommandReply& r) { replied.set_value(r); });
    if (reply.wait_for(std::chrono::seconds(kSignalGuardSeconds)) != std::future_status::ready)
    {
        std::fprintf(stderr, "psvigil-cli: no answer from %s within %d s\n",
                     EscapeField(FieldText(host.Address)).c_str(), kSignalGuardSeconds);
        return 1;
    }
    const CommandReply answer = reply.get();
    if (!answer.Ran)
    {
        std::fprintf(stderr, "psvigil-cli: %s\n", EscapeField(answer.Failure).c_str());
        return 1;
    }
    const auto outcomes = ParseActionReply(answer.Output, action.Pids);
    const std::string name = ActionName(action);
    for (const ProcessActionOutcome& outcome : outcomes)
    {
        std::string line = std::to_string(outcome.Pid) + "\t" + name + "\t";
        if (outcome.Succeeded())
            line += "0\t" + EscapeField(outcome.Message);
        else if (outcome.ExitStatus)
            line += std::to_string(*outcome.ExitStatus) + "\t" + EscapeField(outcome.Reason);
        else
            line += "-\tno answer from the host";
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", EscapeField(SummarizeOutcomes(action, outcomes)).c_str());
    for (const ProcessActionOutcome& outcome : outcomes)
    {
        if (!outcome.Succeeded())
            return 1;
    }
    return 0;
}
