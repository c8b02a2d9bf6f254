// Signals and priority changes for processes of the watched host: the shell line we send and
// what the host answered for each process.
#include "watch/engine/process_action.h"

#include "watch/engine/text_field.h"

#include <array>
#include <charconv>

namespace
{
struct SignalEntry
{
    ProcessSignal Signal;
    const char* Name;
    int Number; // the same on Linux and the BSDs for these
};

constexpr std::array<SignalEntry, 9> kSignals = {{
    {ProcessSignal::HangUp, "HUP", 1},
    {ProcessSignal::Interrupt, "INT", 2},
    {ProcessSignal::Quit, "QUIT", 3},
    {ProcessSignal::Kill, "KILL", 9},
    {ProcessSignal::User1, "USR1", -1},
    {ProcessSignal::User2, "USR2", -1},
    {ProcessSignal::Terminate, "TERM", 15},
    {ProcessSignal::Stop, "STOP", -1},
    {ProcessSignal::Continue, "CONT", -1},
}};

// The markers around each process's answer. The line we send holds them only with "$1" in
// place of the PID, so the echo of the line never reads as an answer.
constexpr std::string_view kBegin = ":psv<";
constexpr std::string_view kEnd = ":psv>";
constexpr std::size_t kMaxMessageBytes = 300;

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
    {
        const char x = (a[i] >= 'a' && a[i] <= 'z') ? static_cast<char>(a[i] - 32) : a[i];
        if (x != b[i])
            return false;
    }
    return true;
}

template <class Number> bool ReadNumber(std::string_view text, Number& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Control bytes become blanks and the text is cut on a character boundary.
void AppendClean(std::string& out, std::string_view text)
{
    if (!out.empty())
        out += " / ";
    for (const char c : text)
    {
        const auto byte = static_cast<unsigned char>(c);
        out += (byte < 0x20 || byte == 0x7F) ? ' ' : c;
    }
    out.resize(Utf8FitLength(out, kMaxMessageBytes + 1));
}

// "bash: line 1: kill: (4711) - Operation not permitted" and "renice: failed to set priority
// for 4711 (process ID): Permission denied" both come down to their last words.
std::string ReasonOf(std::string_view lastLine)
{
    std::string_view reason = Trim(lastLine);
    if (const std::size_t colon = reason.rfind(": "); colon != std::string_view::npos)
        reason = reason.substr(colon + 2);
    if (const std::size_t dash = reason.rfind(") - "); dash != std::string_view::npos)
        reason = reason.substr(dash + 4);
    return std::string(Trim(reason));
}
} // namespace

const char* SignalName(ProcessSignal signal)
{
    for (const SignalEntry& entry : kSignals)
    {
        if (entry.Signal == signal)
            return entry.Name;
    }
    return "TERM";
}

std::optional<ProcessSignal> SignalFromName(std::string_view name)
{
    if (name.size() > 3 && EqualsIgnoringCase(name.substr(0, 3), "SIG"))
        name.remove_prefix(3);
    int number = 0;
    const bool numeric = ReadNumber(name, number);
    for (const SignalEntry& entry : kSignals)
    {
        if (numeric ? entry.Number == number : EqualsIgnoringCase(name, entry.Name))
            return entry.Signal;
    }
    return std::nullopt;
}

std::string CheckAction(const ProcessAction& action)
{
    if (action.Pids.empty())
        return "no process chosen";
    if (action.Pids.size() > kMaxActionPids)
        return "at most " + std::to_string(kMaxActionPids) + " processes at once";
    for (const int32_t pid : action.Pids)
    {
        // kill takes 0 and negative numbers as process groups, -1 as every process.
        if (pid <= 0)
            return "PID " + std::to_string(pid) + " is not a single process";
    }
    if (action.Renice && (action.Nice < kNiceMin || action.Nice > kNiceMax))
        return "a nice value runs from " + std::to_string(kNiceMin) + " to " +
               std::to_string(kNiceMax);
    return {};
}

std::string BuildActionCommand(const ProcessAction& action)
{
    const std::string verb = action.Renice
                                 ? "renice -n " + std::to_string(action.Nice) + " -p \"$1\""
                                 : "kill -" + std::string(SignalName(action.Signal)) + " \"$1\"";
    std::string line = "_psv(){ echo \"" + std::string(kBegin) + "$1\";" + verb + " 2>&1;echo \"" +
                       std::string(kEnd) + "$1:$?\";}";
    for (const int32_t pid : action.Pids)
        line += ";_psv " + std::to_string(pid);
    return line;
}

std::vector<ProcessActionOutcome> ParseActionReply(std::string_view reply,
                                                   const std::vector<int32_t>& pids)
{
    std::vector<ProcessActionOutcome> outcomes(pids.size());
    std::vector<bool> filled(pids.size(), false);
    for (std::size_t i = 0; i < pids.size(); ++i)
        outcomes[i].Pid = pids[i];

    bool inside = false; // inside the answer of the PID current
    int32_t current = 0;
    std::string message, lastLine;
    while (!reply.empty())
    {
        const std::size_t end = reply.find_first_of("\r\n");
        const std::string_view line = Trim(reply.substr(0, end));
        reply.remove_prefix(end == std::string_view::npos ? reply.size() : end + 1);
        int32_t pid = 0;
        if (line.substr(0, kBegin.size()) == kBegin && ReadNumber(line.substr(kBegin.size()), pid))
        {
            inside = true;
            current = pid;
            message.clear();
            lastLine.clear();
            continue;
        }
        if (line.substr(0, kEnd.size()) == kEnd)
        {
            const std::string_view rest = line.substr(kEnd.size());
            const std::size_t colon = rest.find(':');
            int status = 0;
            if (colon == std::string_view::npos || !ReadNumber(rest.substr(0, colon), pid) ||
                !ReadNumber(rest.substr(colon + 1), status) || !inside || current != pid)
                continue;
            for (std::size_t i = 0; i < pids.size(); ++i)
            {
                if (pids[i] == pid && !filled[i])
                {
                    filled[i] = true;
                    outcomes[i].ExitStatus = status;
                    outcomes[i].Message = message;
                    if (status != 0)
                        outcomes[i].Reason = ReasonOf(lastLine);
                    break;
                }
            }
            inside = false;
            continue;
        }
        if (inside && !line.empty())
        {
            AppendClean(message, line);
            lastLine.clear();
            AppendClean(lastLine, line);
        }
    }
    return outcomes;
}

std::string ActionName(const ProcessAction& action)
{
    return action.Renice ? "renice " + std::to_string(action.Nice) : SignalName(action.Signal);
}

std::string SummarizeOutcomes(const ProcessAction& action,
                              const std::vector<ProcessActionOutcome>& outcomes)
{
    const std::string name = ActionName(action);
    const std::string verb = action.Renice ? " done for " : " sent to ";
    std::size_t good = 0;
    for (const ProcessActionOutcome& outcome : outcomes)
        good += outcome.Succeeded() ? 1 : 0;
    if (good == outcomes.size())
    {
        const std::string whom = outcomes.size() == 1
                                     ? std::to_string(outcomes.front().Pid)
                                     : std::to_string(outcomes.size()) + " processes";
        return name + verb + whom + " (exit status 0)";
    }
    std::string text = name;
    if (outcomes.size() > 1)
        text +=
            verb + std::to_string(good) + " of " + std::to_string(outcomes.size()) + " processes";
    int shown = 0;
    for (const ProcessActionOutcome& outcome : outcomes)
    {
        if (outcome.Succeeded())
            continue;
        if (++shown > 3)
        {
            text += "; ...";
            break;
        }
        text += (shown == 1 && outcomes.size() == 1 ? " to " : "; ") + std::to_string(outcome.Pid);
        if (!outcome.ExitStatus)
            text += ": no answer from the host";
        else
        {
            text += ": exit status " + std::to_string(*outcome.ExitStatus);
            if (!outcome.Reason.empty())
                text += ", " + outcome.Reason;
        }
    }
    return text;
}
